#include "engine/parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "engine/pattern_node.h"
#include "src/lang.h"

namespace kestrel {

using PatNode = ENodeOrVar<Op>;
using PatError = RecExprParseError<PatNode::Error>;
using NodeError = PatNode::Error;

static_assert(Language<PatNode>);
static_assert(std::is_trivially_copyable_v<PatNode>);
static_assert(sizeof(PatNode) == sizeof(Op) + 4);
static_assert(PatNode::kNumKinds == Op::kNumKinds + 1);

void PrintTo(const PatError& error, std::ostream* out) { *out << error.debug(); }

namespace {

PatNode leaf(OpKind k) { return PatNode(Op(k)); }
PatNode seq(Id a, Id b) { return PatNode(Op::seq(a, b)); }
PatNode var(std::string_view name) { return PatNode(std::get<Var>(Var::from_str(name))); }

RecExpr<PatNode> pattern(std::string_view text) {
  auto result = from_str<PatNode>(text);
  if (auto* e = std::get_if<PatError>(&result)) {
    ADD_FAILURE() << text << ": " << e->debug();
    return {};
  }
  return std::get<RecExpr<PatNode>>(std::move(result));
}

PatError error_of(std::string_view text) {
  auto result = from_str<PatNode>(text);
  EXPECT_TRUE(std::holds_alternative<PatError>(result)) << text;
  if (auto* e = std::get_if<PatError>(&result)) return *e;
  return {};
}

PatError bad_op(NodeError error) { return PatError{PatError::BadOp{std::move(error)}}; }
PatError op_rejected(std::string op, std::vector<Id> children) {
  return bad_op(NodeError{NodeError::BadOp{FromOpError(op, std::move(children))}});
}

// ---- Var and ENodeOrVar ----

TEST(Var, FromStr) {
  auto x = Var::from_str("?x");
  ASSERT_TRUE(std::holds_alternative<Var>(x));
  EXPECT_EQ(std::get<Var>(x).as_str(), "?x");
  EXPECT_EQ(std::get<Var>(x), std::get<Var>(Var::from_str(std::string("?x"))));
  EXPECT_NE(std::get<Var>(x), std::get<Var>(Var::from_str("?y")));
  EXPECT_EQ(std::get<Var>(Var::from_str("?λ")).as_str(), "?λ");
  for (std::string_view bad : {"?", "", "x", "x?", "x?y"}) {
    auto r = Var::from_str(bad);
    ASSERT_TRUE(std::holds_alternative<std::string>(r)) << bad;
    EXPECT_EQ(std::get<std::string>(r), bad);
  }
}

TEST(ENodeOrVar, FromOp) {
  EXPECT_EQ(std::get<PatNode>(PatNode::from_op("?x", {})), var("?x"));
  EXPECT_EQ(std::get<PatNode>(PatNode::from_op("T", {})), leaf(OpKind::T));
  EXPECT_EQ(std::get<PatNode>(PatNode::from_op("seq", {4, 1})), seq(4, 1));
  EXPECT_EQ(std::get<NodeError>(PatNode::from_op("?x", {0})),
            NodeError{NodeError::UnexpectedVar{"?x"}});
  // A lone "?" is an operator name, which the gate language rejects.
  EXPECT_EQ(std::get<NodeError>(PatNode::from_op("?", {})),
            NodeError{NodeError::BadOp{FromOpError("?", {})}});
  EXPECT_EQ(std::get<NodeError>(PatNode::from_op("seq", {2})),
            NodeError{NodeError::BadOp{FromOpError("seq", {2})}});
  EXPECT_EQ(std::get<NodeError>(PatNode::from_op("x?", {})),
            NodeError{NodeError::BadOp{FromOpError("x?", {})}});
}

TEST(ENodeOrVar, LanguageInterface) {
  const PatNode x = var("?x"), y = var("?y");
  EXPECT_TRUE(x.is_var());
  EXPECT_TRUE(x.children().empty());
  EXPECT_EQ(x.kind(), Op::kNumKinds);
  EXPECT_EQ(x.var().as_str(), "?x");
  EXPECT_THROW(x.node(), Fault);
  EXPECT_THROW(seq(0, 1).var(), Fault);

  PatNode s = seq(3, 5);
  EXPECT_EQ(s.node(), Op::seq(3, 5));
  EXPECT_EQ(s.kind(), Op::seq(0, 0).kind());
  EXPECT_EQ(s.hash(), Op::seq(3, 5).hash());
  EXPECT_EQ(std::vector<Id>(s.children().begin(), s.children().end()), (std::vector<Id>{3, 5}));
  update_children(s, [](Id c) { return c + 10; });
  EXPECT_EQ(s, seq(13, 15));
  PatNode xm = x;
  update_children(xm, [](Id) -> Id { return 99; });
  EXPECT_EQ(xm, x);

  EXPECT_TRUE(seq(1, 2).matches(seq(7, 8)));
  EXPECT_FALSE(seq(1, 2).matches(PatNode(Op::par(1, 2))));
  EXPECT_TRUE(x.matches(var("?x")));
  EXPECT_FALSE(x.matches(y));
  EXPECT_FALSE(x.matches(leaf(OpKind::I)));
  EXPECT_FALSE(leaf(OpKind::I).matches(x));
  // A Var keeps a default node, yet never equals the ENode of that node.
  EXPECT_NE(x, PatNode());
  EXPECT_NE(x.hash(), y.hash());
  EXPECT_NE(x.hash(), PatNode().hash());
}

TEST(ENodeOrVar, OrderPutsNodesBeforeVarsAndFollowsOp) {
  const PatNode x = var("?x"), y = var("?y");
  std::vector<PatNode> nodes = {x, PatNode(Op::par(0, 0)), y, seq(2, 0), leaf(OpKind::CNOT),
                                seq(1, 9), leaf(OpKind::I)};
  std::sort(nodes.begin(), nodes.end());
  const PatNode& first_var = x.var() < y.var() ? x : y;
  const PatNode& second_var = x.var() < y.var() ? y : x;
  EXPECT_EQ(nodes, (std::vector<PatNode>{leaf(OpKind::I), leaf(OpKind::CNOT), seq(1, 9), seq(2, 0),
                                         PatNode(Op::par(0, 0)), first_var, second_var}));
  EXPECT_LT(PatNode(Op::par(7, 7)), x);
  EXPECT_FALSE(x < x);
  EXPECT_EQ(x <=> var("?x"), std::strong_ordering::equal);
}

TEST(ENodeOrVar, DebugForms) {
  EXPECT_EQ(var("?x").debug(), "Var(?x)");
  EXPECT_EQ(seq(3, 4).debug(), "ENode(Seq([3, 4]))");
  EXPECT_EQ(NodeError{NodeError::BadVar{"x"}}.debug(), "BadVar(\"x\")");
}

// ---- from_str ----

TEST(FromStr, Patterns) {
  EXPECT_EQ(pattern("(seq I ?x)"),
            RecExpr<PatNode>({leaf(OpKind::I), var("?x"), seq(0, 1)}));
  EXPECT_EQ(pattern("?x"), RecExpr<PatNode>({var("?x")}));
  EXPECT_EQ(pattern("CNOT"), RecExpr<PatNode>({leaf(OpKind::CNOT)}));
  // Nothing is shared while reading: the repeated H appears twice.
  EXPECT_EQ(pattern("(seq (seq H Z) H)"),
            RecExpr<PatNode>({leaf(OpKind::H), leaf(OpKind::Z), seq(0, 1), leaf(OpKind::H), seq(2, 3)}));
  EXPECT_EQ(pattern("(seq ?a (par ?b ?a))"),
            RecExpr<PatNode>({var("?a"), var("?b"), var("?a"), PatNode(Op::par(1, 2)), seq(0, 3)}));
}

TEST(FromStr, WhiteSpaceAndTrailingText) {
  const auto expected = RecExpr<PatNode>({leaf(OpKind::I), leaf(OpKind::I), seq(0, 1)});
  EXPECT_EQ(pattern("(seq I I) and more words"), expected);
  EXPECT_EQ(pattern("\n\t (seq\n I\r\n I)  \n"), expected);
  // Unicode white space is trimmed too: no-break space, ideographic space.
  EXPECT_EQ(pattern("\u00a0\u3000(seq I I)\u2029"), expected);
  EXPECT_EQ(trim_white_space("\u0085 a b\u00a0"), "a b");
  EXPECT_EQ(trim_white_space("é\u2003"), "é");
  EXPECT_EQ(trim_white_space("\u2003"), "");
}

TEST(FromStr, EmptyInputs) {
  const PatError empty{PatError::EmptySexp{}};
  for (std::string_view text : {"", "   ", "()", "( \n )", "\t\r\n"}) {
    EXPECT_EQ(error_of(text), empty) << '"' << text << '"';
  }
  EXPECT_EQ(empty.debug(), "EmptySexp");
  // An empty list as an operand is also EmptySexp, after the operands before it.
  EXPECT_EQ(error_of("(seq I ())"), empty);
}

TEST(FromStr, HeadList) {
  const PatError e = error_of("((seq) I)");
  EXPECT_EQ(e, (PatError{PatError::HeadList{Sexp::list({Sexp::string("seq")})}}));
  EXPECT_EQ(e.debug(), "HeadList(List([String(\"seq\")]))");
  EXPECT_EQ(error_of("(() I)").debug(), "HeadList(List([]))");
}

TEST(FromStr, BadOperators) {
  EXPECT_EQ(error_of("?"), op_rejected("?", {}));
  EXPECT_EQ(error_of("?").debug(), "BadOp(BadOp(FromOpError { op: \"?\", children: [] }))");
  EXPECT_EQ(error_of("(seq I)"), op_rejected("seq", {0}));
  EXPECT_EQ(error_of("(seq I)").debug(), "BadOp(BadOp(FromOpError { op: \"seq\", children: [0] }))");
  EXPECT_EQ(error_of("(Seq I I)"), op_rejected("Seq", {0, 1}));
  EXPECT_EQ(error_of("(seq I (seq Z Q))"), op_rejected("Q", {}));
  EXPECT_EQ(error_of("(?x I)"), bad_op(NodeError{NodeError::UnexpectedVar{"?x"}}));
  EXPECT_EQ(error_of("(?x I)").debug(), "BadOp(UnexpectedVar(\"?x\"))");
  // A quoted operand is an ordinary name once read.
  EXPECT_EQ(error_of("(seq \"I\" \"?y\" \"a b\")"), op_rejected("a b", {}));
}

TEST(FromStr, ReaderErrors) {
  EXPECT_EQ(error_of(")"), (PatError{PatError::BadSexp{ParseError{"Unexpected )", 1, 1}}}));
  EXPECT_EQ(error_of(")").debug(), "BadSexp(ParseError { msg: \"Unexpected )\", line: 1, col: 1 })");
  EXPECT_EQ(error_of("(seq I"), (PatError{PatError::BadSexp{ParseError{"End of file reached", 1, 7}}}));
  // Positions count from the trimmed text.
  EXPECT_EQ(error_of("\n\n  (seq I"), (PatError{PatError::BadSexp{ParseError{"End of file reached", 1, 7}}}));
}

// ---- parse_sexp_into: what is left behind on failure ----

RecExpr<PatNode> partial(std::string_view text) {
  RecExpr<PatNode> expr;
  auto result = parse_sexp_into(std::get<Sexp>(parse_str(text)), expr);
  EXPECT_TRUE(std::holds_alternative<PatError>(result)) << text;
  return expr;
}

TEST(ParseSexpInto, OperandsAreAppendedBeforeTheOperatorIsChecked) {
  EXPECT_EQ(partial("(?x I)"), RecExpr<PatNode>({leaf(OpKind::I)}));
  EXPECT_EQ(partial("(seq I)"), RecExpr<PatNode>({leaf(OpKind::I)}));
  EXPECT_EQ(partial("((seq) I)"), RecExpr<PatNode>());
  // The first failure stops everything: the operand after (seq Z) is never read.
  EXPECT_EQ(partial("(seq (seq X (seq Z)) H)"),
            RecExpr<PatNode>({leaf(OpKind::X), leaf(OpKind::Z)}));
}

TEST(ParseSexpInto, AppendsAfterExistingNodesAndReturnsTheRoot) {
  RecExpr<PatNode> expr({leaf(OpKind::T)});
  auto root = parse_sexp_into(std::get<Sexp>(parse_str("(seq H ?x)")), expr);
  ASSERT_TRUE(std::holds_alternative<Id>(root));
  EXPECT_EQ(std::get<Id>(root), 3u);
  EXPECT_EQ(expr, RecExpr<PatNode>({leaf(OpKind::T), leaf(OpKind::H), var("?x"), seq(1, 2)}));
}

TEST(ParseSexpInto, DeepNesting) {
  constexpr int kDepth = 100000;
  // (seq (seq ... (seq I I) ... I) I), nested kDepth deep on the left.
  std::string text;
  for (int k = 0; k < kDepth; ++k) text += "(seq ";
  text += "I";
  for (int k = 0; k < kDepth; ++k) text += " I)";
  const RecExpr<PatNode> expr = pattern(text);
  ASSERT_EQ(expr.size(), 2u * kDepth + 1);
  EXPECT_EQ(expr[0], leaf(OpKind::I));
  EXPECT_EQ(expr[1], leaf(OpKind::I));
  EXPECT_EQ(expr[2], seq(0, 1));
  EXPECT_EQ(expr[expr.root()], seq(2 * kDepth - 2, 2 * kDepth - 1));
  // Compacting shares every I: one leaf, then the chain.
  const RecExpr<PatNode> small = compact(expr);
  ASSERT_EQ(small.size(), kDepth + 1u);
  EXPECT_EQ(small[1], seq(0, 0));
  EXPECT_EQ(small[small.root()], seq(kDepth - 1, 0));

  // Nested empty lists: HeadList holding a copy of the whole inner nest.
  const PatError e = error_of(std::string(kDepth, '(') + std::string(kDepth, ')'));
  ASSERT_TRUE(std::holds_alternative<PatError::HeadList>(e.value));
  EXPECT_EQ(std::get<PatError::HeadList>(e.value).head,
            std::get<Sexp>(parse_str(std::string(kDepth - 1, '(') + std::string(kDepth - 1, ')'))));
}

// ---- compact ----

TEST(Compact, MergesRepeatedSubtermsInFirstOccurrenceOrder) {
  EXPECT_EQ(compact(pattern("(seq (seq H Z) H)")),
            RecExpr<PatNode>({leaf(OpKind::H), leaf(OpKind::Z), seq(0, 1), seq(2, 0)}));
  EXPECT_EQ(compact(pattern("(seq (seq ?a ?b) (seq ?a ?b))")),
            RecExpr<PatNode>({var("?a"), var("?b"), seq(0, 1), seq(2, 2)}));
  EXPECT_EQ(compact(pattern("(seq ?x ?x)")), RecExpr<PatNode>({var("?x"), seq(0, 0)}));
  // Already compact expressions are unchanged.
  const auto already = pattern("(seq (seq ?a ?b) ?c)");
  EXPECT_EQ(compact(already), already);
  EXPECT_EQ(compact(RecExpr<PatNode>()), RecExpr<PatNode>());
}

TEST(Compact, FaultsOnAChildThatIsNotEarlier) {
  for (const auto& bad : {RecExpr<PatNode>({seq(0, 0)}), RecExpr<PatNode>({leaf(OpKind::I), seq(0, 5)})}) {
    try {
      compact(bad);
      ADD_FAILURE() << "no fault";
    } catch (const Fault& f) {
      EXPECT_EQ(f.message(), "no entry found for key");
    }
  }
}

TEST(Compact, WorksForCircuitsToo) {
  const RecExpr<Op> circuit({Op(OpKind::T), Op(OpKind::T), Op::seq(0, 1), Op(OpKind::T), Op::seq(2, 3)});
  EXPECT_EQ(compact(circuit), RecExpr<Op>({Op(OpKind::T), Op::seq(0, 0), Op::seq(1, 0)}));
}

}  // namespace
}  // namespace kestrel
