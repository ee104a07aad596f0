// Pairs of gates that cancel: a gate and its inverse on the same qubits
// with nothing between them that fails to commute with them.
//
// Once a method has taken the T gates out of a stretch of a program, the
// Clifford gates that moved parities onto wires for them often meet their
// own inverses: `cx q[1],q[2]; cx q[0],q[2]; cx q[1],q[2]; cx q[0],q[2];`
// is the identity, since cx gates with one target commute. `cancel_pairs`
// finds such pairs: reading the gates in order, each looks back along its
// qubits for its inverse, passing only gates it surely commutes with
// (on every qubit they share, both diagonal there, like s, t, z, cz and
// cx's control, or both X-like there, like x and cx's target), and the two
// go. Every removal is an exact identity, global phase included.
//
// Items that are no gate (a boundary on some qubits) stop every search on
// their qubits. The searches are bounded, so the time is linear in the
// items.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel {

struct CancelItem {
  PlacedGate gate;            // the gate, when `count` is 0
  std::uint32_t first = 0;    // a barrier's qubits start here in the qubit list given
  std::uint32_t count = 0;    // a barrier's number of qubits; 0 for a gate
};
static_assert(std::is_trivially_copyable_v<CancelItem>);

// Per item, whether it goes. `barrier_qubits` holds the barriers' qubits;
// every qubit must be below `qubits`.
std::vector<bool> cancel_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                               std::span<const std::uint32_t> barrier_qubits);

}  // namespace kestrel
