// The optimiser end to end: load a circuit into an e-graph, saturate it with
// the gate identities, extract the cheapest equivalent circuit.
//
// For [T, T, Seq(0, 1)] the result is [S]: two T gates are one S gate, and S
// costs no T gate. The cost ranks T count first, then depth, then gate count.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

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

// What the caller wants to know of the run besides its result.
struct ReportRequest {
  RunReport* report = nullptr;  // filled when not null
  bool draw = false;            // with the final e-graph in dot, if small enough
};

// The cheapest circuit equivalent to `expr` under the rule set, root last.
// `expr` must be non-empty; it is not changed. A circuit too large to be
// rewritten (`past_node_limit` of its nodes) comes back as it is, unloaded.
RecExpr<Op> optimize_expr(const RecExpr<Op>& expr, const RunLimits& limits = {},
                          ReportRequest request = {});

// Whether a circuit of `joins` Seq and Par nodes whose leaves are of the
// kinds in `kinds` (bit k for OpKind k) is too large to be rewritten: its
// e-graph would start with more than `node_limit` nodes, so that a
// saturation run would stop at its first limit test, before any search, and
// extraction would give back the circuit itself. The e-graph holds at most
// the joins and one leaf per kind, exactly that many for a chain (n gates
// read are n - 1 distinct Seq nodes). The one test of the node limit before
// a run: `optimize_expr` makes it of every circuit, and the pipeline of the
// gates it reads before it builds their chain.
bool past_node_limit(std::uint64_t joins, std::uint32_t kinds, std::size_t node_limit);

}  // namespace kestrel
