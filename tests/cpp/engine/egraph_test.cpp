// The e-graph: merging, rebuilding and congruence on small graphs.
#include "engine/egraph.h"

#include <gtest/gtest.h>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// H, T, Seq(H, T), X, Seq(X, T), Par of the two Seqs: classes 0 to 5.
EGraph<Op> htx() {
  EGraph<Op> g;
  g.add_expr_internal(read("(par (seq H T) (seq X T))"));
  g.rebuild();
  return g;
}

TEST(EGraph, MergeThenRebuildRestoresCongruence) {
  EGraph<Op> g = htx();
  EXPECT_EQ(show(g), "0={H} 1={T} 2={Seq([0, 1])} 3={X} 4={Seq([3, 1])} 5={Par([2, 4])}");
  EXPECT_TRUE(g.union_(0, 3));  // one parent each: the first stays root
  EXPECT_FALSE(g.union_(3, 0));
  EXPECT_FALSE(g.clean());
  EXPECT_EQ(g.rebuild(), 1u);  // the two Seq classes merge, and their Par follows
  EXPECT_EQ(show(g), "0={H, X} 1={T} 2={Seq([0, 1])} 5={Par([2, 2])}");
  EXPECT_EQ(g.class_count(), 4u);
  EXPECT_EQ(g.node_count(), 7u);  // stale keys stay in the memo
  EXPECT_EQ(g.classes_by_kind(static_cast<std::size_t>(OpKind::X)), std::vector<Id>{0});

  // The memo now maps Seq(H, T) to the absorbed class 4: lookup answers the
  // canonical class and canonicalises its argument in place.
  Op stale = Op::seq(3, 1);
  EXPECT_EQ(g.lookup(stale), 2u);
  EXPECT_EQ(stale, Op::seq(0, 1));
}

TEST(EGraph, MergeKeepsTheClassWithMoreParentsAndTracksCleanness) {
  EGraph<Op> g = htx();
  EXPECT_TRUE(g.union_(3, 1));  // X has one parent, T two: T stays root
  EXPECT_EQ(g.find(3), 1u);

  EGraph<Op> h = htx();
  Op t(OpKind::T), z(OpKind::Z);
  h.add_internal(t);  // present already: changes nothing, not even cleanness
  EXPECT_TRUE(h.clean());
  h.add_internal(z);
  EXPECT_FALSE(h.clean());
}

}  // namespace
}  // namespace kestrel
