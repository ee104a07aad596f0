// The gate table against itself and against the textbook: each gate's
// exact matrix is the one every text gives it, and its Pauli images, its
// step-back table and its diagonal power are what that matrix does.
#include "src/circuit/elementary.h"

#include <gtest/gtest.h>

#include <array>
#include <complex>
#include <numbers>

#include "tests/model/matrices.h"

namespace kestrel {
namespace {

using model::Complex;
using model::Matrix;

// i^phase X_a^(bit 0) Z_a^(bit 1) X_b^(bit 2) Z_b^(bit 3) on two qubits.
Matrix pauli(GatePauli p) {
  const Matrix x = model::two_by_two(0, 1, 1, 0), z = model::two_by_two(1, 0, 0, -1);
  const std::array<std::uint32_t, 1> a = {0}, b = {1};
  Matrix m = Matrix::identity(4);
  const Matrix factors[] = {model::on_operands(2, a, x), model::on_operands(2, a, z),
                            model::on_operands(2, b, x), model::on_operands(2, b, z)};
  for (int k = 3; k >= 0; --k) {
    if ((p.bits >> k) & 1) m = model::times(factors[k], m);
  }
  return model::scaled(std::pow(Complex(0, 1), static_cast<int>(p.phase)), m);
}

Matrix adjoint(Matrix m) {
  Matrix out = m;
  for (std::size_t r = 0; r < m.side; ++r) {
    for (std::size_t c = 0; c < m.side; ++c) out.at(r, c) = std::conj(m.at(c, r));
  }
  return out;
}

// The gate's matrix on two qubits (a one-qubit gate on qubit a).
Matrix on_two(Elementary g) {
  const std::array<std::uint32_t, 2> ab = {0, 1};
  return model::on_operands(2, std::span(ab.data(), elementary_info(g).qubits),
                            model::elementary_matrix(g));
}

TEST(GateTable, MatricesAreTheTextbooks) {
  const double r = 1 / std::numbers::sqrt2;
  const Complex i(0, 1), w = std::polar(1.0, std::numbers::pi / 4);
  const std::pair<Elementary, std::vector<Complex>> cases[] = {
      {Elementary::H, {r, r, r, -r}},
      {Elementary::S, {1, 0, 0, i}},
      {Elementary::Sdg, {1, 0, 0, -i}},
      {Elementary::T, {1, 0, 0, w}},
      {Elementary::Tdg, {1, 0, 0, std::conj(w)}},
      {Elementary::X, {0, 1, 1, 0}},
      {Elementary::Y, {0, -i, i, 0}},
      {Elementary::Z, {1, 0, 0, -1}},
      // Basis index a + 2b, a the control.
      {Elementary::CX, {1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0}},
      {Elementary::CZ, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1}},
      {Elementary::Swap, {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}},
  };
  for (const auto& [gate, entries] : cases) {
    const Matrix m = model::elementary_matrix(gate);
    ASSERT_EQ(m.entries.size(), entries.size()) << elementary_info(gate).qasm_name;
    for (std::size_t k = 0; k < entries.size(); ++k) {
      EXPECT_LT(std::abs(m.entries[k] - entries[k]), 1e-15) << elementary_info(gate).qasm_name << " " << k;
    }
  }
}

TEST(GateTable, ImagesAndStepsAreWhatTheMatricesDo) {
  for (std::size_t g = 0; g < kElementary.size(); ++g) {
    const auto gate = static_cast<Elementary>(g);
    const ElementaryInfo& info = elementary_info(gate);
    SCOPED_TRACE(info.qasm_name);
    const Matrix m = on_two(gate);
    EXPECT_EQ(info.clifford, !info.t && !is_rotation(gate));
    if (info.clifford) {
      // G^-1 P G for every product on the two qubits.
      for (std::uint8_t bits = 0; bits < 16; ++bits) {
        const Matrix image = model::times(adjoint(m), model::times(pauli({bits, 0}), m));
        EXPECT_TRUE(model::equal_up_to(image, pauli(kStepBack[g][bits]), 0)) << int(bits);
      }
      for (std::uint8_t k = 0; k < 4; ++k) EXPECT_EQ(kStepBack[g][1u << k], info.back[k]);
    }
    // A diagonal gate is diag(1, e^(i r pi/4)) = e^(i r pi/8) exp(-i r pi/8 Z).
    if (info.diagonal != kNotDiagonal) {
      const double angle = info.diagonal * std::numbers::pi / 8;
      const Matrix rotation = model::two_by_two(std::polar(1.0, -angle), 0, 0, std::polar(1.0, angle));
      EXPECT_TRUE(model::equal_up_to(model::elementary_matrix(gate), rotation, info.diagonal));
    }
  }
}

}  // namespace
}  // namespace kestrel
