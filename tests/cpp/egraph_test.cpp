#include "engine/egraph.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "src/lang.h"

namespace kestrel {
namespace {

Op leaf(OpKind k) { return Op(k); }

struct Loaded {
  EGraph<Op> g;
  Id h, t, x, ht, xt;
};

// H, T, X, Seq(H, T), Seq(X, T), rebuilt.
Loaded load_htx() {
  Loaded l;
  Op n = leaf(OpKind::H);
  l.h = l.g.add_internal(n);
  n = leaf(OpKind::T);
  l.t = l.g.add_internal(n);
  n = leaf(OpKind::X);
  l.x = l.g.add_internal(n);
  n = Op::seq(l.h, l.t);
  l.ht = l.g.add_internal(n);
  n = Op::seq(l.x, l.t);
  l.xt = l.g.add_internal(n);
  l.g.rebuild();
  return l;
}

TEST(EGraph, AddingAPresentLeafChangesNothing) {
  EGraph<Op> g;
  Op t = leaf(OpKind::T);
  const Id first = g.add_internal(t);
  g.rebuild();
  ASSERT_TRUE(g.clean());
  Op again = leaf(OpKind::T);
  EXPECT_EQ(g.add_internal(again), first);
  EXPECT_EQ(g.class_count(), 1u);
  EXPECT_TRUE(g.clean());
}

TEST(EGraph, CongruenceAfterMergeAndRebuild) {
  Loaded l = load_htx();
  EXPECT_EQ(l.g.class_count(), 5u);
  EXPECT_EQ(l.g.node_count(), 5u);

  EXPECT_TRUE(l.g.union_(l.h, l.x));
  EXPECT_EQ(l.g.find(l.x), l.h);  // equal parent counts: the first argument's class stays root
  EXPECT_EQ(l.g.rebuild(), 1u);   // the two Seq classes merge by congruence
  EXPECT_EQ(l.g.class_count(), 3u);
  EXPECT_EQ(l.g.node_count(), 5u);  // the stale key Seq(X, T) stays in memo
  EXPECT_EQ(l.g.find(l.ht), l.g.find(l.xt));

  // The memo value of Seq(H, T) is now the absorbed Seq class: add_internal
  // returns it as stored, lookup returns its canonical id.
  const Id absorbed = l.g.find(l.ht) == l.ht ? l.xt : l.ht;
  Op ht = Op::seq(l.h, l.t);
  EXPECT_EQ(l.g.add_internal(ht), absorbed);
  Op stale = Op::seq(l.x, l.t);
  EXPECT_EQ(l.g.lookup(stale), l.g.find(l.ht));
  EXPECT_EQ(stale, Op::seq(l.h, l.t));  // canonicalised in place
}

TEST(EGraph, RootIsTheClassWithMoreParents) {
  Loaded l = load_htx();
  // T has two parents, X one: T survives whatever the argument order.
  EXPECT_TRUE(l.g.union_(l.x, l.t));
  EXPECT_EQ(l.g.find(l.x), l.t);

  Loaded m = load_htx();
  EXPECT_TRUE(m.g.union_(m.t, m.x));
  EXPECT_EQ(m.g.find(m.x), m.t);
}

TEST(EGraph, CleanFlagTransitions) {
  EGraph<Op> g;
  EXPECT_FALSE(g.clean());
  EXPECT_EQ(g.rebuild(), 0u);
  EXPECT_TRUE(g.clean());

  Op h = leaf(OpKind::H);
  const Id a = g.add_internal(h);
  EXPECT_FALSE(g.clean());
  g.rebuild();
  EXPECT_FALSE(g.union_(a, a));  // same class: nothing merged, still unclean
  EXPECT_FALSE(g.clean());
}

TEST(EGraph, RebuildSortsDedupsAndIndexesKinds) {
  Loaded l = load_htx();
  l.g.union_(l.h, l.x);
  l.g.union_(l.ht, l.t);
  l.g.rebuild();
  for (const auto& c : l.g.classes()) {
    EXPECT_TRUE(std::is_sorted(c.nodes.begin(), c.nodes.end()));
    EXPECT_EQ(std::adjacent_find(c.nodes.begin(), c.nodes.end()), c.nodes.end());
    for (const Op& n : c.nodes) {
      const auto& ids = l.g.classes_by_kind(n.kind());
      EXPECT_NE(std::find(ids.begin(), ids.end(), c.id), ids.end()) << n.debug();
    }
  }
  // Seq(H, T) and Seq(X, T) merged with T: the T class holds T and one Seq.
  const auto& t_class = l.g[l.t];
  ASSERT_EQ(t_class.nodes.size(), 2u);
  EXPECT_EQ(t_class.nodes[0], leaf(OpKind::T));
  EXPECT_EQ(t_class.nodes[1].op(), OpKind::Seq);
}

TEST(EGraph, KindIndexFollowsMerges) {
  EGraph<Op> g;
  Op x = leaf(OpKind::X), z = leaf(OpKind::Z);
  const Id xi = g.add_internal(x);
  const Id zi = g.add_internal(z);
  g.rebuild();
  EXPECT_EQ(g.classes_by_kind(static_cast<std::size_t>(OpKind::Z)).size(), 1u);
  g.union_(xi, zi);
  g.rebuild();
  EXPECT_EQ(g.classes_by_kind(static_cast<std::size_t>(OpKind::X)), std::vector<Id>{xi});
  EXPECT_EQ(g.classes_by_kind(static_cast<std::size_t>(OpKind::Z)), std::vector<Id>{xi});
  Op x_again = leaf(OpKind::X);
  EXPECT_EQ(g.lookup(x_again), xi);
}

TEST(EGraph, AddExprSharesEqualNodes) {
  RecExpr<Op> e;
  const Id t1 = e.add(leaf(OpKind::T));
  const Id t2 = e.add(leaf(OpKind::T));
  const Id s = e.add(Op::seq(t1, t2));
  e.add(Op::seq(s, t2));
  EGraph<Op> g;
  const Id root = g.add_expr_internal(e);
  EXPECT_EQ(g.class_count(), 3u);
  EXPECT_EQ(g.find(root), 2u);
}

TEST(EGraph, FaultsOnBadInput) {
  EGraph<Op> g;
  EXPECT_THROW(g.add_expr_internal(RecExpr<Op>()), Fault);
  RecExpr<Op> forward;
  forward.add(Op::seq(0, 1));  // children must point to earlier nodes
  try {
    g.add_expr_internal(forward);
    FAIL() << "no fault";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 0 but the index is 0");
  }
  EXPECT_THROW(g.find(7), Fault);
}

TEST(EGraph, MillionGateChainLoadsWithoutRecursion) {
  RecExpr<Op> e;
  Id root = e.add(leaf(OpKind::H));
  for (int i = 1; i < 1'000'000; ++i) {
    const Id g = e.add(leaf(i % 3 == 0 ? OpKind::T : OpKind::S));
    root = e.add(Op::seq(root, g));
  }
  EGraph<Op> g;
  g.add_expr_internal(e);
  g.rebuild();
  EXPECT_EQ(g.class_count(), 3u + 999'999u);
}

}  // namespace
}  // namespace kestrel
