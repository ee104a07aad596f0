// The reference model of gates that the C++ tests and the fuzz targets
// check the optimisers against: each gate's matrix as its definition gives
// it, the plain arithmetic of applying matrices to states, and the product
// of a list of placed gates.
//
// The elementary gates' matrices come from the gate table
// (src/circuit/elementary.h), where they are written exactly; every other
// gate of the library has its matrix built here from its definition, never
// from the decompositions the methods use: rz(t) = diag(e^(-it/2), e^(it/2)),
// ccx = X controlled by two qubits, rccx and rc3x the products of their
// circuits in qelib1.inc. Operand j of a gate is bit j of a basis index, so
// for cx (control 0, target 1) column 1 (|control=1, target=0>) holds its 1
// in row 3. The matrices follow Qiskit's conventions, global phase included.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/circuit/op.h"
#include "src/program/library.h"

namespace kestrel::model {

using Complex = std::complex<double>;
using State = std::vector<Complex>;  // basis index: bit q is qubit q

// A square matrix of side 2^k, row-major.
struct Matrix {
  std::size_t side = 0;
  std::vector<Complex> entries;

  static Matrix identity(std::size_t side) {
    Matrix m{side, std::vector<Complex>(side * side)};
    for (std::size_t k = 0; k < side; ++k) m.at(k, k) = 1;
    return m;
  }
  Complex& at(std::size_t row, std::size_t col) { return entries[row * side + col]; }
  Complex at(std::size_t row, std::size_t col) const { return entries[row * side + col]; }
};

inline Matrix two_by_two(Complex a, Complex b, Complex c, Complex d) { return {2, {a, b, c, d}}; }

// a b: b first, then a.
inline Matrix times(const Matrix& a, const Matrix& b) {
  Matrix out{a.side, std::vector<Complex>(a.side * a.side)};
  for (std::size_t r = 0; r < a.side; ++r) {
    for (std::size_t k = 0; k < a.side; ++k) {
      if (a.at(r, k) == Complex(0)) continue;
      for (std::size_t c = 0; c < a.side; ++c) out.at(r, c) += a.at(r, k) * b.at(k, c);
    }
  }
  return out;
}

inline Matrix scaled(Complex factor, Matrix m) {
  for (Complex& e : m.entries) e *= factor;
  return m;
}

// Whether a = e^(i eighths pi/8) b, entry by entry.
inline bool equal_up_to(const Matrix& a, const Matrix& b, int eighths, double tolerance = 1e-9) {
  const Complex factor = std::polar(1.0, eighths * std::numbers::pi / 8);
  if (a.side != b.side) return false;
  for (std::size_t k = 0; k < a.entries.size(); ++k) {
    if (std::abs(a.entries[k] - factor * b.entries[k]) > tolerance) return false;
  }
  return true;
}

// The matrix of elementary gate `gate`, from the table's exact entries.
inline Matrix elementary_matrix(Elementary gate) {
  const ElementaryInfo& info = elementary_info(gate);
  const std::size_t side = std::size_t{1} << info.qubits;
  Matrix m{side, std::vector<Complex>(side * side)};
  for (std::size_t k = 0; k < side * side; ++k) {
    const MatrixEntry e = info.matrix[k];
    if (e.omega < 0) continue;
    m.entries[k] = std::polar(std::pow(std::numbers::sqrt2, -e.halves), e.omega * std::numbers::pi / 4);
  }
  return m;
}

// The matrix of a run gate (OpKind::H to OpKind::Z), by its OpenQASM name.
inline Matrix run_gate_matrix(OpKind gate) {
  for (std::size_t k = 0; k < kElementary.size(); ++k) {
    if (kElementary[k].qasm_name == kind_info(gate).qasm_name) {
      return elementary_matrix(static_cast<Elementary>(k));
    }
  }
  return {};
}

// `u` on the last operand when the `controls` operands before it all hold 1.
inline Matrix controlled(std::size_t controls, const Matrix& u) {
  const std::size_t shift = controls;  // the operands of u start at bit `controls`
  const std::size_t mask = (std::size_t{1} << controls) - 1;
  Matrix m = Matrix::identity(u.side << controls);
  for (std::size_t r = 0; r < u.side; ++r) {
    for (std::size_t c = 0; c < u.side; ++c) m.at(mask | (r << shift), mask | (c << shift)) = u.at(r, c);
  }
  return m;
}

// Applies `m` to `qubits` of `state` (operand j of the matrix is qubits[j]).
inline void apply(State& state, std::span<const std::uint32_t> qubits, const Matrix& m) {
  std::size_t mask = 0;
  std::vector<std::size_t> offset(m.side, 0);
  for (std::size_t j = 0; j < qubits.size(); ++j) mask |= std::size_t{1} << qubits[j];
  for (std::size_t index = 0; index < m.side; ++index) {
    for (std::size_t j = 0; j < qubits.size(); ++j) {
      if ((index >> j) & 1) offset[index] |= std::size_t{1} << qubits[j];
    }
  }
  std::vector<Complex> in(m.side);
  for (std::size_t base = 0; base < state.size(); ++base) {
    if ((base & mask) != 0) continue;
    for (std::size_t c = 0; c < m.side; ++c) in[c] = state[base + offset[c]];
    for (std::size_t r = 0; r < m.side; ++r) {
      Complex sum = 0;
      for (std::size_t c = 0; c < m.side; ++c) sum += m.at(r, c) * in[c];
      state[base + offset[r]] = sum;
    }
  }
}

// Multiplies `a` from the left by `m` on its operands `on` (on[j] takes
// m's operand j), one column at a time.
inline void apply_left(Matrix& a, std::span<const std::uint32_t> on, const Matrix& m) {
  State column(a.side);
  for (std::size_t c = 0; c < a.side; ++c) {
    for (std::size_t r = 0; r < a.side; ++r) column[r] = a.at(r, c);
    apply(column, on, m);
    for (std::size_t r = 0; r < a.side; ++r) a.at(r, c) = column[r];
  }
}

// The matrix of `m` on operands `on` of a gate of `operands` operands: the
// unitary of applying m to those (on[j] takes m's operand j).
inline Matrix on_operands(std::size_t operands, std::span<const std::uint32_t> on, const Matrix& m) {
  Matrix out = Matrix::identity(std::size_t{1} << operands);
  apply_left(out, on, m);
  return out;
}

namespace detail {

inline Matrix e(Elementary g) { return elementary_matrix(g); }

inline Matrix u3(double theta, double phi, double lambda) {
  const double c = std::cos(theta / 2), s = std::sin(theta / 2);
  return two_by_two(c, -std::polar(s, lambda), std::polar(s, phi), std::polar(c, phi + lambda));
}
inline Matrix phase(double lambda) { return two_by_two(1, 0, 0, std::polar(1.0, lambda)); }
inline Matrix rx(double t) {
  const Complex i(0, 1);
  return two_by_two(std::cos(t / 2), -i * std::sin(t / 2), -i * std::sin(t / 2), std::cos(t / 2));
}
inline Matrix ry(double t) {
  return two_by_two(std::cos(t / 2), -std::sin(t / 2), std::sin(t / 2), std::cos(t / 2));
}
inline Matrix rz(double t) { return two_by_two(std::polar(1.0, -t / 2), 0, 0, std::polar(1.0, t / 2)); }
inline Matrix sx() {
  const Complex p(0.5, 0.5), q(0.5, -0.5);
  return two_by_two(p, q, q, p);
}
inline Matrix swap() { return elementary_matrix(Elementary::Swap); }

// The product of gates on `operands` operands, first gate first: each a
// matrix and the operands it takes.
struct Step {
  Matrix matrix;
  std::vector<std::uint32_t> on;
};
inline Matrix circuit(std::size_t operands, const std::vector<Step>& steps) {
  Matrix m = Matrix::identity(std::size_t{1} << operands);
  for (const Step& s : steps) apply_left(m, s.on, s.matrix);
  return m;
}

}  // namespace detail

// The matrix of library gate `gate` with parameter values `params` (as many
// as it takes), by its definition; nothing for None.
inline std::optional<Matrix> library_matrix(QasmGate gate, std::span<const double> params) {
  using namespace detail;
  using E = Elementary;
  const auto p = [&](std::size_t k) { return k < params.size() ? params[k] : 0.0; };
  const double pi = std::numbers::pi;
  switch (gate) {
    case QasmGate::None: return std::nullopt;
    case QasmGate::U: case QasmGate::u3: case QasmGate::u: return u3(p(0), p(1), p(2));
    case QasmGate::u2: return u3(pi / 2, p(0), p(1));
    case QasmGate::u1: case QasmGate::p: return phase(p(0));
    case QasmGate::id: case QasmGate::u0: return Matrix::identity(2);
    case QasmGate::CX: case QasmGate::cx: return e(E::CX);
    case QasmGate::x: return e(E::X);
    case QasmGate::y: return e(E::Y);
    case QasmGate::z: return e(E::Z);
    case QasmGate::h: return e(E::H);
    case QasmGate::s: return e(E::S);
    case QasmGate::sdg: return e(E::Sdg);
    case QasmGate::t: return e(E::T);
    case QasmGate::tdg: return e(E::Tdg);
    case QasmGate::rx: return rx(p(0));
    case QasmGate::ry: return ry(p(0));
    case QasmGate::rz: return rz(p(0));
    case QasmGate::sx: return sx();
    case QasmGate::sxdg: {
      Matrix m = sx();
      for (Complex& c : m.entries) c = std::conj(c);
      return m;
    }
    case QasmGate::cz: return e(E::CZ);
    case QasmGate::cy: return controlled(1, e(E::Y));
    case QasmGate::swap: return swap();
    case QasmGate::ch: return controlled(1, e(E::H));
    case QasmGate::ccx: return controlled(2, e(E::X));
    case QasmGate::cswap: return controlled(1, swap());
    case QasmGate::crx: return controlled(1, rx(p(0)));
    case QasmGate::cry: return controlled(1, ry(p(0)));
    case QasmGate::crz: return controlled(1, rz(p(0)));
    case QasmGate::cu1: case QasmGate::cp: return controlled(1, phase(p(0)));
    case QasmGate::cu3: return controlled(1, u3(p(0), p(1), p(2)));
    case QasmGate::csx: return controlled(1, sx());
    case QasmGate::cu: return controlled(1, scaled(std::polar(1.0, p(3)), u3(p(0), p(1), p(2))));
    case QasmGate::rxx: {
      const Complex c = std::cos(p(0) / 2), s = Complex(0, -std::sin(p(0) / 2));
      Matrix m = scaled(c, Matrix::identity(4));
      for (std::size_t k = 0; k < 4; ++k) m.at(k ^ 3, k) += s;
      return m;
    }
    case QasmGate::rzz: {
      Matrix m = Matrix::identity(4);
      for (std::size_t k = 0; k < 4; ++k) {
        m.at(k, k) = std::polar(1.0, ((k & 1) != ((k >> 1) & 1) ? 1 : -1) * p(0) / 2);
      }
      return m;
    }
    // The relative-phase Toffolis are defined by their circuits.
    case QasmGate::rccx:
      return circuit(3, {{e(E::H), {2}}, {phase(pi / 4), {2}}, {e(E::CX), {1, 2}},
                         {phase(-pi / 4), {2}}, {e(E::CX), {0, 2}}, {phase(pi / 4), {2}},
                         {e(E::CX), {1, 2}}, {phase(-pi / 4), {2}}, {e(E::H), {2}}});
    case QasmGate::rc3x:
      return circuit(4, {{e(E::H), {3}}, {phase(pi / 4), {3}}, {e(E::CX), {2, 3}},
                         {phase(-pi / 4), {3}}, {e(E::H), {3}}, {e(E::CX), {0, 3}},
                         {phase(pi / 4), {3}}, {e(E::CX), {1, 3}}, {phase(-pi / 4), {3}},
                         {e(E::CX), {0, 3}}, {phase(pi / 4), {3}}, {e(E::CX), {1, 3}},
                         {phase(-pi / 4), {3}}, {e(E::H), {3}}, {phase(pi / 4), {3}},
                         {e(E::CX), {2, 3}}, {phase(-pi / 4), {3}}, {e(E::H), {3}}});
    case QasmGate::c3x: return controlled(3, e(E::X));
    case QasmGate::c3sqrtx: return controlled(3, sx());
    case QasmGate::c4x: return controlled(4, e(E::X));
  }
  return std::nullopt;
}

// The matrix of a placed gate, a rotation turned by its angle.
inline Matrix placed_matrix(const PlacedGate& g) {
  switch (g.gate) {
    case Elementary::Rz: return detail::rz(g.angle);
    case Elementary::Rx: return detail::rx(g.angle);
    case Elementary::Ry: return detail::ry(g.angle);
    default: return elementary_matrix(g.gate);
  }
}

// The product of placed gates on `operands` operands, first gate first.
inline Matrix product(std::size_t operands, std::span<const PlacedGate> gates) {
  Matrix m = Matrix::identity(std::size_t{1} << operands);
  for (const PlacedGate& g : gates) {
    const std::uint32_t on[] = {g.a, g.b};
    apply_left(m, std::span(on, elementary_info(g.gate).qubits), placed_matrix(g));
  }
  return m;
}

}  // namespace kestrel::model
