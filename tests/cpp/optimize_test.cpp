#include "src/optimize.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/extract.h"
#include "engine/run.h"
#include "src/cost.h"
#include "src/qasm.h"
#include "src/rules.h"

namespace kestrel {
namespace {

std::string gates(std::initializer_list<const char*> lines) {
  std::string text(kQasmHeader);
  for (const char* line : lines) text += std::string(line) + "\n";
  return text;
}

std::string optimized(const std::string& text) {
  return print_qasm(optimize_expr(parse_qasm(text)));
}

TEST(Rules, NamesInOrderAndDistinct) {
  const auto set = rules();
  const std::vector<std::string> expected = {
      "id-left",  "id-right", "seq-assoc-lr", "seq-assoc-rl", "t-t-to-s", "t-tdg-id",
      "tdg-t-id", "s-s-to-z", "hzh-x",        "hxh-z",        "cnot-cancel"};
  ASSERT_EQ(set.size(), expected.size());
  std::set<std::uint32_t> handles;
  for (std::size_t k = 0; k < set.size(); ++k) {
    EXPECT_EQ(set[k].name.as_str(), expected[k]);
    handles.insert(set[k].name.handle());
  }
  EXPECT_EQ(handles.size(), set.size());
}

// Loads `text`, runs the rules with the default limits, and reports whether
// the root class holds the leaf `kind`.
bool root_holds(const std::string& text, OpKind kind, std::size_t iter_limit = 30) {
  EGraph<Op> g;
  const Id root = g.add_expr_internal(parse_qasm(text));
  Runner<Op> runner;
  runner.with_egraph(std::move(g)).with_iter_limit(iter_limit);
  const auto set = rules();
  runner.run(set);
  for (const Op& n : runner.egraph[root].nodes) {
    if (n.op() == kind) return true;
  }
  return false;
}

TEST(Rules, GateIdentitiesReachTheRootClass) {
  EXPECT_TRUE(root_holds(gates({"t q[0];", "t q[0];"}), OpKind::S, 1));
  EXPECT_TRUE(root_holds(gates({"t q[0];", "t q[0];", "t q[0];", "t q[0];"}), OpKind::Z));
  EXPECT_TRUE(root_holds(gates({"h q[0];", "x q[0];", "h q[0];"}), OpKind::Z));
  EXPECT_TRUE(root_holds(gates({"cx q[0],q[1];", "cx q[0],q[1];"}), OpKind::I));
  EXPECT_FALSE(root_holds(gates({"s q[0];", "sdg q[0];"}), OpKind::I));
}

TEST(Rules, RightNestedHzhReachesX) {
  RecExpr<Op> e;
  const Id h1 = e.add(Op(OpKind::H));
  const Id z = e.add(Op(OpKind::Z));
  const Id h2 = e.add(Op(OpKind::H));
  const Id zh = e.add(Op::seq(z, h2));
  e.add(Op::seq(h1, zh));
  const auto best = optimize_expr(e);
  ASSERT_EQ(best.size(), 1u);
  EXPECT_EQ(best[0], Op(OpKind::X));
}

TEST(Rules, UntouchedGatesGainNoLeaf) {
  RecExpr<Op> e;
  Id root = e.add(Op(OpKind::Sdg));
  for (OpKind k : {OpKind::RZ1, OpKind::RZ2, OpKind::Sdg, OpKind::RZ2}) {
    root = e.add(Op::seq(root, e.add(Op(k))));
  }
  EGraph<Op> g;
  g.add_expr_internal(e);
  Runner<Op> runner;
  runner.with_egraph(std::move(g));
  const auto set = rules();
  runner.run(set);
  for (const auto& c : runner.egraph.classes()) {
    for (const Op& n : c.nodes) {
      if (n.is_leaf()) {
        EXPECT_TRUE(n.op() == OpKind::Sdg || n.op() == OpKind::RZ1 || n.op() == OpKind::RZ2)
            << n.debug();
      }
    }
  }
}

TEST(Optimize, WorkedExamples) {
  EXPECT_EQ(optimized(gates({"t q[0];", "t q[0];"})), gates({"s q[0];"}));
  EXPECT_EQ(optimized(gates({"t q[0];", "tdg q[0];"})), std::string(kQasmHeader));
  EXPECT_EQ(optimized(gates({"tdg q[0];", "t q[0];"})), std::string(kQasmHeader));
  EXPECT_EQ(optimized(gates({"t q[0];", "t q[0];", "t q[0];", "t q[0];"})), gates({"z q[0];"}));
  EXPECT_EQ(optimized(gates({"t q[0];", "t q[0];", "t q[0];", "t q[0];", "t q[0];", "t q[0];",
                             "t q[0];", "t q[0];"})),
            gates({"z q[0];", "z q[0];"}));
  EXPECT_EQ(optimized(gates({"h q[0];", "s q[0];", "x q[0];"})),
            gates({"h q[0];", "s q[0];", "x q[0];"}));
  EXPECT_EQ(optimized(gates({"s q[0];", "s q[0];"})), gates({"z q[0];"}));
  EXPECT_EQ(optimized(gates({"cx q[0],q[1];", "cx q[0],q[1];"})), std::string(kQasmHeader));
}

TEST(Optimize, ALoneTSurvives) {
  const auto best = optimize_expr(
      parse_qasm(gates({"h q[0];", "s q[0];", "t q[0];", "x q[0];", "h q[0];", "z q[0];"})));
  EXPECT_EQ(stats(best).t, 1u);
  EXPECT_EQ(print_qasm(best),
            gates({"h q[0];", "s q[0];", "t q[0];", "x q[0];", "h q[0];", "z q[0];"}));
}

TEST(Optimize, PrefersLowerTCountThenDepth) {
  // T, H, T: no rule joins the two T gates, so both stay; T, T, H: S, H.
  EXPECT_EQ(stats(optimize_expr(parse_qasm(gates({"t q[0];", "h q[0];", "t q[0];"})))).t, 2u);
  const auto best = optimize_expr(parse_qasm(gates({"t q[0];", "t q[0];", "h q[0];"})));
  EXPECT_EQ(stats(best), (CircuitStats{0, 2, 2}));
  // H X H collapses to Z: depth 1 beats depth 3 at equal T count.
  EXPECT_EQ(stats(optimize_expr(parse_qasm(gates({"h q[0];", "x q[0];", "h q[0];"})))),
            (CircuitStats{0, 1, 1}));
}

TEST(Optimize, InputIsLeftUnchanged) {
  const RecExpr<Op> input = parse_qasm(gates({"t q[0];", "t q[0];", "h q[0];"}));
  const RecExpr<Op> copy = input;
  optimize_expr(input);
  EXPECT_EQ(input, copy);
  EXPECT_EQ(stats(input), (CircuitStats{2, 3, 3}));
}

TEST(Optimize, EmptyProgramStaysEmpty) {
  EXPECT_EQ(optimized(""), std::string(kQasmHeader));
  EXPECT_EQ(optimized(std::string(kQasmHeader)), std::string(kQasmHeader));
}

TEST(Optimize, LargeChainIsOptimisedWithoutRecursion) {
  std::string text(kQasmHeader);
  for (int k = 0; k < 200'000; ++k) text += k % 2 ? "t q[0];\n" : "h q[0];\n";
  const auto best = optimize_expr(parse_qasm(text));
  EXPECT_EQ(stats(best).gates, 200'000u);  // above the node limit: nothing is rewritten
}

// The driver's steps spelled out: load, run with the defaults, extract.
RecExpr<Op> load_run_extract(const RecExpr<Op>& expr) {
  EGraph<Op> g;
  const Id root = g.find(g.add_expr_internal(expr));
  Runner<Op> runner;
  runner.with_egraph(std::move(g));
  const auto set = rules();
  runner.run(set);
  return Extractor<Op, TCost>(runner.egraph, TCost{}).best_term(runner.egraph.find(root)).second;
}

// Whether `a` and `b` stand for the same term, however their nodes are
// shared: hash-consed together, their roots are one class. (Writing them
// out would unfold shared subterms, exponentially for the random terms.)
bool same_term(const RecExpr<Op>& a, const RecExpr<Op>& b) {
  EGraph<Op> g;
  const Id root_a = g.add_expr_internal(a);
  return g.add_expr_internal(b) == root_a;
}

TEST(Optimize, InputsPastTheNodeLimitMatchTheFullRun) {
  // Around the limit of 10000 loaded nodes: a chain of n gates loads as
  // n Seq classes plus one class per distinct gate.
  for (std::size_t n : {9'990u, 9'994u, 9'995u, 9'996u, 10'003u, 12'000u}) {
    std::string text(kQasmHeader);
    std::uint64_t state = n;
    const char* lines[] = {"h q[0];\n", "t q[0];\n", "s q[0];\n", "x q[0];\n", "cx q[0],q[1];\n"};
    for (std::size_t k = 0; k < n; ++k) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      text += lines[(state >> 33) % 5];
    }
    const RecExpr<Op> expr = parse_qasm(text);
    EXPECT_TRUE(same_term(optimize_expr(expr), load_run_extract(expr))) << n;
  }
  // Shared subterms and a root that repeats an earlier node.
  RecExpr<Op> shared;
  Id prev = shared.add(Op(OpKind::T));
  for (int k = 0; k < 6'000; ++k) {
    const Id leaf = shared.add(Op(k % 2 ? OpKind::H : OpKind::X));
    const Id seq = shared.add(Op::seq(prev, leaf));
    shared.add(Op::par(seq, prev));
    prev = seq;
  }
  shared.add(Op(OpKind::T));
  EXPECT_TRUE(same_term(optimize_expr(shared), load_run_extract(shared)));

  // Random terms over few leaves, rich in repeated subterms, both with
  // children drawn from anywhere and from the last few nodes.
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    RecExpr<Op> e;
    std::uint64_t state = seed;
    const auto draw = [&](std::uint64_t n) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return (state >> 33) % n;
    };
    for (int k = 0; k < 3; ++k) e.add(Op(static_cast<OpKind>(draw(11))));
    while (e.size() < 40'000) {
      const auto size = static_cast<Id>(e.size());
      const Id window = seed == 3 ? std::min<Id>(size, 8) : size;
      const Id a = size - 1 - static_cast<Id>(draw(window));
      const Id b = size - 1 - static_cast<Id>(draw(window));
      e.add(draw(4) == 0 ? Op::par(a, b) : Op::seq(a, b));
    }
    EXPECT_TRUE(same_term(optimize_expr(e), load_run_extract(e))) << seed;
  }
}

}  // namespace
}  // namespace kestrel
