// Three two-qubit gates written as two where a cx or cz meets, across one
// gate it does not commute with, its own copy or the gate it leaves there;
// two copies around a Pauli gate written as none.
//
// With its letters (letter_walk.h), a cx or cz is C(P_a, Q_b) =
// (I + P_a)/2 + (I - P_a)/2 Q_b. Around M = C(R_b, S_c), on b and a third
// qubit c, with R the other letter than Q (so that the two do not
// commute), G = C(P_a, Q_b) makes
//
//     G M G = C(P_a R_b, S_c) = M N,  with N = C(P_a, S_c),
//
// since G R_b G = P_a R_b; and N commutes with M and with G. So, exactly
// (global phase included):
//
//   - G M G is M N: two copies of G around M go, N is written beside M;
//       cx q[0],q[1]; cx q[1],q[2]; cx q[0],q[1];  is  cx q[1],q[2]; cx q[0],q[2];
//       cx q[0],q[1]; cz q[1],q[2]; cx q[0],q[1];  is  cz q[1],q[2]; cz q[0],q[2];
//   - G M N is M G: G goes past M, and the N it leaves there meets the N
//       after M; both go;
//       cx q[0],q[1]; cx q[1],q[2]; cx q[0],q[2];  is  cx q[1],q[2]; cx q[0],q[1];
//   - N M G is G M, the same going back.
//
// An x, y or z gate A on a that does not commute with P_a swaps P's two
// eigenspaces, so A G A = G Q_b and G A G = A Q_b: both copies go, and Q_b
// is written (`cz a,b; x a; cz a,b` is `x a; z b`); the same on b.
//
// The gates need not be next to each other: each cx or cz still there is
// carried back over the gates it commutes with (letter_walk.h, `across`)
// and over one such M (or A), to its copy; else from the first gate it does not
// pass, if that is such an M, its N is carried back to meet a copy; else
// the same on (forward). A gate carried over h gates changes its letters
// there, and the gates written take the letters they have at M (C(X_a,
// X_c) is a cx between two h gates on a). Walks reach 16 entries of their
// two lines at most, so the pass is linear in the items; a walk ends where
// gates were written before it in the same pass.
//
// The pass runs after the pairs that cancel or merge are gone, on what
// they left (with their gates spliced in). Two-qubit gates lose one per
// change (two around a Pauli gate); T gates are not touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

// Makes such changes among `items` (with `removed` and `now` as the passes
// before left them): the gates that go removed, those written appended to
// `additions` (ascending by item). Returns how many two-qubit gates went
// (one per change, two around an x, y or z).
std::size_t conjugate_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                            std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                            const std::vector<Elementary>& now, std::vector<ItemAddition>& additions);

}  // namespace kestrel
