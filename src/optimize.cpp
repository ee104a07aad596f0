#include "src/optimize.h"

#include <vector>

#include "engine/egraph.h"
#include "engine/extract.h"
#include "engine/indexed_set.h"
#include "engine/run.h"
#include "src/cost.h"
#include "src/rules.h"

namespace kestrel {
namespace {

// `expr` hash-consed: its distinct nodes in order of first occurrence, with
// children renumbered, and the position of its root among them. Loading
// `expr` into an empty e-graph gives exactly these nodes, one per class, with
// class ids equal to these positions.
struct HashConsed {
  std::vector<Op> nodes;  // distinct nodes; children point to earlier entries
  Id root = 0;            // the position of the root
};

HashConsed hash_cons(const RecExpr<Op>& expr) {
  IndexedSet<Op, NodeHash<Op>> distinct;
  std::vector<Id> renumbered;
  renumbered.reserve(expr.size());
  for (Op node : expr.nodes()) {
    update_children(node, [&](Id c) { return renumbered[checked_index(renumbered.size(), c)]; });
    renumbered.push_back(distinct.insert(node).first);
  }
  const Id root = renumbered[checked_index(renumbered.size(), expr.size() - 1)];
  return {std::move(distinct).take(), root};
}

}  // namespace

RecExpr<Op> optimize_expr(const RecExpr<Op>& expr) {
  Runner<Op> runner;

  // A circuit whose loaded e-graph already holds more nodes than the runner's
  // node limit is not rewritten at all: the run stops at its first limit test,
  // before any search, and extraction then finds every class holding its one
  // loaded node. Laying out the hash-consed input directly gives that same
  // term without building the e-graph, in a fraction of the time and memory.
  if (expr.size() > runner.node_limit) {
    HashConsed dag = hash_cons(expr);
    if (dag.nodes.size() > runner.node_limit) {
      const LayoutHints hints{.dense_bound = dag.nodes.size(), .distinct_nodes = true};
      return build_recexpr(dag.nodes[dag.root], [&](Id c) { return dag.nodes[c]; }, hints);
    }
  }

  EGraph<Op> egraph;
  const Id root = egraph.find(egraph.add_expr_internal(expr));
  runner.with_egraph(std::move(egraph));
  {
    const std::vector<Rewrite<Op>> rule_set = rules();
    runner.run(rule_set);
  }

  const Extractor<Op, TCost> extractor(runner.egraph, TCost{});
  return extractor.best_term(runner.egraph.find(root)).second;
}

}  // namespace kestrel
