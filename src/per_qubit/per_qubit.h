// The per-qubit mode: a whole program kept, every qubit's gate runs optimised.
//
// A run is a qubit's maximal sequence of h, s, sdg, t, tdg, x and z
// applications to that one indexed qubit, unconditioned; every other
// statement that names the qubit (a cx on it, a measurement, a barrier over
// its register, `h q;` on its register, an `if`) ends the run. Each run is
// optimised on its own and written, one statement per line, where its last
// gate stood; every other statement and everything between statements
// (comments, blanks) is copied byte for byte. In
//
//   t q[0]; h q[1];
//   t q[0];
//   cx q[0],q[1];
//
// q[0] has the run T·T and q[1] the run H, both ended by the cx; with the
// saturation method the result is " h q[1];\ns q[0];\ncx q[0],q[1];\n": the
// first T's statement is gone from the line it shared, and the S stands
// where the second T stood. A line that held nothing but removed gates goes
// whole.
//
// The pass is three steps: collect the runs (src/per_qubit/runs.h),
// optimise each distinct run once, and give the edits that place each run's
// result at its last gate and remove its other gates to the program's
// statistics and writer (src/program/stats.h, src/program/writer.h).
// `per_qubit_edits` stops before the last step, for callers that apply the
// edits elsewhere (a circuit given as a gate list rather than text); asked
// to, it also gives the exact global phase between the program and its
// edited form, the sum of its runs' phases (src/circuit/global_phase.h).
//
// Contract: `program` is what `read_program(text)` returned for `text`.
// `optimize` gets each distinct run once per call, in the order the runs
// end, and returns an equivalent gate list made of the same seven gates;
// anything else is a fault. The statistics describe the whole program before
// and after, as src/program/stats.h counts them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/circuit/op.h"
#include "src/circuit/stats.h"
#include "src/program/edits.h"
#include "src/program/program.h"

namespace kestrel {

// Optimises one run: gates first to last in, an equivalent list out.
using RunOptimizer = std::function<std::vector<Op>(std::span<const Op>)>;

struct PerQubitResult {
  std::string qasm;     // the program with every run optimised
  CircuitStats before;  // of the program read
  CircuitStats after;   // of the program written
};

struct PerQubitEdits {
  Edits edits;                        // every run gate replaced or removed
  std::optional<std::uint8_t> phase;  // when asked: the program read is e^(i phase pi/8)
                                      // times the program edited
};

PerQubitEdits per_qubit_edits(const QasmProgram& program, const RunOptimizer& optimize,
                              bool want_phase);

PerQubitResult optimize_per_qubit(std::string_view text, const QasmProgram& program,
                                  const RunOptimizer& optimize);

}  // namespace kestrel
