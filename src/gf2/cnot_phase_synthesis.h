// Diagonal phase operators written as cx and phase gates that follow the cx
// gates a program already has, so that few cx gates are added.
//
// The operator is U|x> = omega^f(x) |x>, omega = e^(i pi/4), for a phase
// polynomial f(x) = sum_j c_j (a_j . x) mod 8, as in
// src/phase_polynomial/parity_network.h. A method that takes a block of T
// gates out of a program and writes the block's reduced polynomial at the
// block's first gate leaves the program's own cx gates after it, and those
// cx gates had been bringing the block's parities onto wires. The network
// here reads them as a guide: it copies the guide's gates one by one,
// writing each term's phase gate on the first wire that holds its parity
// (the wires' values start as the inputs x, and a copied cx(c, t) adds
// wire c into wire t), then writes the terms the guide never brings onto a
// wire with a parity network in the wires' values at that point (the best
// of the searches of parity_network.h: the star, the split of GraySynth,
// the nearest term, the rebased star), and ends with the copied gates
// backwards, which bring the wires back to x.
//
// Those last gates are the guide's first `followed` gates in reverse: when
// the guide's gates follow the network in the program with nothing between
// them on their wires but gates they commute with, each pair cancels (a cx
// followed by the same cx), so the network costs only the cx gates of its
// middle part. (Without the network the guide's gates may cancel among
// themselves instead, once the phase gates between them are gone; a
// network is chosen by the cx gates it and the guide leave together.) For the guide `cx q[0],q[1]; cx q[1],q[2];` and the terms
// x0 + x1 and x0 + x1 + x2, the network is
//
//   cx q[0],q[1]; t q[1]; cx q[1],q[2]; t q[2]; cx q[1],q[2]; cx q[0],q[1];
//
// with `followed` 2: once the program's two cx gates after it cancel the
// last two, no cx is added at all.
//
// Terms with coefficient 4 are z gates on each wire of their parity (no cx
// gate). The guide is followed to its last gate that writes a term; where
// none does, the network is the plain one of parity_network.h. The rest is
// written after the copied gates or, on tables of at most 2^16 wire-term
// bits, before them if that leaves fewer cx gates, of its own and the
// guide's, once the pairs cancel (src/cancellation/pair_cancellation.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/timing/deadline.h"

namespace kestrel {

struct GuidedNetwork {
  std::vector<PlacedGate> gates;  // cx and phase gates in time order; the wires end at x
  std::size_t followed = 0;       // the guide's first gates copied; `gates` ends with them reversed
  std::size_t cx = 0;             // cx gates in `gates`
  // The cx gates left of `gates` followed by the guide once pairs cancel:
  // those of the network's middle (cx - 2 followed), the first `followed`
  // gates of the guide as copied, and the guide's other gates as they
  // cancel among themselves.
  std::size_t cx_left = 0;
};

// The network of the terms (`columns`, one per term, (qubits + 63) / 64
// words each; `coefficients` 0 to 7) following `guide`, a sequence of cx
// gates on the wires 0 to qubits - 1. Faults when the sizes disagree, a
// value is out of range or the guide holds a gate other than cx.
GuidedNetwork synthesise_guided_network(std::uint32_t qubits,
                                        std::span<const std::uint64_t> columns,
                                        std::span<const std::uint8_t> coefficients,
                                        std::span<const PlacedGate> guide);

// The same, or nothing once `deadline` has passed (read before and during
// each network's search, src/gf2/parity_network.h).
std::optional<GuidedNetwork> synthesise_guided_network_until(std::uint32_t qubits,
                                                             std::span<const std::uint64_t> columns,
                                                             std::span<const std::uint8_t> coefficients,
                                                             std::span<const PlacedGate> guide,
                                                             const Deadline& deadline);

}  // namespace kestrel
