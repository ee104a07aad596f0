#include "engine/extract.h"

#include <gtest/gtest.h>

#include <limits>

#include "src/cost.h"
#include "src/lang.h"

namespace kestrel {
namespace {

using Cost = TCost::Cost;

Cost cost_of(const RecExpr<Op>& e) {
  EGraph<Op> g;
  const Id root = g.add_expr_internal(e);
  g.rebuild();
  return Extractor<Op, TCost>(g, TCost{}).best_term(root).first;
}

TEST(TCost, CostTriples) {
  RecExpr<Op> e;
  const Id h = e.add(Op(OpKind::H));
  const Id t1 = e.add(Op(OpKind::T));
  const Id ht = e.add(Op::seq(h, t1));
  const Id t2 = e.add(Op(OpKind::T));
  const Id x = e.add(Op(OpKind::X));
  const Id tx = e.add(Op::par(t2, x));
  e.add(Op::seq(ht, tx));
  EXPECT_EQ(cost_of(e), (Cost{2, 4, 4}));

  RecExpr<Op> seq_ii;
  seq_ii.add(Op::seq(seq_ii.add(Op(OpKind::I)), 0));
  EXPECT_EQ(cost_of(seq_ii), (Cost{0, 0, 0}));
  RecExpr<Op> par_ii;
  par_ii.add(Op::par(par_ii.add(Op(OpKind::I)), 0));
  EXPECT_EQ(cost_of(par_ii), (Cost{0, 1, 0}));
}

TEST(TCost, SharedTermsSaturateInsteadOfOverflowing) {
  // Seq(x, x) nested 70 times stands for 2^70 T gates.
  RecExpr<Op> e;
  Id x = e.add(Op(OpKind::T));
  for (int k = 0; k < 70; ++k) x = e.add(Op::seq(x, x));
  const Cost c = cost_of(e);
  EXPECT_EQ(c.t, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(c.gates, std::numeric_limits<std::int64_t>::max());
  EXPECT_LT((Cost{0, 0, 0}), c);
}

TEST(TCost, LexicographicOrder) {
  EXPECT_LT((Cost{0, 9, 9}), (Cost{1, 0, 0}));
  EXPECT_LT((Cost{1, 1, 9}), (Cost{1, 2, 0}));
  EXPECT_LT((Cost{1, 2, 2}), (Cost{1, 2, 3}));
}

TEST(Extractor, SingleLeaf) {
  RecExpr<Op> e;
  e.add(Op(OpKind::CNOT));
  EGraph<Op> g;
  const Id root = g.add_expr_internal(e);
  g.rebuild();
  const auto [cost, term] = Extractor<Op, TCost>(g, TCost{}).best_term(root);
  EXPECT_EQ(term, e);
  EXPECT_EQ(cost, (Cost{0, 1, 1}));
}

TEST(Extractor, SharedChildIsLaidOutOnce) {
  RecExpr<Op> e;
  const Id t1 = e.add(Op(OpKind::T));
  const Id t2 = e.add(Op(OpKind::T));
  e.add(Op::seq(t1, t2));
  EGraph<Op> g;
  const Id root = g.add_expr_internal(e);
  g.rebuild();
  const auto [cost, term] = Extractor<Op, TCost>(g, TCost{}).best_term(root);
  ASSERT_EQ(term.size(), 2u);
  EXPECT_EQ(term[0], Op(OpKind::T));
  EXPECT_EQ(term[1], Op::seq(0, 0));
  EXPECT_EQ(cost, (Cost{2, 2, 2}));
}

TEST(Extractor, LeafWinsATieWithSeq) {
  // Class {Z, Seq(Iclass, Zclass')} where the Seq costs exactly what Z costs.
  EGraph<Op> g;
  Op i = Op(OpKind::I), s = Op(OpKind::S), z = Op(OpKind::Z);
  const Id ii = g.add_internal(i);
  const Id si = g.add_internal(s);
  Op seq = Op::seq(ii, si);
  const Id seqi = g.add_internal(seq);
  const Id zi = g.add_internal(z);
  g.union_(seqi, zi);
  g.rebuild();
  const auto [cost, term] = Extractor<Op, TCost>(g, TCost{}).best_term(zi);
  EXPECT_EQ(cost, (Cost{0, 1, 1}));
  ASSERT_EQ(term.size(), 1u);
  EXPECT_EQ(term[0], Op(OpKind::Z));
}

TEST(Extractor, CheaperNodePropagatesToParents) {
  // Seq(A, H) where A = {Seq(T, T)} is later merged with S: the root must pick
  // up the cheaper child whichever sweep notices it.
  EGraph<Op> g;
  Op t = Op(OpKind::T), h = Op(OpKind::H), s = Op(OpKind::S);
  const Id ti = g.add_internal(t);
  Op tt = Op::seq(ti, ti);
  const Id tti = g.add_internal(tt);
  const Id hi = g.add_internal(h);
  Op root = Op::seq(tti, hi);
  const Id rooti = g.add_internal(root);
  const Id si = g.add_internal(s);
  g.union_(si, tti);
  g.rebuild();
  const auto [cost, term] = Extractor<Op, TCost>(g, TCost{}).best_term(rooti);
  EXPECT_EQ(cost, (Cost{0, 2, 2}));
  ASSERT_EQ(term.size(), 3u);
  EXPECT_EQ(term[0], Op(OpKind::H));  // the last child is laid out first
  EXPECT_EQ(term[1], Op(OpKind::S));
  EXPECT_EQ(term[2], Op::seq(1, 0));
}

}  // namespace
}  // namespace kestrel
