// The statistics of a whole program, before and after edits.
//
// `t` counts the T gates every gate application holds, seen through to the
// gates of its expansion (a ccx seven, rz(pi/4) one: src/program/gate_counts.h),
// and the two-qubit counts likewise (a ccx six); `gates` and `depth` count as
// Qiskit counts a circuit: `gates` the gate applications (each broadcast
// instance, conditional ones too; not measure, reset or barrier), `depth` the
// circuit depth (a barrier aligns its qubits without adding a level; a
// measurement takes its clbit; an `if` takes every bit of its register; a
// custom gate is one operation). "after" is the program as `write_program` writes it with
// the same edits: each run gate of a replacement one level on its
// statement's qubit, each placed gate one level on its own qubits.
// For "t q[0]; t q[0]; cx q[0],q[1];" with the edits {0 -> []}, {1 -> [S]}
// the statistics are t 2, gates 3, depth 3 before and t 0, gates 2, depth 2
// after.
#pragma once

#include "src/circuit/circuit_stats.h"
#include "src/program/edits.h"
#include "src/program/program.h"

namespace kestrel {

struct ProgramStats {
  CircuitStats before;  // of the program read
  CircuitStats after;   // of the program with the edits made
  std::uint64_t two_qubit_before = 0;  // two-qubit gates, seen through as `t`, read
  std::uint64_t two_qubit_after = 0;   // and with the edits made
  std::uint64_t measurements_after = 0;  // measurements the edits add
};

// `edits` must name statements of `program` (see src/program/edits.h).
ProgramStats program_stats(const QasmProgram& program, const Edits& edits);

}  // namespace kestrel
