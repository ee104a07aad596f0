// One-qubit phase gates that meet on a qubit, joined into the fewest.
//
// Once pairs cancel and cz gates become phases (pair_cancellation.h,
// cz_to_phases.h), a qubit may be left with phase gates that meet with
// nothing between them but gates diagonal there (a cx's control, a cz, an
// rz): `s q[1]; cx q[1],q[2]; sdg q[1];` is `cx q[1],q[2];`, and `z q[0];
// sdg q[0];` is `s q[0];`. A run of t, tdg, s, sdg and z gates so met is
// diag(1, e^(i r pi/4)) for the sum r of their powers (mod 8), which
// `phase_gates` (src/circuit/elementary.h) writes in at most two gates;
// where that takes fewer gates than the run, the run's first items take them
// (moving a phase gate back past gates diagonal on its qubit changes
// nothing) and the rest go. Exact, global phase included; T gates and
// two-qubit gates never grow in number, nor does any gate count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

// Joins the runs among `items` (with `removed` and `now` as the passes
// before left them; barriers end runs on their qubits). Returns how many
// gates went.
std::size_t join_phase_runs(std::uint32_t qubits, std::span<const CancelItem> items,
                            std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                            std::vector<Elementary>& now);

}  // namespace kestrel
