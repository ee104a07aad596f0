#include "src/optimize.h"

#include <memory>
#include <string>
#include <vector>

#include "engine/dot.h"
#include "engine/egraph.h"
#include "engine/extract.h"
#include "engine/hashing.h"
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

// A node with a child that no earlier node used cannot have occurred before,
// so it is appended without a hash lookup. Only nodes whose children are all
// in use already are looked up; for that, every node that may equal one of
// them is entered into the hash index first: the nodes appended through the
// index, and, entered on demand, the first user of each of their children.
// A chain read from text (each Seq uses the previous one, once) so never
// touches the index but for its leaves, and hash-consing it is a linear walk.
HashConsed hash_cons(const RecExpr<Op>& expr) {
  constexpr Id kNone = ~Id{0};
  HashConsed out;
  std::vector<Id> first_user;  // per distinct node, the first node that has it as a child
  std::vector<bool> indexed;   // per distinct node, whether `index` holds it
  HashMap<Op, Id> index;       // distinct nodes that a lookup may need to find
  std::vector<Id> renumbered;  // position in `expr` -> distinct position
  // There are at most as many distinct nodes as nodes; reserving that bound
  // spares the copies of growth, and pages never written are never touched.
  renumbered.reserve(expr.size());
  out.nodes.reserve(expr.size());
  first_user.reserve(expr.size());
  indexed.reserve(expr.size());

  const auto append = [&](const Op& node) {
    const auto position = static_cast<Id>(out.nodes.size());
    out.nodes.push_back(node);
    first_user.push_back(kNone);
    indexed.push_back(false);
    for (Id child : node.children()) {
      if (first_user[child] == kNone) first_user[child] = position;
    }
    return position;
  };

  for (Op node : expr.nodes()) {
    update_children(node, [&](Id c) { return renumbered[checked_index(renumbered.size(), c)]; });
    const bool fresh =
        !all_children(node, [&](Id child) { return first_user[child] != kNone; });
    if (fresh) {
      renumbered.push_back(append(node));
      continue;
    }
    for (Id child : node.children()) {
      const Id user = first_user[child];
      if (!indexed[user]) {
        index.emplace(out.nodes[user], user);
        indexed[user] = true;
      }
    }
    const auto [it, inserted] = index.try_emplace(node, static_cast<Id>(out.nodes.size()));
    if (inserted) {
      append(node);
      indexed.back() = true;
    }
    renumbered.push_back(it->second);
  }
  out.root = renumbered[checked_index(renumbered.size(), expr.size() - 1)];
  return out;
}

// The backoff scheduler, also noting which rules it bans in which iteration.
class ReportingScheduler : public BackoffScheduler<Op> {
 public:
  std::vector<SearchMatches> search_rewrite(std::size_t iteration, const EGraph<Op>& egraph,
                                            const Rewrite<Op>& rewrite) override {
    const std::size_t bans = rule_stats(rewrite.name).times_banned;
    std::vector<SearchMatches> matches =
        BackoffScheduler<Op>::search_rewrite(iteration, egraph, rewrite);
    if (rule_stats(rewrite.name).times_banned != bans) {
      if (banned.size() <= iteration) banned.resize(iteration + 1);
      banned[iteration].emplace_back(rewrite.name.as_str());
    }
    return matches;
  }

  std::vector<std::vector<std::string>> banned;  // per iteration, the rules banned in it
};

void fill_report(const Runner<Op>& runner, const ReportingScheduler& scheduler,
                 RunReport& report) {
  report.stop_reason = *runner.stop_reason;
  report.nodes = runner.egraph.node_count();
  report.classes = runner.egraph.class_count();
  report.drawn_nodes = drawn_node_count(runner.egraph);
  for (std::size_t i = 0; i < runner.iterations.size(); ++i) {
    const Iteration& it = runner.iterations[i];
    IterationReport& entry = report.iterations.emplace_back();
    entry.nodes = it.egraph_nodes;
    entry.classes = it.egraph_classes;
    for (std::size_t k = 0; k < it.applied.size(); ++k) {
      entry.applied.emplace_back(it.applied.keys()[k].as_str(), it.applied.values()[k]);
    }
    if (i < scheduler.banned.size()) entry.banned = scheduler.banned[i];
    entry.search_time = it.search_time;
    entry.apply_time = it.apply_time;
    entry.rebuild_time = it.rebuild_time;
  }
}

}  // namespace

RecExpr<Op> optimize_expr(const RecExpr<Op>& expr, const RunLimits& limits,
                          ReportRequest request) {
  Runner<Op> runner;
  runner.with_iter_limit(limits.iter_limit)
      .with_node_limit(limits.node_limit)
      .with_time_limit(limits.time_limit);

  // A circuit whose loaded e-graph already holds more nodes than the runner's
  // node limit is not rewritten at all: the run stops at its first limit test,
  // before any search, and extraction then finds every class holding its one
  // loaded node. Laying out the hash-consed input directly gives that same
  // term without building the e-graph, in a fraction of the time and memory.
  if (expr.size() > runner.node_limit) {
    HashConsed dag = hash_cons(expr);
    if (dag.nodes.size() > runner.node_limit) {
      if (request.report != nullptr) {
        *request.report = RunReport{};
        request.report->stop_reason = StopReason::node_limit(dag.nodes.size());
        request.report->skipped = true;
        request.report->nodes = request.report->classes = dag.nodes.size();
        request.report->drawn_nodes = dag.nodes.size();
      }
      const LayoutHints hints{.dense_bound = dag.nodes.size(), .distinct_nodes = true};
      return build_recexpr(dag.nodes[dag.root], [&](Id c) { return dag.nodes[c]; }, hints);
    }
  }

  EGraph<Op> egraph;
  const Id root = egraph.find(egraph.add_expr_internal(expr));
  runner.with_egraph(std::move(egraph));
  ReportingScheduler* scheduler = nullptr;  // owned by the runner
  if (request.report != nullptr) {
    auto owned = std::make_unique<ReportingScheduler>();
    scheduler = owned.get();
    runner.with_scheduler(std::move(owned));
  }
  {
    const std::vector<Rewrite<Op>> rule_set = rules();
    runner.run(rule_set);
  }

  const Extractor<Op, TCost> extractor(runner.egraph, TCost{});
  if (request.report != nullptr) {
    RunReport& report = *request.report;
    report = RunReport{};
    fill_report(runner, *scheduler, report);
    if (request.draw && report.drawn_nodes <= kMaxDrawnNodes) {
      report.dot = to_dot(
          runner.egraph, root, [](const Op& node) { return std::string(op_name(node.op())); },
          [&](Id id) -> const Op& { return extractor.best_node(id); });
    }
  }
  return extractor.best_term(runner.egraph.find(root)).second;
}

}  // namespace kestrel
