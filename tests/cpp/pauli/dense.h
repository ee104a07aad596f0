// Circuits on a few qubits as dense unitary matrices: the plain model the
// tests check the Clifford frame and the whole-program methods against, its
// gates applied with the shared model of tests/model/matrices.h, and random
// Clifford products applied to a frame and to a matrix alike.
//
// Qubit q is bit q of a basis state's index. Every gate multiplies the
// matrix on the left, so after h q[0]; t q[0]; the matrix is T H.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "src/circuit/elementary.h"
#include "tests/model/matrices.h"

namespace kestrel::testing {

using model::Complex;

inline const Complex kI{0, 1};
// Library gates by their definitions (tests/model/matrices.h).
inline model::Matrix library_gate(QasmGate gate, double angle = 0) {
  return *model::library_matrix(gate, std::span(&angle, 1));
}
inline model::Matrix gate_h() { return library_gate(QasmGate::h); }
inline model::Matrix phase_gate(double angle) { return library_gate(QasmGate::p, angle); }
inline model::Matrix gate_rx(double a) {  // exp(-i a X), a gate no Clifford frame follows
  return library_gate(QasmGate::rx, 2 * a);
}

// A model matrix of `qubits` qubits, the identity to start with.
struct Dense : model::Matrix {
  explicit Dense(int qubits) : model::Matrix(model::Matrix::identity(std::size_t{1} << qubits)) {}
  explicit Dense(model::Matrix m) : model::Matrix(std::move(m)) {}

  std::size_t dim() const { return side; }

  // Multiplies from the left by `g`, its operand j on qubit on[j].
  void apply(const model::Matrix& g, const std::vector<std::uint32_t>& on) { model::apply_left(*this, on, g); }
  void apply(const model::Matrix& g, int q) { apply(g, std::vector{static_cast<std::uint32_t>(q)}); }

  // this = e^(i phase) other, entry by entry.
  bool equals(const Dense& other, double phase = 0) const {
    const Complex factor = std::exp(kI * phase);
    for (std::size_t k = 0; k < entries.size(); ++k) {
      if (std::abs(entries[k] - factor * other.entries[k]) > 1e-9) return false;
    }
    return true;
  }

  // The matrix of i^k X^x Z^z over `qubits` qubits, from a packed row whose
  // halves are one word each.
  static Dense pauli(int qubits, const std::uint64_t* row, std::uint8_t k) {
    Dense p(model::Matrix{std::size_t{1} << qubits, std::vector<Complex>(std::size_t{1} << (2 * qubits))});
    const Complex phase = std::pow(kI, static_cast<int>(k));
    for (std::size_t b = 0; b < p.dim(); ++b) {
      const int sign = __builtin_parityll(row[1] & b) ? -1 : 1;  // Z^z |b>
      p.at(b ^ row[0], b) = phase * static_cast<double>(sign);   // then X^x
    }
    return p;
  }

  Dense times(const Dense& o) const { return Dense(model::times(*this, o)); }
  Dense adjoint() const {
    Dense out(*this);
    for (std::size_t r = 0; r < dim(); ++r) {
      for (std::size_t c = 0; c < dim(); ++c) out.at(r, c) = std::conj(at(c, r));
    }
    return out;
  }
};

// The Clifford gates of the gate table.
inline constexpr Elementary kCliffordGates[] = {
    Elementary::H, Elementary::S,  Elementary::Sdg, Elementary::X,   Elementary::Y,
    Elementary::Z, Elementary::CX, Elementary::CZ,  Elementary::Swap};

// Applies the gate g of the gate table on qubits a (and b), turned by
// `angle` if a rotation: its matrix the shared model's, whose entries
// elementary_test holds to the textbook's.
inline void apply_elementary(Dense& d, Elementary g, int a, int b = 0, double angle = 0) {
  const auto qa = static_cast<std::uint32_t>(a), qb = static_cast<std::uint32_t>(b);
  const std::vector<std::uint32_t> on = elementary_info(g).qubits == 2 ? std::vector{qa, qb} : std::vector{qa};
  d.apply(model::placed_matrix({g, qa, qb, angle}), on);
}

// Applies `length` Clifford gates drawn by `rng` to `frame` (a Tableau or an
// InverseTableau, anything with apply(gate, a, b)) on `qubits` qubits, at
// least two; returns their product as a matrix.
template <class Frame>
Dense random_cliffords(std::mt19937& rng, int qubits, int length, Frame& frame) {
  Dense c(qubits);
  for (int k = 0; k < length; ++k) {
    const Elementary g = kCliffordGates[rng() % std::size(kCliffordGates)];
    const int a = static_cast<int>(rng() % qubits);
    const int b = (a + 1 + static_cast<int>(rng() % (qubits - 1))) % qubits;
    frame.apply(g, a, b);
    apply_elementary(c, g, a, b);
  }
  return c;
}

}  // namespace kestrel::testing
