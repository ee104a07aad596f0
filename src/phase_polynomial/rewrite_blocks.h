// The rotations of a program rewritten block by block with fewer T gates.
//
// Each block of commuting rotations (blocks.h) is moved to its anchor, the
// step of its first rotation: with C the Clifford gates read before the
// anchor, a rotation about the product P at the program's start is the
// rotation about Q = C P C^-1 there. A Clifford E (diagonalise.h) makes every
// Q of the block diagonal, E Q E^-1 = +-Z^a, so the block is E^-1 w^f(x) E
// for the phase polynomial f = sum_j c_j (a_j . x) (polynomial_mod8.h). The
// parities of f with odd coefficient are reduced (src/gf2/reduction.h) to a table
// with the same signature tensor and fewer columns, and the block is written
// at its anchor as E, then the new parities' T gates with the Clifford
// difference (src/gf2/parity_network.h), then E^-1; its rotations go from their
// places. Where E is empty or h gates alone, the network may instead follow
// the program's own cx gates after the anchor (src/gf2/cnot_phase_synthesis.h),
// ending with copies that those cx gates cancel; of the two networks, the
// one that leaves fewer two-qubit gates once pairs cancel is written. A
// block is written anew only where that lowers T + c (two-qubit gates)
// (cost.h); otherwise it keeps its rotations where they are, so the
// program's other gates never change.
//
// For `cx q[0],q[1]; t q[1]; cx q[0],q[1]; t q[0]; t q[1];` the block holds
// the parities x0 ^ x1, x0 and x1, each with coefficient 1: a controlled S,
// whose three columns no smaller table matches, so the block keeps its
// rotations where they are.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/phase_polynomial/gadgets.h"
#include "src/phase_polynomial/phase_polynomial.h"
#include "src/phase_polynomial/program_steps.h"

namespace kestrel {

// A block, or a region of blocks, written anew at the step it is anchored
// to, before that step's place (the anchor itself is one of its rotations,
// which goes).
struct Insertion {
  std::uint32_t step;              // the anchor
  std::vector<PlacedOperation> ops;       // in time order: gates, and with gadgets measurements
                                   // and the corrections they condition
  // When `ops` follow the program's own cx gates after the anchor (so that
  // those cancel the network's last ones, src/gf2/cnot_phase_synthesis.h):
  // the same block written without them, which the caller may prefer once
  // it sees what cancels; else empty.
  std::vector<PlacedOperation> unguided;
  // When `ops` are written plainly though a writing that follows those cx
  // gates exists (its estimate was higher, yet more may cancel): that one;
  // else empty.
  std::vector<PlacedOperation> guided;
};

struct StepsRewrite {
  std::vector<bool> removed;            // per step: a rotation that goes (its block is written anew)
  std::vector<Insertion> insertions;    // by increasing step
  std::uint8_t phase = 0;               // the steps read equal e^(i phase pi/8) times the steps written
  std::uint64_t t_before = 0;           // rotations read
  std::uint64_t t_after = 0;            // T and T-dagger gates written
  std::uint32_t extra_qubits = 0;       // gadgets' extra qubits, numbered from the program's qubits
  // Other choices of blocks, for the caller to compose and compare: the
  // blocks that pay by the cost rule only if the program's two-qubit gates
  // around them cancel (src/phase_polynomial/cost.h).
  std::vector<StepsRewrite> alternatives;
};

// The method's options (phase_polynomial.h), read here thus: blocks reached
// after the deadline, or once the reductions' `cap` is spent, stay as they
// are; `every_block` writes every block anew, even one whose table does not
// shrink, and every region with gadgets, even one that gains nothing;
// `ancillas` is the Hadamard gadgets the rewrite may use in all (gadgets.h),
// with none each block is reduced on its own; the reductions' `effort` and
// `cap` (src/gf2/reduction.h) are shared among the blocks, then the regions'
// stretches and their retries, in order: what one spends, the next ones
// lack (reduce_and_write.h); unset: none is bounded but by the deadline.
struct RewriteOptions : PhasePolynomialOptions {
  // For tests: which blocks (by number) to write anew, in place of whether
  // their tables shrink; the others keep their rotations where they can.
  std::function<bool(std::uint32_t)> choose;
  // With gadgets: the two-qubit gates of the whole result a rewrite (with
  // its alternatives) composes to, as the caller chooses among its choices.
  // Given, the regions with gadgets are kept, fewest two-qubit gates added
  // per T gate saved first, only while that stays within the bound of
  // cost.h (gadget_two_qubit_bound); unset, every region that pays is kept.
  std::function<std::uint64_t(const StepsRewrite&)> result_two_qubit;
};

// Rewrites the blocks of `program`, in order.
StepsRewrite rewrite_blocks(const ProgramSteps& program, const RewriteOptions& options = {});

}  // namespace kestrel
