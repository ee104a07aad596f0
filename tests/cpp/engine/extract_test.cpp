// Extraction, and the layout of terms as flat expressions that it uses.
#include "engine/extract.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "src/saturation/cost.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// The cheapest term of the class of `root`, after merging the classes of
// each pair of terms in `merges`, and its cost: "[Z] 0,1,1".
std::string extract(const char* root, std::vector<std::pair<const char*, const char*>> merges = {}) {
  EGraph<Op> g;
  const Id r = add(g, root);
  for (const auto& [a, b] : merges) g.union_(add(g, a), add(g, b));
  g.rebuild();
  const auto [cost, term] = Extractor<Op, TCost>(g, TCost{}).best_term(r);
  return show(term) + " " + std::to_string(cost.t) + "," + std::to_string(cost.depth) + "," +
         std::to_string(cost.gates);
}

TEST(Extractor, CheapestTermAndItsCost) {
  // Costs are (T gates, depth, gates): Seq adds depths, Par is one deeper
  // than its deeper side, I is free. The last child is laid out first.
  EXPECT_EQ(extract("(seq (seq H T) (par T X))"), "[X, T, Par([1, 0]), H, Seq([3, 1]), Seq([4, 2])] 2,4,4");
  EXPECT_EQ(extract("(seq I I)"), "[I, Seq([0, 0])] 0,0,0");
  EXPECT_EQ(extract("(par I I)"), "[I, Par([0, 0])] 0,1,0");
  EXPECT_EQ(extract("(seq Tdg CNOT)"), "[CNOT, Tdg, Seq([1, 0])] 1,2,2");
  // A merged class's cheaper node wins (which node each class records, over
  // several sweeps and on ties: optimize_test.cpp's whole-sweeps model).
  EXPECT_EQ(extract("(seq (seq T T) H)", {{"(seq T T)", "(seq X Z)"}}), "[H, Z, X, Seq([2, 1]), Seq([3, 0])] 0,3,3");
}

TEST(Extractor, SharedTermsSaturateTheCostInsteadOfOverflowing) {
  // Seq(x, x) nested 70 times stands for 2^70 T gates.
  RecExpr<Op> e;
  Id x = e.add(Op(OpKind::T));
  for (int k = 0; k < 70; ++k) x = e.add(Op::seq(x, x));
  EGraph<Op> g;
  const Id root = g.add_expr_internal(e);
  g.rebuild();
  const TCost::Cost cost = Extractor<Op, TCost>(g, TCost{}).best_term(root).first;
  EXPECT_EQ(cost.t, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(cost.gates, std::numeric_limits<std::int64_t>::max());
}

// Distinct sources whose nodes are equal after renumbering share a position.
// (A term laid out last child first, within each subterm too, and a source
// used twice laid out once: the extractor's terms above.)
TEST(BuildRecExpr, LaysOutEachSourceOnceLastChildFirst) {
  const std::map<Id, Op> source = {{1, Op(OpKind::T)}, {2, Op(OpKind::T)}, {3, Op::seq(1, 2)}, {4, Op::seq(2, 1)}};
  EXPECT_EQ(show(build_recexpr(Op::par(3, 4), [&](Id id) { return source.at(id); })), "[T, Seq([0, 0]), Par([1, 1])]");
}

}  // namespace
}  // namespace kestrel
