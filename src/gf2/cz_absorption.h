// CZ gates folded into the phase gates of a circuit of cx and phase gates,
// so that they cost no two-qubit gate.
//
// An S on a wire holding the parity a.x multiplies the state by
// omega^(2 a.x), and 2 (a.x) = 2 sum_i a_i x_i + 4 sum_(i<k) a_i a_k x_i x_k
// (mod 8): S on each wire of a, and a CZ on every pair of them. So an S (or
// an S-dagger, or a T turned into a T-dagger, which adds an S-dagger) where
// a circuit's wire holds a parity of weight two or more writes the CZ gates
// of all its pairs, up to S powers on single inputs. A set of CZ gates
// (a graph on the inputs) is then the sum, over GF(2), of the complete graphs
// of some parities the circuit visits anyway, where that sum reaches it: for
// `cx q[0],q[1]; t q[1]; cx q[0],q[1];` (x0 + x1 on wire 1) the gate
// `cz q[0],q[1]` becomes the t turned into a tdg and an s on each of wires
// 0 and 1 at the start.
//
// The parities are those the wires hold after each cx (a T or T-dagger
// there is changed in place; elsewhere an S-dagger is added after the cx);
// the graphs are combined by Gaussian elimination over the pairs, taking the
// parities in order until the CZ gates are reached or its counted work (words
// read or written) or the words its rows hold pass fixed bounds, so the
// result is the same on every machine; its cost grows with the rank (at most
// the number of pairs), not with the number of parities. Then, over all the
// parities, one is added or taken out wherever that leaves fewer pairs (three
// passes at most, none once no pair is left). Only a combination that leaves
// fewer CZ gates than it was given is used.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/timing/deadline.h"

namespace kestrel {

struct CzAbsorption {
  std::vector<PlacedGate> gates;                              // the circuit, phase gates changed or added
  std::vector<std::pair<std::uint32_t, std::uint32_t>> cz;    // the CZ gates left, to write at the start
  std::vector<std::uint8_t> s_powers;                         // per wire: S powers to add at the start, 0 to 3
};

// The CZ gates `cz` (pairs of wires below `wires`, each pair once) folded
// into `gates`, a circuit of cx and one-qubit diagonal gates on wires 0 to
// wires - 1 that starts with each wire at its input; the result is the same
// operator as the CZ gates followed by `gates`: the left CZ gates, the S
// powers, then the new gates. Faults on any other gate. Once `deadline`
// has passed (read every 64 parities), the search stops with what it has
// combined so far, used only if it leaves fewer CZ gates.
CzAbsorption absorb_cz(std::uint32_t wires, std::span<const PlacedGate> gates,
                       std::span<const std::pair<std::uint32_t, std::uint32_t>> cz,
                       const Deadline& deadline = {});

}  // namespace kestrel
