// The optimiser end to end: gates the digests do not reach, inputs past the
// node limit (and the pipeline's test of the limit on the gates it read,
// which must be the loaded e-graph's: it then writes them straight back),
// and extraction against whole sweeps.
#include "src/saturation/optimize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/extract.h"
#include "engine/run.h"
#include "src/circuit/chain.h"
#include "src/saturation/cost.h"
#include "src/text/qasm.h"
#include "src/saturation/rules.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// Lines of one-wire texts, drawn from in turn or at random.
constexpr const char* kLines[] = {"h q[0];\n", "t q[0];\n", "s q[0];\n", "x q[0];\n",
                                  "cx q[0],q[1];\n", "sdg q[0];\n", "tdg q[0];\n", "z q[0];\n"};

// Every circuit of up to four gates over h, s, sdg, t, tdg, x, z and cx,
// and random ones, come out as bench/small_golden.json holds them
// (test_small_digests.py); the gates that no text the line reader reads
// holds are these.
TEST(Optimize, GatesOutsideTheDigests) {
  EXPECT_EQ(gate_letters(optimize_expr(read("(seq (seq Sdg RZ1) RZ2)"))), "S12");
  EXPECT_EQ(gate_letters(optimize_expr(read("I"))), "");
  EXPECT_EQ(gate_letters(optimize_expr(read("(seq (seq T I) Tdg)"))), "");
}

// The optimiser's steps spelled out: load, run the rules with the runner's
// defaults, extract.
RecExpr<Op> load_run_extract(const RecExpr<Op>& expr) {
  EGraph<Op> g;
  const Id root = g.find(g.add_expr_internal(expr));
  Runner<Op> runner = Runner<Op>().with_egraph(std::move(g)).run(rules());
  return Extractor<Op, TCost>(runner.egraph, TCost{}).best_term(runner.egraph.find(root)).second;
}

// A random term of `size` nodes over few leaves, rich in shared subterms:
// children drawn from the last `window` nodes.
RecExpr<Op> random_term(std::uint64_t seed, std::size_t size, Id window) {
  RecExpr<Op> e;
  Lcg draw{seed};
  for (int k = 0; k < 3; ++k) e.add(Op(static_cast<OpKind>(draw(11))));
  while (e.size() < size) {
    const auto n = static_cast<Id>(e.size());
    const Id a = n - 1 - static_cast<Id>(draw(std::min(n, window)));
    const Id b = n - 1 - static_cast<Id>(draw(std::min(n, window)));
    e.add(draw(4) == 0 ? Op::par(a, b) : Op::seq(a, b));
  }
  return e;
}

// Whether `a` and `b` stand for the same term, however their nodes are
// shared: hash-consed together, their roots are one class. (Writing them
// out would unfold shared subterms, exponentially for the random terms.)
bool same_term(const RecExpr<Op>& a, const RecExpr<Op>& b) {
  EGraph<Op> g;
  const Id root_a = g.add_expr_internal(a);
  return g.add_expr_internal(b) == root_a;
}

