#include "engine/machine.h"

#include <gtest/gtest.h>

#include "engine/pattern.h"
#include "src/lang.h"

namespace kestrel {
namespace {

static_assert(std::is_trivially_copyable_v<Instruction<Op>>);

Pattern<Op> pat(std::string_view text) {
  auto p = Pattern<Op>::from_str(text);
  if (auto* e = std::get_if<1>(&p)) ADD_FAILURE() << text << ": " << e->debug();
  return std::get<0>(std::move(p));
}

TEST(Compiler, WorkedShapes) {
  const struct {
    const char* pattern;
    const char* program;
  } cases[] = {
      {"?x", "{?x: 0}\n"},
      {"I", "Bind I i=0 out=1\n{}\n"},
      {"(seq I ?x)", "Bind Seq([0, 0]) i=0 out=1\nBind I i=1 out=3\n{?x: 2}\n"},
      {"(seq ?x I)", "Bind Seq([0, 0]) i=0 out=1\nBind I i=2 out=3\n{?x: 1}\n"},
      {"(seq (seq ?a ?b) ?c)",
       "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=1 out=3\n{?c: 2, ?a: 3, ?b: 4}\n"},
      {"(seq ?a (seq ?b ?c))",
       "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=2 out=3\n{?a: 1, ?b: 3, ?c: 4}\n"},
      {"(seq T T)", "Lookup [T, Seq([0, 0])] i=0\n{}\n"},
      {"(seq (seq H Z) H)", "Lookup [H, Z, Seq([0, 1]), Seq([2, 0])] i=0\n{}\n"},
      {"(seq (seq ?a ?b) (seq H Z))",
       "Bind Seq([0, 0]) i=0 out=1\nLookup [Z, H, Seq([1, 0])] i=2\n"
       "Bind Seq([0, 0]) i=1 out=3\n{?a: 3, ?b: 4}\n"},
      {"(seq ?x ?x)", "Bind Seq([0, 0]) i=0 out=1\nCompare i=2 j=1\n{?x: 1}\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(pat(c.pattern).program().dump(), c.program) << c.pattern;
}


// H, S, X, Z, T as leaf classes 0..4, plus `n` distinct Seq and Par nodes
// over them merged into one class, rebuilt. Returns that class.
Id merged_class(EGraph<Op>& g, std::size_t n) {
  const OpKind leaves[] = {OpKind::H, OpKind::S, OpKind::X, OpKind::Z, OpKind::T};
  for (OpKind k : leaves) {
    Op leaf(k);
    g.add_internal(leaf);
  }
  std::vector<Id> ids;
  for (Id a = 0; a < 5 && ids.size() < n; ++a) {
    for (Id b = 0; b < 5 && ids.size() < n; ++b) {
      Op seq = Op::seq(a, b);
      ids.push_back(g.add_internal(seq));
      if (ids.size() < n) {
        Op par = Op::par(b, a);
        ids.push_back(g.add_internal(par));
      }
    }
  }
  for (Id id : ids) g.union_(ids[0], id);
  g.rebuild();
  return g.find(ids[0]);
}

// The obviously correct matcher for (op ?a ?b): every node of the class
// with that operator, in node order.
std::vector<Subst> reference_binary(const EGraph<Op>& g, Id eclass, OpKind op) {
  std::vector<Subst> out;
  for (const Op& n : g[eclass].nodes) {
    if (n.op() != op) continue;
    Subst s;
    s.insert(Var(GlobalSymbol("?a")), n.children()[0]);
    s.insert(Var(GlobalSymbol("?b")), n.children()[1]);
    out.push_back(s);
  }
  return out;
}

TEST(Machine, ScanAndBinarySearchAgreeWithReference) {
  for (std::size_t n : {49u, 50u}) {
    EGraph<Op> g;
    const Id c = merged_class(g, n);
    ASSERT_EQ(g[c].nodes.size(), n);
    for (OpKind op : {OpKind::Seq, OpKind::Par}) {
      const std::string text = op == OpKind::Seq ? "(seq ?a ?b)" : "(par ?a ?b)";
      EXPECT_EQ(pat(text).program().run_with_limit(g, c, 1000), reference_binary(g, c, op))
          << n << " " << text;
    }
    // A leaf absent from the class: nothing, whichever path.
    EXPECT_TRUE(pat("CNOT").program().run_with_limit(g, c, 1000).empty());
  }
}

TEST(Machine, DirtyEGraphFaultsBeforeTheLimit) {
  EGraph<Op> g;
  Op h(OpKind::H);
  const Id id = g.add_internal(h);
  try {
    pat("H").program().run_with_limit(g, id, 0);
    FAIL() << "no fault";
  } catch (const Fault& f) {
    EXPECT_STREQ(f.what(), "Tried to search a dirty e-graph!");
  }
  g.rebuild();
  EXPECT_TRUE(pat("H").program().run_with_limit(g, id, 0).empty());
  EXPECT_EQ(pat("H").program().run_with_limit(g, id, 5).size(), 1u);
}

TEST(Machine, LimitStopsAtTheFirstMatchesInDepthFirstOrder) {
  EGraph<Op> g;
  const Id c = merged_class(g, 10);
  const auto all = pat("(seq ?a ?b)").program().run_with_limit(g, c, 1000);
  ASSERT_EQ(all.size(), 5u);
  const auto one = pat("(seq ?a ?b)").program().run_with_limit(g, c, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0], all[0]);
  const auto three = pat("(seq ?a ?b)").program().run_with_limit(g, c, 3);
  EXPECT_EQ(three, std::vector<Subst>(all.begin(), all.begin() + 3));
}

TEST(Machine, RepeatedVariableComparesClasses) {
  EGraph<Op> g;
  Op h(OpKind::H), x(OpKind::X);
  const Id hi = g.add_internal(h);
  const Id xi = g.add_internal(x);
  Op hh = Op::seq(hi, hi), hx = Op::seq(hi, xi);
  const Id hhi = g.add_internal(hh);
  const Id hxi = g.add_internal(hx);
  g.rebuild();
  const Pattern<Op> p = pat("(seq ?x ?x)");
  EXPECT_EQ(p.program().run_with_limit(g, hhi, 10).size(), 1u);
  EXPECT_TRUE(p.program().run_with_limit(g, hxi, 10).empty());
  g.union_(hi, xi);
  g.rebuild();
  EXPECT_EQ(p.program().run_with_limit(g, g.find(hxi), 10).size(), 1u);
}

TEST(Machine, FullyBoundPatternUsesTheHashCons) {
  EGraph<Op> g;
  Op h(OpKind::H);
  const Id hi = g.add_internal(h);
  Op hh = Op::seq(hi, hi);
  const Id hhi = g.add_internal(hh);
  g.rebuild();
  const Pattern<Op> tt = pat("(seq T T)");
  EXPECT_TRUE(tt.program().run_with_limit(g, hhi, 10).empty());  // no T at all

  Op t(OpKind::T);
  const Id ti = g.add_internal(t);
  Op seq_tt = Op::seq(ti, ti);
  const Id tti = g.add_internal(seq_tt);
  g.rebuild();
  EXPECT_EQ(tt.program().run_with_limit(g, tti, 10).size(), 1u);
  EXPECT_TRUE(tt.program().run_with_limit(g, hhi, 10).empty());
  EXPECT_TRUE(tt.program().run_with_limit(g, ti, 10).empty());
}

TEST(Machine, VariableAndLeafPatterns) {
  EGraph<Op> g;
  Op i(OpKind::I), h(OpKind::H);
  const Id ii = g.add_internal(i);
  const Id hi = g.add_internal(h);
  g.rebuild();
  const auto x = pat("?x").program().run_with_limit(g, hi, 10);
  ASSERT_EQ(x.size(), 1u);
  EXPECT_EQ(x[0].get(Var(GlobalSymbol("?x"))), hi);
  EXPECT_EQ(pat("I").program().run_with_limit(g, ii, 10), std::vector<Subst>{Subst{}});
  EXPECT_TRUE(pat("I").program().run_with_limit(g, hi, 10).empty());
}

}  // namespace
}  // namespace kestrel
