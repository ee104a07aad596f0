// The gate language node `Op`: construction from operator names and the
// order the e-graph sorts the nodes of a class by.
#include "src/circuit/op.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel {
namespace {

TEST(Op, FromOpTakesOnlyExactNamesAndArities) {
  const std::pair<const char*, std::vector<Id>> rejected[] = {
      {"Seq", {9, 3}}, {"seq", {7}}, {"seq", {1, 2, 3}}, {"par", {}}, {"T", {1}},
      {"CNOT", {0, 1}}, {"cnot", {}}, {"h", {}}, {"", {}}, {" H", {}}, {"Hdg", {}}};
  for (const auto& [name, children] : rejected) {
    const auto made = Op::from_op(name, children);
    ASSERT_TRUE(std::holds_alternative<FromOpError>(made)) << name;
    EXPECT_EQ(std::get<FromOpError>(made), FromOpError(name, children));
  }
  for (std::size_t k = 0; k < Op::kNumKinds; ++k) {  // each name as op_name gives it
    const bool binary = k == Op::seq(0, 0).kind() || k == Op::par(0, 0).kind();
    const auto made = Op::from_op(op_name(static_cast<OpKind>(k)), std::vector<Id>(binary ? 2 : 0));
    EXPECT_EQ(std::get<Op>(made).kind(), k);
  }
}

TEST(Op, SortsByVariantThenFirstChildThenSecond) {
  std::vector<Op> ops = {Op::par(2, 1), Op::seq(3, 0), Op(OpKind::T),  Op::seq(0, 5),
                         Op(OpKind::H), Op::par(0, 7), Op::seq(0, 1),  Op(OpKind::CNOT),
                         Op(OpKind::I), Op::seq(0x80000000u, 0)};
  std::sort(ops.begin(), ops.end());
  EXPECT_EQ(ops, (std::vector<Op>{Op(OpKind::I), Op(OpKind::H), Op(OpKind::T), Op(OpKind::CNOT),
                                  Op::seq(0, 1), Op::seq(0, 5), Op::seq(3, 0),
                                  Op::seq(0x80000000u, 0), Op::par(0, 7), Op::par(2, 1)}));
  std::vector<Id> seen;  // and children are visited in their order
  for_each_child(Op::seq(8, 1), [&](Id c) { seen.push_back(c); });
  EXPECT_EQ(seen, (std::vector<Id>{8, 1}));
}

}  // namespace
}  // namespace kestrel
