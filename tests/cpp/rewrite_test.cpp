#include "engine/rewrite.h"

#include <gtest/gtest.h>

#include "src/lang.h"

namespace kestrel {
namespace {

Pattern<Op> pat(std::string_view text) {
  auto p = Pattern<Op>::from_str(text);
  if (auto* e = std::get_if<1>(&p)) ADD_FAILURE() << text << ": " << e->debug();
  return std::get<0>(std::move(p));
}

Var var(std::string_view name) { return Var(GlobalSymbol(name)); }

// Three chains I;H, I;X and H;X; rebuilt.
struct Chains {
  EGraph<Op> g;
  Id i, h, x, ih, ix, hx;
  Chains() {
    Op n(OpKind::I);
    i = g.add_internal(n);
    n = Op(OpKind::H);
    h = g.add_internal(n);
    n = Op(OpKind::X);
    x = g.add_internal(n);
    n = Op::seq(i, h);
    ih = g.add_internal(n);
    n = Op::seq(i, x);
    ix = g.add_internal(n);
    n = Op::seq(h, x);
    hx = g.add_internal(n);
    g.rebuild();
  }
};

TEST(Subst, InsertGetAndIndex) {
  Subst s;
  EXPECT_EQ(s.insert(var("?a"), 1), std::nullopt);
  EXPECT_EQ(s.insert(var("?b"), 2), std::nullopt);
  EXPECT_EQ(s.insert(var("?a"), 7), 1u);  // replaced in place
  EXPECT_EQ(s.text(), "{?a: 7, ?b: 2}");
  EXPECT_EQ(s[var("?b")], 2u);
  EXPECT_EQ(s.get(var("?c")), std::nullopt);
  try {
    (void)s[var("?c")];
    FAIL() << "no fault";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "Var '?c=?c' not found in {?a: 7, ?b: 2}");
  }
}

TEST(Pattern, SearchWithLimits) {
  Chains c;
  const Pattern<Op> p = pat("(seq I ?x)");
  EXPECT_TRUE(p.search_with_limit(c.g, 0).empty());

  const auto all = p.search_with_limit(c.g, 100);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].eclass, c.ih);
  EXPECT_EQ(all[1].eclass, c.ix);
  EXPECT_EQ(all[1].substs[0][var("?x")], c.x);

  const auto one = p.search_with_limit(c.g, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].eclass, c.ih);
  EXPECT_EQ(one[0].substs.size(), 1u);

  EXPECT_TRUE(pat("(par ?a ?b)").search_with_limit(c.g, 100).empty());  // no class of that kind
  EXPECT_EQ(p.n_matches(c.g), 2u);
}

TEST(Pattern, VariableSearcherVisitsEveryClass) {
  Chains c;
  const auto m = pat("?x").search_with_limit(c.g, 100);
  ASSERT_EQ(m.size(), c.g.class_count());
  for (const SearchMatches& r : m) {
    ASSERT_EQ(r.substs.size(), 1u);
    EXPECT_EQ(r.substs[0][var("?x")], r.eclass);
  }
}

TEST(Pattern, ApplyingMergesAndReportsChangedClasses) {
  Chains c;
  const Pattern<Op> lhs = pat("(seq I ?x)");
  const Pattern<Op> rhs = pat("?x");
  const auto matches = lhs.search_with_limit(c.g, 100);
  const std::size_t nodes = c.g.node_count();

  const auto changed = rhs.apply_matches(c.g, matches, GlobalSymbol("id-left"));
  EXPECT_EQ(changed, (std::vector<Id>{c.h, c.x}));  // the right-hand sides' ids
  EXPECT_EQ(c.g.node_count(), nodes);               // a variable adds nothing
  c.g.rebuild();
  EXPECT_EQ(c.g.find(c.ih), c.g.find(c.h));

  // Again: nothing added, nothing merged, but the e-graph is marked unclean.
  EXPECT_TRUE(rhs.apply_matches(c.g, matches, GlobalSymbol("id-left")).empty());
  EXPECT_FALSE(c.g.clean());
  EXPECT_EQ(c.g.node_count(), nodes);
}

