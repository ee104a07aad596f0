// The layout of a term as a flat expression by `build_recexpr`.
#include "engine/language.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

TEST(BuildRecExpr, LaysOutEachSourceOnceLastChildFirst) {
  const struct {
    Op root;
    std::map<Id, Op> source;  // the node standing for each source id
    const char* expected;
  } cases[] = {
      {Op(OpKind::CNOT), {}, "[CNOT]"},
      {Op::seq(42, 42), {{42, Op(OpKind::T)}}, "[T, Seq([0, 0])]"},
      // Seq(Par(H, X), Seq(T, Z)): within each subterm the last child comes first too.
      {Op::seq(10, 20),
       {{10, Op::par(11, 12)}, {11, Op(OpKind::H)}, {12, Op(OpKind::X)},
        {20, Op::seq(21, 22)}, {21, Op(OpKind::T)}, {22, Op(OpKind::Z)}},
       "[Z, T, Seq([1, 0]), X, H, Par([4, 3]), Seq([5, 2])]"},
      // Distinct sources whose nodes are equal after renumbering share a position.
      {Op::par(3, 4),
       {{1, Op(OpKind::T)}, {2, Op(OpKind::T)}, {3, Op::seq(1, 2)}, {4, Op::seq(2, 1)}},
       "[T, Seq([0, 0]), Par([1, 1])]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(build_recexpr(c.root, [&](Id id) { return c.source.at(id); })), c.expected);
  }
}

}  // namespace
}  // namespace kestrel
