#include "src/optimize.h"

#include <bit>
#include <vector>

#include "engine/egraph.h"
#include "engine/extract.h"
#include "engine/run.h"
#include "src/cost.h"
#include "src/rules.h"

namespace kestrel {
namespace {

// The rule set, read and compiled once per process. Rules never change after
// construction, so the threads that optimise at the same time share them.
const std::vector<Rewrite<Op>>& rule_set() {
  static const std::vector<Rewrite<Op>> set = rules();
  return set;
}

}  // namespace

bool past_node_limit(const GateTally& tally, std::size_t node_limit) {
  if (tally.stats.gates == 0) return false;
  const std::uint64_t nodes = tally.stats.gates - 1 + std::popcount(tally.kinds);
  return nodes > node_limit;
}

RecExpr<Op> optimize_expr(const RecExpr<Op>& expr) {
  EGraph<Op> egraph;
  const Id root = egraph.find(egraph.add_expr_internal(expr));
  Runner<Op> runner;

  // A circuit whose loaded e-graph already holds more nodes than the node
  // limit is not rewritten at all: the run would stop at its first limit
  // test, before any search, and extraction would find in every class its
  // one loaded node, that is, the circuit's own term.
  if (egraph.node_count() > runner.node_limit) return expr;

  runner.with_egraph(std::move(egraph));
  runner.run(rule_set());
  const Extractor<Op, TCost> extractor(runner.egraph, TCost{});
  return extractor.best_term(runner.egraph.find(root)).second;
}

}  // namespace kestrel
