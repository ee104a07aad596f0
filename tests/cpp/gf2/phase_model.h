// The plain model the gf2 tests hold networks of cx, cz and phase gates to:
// such a network sends each basis state x to a basis state with a phase, so
// playing it on x (wires as bits, the phase in eighths of 2 pi) gives its
// whole action.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel::testing {

// Plays `gates` on the basis state in `wires` (bit q: wire q; a
// std::vector<bool> or a std::bitset), leaves the wires' final bits there
// and returns the phase.
template <class Wires>
unsigned play(const std::vector<PlacedGate>& gates, Wires& wires) {
  unsigned phase = 0;
  for (const PlacedGate& g : gates) {
    const bool two = g.gate == Elementary::CX || g.gate == Elementary::CZ;
    if (g.a >= wires.size() || (two && g.b >= wires.size())) {
      ADD_FAILURE() << "a gate outside the wires";
      return 0;
    }
    const unsigned on = wires[g.a] ? 1 : 0;
    switch (g.gate) {
      case Elementary::CX: wires[g.b] = wires[g.b] != wires[g.a]; break;
      case Elementary::CZ: phase += wires[g.b] ? 4 * on : 0; break;
      case Elementary::T: phase += on; break;
      case Elementary::S: phase += 2 * on; break;
      case Elementary::Z: phase += 4 * on; break;
      case Elementary::Sdg: phase += 6 * on; break;
      case Elementary::Tdg: phase += 7 * on; break;
      default: ADD_FAILURE() << "a gate that is neither cx, cz nor a phase gate";
    }
  }
  return phase % 8;
}

inline std::size_t cx_in(const std::vector<PlacedGate>& gates) {
  return std::count_if(gates.begin(), gates.end(), [](const PlacedGate& g) { return g.gate == Elementary::CX; });
}

}  // namespace kestrel::testing
