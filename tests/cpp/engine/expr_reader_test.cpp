// Pattern nodes and variables, reading patterns from text, and compaction.
#include "engine/expr_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/pattern_node.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

using PatNode = ENodeOrVar<Op>;

static_assert(Language<PatNode>);
static_assert(std::is_trivially_copyable_v<PatNode>);

// The pattern read from `text`, or the error, in debug form.
std::string read_pattern(std::string_view text) {
  auto result = from_str<PatNode>(text);
  EXPECT_EQ(result, from_str<PatNode>(text));  // reading is a function of the text
  if (auto* e = std::get_if<1>(&result)) return e->debug();
  return show(std::get<0>(result));
}

TEST(FromStr, Readings) {
  const struct {
    std::string_view text;
    const char* reading;
  } cases[] = {
      {"?x", "[Var(?x)]"},
      // Children first; nothing is shared while reading.
      {"(seq (seq H Z) H)", "[ENode(H), ENode(Z), ENode(Seq([0, 1])), ENode(H), ENode(Seq([2, 3]))]"},
      {"(par ?a (seq ?b ?a))", "[Var(?a), Var(?b), Var(?a), ENode(Seq([1, 2])), ENode(Par([0, 3]))]"},
      // Surrounding Unicode white space is trimmed; trailing text is not read.
      {"\n\t\u00a0\u3000(seq\n I\r\n CNOT)\u2029 and more", "[ENode(I), ENode(CNOT), ENode(Seq([0, 1]))]"},
      {"\u0085 \u2003", "EmptySexp"},
      {"( \n )", "EmptySexp"},
      {"(seq I ())", "EmptySexp"},
      {"((seq) I)", "HeadList(List([String(\"seq\")]))"},
      {"?", "BadOp(BadOp(FromOpError { op: \"?\", children: [] }))"},
      {"(seq I)", "BadOp(BadOp(FromOpError { op: \"seq\", children: [0] }))"},
      {"(?x I)", "BadOp(UnexpectedVar(\"?x\"))"},
      // Operands are read before their operator is checked.
      {"(Seq I (seq Z Q))", "BadOp(BadOp(FromOpError { op: \"Q\", children: [] }))"},
      {"(seq \"I\" \"a b\")", "BadOp(BadOp(FromOpError { op: \"a b\", children: [] }))"},
      // Error positions count from the trimmed text.
      {"\n\n  (seq I", "BadSexp(ParseError { msg: \"End of file reached\", line: 1, col: 7 })"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_pattern(c.text), c.reading) << c.text;
  EXPECT_EQ(trim_white_space("é\u2003"), "é");
}

TEST(Compact, MergesRepeatedSubtermsOntoTheirFirstOccurrence) {
  const struct {
    const char* text;
    const char* compacted;
  } cases[] = {
      {"(seq (seq H Z) H)", "[ENode(H), ENode(Z), ENode(Seq([0, 1])), ENode(Seq([2, 0]))]"},
      {"(seq (seq ?a ?b) (seq ?a ?b))", "[Var(?a), Var(?b), ENode(Seq([0, 1])), ENode(Seq([2, 2]))]"},
      {"(seq (seq ?a ?b) ?c)", "[Var(?a), Var(?b), ENode(Seq([0, 1])), Var(?c), ENode(Seq([2, 3]))]"},
  };
  for (const auto& c : cases) EXPECT_EQ(show(compact(read<PatNode>(c.text))), c.compacted);
  EXPECT_EQ(show(compact(read("(seq (seq T T) T)"))), "[T, Seq([0, 0]), Seq([1, 0])]");
}

TEST(ENodeOrVar, NodesSortBeforeVariablesAndVariablesMatchOnlyThemselves) {
  const PatNode x = std::get<PatNode>(PatNode::from_op("?x", {}));
  const PatNode y = std::get<PatNode>(PatNode::from_op("?y", {}));
  std::vector<PatNode> nodes = {PatNode(Op(OpKind::I)), x, PatNode(Op::par(0, 0)), y, PatNode(Op::seq(2, 0))};
  std::sort(nodes.begin(), nodes.end());
  const auto [first, second] = x.var() < y.var() ? std::pair(x, y) : std::pair(y, x);
  EXPECT_EQ(nodes, (std::vector<PatNode>{PatNode(Op(OpKind::I)), PatNode(Op::seq(2, 0)),
                                         PatNode(Op::par(0, 0)), first, second}));
  EXPECT_EQ(x.kind(), Op::kNumKinds);  // a kind of its own
  EXPECT_TRUE(x.matches(x));
  EXPECT_FALSE(x.matches(y));
  EXPECT_FALSE(x.matches(PatNode(Op(OpKind::I))));
  EXPECT_TRUE(PatNode(Op::seq(1, 2)).matches(PatNode(Op::seq(7, 8))));
  EXPECT_NE(x, PatNode());  // a Var keeps a default node, yet is no ENode
  EXPECT_EQ(std::get<std::string>(Var::from_str("x?")), "x?");
}

}  // namespace
}  // namespace kestrel
