// Two cx or cz gates on the same two qubits whose letters agree on one of
// them, merged into one two-qubit gate and a few one-qubit gates.
//
// With its letters (letter_walk.h), a cx or cz is C(P_a, Q_b) =
// (I + P_a)/2 + (I - P_a)/2 Q_b: Q on b where P on a is -1. Two such gates
// that agree on a, C(P_a, Q_b) and then C(P_a, R_b) with R the other
// letter, make (I + P_a)/2 + (I - P_a)/2 (RQ)_b, and RQ is i Y for ZX,
// -i Y for XZ; so they are one C(P_a, Y_b) times diag(1, +-i) on a's P:
//
//     cx q[0],q[1]; cz q[0],q[1];  is  sdg q[1]; cx q[0],q[1]; s q[1]; s q[0];
//
// (C(Z, Y) is cx with S around its target, S X S^-1 = Y), exactly, global
// phase included; for P = X the same between two h on a. A later gate
// carried back over the gates between meets the earlier with letters that
// agree on one qubit alone, as `cx q[1],q[0]; h q[1]; cx q[0],q[1];` (the
// second cx is a cz at the first, over the h); the merged gates take the
// place of one of the two, the other goes, and the gates between stay. The
// place is the first's, or the second's where only there the shared letter
// is Z and the gates between on the other qubit are h gates alone (the
// first, carried on, passes no other gate there: none leaves both X and Z
// alone).
// With `carry_on`, a gate that meets none going back is carried on the
// same way, and where it meets a later gate so (`cx q[7],q[8]; cx
// q[10],q[8]; cz q[7],q[8];`: the cx passes the other's target, a cz going
// back does not), the merged gates take the later's place. Carried so, a
// cx may also pass a run of s, sdg and z gates on its target right before
// it meets its own letters (letter_walk.h, `sandwich`): cx S^k cx is S^k on
// both qubits and, for odd k, a cz, written at the place of the gate met,
// the run left where it is (`cx q[0],q[1]; h q[1]; t q[1]; h q[1]; s q[1];
// cx q[0],q[1];` keeps one two-qubit gate, a cz).
//
// The pass runs after the pair cancellations, on what they left; the
// merged gates are written as additions (item_splice.h) after the item
// whose place they take, so the phase gates among them can then join
// others (phase_joining.h). A walk that reaches an item merged so ends
// there. Two-qubit gates lose one per merge; T gates are not touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

// Merges the pairs it finds among `items` (with `removed` and `now` as the
// passes before left them): both gates of a pair removed, the merged gates
// appended to `additions` (ascending by item). Returns how many two-qubit
// gates went (one a merged pair, one or two a pair around a run); with
// `carry_on`, gates that meet none going back are carried on, and runs
// passed, and `carried_on` (when given) counts the pairs merged so.
std::size_t merge_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                        std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                        const std::vector<Elementary>& now, std::vector<ItemAddition>& additions,
                        bool carry_on = false, std::size_t* carried_on = nullptr);

}  // namespace kestrel
