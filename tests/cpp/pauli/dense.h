// Circuits on a few qubits as dense unitary matrices: the plain model the
// tests check the Clifford frame and the whole-program methods against, its
// gates taken from the shared model of tests/model/matrices.h, and random
// Clifford products applied to a frame and to a matrix alike.
//
// Qubit q is bit q of a basis state's index. Every gate multiplies the
// matrix on the left, so after h q[0]; t q[0]; the matrix is T H.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "src/circuit/elementary.h"
#include "tests/model/matrices.h"

namespace kestrel::testing {

using Complex = std::complex<double>;
using Gate1 = std::array<Complex, 4>;  // row-major 2x2

inline const Complex kI{0, 1};
// The one-qubit gates, from the shared model (tests/model/matrices.h).
inline Gate1 one_qubit(const model::Matrix& m) { return {m.at(0, 0), m.at(0, 1), m.at(1, 0), m.at(1, 1)}; }
inline Gate1 library_gate_matrix(QasmGate gate, double angle = 0) {
  return one_qubit(*model::library_matrix(gate, std::span(&angle, 1)));
}
inline Gate1 gate_h() { return library_gate_matrix(QasmGate::h); }
inline Gate1 phase_gate(double angle) { return library_gate_matrix(QasmGate::p, angle); }
inline Gate1 gate_x() { return library_gate_matrix(QasmGate::x); }
inline Gate1 gate_y() { return library_gate_matrix(QasmGate::y); }
inline Gate1 gate_z() { return library_gate_matrix(QasmGate::z); }
inline Gate1 gate_rx(double a) {  // exp(-i a X), a gate no Clifford frame follows
  return library_gate_matrix(QasmGate::rx, 2 * a);
}

class Dense {
 public:
  explicit Dense(int qubits) : qubits_(qubits), dim_(std::size_t{1} << qubits), m_(dim_ * dim_) {
    for (std::size_t i = 0; i < dim_; ++i) at(i, i) = 1;
  }

  Complex& at(std::size_t r, std::size_t c) { return m_[r * dim_ + c]; }
  Complex at(std::size_t r, std::size_t c) const { return m_[r * dim_ + c]; }
  std::size_t dim() const { return dim_; }

  // Multiplies by a one-qubit gate on qubit q from the left.
  void apply(const Gate1& g, int q) {
    const std::size_t bit = std::size_t{1} << q;
    for (std::size_t c = 0; c < dim_; ++c) {
      for (std::size_t r = 0; r < dim_; ++r) {
        if (r & bit) continue;
        const Complex a = at(r, c), b = at(r | bit, c);
        at(r, c) = g[0] * a + g[1] * b;
        at(r | bit, c) = g[2] * a + g[3] * b;
      }
    }
  }
  // Multiplies by a gate controlled on qubit c, acting with g on qubit t.
  void apply_controlled(const Gate1& g, int control, int target) {
    const std::size_t cbit = std::size_t{1} << control, tbit = std::size_t{1} << target;
    for (std::size_t c = 0; c < dim_; ++c) {
      for (std::size_t r = 0; r < dim_; ++r) {
        if (!(r & cbit) || (r & tbit)) continue;
        const Complex a = at(r, c), b = at(r | tbit, c);
        at(r, c) = g[0] * a + g[1] * b;
        at(r | tbit, c) = g[2] * a + g[3] * b;
      }
    }
  }
  void apply_swap(int a, int b) {
    apply_controlled(gate_x(), a, b);
    apply_controlled(gate_x(), b, a);
    apply_controlled(gate_x(), a, b);
  }

  // this = e^(i phase) other, entry by entry.
  bool equals(const Dense& other, double phase = 0) const {
    const Complex factor = std::exp(kI * phase);
    for (std::size_t k = 0; k < m_.size(); ++k) {
      if (std::abs(m_[k] - factor * other.m_[k]) > 1e-9) return false;
    }
    return true;
  }

  // The matrix of i^k X^x Z^z over `qubits` qubits, from a packed row whose
  // halves are one word each.
  static Dense pauli(int qubits, const std::uint64_t* row, std::uint8_t k) {
    Dense p(qubits);
    for (std::size_t i = 0; i < p.dim_ * p.dim_; ++i) p.m_[i] = 0;
    const Complex phase = std::pow(kI, static_cast<int>(k));
    for (std::size_t b = 0; b < p.dim_; ++b) {
      const int sign = __builtin_parityll(row[1] & b) ? -1 : 1;  // Z^z |b>
      p.at(b ^ row[0], b) = phase * static_cast<double>(sign);   // then X^x
    }
    return p;
  }

  Dense times(const Dense& o) const {
    Dense out(qubits_);
    for (std::size_t r = 0; r < dim_; ++r) {
      for (std::size_t c = 0; c < dim_; ++c) {
        Complex sum = 0;
        for (std::size_t k = 0; k < dim_; ++k) sum += at(r, k) * o.at(k, c);
        out.at(r, c) = sum;
      }
    }
    return out;
  }
  Dense adjoint() const {
    Dense out(qubits_);
    for (std::size_t r = 0; r < dim_; ++r) {
      for (std::size_t c = 0; c < dim_; ++c) out.at(r, c) = std::conj(at(c, r));
    }
    return out;
  }

 private:
  int qubits_;
  std::size_t dim_;
  std::vector<Complex> m_;
};

// The Clifford gates of the gate table.
inline constexpr Elementary kCliffordGates[] = {
    Elementary::H, Elementary::S,  Elementary::Sdg, Elementary::X,   Elementary::Y,
    Elementary::Z, Elementary::CX, Elementary::CZ,  Elementary::Swap};

// Applies the gate g of the gate table on qubits a (and b), turned by
// `angle` if a rotation, its matrix taken from the shared model, not from
// the table.
inline void apply_elementary(Dense& d, Elementary g, int a, int b = 0, double angle = 0) {
  switch (g) {
    case Elementary::H: d.apply(gate_h(), a); break;
    case Elementary::S: d.apply(phase_gate(std::numbers::pi / 2), a); break;
    case Elementary::Sdg: d.apply(phase_gate(-std::numbers::pi / 2), a); break;
    case Elementary::T: d.apply(phase_gate(std::numbers::pi / 4), a); break;
    case Elementary::Tdg: d.apply(phase_gate(-std::numbers::pi / 4), a); break;
    case Elementary::X: d.apply(gate_x(), a); break;
    case Elementary::Y: d.apply(gate_y(), a); break;
    case Elementary::Z: d.apply(gate_z(), a); break;
    case Elementary::CX: d.apply_controlled(gate_x(), a, b); break;
    case Elementary::CZ: d.apply_controlled(gate_z(), a, b); break;
    case Elementary::Swap: d.apply_swap(a, b); break;
    case Elementary::Rz: d.apply(library_gate_matrix(QasmGate::rz, angle), a); break;
    case Elementary::Rx: d.apply(library_gate_matrix(QasmGate::rx, angle), a); break;
    case Elementary::Ry: d.apply(library_gate_matrix(QasmGate::ry, angle), a); break;
  }
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