TEST(Pattern, ApplyPatInstantiatesAndReusesNodes) {
  Chains c;
  const Pattern<Op> rhs = pat("(seq ?a (seq ?b I))");
  Subst s;
  s.insert(var("?a"), c.h);
  s.insert(var("?b"), c.x);
  std::vector<Id> buffer(rhs.ast().size());
  const Id root = apply_pat<Op>(buffer, rhs.ast().nodes(), c.g, s);
  const std::size_t nodes = c.g.node_count();
  EXPECT_EQ(c.g.find(root), root);
  EXPECT_EQ(apply_pat<Op>(buffer, rhs.ast().nodes(), c.g, s), root);  // found, not duplicated
  EXPECT_EQ(c.g.node_count(), nodes);

  const Pattern<Op> alone = pat("?a");
  std::vector<Id> one(1);
  EXPECT_EQ(apply_pat<Op>(one, alone.ast().nodes(), c.g, s), c.h);
}

TEST(Pattern, VarsInOrderOfFirstOccurrence) {
  const auto vars = pat("(seq (seq ?b ?a) (seq ?a ?c))").vars();
  EXPECT_EQ(vars, (std::vector<Var>{var("?b"), var("?a"), var("?c")}));
}

TEST(Rewrite, RejectsUnboundApplierVariables) {
  auto bad = Rewrite<Op>::new_("broken", pat("(seq I ?x)"), pat("(seq ?x ?y)"));
  ASSERT_EQ(bad.index(), 1u);
  EXPECT_EQ(std::get<1>(bad), "Rewrite broken refers to unbound var ?y");

  auto ok = Rewrite<Op>::new_("id-left", pat("(seq I ?x)"), pat("?x"));
  ASSERT_EQ(ok.index(), 0u);
  const Rewrite<Op>& rule = std::get<0>(ok);
  EXPECT_EQ(rule.name.as_str(), "id-left");
  EXPECT_EQ(rule.name, GlobalSymbol("id-left"));

  Chains c;
  const auto matches = rule.searcher->search_with_limit(c.g, 100);
  EXPECT_EQ(rule.applier->apply_matches(c.g, matches, rule.name).size(), 2u);
}

bool same(const std::vector<SearchMatches>& a, const std::vector<SearchMatches>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k].eclass != b[k].eclass || a[k].substs != b[k].substs) return false;
  }
  return true;
}

TEST(Pattern, GroundPatternsFindTheClassOfTheirTerm) {
  // H Z H three times over, with one occurrence merged into X.
  EGraph<Op> g;
  Op h(OpKind::H), z(OpKind::Z), x(OpKind::X);
  const Id hi = g.add_internal(h), zi = g.add_internal(z), xi = g.add_internal(x);
  Op hz = Op::seq(hi, zi);
  const Id hzi = g.add_internal(hz);
  Op hzh = Op::seq(hzi, hi);
  const Id hzhi = g.add_internal(hzh);
  Op other = Op::seq(hzhi, hzhi);
  g.add_internal(other);
  g.union_(hzhi, xi);
  g.rebuild();
  for (const char* text : {"(seq (seq H Z) H)", "(seq H Z)", "(seq T T)", "(seq X X)"}) {
    const Pattern<Op> p = pat(text);
    const auto& candidates = g.classes_by_kind(static_cast<std::size_t>(OpKind::Seq));
    for (std::size_t limit : {0u, 1u, 100u}) {
      EXPECT_TRUE(same(p.search_with_limit(g, limit),
                       search_eclasses_with_limit<Op>(p, g, candidates, limit)))
          << text << " " << limit;
    }
  }
  EXPECT_EQ(pat("(seq X X)").search_with_limit(g, 10).size(), 1u);
  Op t(OpKind::T);
  g.add_internal(t);
  EXPECT_THROW(pat("(seq H Z)").search_with_limit(g, 10), Fault);  // dirty
}

}  // namespace
}  // namespace kestrel
