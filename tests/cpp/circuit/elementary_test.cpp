// The gate table's exact matrices against the textbook's. (What the Pauli
// images and the step-back table make of every product is held to these
// matrices by DiagonaliseTest.ConjugationByEachGateAgreesWithDenseMatrices;
// the diagonal powers by the phase joining's dense checks.)
#include "src/circuit/elementary.h"

#include <gtest/gtest.h>

#include <complex>
#include <numbers>

#include "tests/model/matrices.h"

namespace kestrel {
namespace {

using model::Complex;

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
    const model::Matrix m = model::elementary_matrix(gate);
    ASSERT_EQ(m.entries.size(), entries.size()) << elementary_info(gate).qasm_name;
    for (std::size_t k = 0; k < entries.size(); ++k) {
      EXPECT_LT(std::abs(m.entries[k] - entries[k]), 1e-15) << elementary_info(gate).qasm_name << " " << k;
    }
  }
}

}  // namespace
}  // namespace kestrel
