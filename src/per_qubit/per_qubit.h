// The per-qubit mode: a whole program kept, every qubit's segments optimised.
//
// A segment is a qubit's maximal sequence of h, s, sdg, t, tdg, x and z
// applications to that one indexed qubit, unconditioned; every other
// statement that names the qubit (a cx on it, a measurement, a barrier over
// its register, `h q;` on its register, an `if`) ends the segment. Each
// segment is optimised on its own and written, one statement per line, where
// its last gate stood; every other statement and everything between statements
// (comments, blanks) is copied byte for byte. In
//
//   t q[0]; h q[1];
//   t q[0];
//   cx q[0],q[1];
//
// q[0] has the segment T·T and q[1] the segment H, both ended by the cx;
// with the saturation method the result is " h q[1];\ns q[0];\ncx q[0],q[1];\n": the
// first T's statement is gone from the line it shared, and the S stands
// where the second T stood. A line that held nothing but removed gates goes
// whole.
//
// The pass collects the segments (src/per_qubit/segments.h), optimises each
// distinct segment once, and gives the edits that place each segment's
// result at its last gate and remove its other gates; the caller counts and
// writes them (src/program/program_stats.h, src/program/writer.h), or
// applies them to a circuit given as a gate list. Asked to, it also gives the exact global phase
// between the program and its edited form, the sum of its segments' phases
// (src/circuit/global_phase.h).
//
// Contract: `program` is what `read_program` returned. `optimize` gets each
// distinct segment once per call, in the order the segments end, and
// returns an equivalent gate list made of the same seven gates; anything
// else is a fault.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/op.h"
#include "src/program/edits.h"
#include "src/program/program.h"

namespace kestrel {

// Optimises one segment: gates first to last in, an equivalent list out.
using SegmentOptimizer = std::function<std::vector<Op>(std::span<const Op>)>;

struct PerQubitEdits {
  Edits edits;                        // every run gate replaced or removed
  std::optional<std::uint8_t> phase;  // when asked: the program read is e^(i phase pi/8)
                                      // times the program edited
};

PerQubitEdits per_qubit_edits(const QasmProgram& program, const SegmentOptimizer& optimize,
                              bool want_phase);

}  // namespace kestrel
