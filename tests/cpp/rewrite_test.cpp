// Substitutions, patterns as searchers and appliers, and rewrite rules.
#include "engine/rewrite.h"

#include <gtest/gtest.h>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

Var var(std::string_view name) { return Var(GlobalSymbol(name)); }

// Where the matches are and what they bind: "3:{?x: 1} 4:{?x: 2}".
std::string show(const std::vector<SearchMatches>& matches) {
  std::string out;
  for (const SearchMatches& m : matches) {
    for (const Subst& s : m.substs) out += (out.empty() ? "" : " ") + std::to_string(m.eclass) + ":" + s.text();
  }
  return out;
}

TEST(Subst, BindsInOrderAndRebindsInPlace) {
  Subst s;
  for (const char* name : {"?a", "?b", "?c", "?d"}) EXPECT_EQ(s.insert(var(name), 1), std::nullopt);
  EXPECT_EQ(s.insert(var("?a"), 7), 1u);
  EXPECT_EQ(s.insert(var("?d"), 8), 1u);
  EXPECT_EQ(s.text(), "{?a: 7, ?b: 1, ?c: 1, ?d: 8}");
  EXPECT_EQ(s[var("?d")], 8u);
  EXPECT_EQ(s.get(var("?e")), std::nullopt);
}

TEST(Pattern, SearchesEveryClassWithinALimit) {
  EGraph<Op> g;  // I=0, H=1, Seq(I, H)=2, X=3, Seq(I, X)=4, Par=5, Seq(H, X)=6, Par=7
  add(g, "(par (par (seq I H) (seq I X)) (seq H X))");
  g.rebuild();
  const Pattern<Op> p = pat("(seq I ?x)");
  EXPECT_EQ(show(p.search_with_limit(g, 100)), "2:{?x: 1} 4:{?x: 3}");
  EXPECT_EQ(show(p.search_with_limit(g, 1)), "2:{?x: 1}");
  EXPECT_EQ(show(p.search_with_limit(g, 0)), "");
  EXPECT_EQ(show(p.search(g)), "2:{?x: 1} 4:{?x: 3}");
  EXPECT_EQ(p.n_matches(g), 2u);
  EXPECT_EQ(show(pat("?x").search_with_limit(g, 3)), "0:{?x: 0} 1:{?x: 1} 2:{?x: 2}");
  EXPECT_EQ(show(pat("(seq ?a (seq ?b ?c))").search_with_limit(g, 100)), "");
  EXPECT_EQ(pat("(seq (seq ?b ?a) (seq ?a ?c))").vars(), (std::vector<Var>{var("?b"), var("?a"), var("?c")}));

  // Applying merges each match with the instantiated right-hand side and
  // reports the classes that changed; a second time nothing changes.
  const Pattern<Op> rhs = pat("?x");
  const auto found = p.search_with_limit(g, 100);
  EXPECT_EQ(rhs.apply_matches(g, found, GlobalSymbol("id-left")), (std::vector<Id>{1, 3}));
  EXPECT_TRUE(rhs.apply_matches(g, found, GlobalSymbol("id-left")).empty());
  g.rebuild();
  EXPECT_EQ(g.find(2), g.find(1));
  Subst s;
  s.insert(var("?a"), 1);
  EXPECT_EQ(pat("(seq ?a I)").apply_one(g, 6, s, GlobalSymbol("r")), std::vector<Id>{6});
  EXPECT_TRUE(pat("?a").apply_one(g, 1, s, GlobalSymbol("r")).empty());
  EXPECT_EQ(p.get_pattern_ast(), &p.ast());
}

TEST(Pattern, GroundPatternsFindOnlyTheClassOfTheirTerm) {
  // H Z H three times over, one of them merged with X.
  EGraph<Op> g;
  const Id hzh = add(g, "(seq (seq H Z) H)");
  add(g, "(seq (seq (seq H Z) H) (seq (seq H Z) H))");
  g.union_(hzh, add(g, "X"));
  g.rebuild();
  const auto& candidates = g.classes_by_kind(static_cast<std::size_t>(OpKind::Seq));
  for (const char* text : {"(seq (seq H Z) H)", "(seq H Z)", "(seq T T)", "(seq X X)"}) {
    const Pattern<Op> p = pat(text);
    for (std::size_t limit : {0u, 1u, 100u}) {
      EXPECT_EQ(show(p.search_with_limit(g, limit)),
                show(search_eclasses_with_limit<Op>(p, g, candidates, limit))) << text << limit;
    }
  }
  EXPECT_EQ(show(pat("(seq X X)").search_with_limit(g, 10)), "4:{}");
}

TEST(Rewrite, RefusesAnApplierVariableTheSearcherDoesNotBind) {
  auto bad = Rewrite<Op>::new_("broken", pat("(seq I ?x)"), pat("(seq ?x ?y)"));
  EXPECT_EQ(std::get<std::string>(bad), "Rewrite broken refers to unbound var ?y");
  EXPECT_EQ(rule("id-left", "(seq I ?x)", "?x").name, GlobalSymbol("id-left"));
}

}  // namespace
}  // namespace kestrel
