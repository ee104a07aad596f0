// Two-qubit gates that cancel across Hadamard gates on their qubits.
//
// A cx or cz is (I + P_a + Q_b - P_a Q_b) / 2 for one-qubit Paulis P on its
// first qubit a and Q on its second b: cx is (Z, X), cz is (Z, Z), a cx from
// b to a is (X, Z). An h on a moves it to the other side with P's letter
// changed, X for Z and Z for X (H Z H = X), and a gate that commutes with P_a
// and Q_b (diagonal on a qubit whose letter is Z: s, t, z, rz, cz, a cx's
// control; X-like on one whose letter is X: x, rx, a cx's target) lets it
// pass unchanged. So a cx or cz carried back in that way that reaches a cx
// or cz with the same letters on the same qubits meets itself, and both go:
//
//     cz q[0],q[1]; sdg q[1]; h q[1]; cx q[0],q[1];  is  sdg q[1]; h q[1];
//
// (the cz passes the sdg, and the h makes it a cx), and `h q[0]; h q[1];
// cx q[1],q[0]; h q[0]; h q[1]; cx q[0],q[1]` loses both cx gates. The pair
// cancellation (pair_cancellation.h) passes no h; this pass, run after it,
// does. Exact, global phase included; only two-qubit gates go.
//
// Each cx or cz still there is carried back (letter_walk.h) over at most
// 16 entries of its two qubits' items, so the time is linear in the items;
// a barrier or any other gate on its qubits stops it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

// Removes the pairs it finds among `items` (with `removed` and `now` as the
// passes before left them). Returns how many gates went.
std::size_t cancel_pairs_across_h(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits,
                                  std::vector<bool>& removed, const std::vector<Elementary>& now);

}  // namespace kestrel