TEST(Optimize, InputsPastTheNodeLimitComeBackAsTheyAre) {
  // A chain of n gates over five distinct gates loads as n + 4 nodes: the
  // shortcut starts above 9,996 gates.
  for (std::size_t n : {9'995u, 9'996u, 9'997u, 12'000u}) {
    std::string text;
    Lcg draw{n};
    for (std::size_t k = 0; k < n; ++k) text += kLines[draw(5)];
    const RecExpr<Op> expr = parse_qasm(text);
    EXPECT_TRUE(same_term(optimize_expr(expr), load_run_extract(expr))) << n;
  }
  // A term is judged by its shape, joins and leaf kinds, however much of it
  // is shared: terms past the limit so come back as they are, even where
  // hash-consing would load fewer nodes.
  RecExpr<Op> shared;
  Id prev = shared.add(Op(OpKind::T));
  for (int k = 0; k < 6'000; ++k) {
    const Id seq = shared.add(Op::seq(prev, shared.add(Op(k % 2 ? OpKind::H : OpKind::X))));
    shared.add(Op::par(seq, prev));
    prev = seq;
  }
  shared.add(Op(OpKind::T));
  EXPECT_EQ(optimize_expr(shared), shared);
  for (const auto& [seed, window] : {std::pair<std::uint64_t, Id>{1, 40'000}, {3, 8}}) {
    const RecExpr<Op> e = random_term(seed, 40'000, window);
    EXPECT_EQ(optimize_expr(e), e) << seed;
  }
  // Below the limit they are rewritten as the full run rewrites them.
  for (std::uint64_t seed : {5, 7}) {
    const RecExpr<Op> e = random_term(seed, 300, 8);
    EXPECT_TRUE(same_term(optimize_expr(e), load_run_extract(e))) << seed;
  }
}

// Chains around the limit, over one to eight gate kinds: the test says past
// the limit exactly when the loaded e-graph holds more nodes.
TEST(PastNodeLimit, AgreesWithTheLoadedEGraph) {
  constexpr std::size_t kLimit = 10'000;
  Lcg draw{1};
  for (std::size_t kinds = 1; kinds <= 8; ++kinds) {
    for (std::size_t n = kLimit - 8; n <= kLimit + 2; ++n) {
      std::string text(kQasmHeader);
      for (std::size_t k = 0; k < n; ++k) text += kLines[k < kinds ? k : draw(kinds)];
      EGraph<Op> g;
      g.add_expr_internal(parse_qasm(text));
      const WireGates read = read_wire(text);
      EXPECT_EQ(past_node_limit(read.gates.size() - 1, read.kinds, kLimit), g.node_count() > kLimit)
          << kinds << " kinds, " << n << " gates";
    }
  }
}

// Every class's cheapest node by whole sweeps over all classes until one
// changes nothing, as extraction is defined, and the number of sweeps; the
// extractor skips classes whose children have not changed and must record
// the same nodes.
std::pair<std::vector<std::optional<std::pair<TCost::Cost, Op>>>, int> full_sweeps(const EGraph<Op>& g) {
  std::vector<std::optional<std::pair<TCost::Cost, Op>>> best(g.class_count());
  int sweeps = 0;
  for (bool changed = true; changed; ++sweeps) {
    changed = false;
    for (const EClass<Op>& c : g.classes()) {
      std::optional<std::pair<TCost::Cost, Op>> found;
      for (const Op& node : c.nodes) {
        if (!all_children(node, [&](Id k) { return best[g.class_index(k)].has_value(); })) continue;
        const TCost::Cost cost = TCost{}.cost(node, [&](Id k) { return best[g.class_index(k)]->first; });
        if (!found || cost < found->first) found = {{cost, node}};
      }
      auto& slot = best[g.class_index(c.id)];
      if (found && (!slot || found->first < slot->first)) {
        slot = found;
        changed = true;
      }
    }
  }
  return {std::move(best), sweeps};
}

TEST(Optimize, ExtractionRecordsWhatWholeSweepsRecord) {
  // Saturated e-graphs of random circuits, some needing several sweeps.
  // And random terms with random classes merged, where parents often come
  // before their children in the class order.
  std::vector<EGraph<Op>> graphs;
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    std::string text;
    Lcg draw{seed};
    for (std::uint64_t k = 0; k < 40 * seed; ++k) text += kLines[draw(8)];
    EGraph<Op> g;
    g.add_expr_internal(parse_qasm(text));
    graphs.push_back(Runner<Op>().with_egraph(std::move(g)).run(rules()).egraph);
    EGraph<Op> merged;
    merged.add_expr_internal(random_term(seed, 300, 1 + static_cast<Id>(seed)));
    for (int k = 0; k < 40; ++k) {
      merged.union_(static_cast<Id>(draw(merged.id_count())), static_cast<Id>(draw(merged.id_count())));
    }
    merged.rebuild();
    graphs.push_back(std::move(merged));
  }
  int most_sweeps = 0;
  for (const EGraph<Op>& g : graphs) {
    const auto [expected, sweeps] = full_sweeps(g);
    most_sweeps = std::max(most_sweeps, sweeps);
    const Extractor<Op, TCost> extractor(g, TCost{});
    for (const EClass<Op>& c : g.classes()) {
      const auto& want = expected[g.class_index(c.id)];
      ASSERT_TRUE(want);
      EXPECT_EQ(extractor.best_node(c.id), want->second) << "class " << c.id;
    }
  }
  EXPECT_GE(most_sweeps, 4);
}

}  // namespace
}  // namespace kestrel
