// Diagonal phase operators written as cx gates and phase gates (a parity
// network).
//
// The operator is U|x> = omega^f(x) |x>, omega = e^(i pi/4), for a phase
// polynomial f(x) = sum_j c_j (a_j . x) mod 8: each term a parity a_j of the
// wires (a bit vector over qubits 0 to n - 1, its value a_j . x read as 0 or
// 1) with a coefficient c_j in 0..7. A cx(s, t) adds wire s into wire t, so
// cx gates can bring any parity onto some wire, where a phase gate then
// applies omega^c_j exactly: t (c = 1), s (2), s then t (3), z (4), sdg then
// tdg (5), sdg (6), tdg (7). The terms x0, x1 and, with coefficient 7, x0 + x1
// make a controlled S (x0 + x1 - (x0 xor x1) = 2 x0 x1), written
// `t q[0]; t q[1]; cx q[1],q[0]; tdg q[0]; cx q[1],q[0];`.
//
// The gates are chosen to make the cx count small. Terms with equal parities
// add up; a zero parity or coefficient writes nothing (the result has no
// global phase), and a term of coefficient 4 is a z on each of its wires.
// The rest go to up to four searches, and the one with the fewest cx gates
// in all wins:
// - the star: every wire but one target keeps its input value while the
//   target walks through the terms assigned to it (each term to its wire
//   that the most terms share), one cx per wire gained or lost between
//   consecutive terms, and back: a ccz's seven parities take the six cx of
//   its Gray code, and no linear map is left to undo;
// - the split of GraySynth (Amy, Azimzadeh and Mosca, "On the
//   CNOT-complexity of CNOT-phase circuits", 2018): terms split by one
//   wire's bit at a time, depth first, adding a wire into a group's target
//   whenever every term of the group holds both;
// - the nearest term next: the term with the fewest wires in the wires'
//   present values is brought onto one of them, then the next (onto the
//   first of them that has left its input, or, a second way, onto the one
//   the most terms still to write include);
// - the star in a basis of the terms' own span, between the cx gates that
//   put that basis on the wires and take it off again.
// The split and the nearest-term searches leave the wires holding an
// invertible map of the inputs, undone by `synthesise_linear` or by their cx
// gates read backwards, whichever is shorter. The star runs on every table;
// the other three, which win by a few percent on small blocks, only on
// tables of at most 2^16 wire-term bits, where they are cheap; the nearest
// term, both ways, on tables of at most 2^19 besides (as the reduced table
// of a GF(2^32) multiplier, 96 wires and 2,851 terms, where it beats the
// star by a tenth). The second way runs on those larger tables only.
//
// The star's work is a few hash probes per cx and a sort of the terms: a
// table of n = 385 wires and 65,536 terms takes about a tenth of a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/gf2/linear_synthesis.h"
#include "src/timing/deadline.h"

namespace kestrel {

// Which search writes the network: the one that takes fewer cx gates in all
// (the default), or one of them alone, for tests and measurements.
enum class NetworkSearch : std::uint8_t {
  Best,     // every search that runs (see above), the fewest cx gates win (the first on a tie)
  Star,     // every wire but one at its input, one target's terms at a time
  Split,    // the binary split of the terms (GraySynth)
  Nearest,  // the nearest term next
  Shared,   // the nearest term next, onto its wire that the most terms include
  Rebased,  // the star search in a basis of the terms' own span
};

// A network that need not end with the wires at their inputs' values: after
// `gates`, wire i holds row i of `map` times the inputs, and the phase is
// omega^f(x) of the inputs x.
struct OpenParityNetwork {
  std::vector<PlacedGate> gates;  // cx and phase gates in time order
  BitMatrix map;                  // the wires' final values as parities of the inputs
};

// The network of the terms given as `columns` (one column per term,
// (qubits + 63) / 64 words each, bit i of a column = qubit i takes part; no
// bit at or past `qubits`) and `coefficients` (one per column, 0 to 7), with
// every wire back at its input's value at the end. Faults when the sizes
// disagree or a value is out of range.
std::vector<PlacedGate> synthesise_parity_network(std::uint32_t qubits,
                                                  std::span<const std::uint64_t> columns,
                                                  std::span<const std::uint8_t> coefficients,
                                                  NetworkSearch search = NetworkSearch::Best);

// The same without the final cx gates that bring the wires back, for a
// caller that folds that linear map into the Clifford gates that follow.
// On small tables it leaves out the `Shared` search, which the closed one
// also runs there.
OpenParityNetwork synthesise_open_parity_network(std::uint32_t qubits,
                                                 std::span<const std::uint64_t> columns,
                                                 std::span<const std::uint8_t> coefficients,
                                                 NetworkSearch search = NetworkSearch::Best);

// The best network as synthesise_open_parity_network writes it (with
// `open`) or as synthesise_parity_network does (without: the map the
// identity), or nothing once `deadline` has passed: the clock is read before
// each search and along the star searches' walks, so that a caller under a
// time limit writes no network past it.
std::optional<OpenParityNetwork> synthesise_parity_network_until(std::uint32_t qubits,
                                                                 std::span<const std::uint64_t> columns,
                                                                 std::span<const std::uint8_t> coefficients,
                                                                 bool open, const Deadline& deadline);

}  // namespace kestrel
