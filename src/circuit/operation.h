// What a whole-program method may write besides gates: measurements of
// extra qubits it adds, and gates conditioned on their outcomes.
//
// The phase-polynomial method's Hadamard gadgets (src/phase_polynomial/
// gadgets.h) prepare extra qubits, measure each and correct with Clifford
// gates applied when the outcome is 1. As operations on a program of n
// qubits, extra qubit i is qubit n + i: {Gate, {H, n, 0}} prepares the
// first, {Measure, {}, 0} measures it into its own bit, and
// {Conditioned, {X, 3, 0}, 0} applies x to qubit 3 when that bit is 1.
#pragma once

#include <cstdint>
#include <type_traits>

#include "src/circuit/elementary.h"

namespace kestrel {

enum class OperationKind : std::uint8_t {
  Gate,         // `gate`
  Measure,      // extra qubit `extra` measured in the Z basis into its own bit
  Conditioned,  // `gate`, applied when extra qubit `extra`'s measurement gave 1
};

struct PlacedOperation {
  OperationKind kind = OperationKind::Gate;
  PlacedGate gate{};        // for Gate and Conditioned
  std::uint32_t extra = 0;  // for Measure and Conditioned: the extra qubit's number (from 0)

  bool operator==(const PlacedOperation&) const = default;
};
static_assert(std::is_trivially_copyable_v<PlacedOperation>);

}  // namespace kestrel
