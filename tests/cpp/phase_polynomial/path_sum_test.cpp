// The sum over paths of random circuits of the gates it takes (every gate of
// the table but h and the rotations of other angles) against their dense
// matrices: column x must be omega^F(x) at row A x + c, with A and c the
// wires' functions and F the polynomial with its constant.
#include "src/phase_polynomial/path_sum.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "engine/fault.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel {
namespace {

using testing::Complex;
using testing::Dense;

// F(x): the constant plus each term's coefficient where its parity of x is 1.
int polynomial_at(const PathSum& sum, std::uint64_t x) {
  int value = sum.phase();
  const PhasePolynomial& f = sum.polynomial();
  for (std::size_t j = 0; j < f.terms(); ++j) value += std::popcount(f.parity(j)[0] & x) % 2 * f.coefficient(j);
  return value;
}

// The wires' values A x + c, as a basis index.
std::uint64_t wires_at(const PathSum& sum, std::uint64_t x) {
  std::uint64_t out = 0;
  for (std::uint32_t w = 0; w < sum.wires(); ++w) {
    const bool bit = (std::popcount(sum.wire(w)[0] & x) % 2 != 0) != sum.constant(w);
    out |= std::uint64_t{bit} << w;
  }
  return out;
}

TEST(PathSumTest, RandomCircuitsMatchTheirMatrices) {
  constexpr Elementary kGates[] = {Elementary::T, Elementary::Tdg, Elementary::S,  Elementary::Sdg,
                                   Elementary::Z, Elementary::X,   Elementary::Y,  Elementary::CX,
                                   Elementary::CZ, Elementary::Swap};
  constexpr std::uint32_t kWires = 3;
  std::mt19937 rng(39);
  for (int trial = 0; trial < 200; ++trial) {
    PathSum sum(kWires);
    Dense dense(kWires);
    for (int k = 0; k < 12; ++k) {
      const Elementary g = kGates[rng() % std::size(kGates)];
      const std::uint32_t a = rng() % kWires, b = (a + 1 + rng() % (kWires - 1)) % kWires;
      sum.apply(g, a, b);
      testing::apply_elementary(dense, g, static_cast<int>(a), static_cast<int>(b));
    }
    for (std::uint64_t x = 0; x < dense.dim(); ++x) {
      const std::uint64_t row = wires_at(sum, x);
      const Complex want = std::exp(testing::kI * (std::numbers::pi / 4 * polynomial_at(sum, x)));
      for (std::uint64_t r = 0; r < dense.dim(); ++r) {
        ASSERT_LT(std::abs(dense.at(r, x) - (r == row ? want : Complex{0})), 1e-9)
            << "trial " << trial << ", column " << x << ", row " << r;
      }
    }
  }
}

TEST(PathSumTest, AHadamardOrRotationIsAFault) {
  PathSum sum(2);
  for (Elementary g : {Elementary::H, Elementary::Rz, Elementary::Rx, Elementary::Ry}) {
    EXPECT_THROW(sum.apply(g, 0), Fault) << elementary_info(g).qasm_name;
  }
}

}  // namespace
}  // namespace kestrel
