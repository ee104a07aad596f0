// Tests of the gate language node `Op`: construction from operator names,
// the order the e-graph sorts node lists by, matching against equality,
// hashing and the debug form.
#include "src/lang.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <variant>
#include <vector>

namespace kestrel {
namespace {

constexpr std::array<OpKind, 11> kLeaves = {
    OpKind::I, OpKind::H,   OpKind::S,   OpKind::Sdg, OpKind::T,    OpKind::Tdg,
    OpKind::X, OpKind::Z,   OpKind::RZ1, OpKind::RZ2, OpKind::CNOT};

// The node `from_op` built, or a test failure naming the rejected input.
Op built(std::string_view name, std::vector<Id> children) {
  auto result = Op::from_op(name, std::move(children));
  if (auto* error = std::get_if<FromOpError>(&result)) {
    ADD_FAILURE() << "from_op rejected \"" << error->op << "\"";
    return Op();
  }
  return std::get<Op>(result);
}

// The error `from_op` returned, or a test failure naming the accepted node.
FromOpError rejected(std::string_view name, std::vector<Id> children) {
  auto result = Op::from_op(name, std::move(children));
  if (auto* op = std::get_if<Op>(&result)) {
    ADD_FAILURE() << "from_op accepted \"" << name << "\" as " << op->debug();
    return FromOpError("", {});
  }
  return std::get<FromOpError>(std::move(result));
}

TEST(OpFromOp, AcceptsEachLeafNameWithoutChildren) {
  const std::array<std::string_view, 11> names = {"I", "H",  "S",   "Sdg", "T",   "Tdg",
                                                  "X", "Z", "RZ1", "RZ2", "CNOT"};
  for (std::size_t k = 0; k < names.size(); ++k) {
    SCOPED_TRACE(std::string(names[k]));
    const Op op = built(names[k], {});
    EXPECT_EQ(op.op(), kLeaves[k]);
    EXPECT_TRUE(op.is_leaf());
    EXPECT_TRUE(op.children().empty());
    EXPECT_EQ(op_name(kLeaves[k]), names[k]);
  }
}

TEST(OpFromOp, BinaryNamesKeepChildOrder) {
  const Op seq = built("seq", {5, 2});
  EXPECT_EQ(seq.op(), OpKind::Seq);
  EXPECT_EQ(seq, Op::seq(5, 2));
  ASSERT_EQ(seq.children().size(), 2u);
  EXPECT_EQ(seq.children()[0], 5u);
  EXPECT_EQ(seq.children()[1], 2u);

  const Op par = built("par", {0xFFFFFFFFu, 0});
  EXPECT_EQ(par, Op::par(0xFFFFFFFFu, 0));
  EXPECT_EQ(op_name(OpKind::Seq), "seq");
  EXPECT_EQ(op_name(OpKind::Par), "par");
}

TEST(OpFromOp, RejectsNamesOutsideTheTable) {
  // Names are exact and case-sensitive: no trimming, folding or aliases.
  for (std::string_view name : {"Seq", "Par", "PAR", "SEQ", "cnot", "h", "t", "RZ", "rz1", "",
                                " H", "H ", "Hdg", "CX"}) {
    SCOPED_TRACE(std::string(name));
    const FromOpError error = rejected(name, {});
    EXPECT_EQ(error.op, name);
    EXPECT_TRUE(error.children.empty());
  }
  // A name carrying an embedded NUL is not the name before it.
  const FromOpError nul = rejected(std::string_view("T\0", 2), {});
  EXPECT_EQ(nul.op.size(), 2u);
}

TEST(OpFromOp, RejectsWrongChildCounts) {
  EXPECT_EQ(rejected("seq", {7}).children, std::vector<Id>({7}));
  EXPECT_EQ(rejected("seq", {}).children, std::vector<Id>());
  EXPECT_EQ(rejected("seq", {1, 2, 3}).children, std::vector<Id>({1, 2, 3}));
  EXPECT_EQ(rejected("par", {4}).children, std::vector<Id>({4}));
  EXPECT_EQ(rejected("par", {4, 5, 6}).children, std::vector<Id>({4, 5, 6}));
  EXPECT_EQ(rejected("T", {1}).children, std::vector<Id>({1}));
  EXPECT_EQ(rejected("CNOT", {0, 1}).children, std::vector<Id>({0, 1}));
  EXPECT_EQ(rejected("I", {0}).op, "I");
}

TEST(OpFromOp, ErrorKeepsTextAndChildrenForUnknownBinaryName) {
  const FromOpError error = rejected("Seq", {9, 3});
  EXPECT_EQ(error, FromOpError("Seq", {9, 3}));
  EXPECT_EQ(error.op, "Seq");
  EXPECT_EQ(error.children, std::vector<Id>({9, 3}));
}

TEST(OpOrder, VariantsSortInDeclarationOrder) {
  std::vector<Op> ops;
  for (OpKind kind : kLeaves) ops.push_back(Op(kind));
  ops.push_back(Op::seq(0, 0));
  ops.push_back(Op::par(0, 0));
  for (std::size_t k = 0; k + 1 < ops.size(); ++k) {
    SCOPED_TRACE(ops[k].debug() + " < " + ops[k + 1].debug());
    EXPECT_LT(ops[k], ops[k + 1]);
    EXPECT_EQ(ops[k].kind(), k);
  }
  EXPECT_EQ(ops.back().kind() + 1, Op::kNumKinds);
}

TEST(OpOrder, BinaryNodesAfterLeavesAndByChildren) {
  // CNOT before any Seq, however small its children; every Seq before any Par.
  EXPECT_LT(Op(OpKind::CNOT), Op::seq(0, 0));
  EXPECT_LT(Op::seq(0xFFFFFFFFu, 0xFFFFFFFFu), Op::par(0, 0));
  EXPECT_LT(Op(OpKind::I), Op(OpKind::H));
  EXPECT_EQ(Op(), Op(OpKind::I));

  // First child decides before second.
  EXPECT_LT(Op::seq(1, 9), Op::seq(2, 0));
  EXPECT_LT(Op::seq(1, 2), Op::seq(1, 3));
  EXPECT_LT(Op::par(1, 9), Op::par(2, 0));

  // Children compare as unsigned numbers.
  EXPECT_GT(Op::seq(0x80000000u, 0), Op::seq(1, 0));
  EXPECT_GT(Op::seq(0, 0x80000000u), Op::seq(0, 0x7FFFFFFFu));
  EXPECT_GT(Op::par(0xFFFFFFFFu, 0), Op::par(0, 0xFFFFFFFFu));
}

TEST(OpOrder, SortingKeepsEachVariantContiguous) {
  std::vector<Op> ops = {Op::par(2, 1), Op::seq(3, 0), Op(OpKind::T),  Op::seq(0, 5),
                         Op(OpKind::H), Op::par(0, 7), Op::seq(0, 1),  Op(OpKind::CNOT),
                         Op(OpKind::I), Op::seq(0x80000000u, 0)};
  std::sort(ops.begin(), ops.end());
  const std::vector<Op> expected = {
      Op(OpKind::I),  Op(OpKind::H),  Op(OpKind::T),          Op(OpKind::CNOT),
      Op::seq(0, 1),  Op::seq(0, 5),  Op::seq(3, 0),          Op::seq(0x80000000u, 0),
      Op::par(0, 7),  Op::par(2, 1)};
  EXPECT_EQ(ops, expected);
}

TEST(OpMatches, ComparesVariantOnly) {
  EXPECT_TRUE(Op::seq(1, 2).matches(Op::seq(1, 3)));
  EXPECT_NE(Op::seq(1, 2), Op::seq(1, 3));
  EXPECT_TRUE(Op::seq(1, 2).matches(Op::seq(7, 7)));

  EXPECT_FALSE(Op::seq(1, 2).matches(Op::par(1, 2)));
  EXPECT_NE(Op::seq(1, 2), Op::par(1, 2));

  EXPECT_TRUE(Op(OpKind::T).matches(Op(OpKind::T)));
  EXPECT_FALSE(Op(OpKind::T).matches(Op(OpKind::Tdg)));
  EXPECT_EQ(Op::seq(1, 2).kind(), Op::seq(8, 9).kind());
  EXPECT_NE(Op::seq(1, 2).kind(), Op::par(1, 2).kind());
}

TEST(OpHash, EqualValuesHashEqual) {
  // The same value built three ways.
  EXPECT_EQ(Op::seq(3, 4).hash(), built("seq", {3, 4}).hash());
  EXPECT_EQ(Op::seq(3, 4).hash(), map_children(Op::seq(0, 1), [](Id c) { return c + 3; }).hash());
  for (OpKind kind : kLeaves) EXPECT_EQ(Op(kind).hash(), built(op_name(kind), {}).hash());

  // The hash sees the variant and both children in order.
  EXPECT_NE(Op::seq(3, 4).hash(), Op::par(3, 4).hash());
  EXPECT_NE(Op::seq(3, 4).hash(), Op::seq(4, 3).hash());
  EXPECT_NE(Op(OpKind::T).hash(), Op(OpKind::Tdg).hash());
}

TEST(OpChildren, MutableSlotsAreTheChildren) {
  Op node = Op::par(2, 5);
  update_children(node, [](Id c) { return c * 10; });
  EXPECT_EQ(node, Op::par(20, 50));

  Op leaf(OpKind::X);
  EXPECT_TRUE(leaf.children_mut().empty());
  EXPECT_EQ(map_children(leaf, [](Id) { return Id{99}; }), Op(OpKind::X));

  std::vector<Id> seen;
  for_each_child(Op::seq(8, 1), [&](Id c) { seen.push_back(c); });
  EXPECT_EQ(seen, std::vector<Id>({8, 1}));

  EXPECT_TRUE(all_children(leaf, [](Id) { return false; }));
  int calls = 0;
  EXPECT_FALSE(all_children(Op::seq(0, 1), [&](Id) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);
}

TEST(OpDebug, LeafNamesAndBinaryChildren) {
  const std::array<std::string, 11> names = {"I", "H",  "S",   "Sdg", "T",   "Tdg",
                                             "X", "Z", "RZ1", "RZ2", "CNOT"};
  for (std::size_t k = 0; k < kLeaves.size(); ++k) EXPECT_EQ(Op(kLeaves[k]).debug(), names[k]);
  EXPECT_EQ(Op::seq(3, 4).debug(), "Seq([3, 4])");
  EXPECT_EQ(Op::par(0, 4294967295u).debug(), "Par([0, 4294967295])");
}

}  // namespace
}  // namespace kestrel
