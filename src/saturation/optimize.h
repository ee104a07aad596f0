// The optimiser end to end: load a circuit into an e-graph, saturate it with
// the gate identities, extract the cheapest equivalent circuit.
//
// For [T, T, Seq(0, 1)] the result is [S]: two T gates are one S gate, and S
// costs no T gate. The cost ranks T count first, then depth, then gate count.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>

#include "engine/language.h"
#include "src/circuit/op.h"
#include "src/text/qasm.h"
#include "src/saturation/report.h"

namespace kestrel {

// Where a run stops saturating; the defaults are the optimiser's own.
struct RunLimits {
  std::size_t iter_limit = 30;      // iterations after which the run stops
  std::size_t node_limit = 10000;   // e-graph nodes above which the run stops
  std::chrono::nanoseconds time_limit = std::chrono::seconds(5);  // run time it may take
};

// The moment by which a call that runs saturation many times must be done:
// each run is given what is left of one time limit. A limit too long for
// the clock means no deadline at all.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Deadline(std::chrono::nanoseconds limit, Clock::time_point start = Clock::now()) {
    // The room above `start` overflows when `start` lies before the clock's epoch.
    const Clock::duration since = start.time_since_epoch();
    if (since.count() < 0 || limit < Clock::duration::max() - since) at_ = start + limit;
  }
  // The time left at `now`, the whole limit when there is no deadline, or
  // nothing once it has passed.
  std::optional<std::chrono::nanoseconds> left(std::chrono::nanoseconds limit,
                                               Clock::time_point now = Clock::now()) const {
    if (!at_) return limit;
    if (now >= *at_) return std::nullopt;
    return std::min(limit, std::chrono::nanoseconds(*at_ - now));
  }

 private:
  std::optional<Clock::time_point> at_;  // none: no deadline
};

// What the caller wants to know of the run besides its result.
struct ReportRequest {
  RunReport* report = nullptr;  // filled when not null
  bool draw = false;            // with the final e-graph in dot, if small enough
};

// The cheapest circuit equivalent to `expr` under the rule set, root last.
// `expr` must be non-empty; it is not changed. A circuit too large to be
// rewritten (its e-graph starts past the node limit) comes back as it is.
RecExpr<Op> optimize_expr(const RecExpr<Op>& expr, const RunLimits& limits = {},
                          ReportRequest request = {});

// Whether the chain that `parse_qasm` reads from a text with this tally
// starts past `node_limit`, so that `optimize_expr` would return it as it
// is: a chain of n gates of k kinds loads as n - 1 distinct Seq nodes and one
// leaf per kind. The pipeline then writes the text's gates straight through.
bool past_node_limit(const GateTally& tally, std::size_t node_limit);

}  // namespace kestrel
