// A region of blocks written as one phase polynomial, its internal Hadamard
// gates turned into gadgets on extra qubits.
//
// A region is a run of blocks of commuting rotations with no boundary
// between them, all moved to the first block's anchor (rewrite_blocks.h). Its
// blocks are diagonalised one after the other, each in the frame the ones
// before left: the first by a Clifford D_1, block k by a Clifford G_k
// applied after D_(k-1). The Hadamard gates of the G_k (k > 1) are the
// region's internal ones. Each becomes a gadget (path_sum.h): an extra
// qubit prepared with `h`, so the whole region, but for D_1 before it and
// the inverse of all the G_k after it, is one phase polynomial F over the
// program's wires and the gadgets' variables, reduced as one table.
//
// The extra qubits are measured in the X basis after the region's T gates,
// one at a time in the order the gadgets were made, each followed by its
// correction under the condition that it gave 1: for gadget a, the X gates
// of the wires its variable reaches (W e_a), then w^(-Delta_a) with
// Delta_a(v) = F(v xor e_a) - F(v) - 4 l_a(v), l_a the value the gadget
// took over, written in the wires' values (a diagonal Clifford: S powers
// and cz gates). A correction may act on a later extra qubit, so each is
// applied before the next measurement.
//
// With `budget` gadgets at most, an internal Hadamard gate past the budget
// stays a gate: it splits the region, and the gadgets before it are
// measured and corrected there. So does the Hadamard gate that would take
// a stretch's rotations times its variables squared past 2^27: its
// polynomial's quadratic terms cost about that. Once the reductions' cap is
// spent, each block left is a stretch of its own, without gadgets, as when
// the budget is spent; once the deadline has passed, the region is given up
// (no gadget, no gate: its blocks stay as they were).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/circuit/operation.h"
#include "src/phase_polynomial/reduce_and_write.h"

namespace kestrel {

// A block of the region: its rotations' products moved to the region's
// anchor, in pauli.h's rows (2 * words words each), with their phases, and
// per rotation +1 for T or -1 for T-dagger.
struct RegionBlock {
  std::vector<std::uint64_t> rows;
  std::vector<std::uint8_t> phases;
  std::vector<std::int8_t> degrees;
};

struct RegionCircuit {
  std::vector<PlacedOperation> ops;     // in time order
  std::uint32_t gadgets = 0;     // extra qubits used
  std::uint64_t t = 0;           // T gates written (none is conditioned)
  std::uint8_t phase = 0;        // the rotations equal e^(i phase pi/8) times the ops
  // Whether `ops` was written: not where the caller's `may_pay` turned the
  // region down by its T gates and the two-qubit gates it surely has.
  bool written = true;
};

// The two-qubit gates among `ops` (a measurement is none).
std::uint64_t two_qubit_gates(std::span<const PlacedOperation> ops);

// Whether a region of `t` T gates and `two_qubit` two-qubit gates or more
// may still be kept; all of them, when none is given.
using MayPay = std::function<bool(std::uint64_t t, std::uint64_t two_qubit)>;

// The region of `blocks` (on `qubits` qubits) with at most `budget`
// gadgets, their extra qubits numbered from `first_extra`; its reductions
// take their work off the allowance's effort, one stretch after the other
// (reduce_and_write.h). All the stretches are reduced before any is
// written: where `may_pay(T, two-qubit gates)` is false for the
// region's T count and the two-qubit gates written whatever the networks
// (the diagonalising gates and the corrections), the networks are not
// written at all (`written` false; the reductions, and so what they
// charge, are the same). Past the allowance's deadline: an empty circuit.
RegionCircuit write_region(std::uint32_t qubits, std::span<const RegionBlock> blocks,
                           std::uint32_t budget, std::uint32_t first_extra,
                           ReductionAllowance& allowance, const MayPay& may_pay = {});

}  // namespace kestrel
