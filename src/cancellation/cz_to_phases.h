// A cz gate written as phase gates on wires that pass the parities of
// its two qubits: the cz goes, and S or S-dagger powers join one-qubit
// phase gates already there, so no gate is added.
//
// For bits a, b and p, 2ab = (p^a) + (p^b) - (p^a^b) - p (mod 4), so a cz
// on a and b is S on a wire holding p^a, S on one holding p^b, S-dagger on
// p^a^b and on p (exactly, global phase included; or the four inverses, as
// cz is its own inverse). A Toffoli's network passes just these:
//
//     cx q[1],q[2]; tdg q[2]; cx q[0],q[2]; t q[2]; cx q[1],q[2];
//     tdg q[2]; cx q[0],q[2]; t q[2]; cz q[0],q[1];
//
// q[2] holds p^b, p^a^b, p^a and p at the four T gates; the cz floats to
// them (it is diagonal, q[0] and q[1] are only controls there), and the
// four phases make them t, tdg, t, tdg: one two-qubit gate fewer.
//
// And a cz that meets a cx on its own qubits: where b holds v at the cz and
// v^a across a cx from a to b, 2av = a + v - (v^a) (mod 4), so
//
//     t q[1]; cx q[0],q[1]; tdg q[1]; tdg q[0]; cz q[0],q[1];
//
// is `tdg q[1]; cx q[0],q[1]; t q[1]; t q[0];`: S on a, S on b on the cz's
// side of the cx, S-dagger on the other side.
//
// `cz_to_phases` reads the gates as a pair cancellation left them. For each
// cz it finds where it may float on its qubits (past gates diagonal there:
// one-qubit phases, rz, cz, a cx's control; at most 2 `kCancelReach`
// gates each way), and in that stretch, along the targets of the cx
// gates its qubits control, a run of gates on the target (phases, a cx's
// control, cx gates from the cz's two qubits) holding all four parities on
// phase gates that take the S power as a single gate (s t would be two,
// so a t that needs an s does not serve); failing that, a cx on its qubits
// at the end of that stretch on one of them, with such phase gates on both
// sides of it and on the other qubit. T gates change only to T-dagger or
// back; two-qubit gates lose the cz; one-qubit gates never grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

// Removes the cz gates it can among `items` (as `cancel_gate_pairs` took
// them, with `removed` and `now` as it gave them back) and changes the
// phase gates that take their place in `now`; a phase gate that becomes the
// identity is removed. Returns how many cz gates went. Once `deadline` has
// passed (read every kClockStride items), the cz gates from there on stay.
std::size_t cz_to_phases(std::uint32_t qubits, std::span<const CancelItem> items,
                         std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                         std::vector<Elementary>& now, const Deadline& deadline = {});

}  // namespace kestrel
