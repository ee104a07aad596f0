// Pairs of gates that cancel over a whole program: a gate and its inverse on
// the same qubits with nothing between them but gates they commute with.
//
// A method that writes parity networks into a program leaves cx gates that
// meet their own copies: `cx q[0],q[2]; cx q[1],q[2]; t q[0]; cx q[1],q[2];
// cx q[0],q[2];` is `t q[0];`, since the two cx gates share a target and the
// t sits on a control. `cancel_gate_pairs` reads the gates in order; each
// looks back along its first qubit, over the gates still there (those
// already cancelled are skipped at no cost, so a network's last gates meet
// the program's copies however many pairs cancelled between them), for its
// inverse, passing only gates it surely commutes with: on every qubit they
// share, both diagonal there (s, t, z, cz, rz, a cx's control) or both
// X-like there (x, rx, a cx's target). The other qubit of a two-qubit gate must be
// clear between the two in the same way. Every removal is an exact identity,
// global phase included, and neither T nor two-qubit gates ever grow in
// number (a cx pair made a cz and an s, below, adds one one-qubit gate).
//
// Items that are no gate (a boundary on some qubits: a measurement, a
// conditioned gate, a statement the method does not see through) stop every
// search on their qubits. A search passes at most `kCancelReach` gates still
// there, so the time is linear in the items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/timing/deadline.h"

namespace kestrel {

struct CancelItem {
  PlacedGate gate;            // the gate, when `count` is 0
  std::uint32_t first = 0;    // a barrier's qubits start here in the qubit list given
  std::uint32_t count = 0;    // a barrier's number of qubits; 0 for a gate
};
static_assert(std::is_trivially_copyable_v<CancelItem>);

// How many gates still there a search passes on one qubit.
inline constexpr std::size_t kCancelReach = 64;
// How many items a walk takes between two looks at the clock.
inline constexpr std::uint32_t kClockStride = 4096;

// Per item, whether it goes. `barrier_qubits` holds the barriers' qubits;
// every qubit must be below `qubits`. With `merged`, two T gates (or two
// T-dagger gates) that meet so join as well: the first becomes an s (an
// sdg) and the second goes; and a cx that meets its copy with only s, sdg
// and z gates between on its target (S^k in all) goes with it, as
// cx S^k cx = S^k on the control, S^k on the target and, for odd k, a cz:
// the first becomes that cz (or goes), the second the S^k on the control
// (or goes), where `sandwiches` asks for it (a cz there may stop a later
// pair that the cx would have let pass). `merged` gets each item's gate as left, on its qubits (for a
// barrier, its gate as given). `sandwich_met`, when given, is set when such
// a cx pair was met, joined or not: when it stays false, the call with
// `sandwiches` set gives the same result as the call without. Once
// `deadline` has passed (the clock is read every kClockStride items) the
// walk stops: the items from there on stay as they are, each pair removed
// before them still an identity.
std::vector<bool> cancel_gate_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                                    std::span<const std::uint32_t> barrier_qubits,
                                    std::vector<Elementary>* merged = nullptr,
                                    bool sandwiches = false, bool* sandwich_met = nullptr,
                                    const Deadline& deadline = {});

}  // namespace kestrel
