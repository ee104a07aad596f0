// One saturation run: the rule set, the run with its limits and optional
// report, and extraction of the cheapest circuit.
#include "src/saturation/optimize.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/dot.h"
#include "engine/egraph.h"
#include "engine/extract.h"
#include "engine/run.h"
#include "src/saturation/cost.h"
#include "src/saturation/rules.h"

namespace kestrel {
namespace {

// The rule set, read and compiled once per process. Rules never change after
// construction, so the threads that optimise at the same time share them.
const std::vector<Rewrite<Op>>& rule_set() {
  static const std::vector<Rewrite<Op>> set = rules();
  return set;
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

bool past_node_limit(std::uint64_t joins, std::uint32_t kinds, std::size_t node_limit) {
  return joins + std::popcount(kinds) > node_limit;
}

RecExpr<Op> optimize_expr(const RecExpr<Op>& expr, const RunLimits& limits,
                          ReportRequest request) {
  std::uint64_t joins = 0;
  std::uint32_t kinds = 0;
  for (const Op& node : expr.nodes()) {
    if (node.is_leaf()) {
      kinds |= 1u << static_cast<unsigned>(node.op());
    } else {
      ++joins;
    }
  }
  if (past_node_limit(joins, kinds, limits.node_limit)) {
    if (request.report != nullptr) {
      const std::size_t nodes = joins + std::popcount(kinds);
      *request.report = RunReport{};
      request.report->stop_reason = StopReason::node_limit(nodes);
      request.report->skipped = true;
      request.report->nodes = request.report->classes = request.report->drawn_nodes = nodes;
    }
    return expr;
  }

  Runner<Op> runner;
  runner.with_iter_limit(limits.iter_limit)
      .with_node_limit(limits.node_limit)
      .with_time_limit(limits.time_limit);
  EGraph<Op> egraph;
  const Id root = egraph.find(egraph.add_expr_internal(expr));
  runner.with_egraph(std::move(egraph));
  ReportingScheduler* scheduler = nullptr;  // owned by the runner
  if (request.report != nullptr) {
    auto owned = std::make_unique<ReportingScheduler>();
    scheduler = owned.get();
    runner.with_scheduler(std::move(owned));
  }
  runner.run(rule_set());

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
