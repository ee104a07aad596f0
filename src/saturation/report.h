// What one saturation run did: its iterations, why it stopped, the e-graph
// it left.
//
// The optimiser fills a `RunReport` when asked; nothing of the result depends
// on it. On two "t q[0];" lines the run saturates after two iterations: the
// first applies t-t-to-s once (the e-graph has 3 nodes in 3 classes at its
// start), the second applies nothing, and the final e-graph holds 4 nodes
// in 2 classes. `format_report` shows it as a table for people:
//
//   iteration  nodes  classes  search ms  apply ms  rebuild ms  applied       banned
//           1      3        3      0.004     0.003       0.001  t-t-to-s 1
//           2      4        2      0.002     0.000       0.000
//   stopped: saturated after 2 iterations; final e-graph: 4 nodes in 2 classes
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/run.h"

namespace kestrel {

struct IterationReport {
  std::size_t nodes = 0;    // e-graph nodes at the iteration's start
  std::size_t classes = 0;  // e-graph classes at the iteration's start
  // The rules that changed the e-graph, with what their applications
  // returned, in rule order.
  std::vector<std::pair<std::string, std::size_t>> applied;
  std::vector<std::string> banned;  // rules the scheduler banned in this iteration, in rule order
  double search_time = 0;   // seconds of the search phase
  double apply_time = 0;    // seconds of the apply phase
  double rebuild_time = 0;  // seconds of the closing rebuild
};

struct RunReport {
  StopReason stop_reason;  // why saturation stopped
  // The input alone held more distinct nodes than the node limit, so no
  // e-graph was built and the input came back as it was.
  bool skipped = false;
  // The final e-graph. Nodes are counted as the node limit counts them: one
  // per distinct node ever entered, also those whose class has merged since.
  std::size_t nodes = 0;
  std::size_t classes = 0;
  std::vector<IterationReport> iterations;  // one per iteration, in order
  // The final e-graph in Graphviz's dot language, when the report was asked
  // for with a drawing and the e-graph has at most `kMaxDrawnNodes` nodes.
  std::optional<std::string> dot;
  std::size_t drawn_nodes = 0;  // nodes in the final e-graph's classes: the boxes of a drawing
};

// The largest e-graph, in nodes, that is drawn.
inline constexpr std::size_t kMaxDrawnNodes = 2000;

// "saturated", "iteration limit", "node limit", "time limit" (or "hook failed").
std::string stop_reason_name(const StopReason& reason);

// The report as an aligned table with a closing line, as shown above.
std::string format_report(const RunReport& report);

}  // namespace kestrel
