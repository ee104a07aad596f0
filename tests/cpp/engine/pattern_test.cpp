// Patterns: their compiled matching programs, the machine that runs them,
// searching and applying them, and rewrite rules made of two of them.
#include "engine/pattern.h"

#include <gtest/gtest.h>

#include "engine/machine.h"
#include "engine/rewrite.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

static_assert(std::is_trivially_copyable_v<Instruction<Op>>);

TEST(Compiler, Programs) {
  const struct {
    const char* pattern;
    const char* program;
  } cases[] = {
      {"?x", "{?x: 0}\n"},
      {"I", "Bind I i=0 out=1\n{}\n"},
      {"(seq I ?x)", "Bind Seq([0, 0]) i=0 out=1\nBind I i=1 out=3\n{?x: 2}\n"},
      {"(seq (seq ?a ?b) ?c)", "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=1 out=3\n{?c: 2, ?a: 3, ?b: 4}\n"},
      {"(seq ?a (seq ?b ?c))", "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=2 out=3\n{?a: 1, ?b: 3, ?c: 4}\n"},
      {"(seq T T)", "Lookup [T, Seq([0, 0])] i=0\n{}\n"},
      {"(seq (seq ?a ?b) (seq H Z))", "Bind Seq([0, 0]) i=0 out=1\nLookup [Z, H, Seq([1, 0])] i=2\n"
       "Bind Seq([0, 0]) i=1 out=3\n{?a: 3, ?b: 4}\n"},
      {"(seq ?x ?x)", "Bind Seq([0, 0]) i=0 out=1\nCompare i=2 j=1\n{?x: 1}\n"},
      {"(par ?x (seq ?x H))", "Bind Par([0, 0]) i=0 out=1\nLookup [H, r1, Seq([1, 0])] i=2\n{?x: 1}\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(pat(c.pattern).program().dump(), c.program) << c.pattern;
}

// The matches of `pattern` in class `eclass`, as text.
std::string matches(const EGraph<Op>& g, const char* pattern, Id eclass, std::size_t limit = 100) {
  std::string out;
  for (const Subst& s : pat(pattern).program().run_with_limit(g, eclass, limit)) {
    out += (out.empty() ? "" : " ") + s.text();
  }
  return out;
}

TEST(Machine, Matches) {
  // H=0, Seq(H, H)=1, X=2, Seq(H, X)=3, Par(1, 3)=4, T=5, Seq(T, T)=6, I=7,
  // Par(6, 7)=8, Par(4, 8)=9, Par(H, Seq(H, H))=10.
  EGraph<Op> g;
  g.add_expr_internal(read("(par (par (seq H H) (seq H X)) (par (seq T T) I))"));
  g.add_expr_internal(read("(par H (seq H H))"));
  g.rebuild();
  const struct {
    const char* pattern;
    Id eclass;
    const char* expected;
  } cases[] = {
      {"?x", 2, "{?x: 2}"},
      {"I", 7, "{}"},
      {"(seq ?a ?b)", 3, "{?a: 0, ?b: 2}"},
      {"(seq ?x ?x)", 1, "{?x: 0}"},
      {"(seq ?x ?x)", 3, ""},
      {"(seq T T)", 6, "{}"},
      {"(seq T T)", 1, ""},
      {"(par ?a (seq T T))", 8, ""},
      {"(par (seq ?a ?a) ?b)", 8, "{?b: 7, ?a: 5}"},
      {"(par ?x (seq ?x H))", 10, "{?x: 0}"},
      {"(par ?x (seq ?x H))", 4, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(matches(g, c.pattern, c.eclass), c.expected) << c.pattern;

  g.union_(0, 2);  // H = X
  g.rebuild();
  EXPECT_EQ(matches(g, "(seq ?x ?x)", 3), "{?x: 0}");
  EXPECT_EQ(matches(g, "?x", 2, 0), "");
}

// H, S, X, Z, T as classes 0 to 4, and one class of `n` distinct nodes
// over them: 25 Seq nodes, then Par nodes. Returns that class.
Id merged_class(EGraph<Op>& g, std::size_t n) {
  for (OpKind k : {OpKind::H, OpKind::S, OpKind::X, OpKind::Z, OpKind::T}) {
    Op leaf(k);
    g.add_internal(leaf);
  }
  std::vector<Id> ids;
  for (Id k = 0; k < n; ++k) {
    Op node = k < 25 ? Op::seq(k / 5, k % 5) : Op::par(k % 5, k / 5 - 5);
    ids.push_back(g.add_internal(node));
    g.union_(ids[0], ids.back());
  }
  g.rebuild();
  return g.find(ids[0]);
}

TEST(Machine, BigClassesAreBinarySearchedAndLimitsKeepTheFirstMatches) {
  for (std::size_t n : {49u, 50u}) {  // from 50 nodes on, a Bind binary-searches
    EGraph<Op> g;
    const Id c = merged_class(g, n);
    EXPECT_EQ(pat("(par ?a ?b)").program().run_with_limit(g, c, 1000).size(), n - 25);
    const Program<Op> seq = pat("(seq ?a ?b)").program();
    const std::vector<Subst> all = seq.run_with_limit(g, c, 1000);
    ASSERT_EQ(all.size(), 25u);
    EXPECT_EQ(all[7].text(), "{?a: 1, ?b: 2}");
    EXPECT_EQ(seq.run_with_limit(g, c, 3), std::vector<Subst>(all.begin(), all.begin() + 3));
  }
}

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
  EXPECT_EQ(show(p.search(g)), "2:{?x: 1} 4:{?x: 3}");
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
