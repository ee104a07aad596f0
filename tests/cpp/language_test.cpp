// Tests of flat expressions and their layout: `RecExpr` positions and bounds,
// `FromOpError`, and the shape `build_recexpr` gives a term.
#include "engine/language.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/fault.h"
#include "src/lang.h"

namespace kestrel {
namespace {

TEST(RecExpr, AddReturnsAppendPositionsWithoutMerging) {
  RecExpr<Op> expr;
  EXPECT_TRUE(expr.empty());
  EXPECT_EQ(expr.add(Op(OpKind::T)), 0u);
  EXPECT_EQ(expr.add(Op(OpKind::T)), 1u);
  // Children are not checked either: a forward reference is stored as given.
  EXPECT_EQ(expr.add(Op::seq(0, 7)), 2u);
  ASSERT_EQ(expr.size(), 3u);
  EXPECT_EQ(expr[0], Op(OpKind::T));
  EXPECT_EQ(expr[1], Op(OpKind::T));
  EXPECT_EQ(expr[2], Op::seq(0, 7));
  EXPECT_EQ(expr.root(), 2u);
}

TEST(RecExpr, OutOfRangeIndexFaults) {
  RecExpr<Op> expr;
  expr.add(Op(OpKind::H));
  expr.add(Op(OpKind::X));
  try {
    (void)expr[2];
    ADD_FAILURE() << "no fault for index 2 of 2";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 2 but the index is 2");
    EXPECT_STREQ(f.what(), "index out of bounds: the len is 2 but the index is 2");
  }
  try {
    expr[4294967295u] = Op(OpKind::Z);
    ADD_FAILURE() << "no fault for writing index 4294967295";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 2 but the index is 4294967295");
  }
  EXPECT_EQ(expr[1], Op(OpKind::X));  // the failed write changed nothing
}

TEST(RecExpr, EmptyExpressionHasNoRoot) {
  const RecExpr<Op> empty;
  try {
    (void)empty.root();
    ADD_FAILURE() << "no fault for the root of an empty expression";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 0 but the index is 0");
  }
  EXPECT_THROW((void)empty[0], Fault);
}

TEST(FromOpError, KeepsTextAndChildrenExactly) {
  const FromOpError error(" Seq\t", {4294967295u, 0, 3});
  EXPECT_EQ(error.op, " Seq\t");
  EXPECT_EQ(error.children, std::vector<Id>({4294967295u, 0, 3}));
  EXPECT_NE(error, FromOpError("Seq", {4294967295u, 0, 3}));
  EXPECT_NE(error, FromOpError(" Seq\t", {4294967295u, 0}));
}

// A source term for `build_recexpr`: a node for each source id, with children
// that are source ids; records how often each id was asked for.
struct Source {
  std::map<Id, Op> nodes;
  std::map<Id, int> asked;

  Op operator()(Id id) {
    ++asked[id];
    auto it = nodes.find(id);
    if (it == nodes.end()) {
      ADD_FAILURE() << "asked for unknown id " << id;
      return Op();
    }
    return it->second;
  }
};

TEST(BuildRecExpr, SharedChildIsLaidOutOnce) {
  Source source{{{42, Op(OpKind::T)}}, {}};
  const RecExpr<Op> expr = build_recexpr(Op::seq(42, 42), std::ref(source));
  EXPECT_EQ(expr, RecExpr<Op>({Op(OpKind::T), Op::seq(0, 0)}));
}

TEST(BuildRecExpr, LeafRootIsOneNode) {
  Source source;
  const RecExpr<Op> expr = build_recexpr(Op(OpKind::CNOT), std::ref(source));
  EXPECT_EQ(expr, RecExpr<Op>({Op(OpKind::CNOT)}));
  EXPECT_TRUE(source.asked.empty());
}

TEST(BuildRecExpr, LastChildSubtermComesFirst) {
  // Root Seq(10, 20) with 10 = Par(11, 12) = Par(H, X) and 20 = Seq(21, 22) = Seq(T, Z).
  Source source{{{10, Op::par(11, 12)},
                 {11, Op(OpKind::H)},
                 {12, Op(OpKind::X)},
                 {20, Op::seq(21, 22)},
                 {21, Op(OpKind::T)},
                 {22, Op(OpKind::Z)}},
                {}};
  const RecExpr<Op> expr = build_recexpr(Op::seq(10, 20), std::ref(source));
  // Within each subterm the last child again comes first.
  const RecExpr<Op> expected({Op(OpKind::Z), Op(OpKind::T), Op::seq(1, 0),   // b's subterm
                              Op(OpKind::X), Op(OpKind::H), Op::par(4, 3),   // a's subterm
                              Op::seq(5, 2)});                               // root
  EXPECT_EQ(expr, expected);
}

TEST(BuildRecExpr, NodesEqualAfterRenumberingSharePosition) {
  // Ids 1 and 2 are different sources whose nodes are both T; ids 3 and 4
  // become Seq(T, T) alike once their children are renumbered.
  Source source{{{1, Op(OpKind::T)},
                 {2, Op(OpKind::T)},
                 {3, Op::seq(1, 2)},
                 {4, Op::seq(2, 1)}},
                {}};
  const RecExpr<Op> expr = build_recexpr(Op::par(3, 4), std::ref(source));
  EXPECT_EQ(expr, RecExpr<Op>({Op(OpKind::T), Op::seq(0, 0), Op::par(1, 1)}));
}

TEST(BuildRecExpr, DeepChainNeedsNoCallStack) {
  // A left-leaning chain of 200,000 Seq nodes over one shared leaf.
  constexpr Id kDepth = 200'000;
  auto node_for_id = [](Id id) { return id == 0 ? Op(OpKind::H) : Op::seq(id - 1, 0); };
  const RecExpr<Op> expr = build_recexpr(Op::seq(kDepth, 0), node_for_id);
  ASSERT_EQ(expr.size(), kDepth + 2);
  EXPECT_EQ(expr[0], Op(OpKind::H));
  EXPECT_EQ(expr[1], Op::seq(0, 0));
  EXPECT_EQ(expr[kDepth], Op::seq(kDepth - 1, 0));
  EXPECT_EQ(expr[kDepth + 1], Op::seq(kDepth, 0));
  for (Id k = 1; k < expr.size(); ++k) {
    for (Id child : expr[k].children()) ASSERT_LT(child, k);
  }
}

}  // namespace
}  // namespace kestrel
