// The plain model the gf2 tests hold networks of cx, cz and phase gates to:
// such a network sends each basis state x to a basis state with a phase, so
// playing it on x (wires as bits, the phase in eighths of 2 pi) gives its
// whole action; and the phase polynomial such a network must write.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// A table of terms c_j (a_j . x): the polynomial a parity network writes.
struct Table {
  explicit Table(std::uint32_t qubits) : n(qubits) {}

  std::uint32_t n;
  std::vector<std::uint64_t> columns;      // (n + 63) / 64 words per term
  std::vector<std::uint8_t> coefficients;  // per term

  std::size_t words() const { return (n + 63) / 64; }
  void add(const std::vector<std::uint32_t>& qubits, std::uint8_t c) {
    const std::size_t at = columns.size();
    columns.resize(at + words(), 0);
    for (std::uint32_t q : qubits) columns[at + q / 64] ^= std::uint64_t{1} << (q % 64);
    coefficients.push_back(c);
  }
  void add_ccz(std::uint32_t i, std::uint32_t j, std::uint32_t k) {
    add({i}, 1), add({j}, 1), add({k}, 1), add({i, j}, 7), add({i, k}, 7), add({j, k}, 7);
    add({i, j, k}, 1);
  }
  void add_word(std::uint64_t parity, std::uint8_t c) {  // n <= 64
    columns.push_back(parity);
    coefficients.push_back(c);
  }
  // The phase the table gives basis state x (as `play` takes), in eighths.
  template <class Wires>
  unsigned phase(const Wires& x) const {
    std::vector<std::uint64_t> packed(words(), 0);
    for (std::uint32_t q = 0; q < n; ++q) packed[q / 64] |= std::uint64_t{x[q] ? 1u : 0u} << (q % 64);
    unsigned sum = 0;
    for (std::size_t p = 0; p < coefficients.size(); ++p) {
      std::uint64_t meet = 0;
      for (std::size_t w = 0; w < words(); ++w) meet ^= columns[p * words() + w] & packed[w];
      sum += __builtin_parityll(meet) ? coefficients[p] : 0;
    }
    return sum % 8;
  }
};

inline std::size_t cx_in(const std::vector<PlacedGate>& gates) {
  return std::count_if(gates.begin(), gates.end(), [](const PlacedGate& g) { return g.gate == Elementary::CX; });
}

}  // namespace kestrel::testing
