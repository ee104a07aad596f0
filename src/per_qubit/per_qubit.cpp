// The per-qubit pass: runs collected, each distinct run optimised once, its
// result placed at every run of it, then counted and written.
#include "src/per_qubit/per_qubit.h"

#include <cstdint>

#include "engine/fault.h"
#include "src/circuit/global_phase.h"
#include "src/per_qubit/runs.h"
#include "src/program/stats.h"
#include "src/program/writer.h"

namespace kestrel {

// The edits of the pass: every run gate removed but each run's last, which
// becomes the result of its distinct run. The runs are let go on return,
// before the program is counted and written.
PerQubitEdits per_qubit_edits(const QasmProgram& program, const RunOptimizer& optimize,
                              bool want_phase) {
  const Runs runs = collect_runs(program);
  PerQubitEdits out;
  Edits& edits = out.edits;
  std::vector<std::uint32_t> first;  // per distinct run: where its result starts in edits.gates
  first.reserve(runs.distinct.size() + 1);
  std::vector<std::uint8_t> phases;  // per distinct run, when asked: run = e^(i k pi/8) result
  std::vector<Op> gates;
  for (const std::string& run : runs.distinct) {
    gates.clear();
    GateProduct before;
    for (char code : run) {
      gates.push_back(Op(static_cast<OpKind>(code)));
      if (want_phase) before.add(static_cast<OpKind>(code));
    }
    first.push_back(static_cast<std::uint32_t>(edits.gates.size()));
    GateProduct after;
    for (Op gate : optimize(gates)) {
      if (!is_run_gate(gate.op())) {
        fault("a run's result holds a gate other than h, s, sdg, t, tdg, x and z: " + gate.debug());
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
    const std::uint32_t run = runs.ending[s];
    if (run == kNoRun) {
      edits.add(s, 0, 0);
    } else {
      edits.add(s, first[run], first[run + 1] - first[run]);
      if (want_phase) phase = (phase + phases[run]) % 16;
    }
  }
  if (want_phase) out.phase = static_cast<std::uint8_t>(phase);
  return out;
}

PerQubitResult optimize_per_qubit(std::string_view text, const QasmProgram& program,
                                  const RunOptimizer& optimize) {
  const Edits edits = per_qubit_edits(program, optimize, false).edits;
  const ProgramStats stats = program_stats(program, edits);
  return {write_program(text, program, edits), stats.before, stats.after};
}

}  // namespace kestrel
