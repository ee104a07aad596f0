// The frame's gate updates, each G^-1 P G of the gate's Pauli images
// written as a product of the old rows: H exchanges X and Z; S^-1 X S = -iXZ
// and S X S^-1 = iXZ; X, Y and Z negate the rows they anticommute with;
// CX takes X_c to X_c X_t and Z_t to Z_c Z_t; CZ takes X_a to X_a Z_b.
#include "src/pauli/tableau.h"

#include <algorithm>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {

Tableau::Tableau(std::uint32_t qubits)
    : qubits_(qubits),
      words_(pauli_words(qubits)),
      rows_(2 * std::size_t{qubits} * 2 * words_, 0),
      phases_(2 * std::size_t{qubits}, 0) {
  for (std::uint32_t q = 0; q < qubits; ++q) {
    const std::uint64_t bit = std::uint64_t{1} << (q % 64);
    row(2 * q)[q / 64] = bit;                   // X_q: its X half
    row(2 * q + 1)[words_ + q / 64] = bit;      // Z_q: its Z half
  }
}

void Tableau::swap_rows(std::size_t r, std::size_t s) {
  std::swap_ranges(row(r), row(r) + 2 * words_, row(s));
  std::swap(phases_[r], phases_[s]);
}

void Tableau::apply(CliffordGate gate, std::uint32_t a, std::uint32_t b) {
  checked_index(qubits_, a);
  const std::size_t xa = 2 * std::size_t{a}, za = xa + 1;
  const auto negate = [&](std::size_t r) { phases_[r] = (phases_[r] + 2) & 3; };
  switch (gate) {
    case CliffordGate::H: swap_rows(xa, za); return;
    case CliffordGate::S:
    case CliffordGate::Sdg: {
      const std::uint8_t k = multiply(row(xa), phases_[xa], row(za), phases_[za], row(xa), words_);
      phases_[xa] = (k + (gate == CliffordGate::S ? 3 : 1)) & 3;  // times -i or i
      return;
    }
    case CliffordGate::X: negate(za); return;
    case CliffordGate::Y: negate(xa); negate(za); return;
    case CliffordGate::Z: negate(xa); return;
    case CliffordGate::CX:
    case CliffordGate::CZ:
    case CliffordGate::Swap: break;
  }
  checked_index(qubits_, b);
  check(a != b, "a two-qubit gate names two qubits");
  const std::size_t xb = 2 * std::size_t{b}, zb = xb + 1;
  switch (gate) {
    case CliffordGate::CX:
      phases_[xa] = multiply(row(xa), phases_[xa], row(xb), phases_[xb], row(xa), words_);
      phases_[zb] = multiply(row(za), phases_[za], row(zb), phases_[zb], row(zb), words_);
      return;
    case CliffordGate::CZ:
      phases_[xa] = multiply(row(xa), phases_[xa], row(zb), phases_[zb], row(xa), words_);
      phases_[xb] = multiply(row(za), phases_[za], row(xb), phases_[xb], row(xb), words_);
      return;
    case CliffordGate::Swap:
      swap_rows(xa, xb);
      swap_rows(za, zb);
      return;
    default: fault("internal error: entered unreachable code");
  }
}

}  // namespace kestrel
