// The phase-polynomial method on a whole program: rotation merging first
// (src/rotation_merging/rotation_merging.h), then every block of commuting
// rotations whose phase polynomial can be written with fewer T gates, at a
// cost in two-qubit gates the rule of cost.h accepts, written anew at its
// first rotation (src/phase_polynomial/rewrite_blocks.h), and then the pairs
// of gates that cancel (src/cancellation/pair_cancellation.h).
//
// The program is read as rotation merging reads it, after its edits: the
// Clifford gates it follows, its T and T-dagger gates, and boundaries.
// Rotations of any angle that rotation merging writes are boundaries on
// their qubits here, each kept in place. Statements holding no rotation of
// a rewritten block keep rotation merging's result (their text, or its phase gates); a statement holding
// one is replaced by its gates with that rotation left out and, at the
// block's first rotation, the block's new circuit in its place. Every
// Clifford gate and every boundary stays where it was, but for the gates
// the cancellation of pairs removes (a gate and its inverse with only
// gates they commute with between them: mostly a network's last cx gates
// and the program's copies of them; two T gates that meet so join into an
// s). For
//
//   cx q[0],q[1]; t q[1]; ... (a block whose table shrinks)
//
// the first T's line becomes the block's circuit, one gate a line, and the
// block's other T lines go.
//
// The method in order, a file for each step: the program read as steps
// (program_steps.h); the rotations cut into blocks that commute (blocks.h);
// each block moved to its anchor and made diagonal by a Clifford
// (diagonalise.h); its phase polynomial mod 8 (polynomial_mod8.h); the
// table of its odd parities reduced (src/gf2/reduction.h); the reduced
// polynomial written as a parity network (src/gf2/parity_network.h, its
// linear maps by src/gf2/linear_synthesis.h) with the Clifford difference,
// its cz gates folded into the network's phase gates
// (src/gf2/cz_absorption.h), between the diagonalising Clifford and its
// inverse (reduce_and_write.h, rewrite_blocks.h), or as a network that
// copies the program's own cx gates after the anchor (block_guide.h,
// src/gf2/cnot_phase_synthesis.h); the cost rule keeps the blocks that pay
// (cost.h); the pairs of gates that then cancel go, and cz gates that meet
// phase gates on passing parities become S powers
// (src/cancellation/cz_to_phases.h).
// With `ancillas`, each run of blocks between boundaries is tried once more
// as one region with Hadamard gadgets (gadgets.h), kept as a sum over paths
// (path_sum.h). This file's .cpp reads the program and writes the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "src/circuit/angle.h"
#include "src/phase_polynomial/cost.h"
#include "src/program/edits.h"
#include "src/program/program.h"
#include "src/timing/deadline.h"

namespace kestrel {

struct PhasePolynomialResult {
  Edits edits;                    // the statements replaced or removed
  Phase phase;                    // the program read is e^(i phase) times the program written
  std::uint32_t extra_qubits = 0; // Hadamard gadgets' extra qubits
  double rounded = 0;             // rotation merging's roundings (RotationMergingResult)
};

// Why `program` is too large for the method, or nothing.
std::optional<std::string> too_large_for_phase_polynomial(const QasmProgram& program);

struct PhasePolynomialOptions {
  // Rotation merging stops searching here, and blocks reached after it
  // stay as rotation merging left them; every long step reads it (the
  // cancellation of pairs stops where it is). Passed at the start: the
  // program comes back as written.
  Deadline deadline;
  // Write every block anew, even one whose table does not shrink (tests).
  bool every_block = false;
  // What a two-qubit gate costs against a T gate in the rule that decides
  // which rewrites are kept (src/phase_polynomial/cost.h).
  double two_qubit_cost = kDefaultTwoQubitCost;
  // Hadamard gadgets the method may use, an extra qubit each.
  std::uint32_t ancillas = 0;
  // The reductions' effort past their first moves (src/gf2/reduction.h),
  // shared among the blocks; unset: bounded by the deadline only.
  std::optional<std::uint64_t> effort;
  // All the reductions' work in all, first moves included (src/gf2/
  // reduction.h's cap); once it is spent, the blocks and regions left stay
  // as rotation merging left them. Unset: bounded by the deadline only.
  std::optional<std::uint64_t> cap;
  // Rotation merging's tolerance (merge_rotations); below kAngleTolerance,
  // the blocks read an angle as a multiple of pi/4 only where it is one to a
  // double's precision, so that no angle is rounded uncounted.
  double tolerance = kAngleTolerance;
};

// The method on `program`, which must not be too large. Where no rewrite
// lowers T + c (two-qubit gates) below rotation merging's result with its
// pairs cancelled, it is that result (unless `every_block`).
PhasePolynomialResult reduce_phase_polynomials(const QasmProgram& program,
                                               const PhasePolynomialOptions& options = {});

}  // namespace kestrel
