// The per-qubit pass: segments collected, each distinct segment optimised
// once, its result placed at every segment of it.
#include "src/per_qubit/per_qubit.h"

#include <cstdint>

#include "engine/fault.h"
#include "src/circuit/global_phase.h"
#include "src/per_qubit/segments.h"

namespace kestrel {

// The edits of the pass: every run gate removed but each segment's last,
// which becomes the result of its distinct segment. The segments are let go
// on return, before the program is counted and written.
PerQubitEdits per_qubit_edits(const QasmProgram& program, const SegmentOptimizer& optimize,
                              bool want_phase) {
  const Segments segments = collect_segments(program);
  PerQubitEdits out;
  Edits& edits = out.edits;
  std::vector<std::uint32_t> first;  // per distinct segment: its result's start in edits.gates
  first.reserve(segments.distinct.size() + 1);
  std::vector<std::uint8_t> phases;  // per distinct segment, if asked: it = e^(i k pi/8) result
  std::vector<Op> gates;
  for (const std::string& segment : segments.distinct) {
    gates.clear();
    GateProduct before;
    for (char code : segment) {
      gates.push_back(Op(static_cast<OpKind>(code)));
      if (want_phase) before.add(static_cast<OpKind>(code));
    }
    first.push_back(static_cast<std::uint32_t>(edits.gates.size()));
    GateProduct after;
    for (Op gate : optimize(gates)) {
      if (!is_run_gate(gate.op())) {
        fault("a segment's result holds a gate other than h, s, sdg, t, tdg, x and z: " +
              gate.debug());
      }
      edits.gates.push_back(gate.op());
      if (want_phase) after.add(gate.op());
    }
    if (want_phase) phases.push_back(phase_between(before, after));
  }
  first.push_back(static_cast<std::uint32_t>(edits.gates.size()));

  const auto& statements = program.statements;
  edits.list.reserve(statements.size());
  unsigned phase = 0;
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    if (statements[s].kind != StatementKind::RunGate) continue;
    const std::uint32_t segment = segments.ending[s];
    if (segment == kNoSegment) {
      edits.add(s, 0, 0);
    } else {
      edits.add(s, first[segment], first[segment + 1] - first[segment]);
      if (want_phase) phase = (phase + phases[segment]) % 16;
    }
  }
  if (want_phase) out.phase = static_cast<std::uint8_t>(phase);
  return out;
}

}  // namespace kestrel
