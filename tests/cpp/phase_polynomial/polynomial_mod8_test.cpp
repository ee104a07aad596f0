// The Clifford difference of two polynomials checked by evaluating both on
// every input: f(x) = g(x) + 2 sum_i s_i x_i + 4 sum_cz x_i x_k (mod 8),
// with g's table taken from f's odd parities with sets of zero signature
// tensor toggled in or out. (Terms of one parity adding up, and the odd
// ones, are held to a plain evaluation by reduce_and_write_test, path_sum_test
// and rewrite_blocks_test, whose polynomials repeat parities.)
#include "src/phase_polynomial/polynomial_mod8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

int dot(std::uint64_t a, std::uint64_t x) { return std::popcount(a & x) & 1; }

// The 15 nonzero sums of four parities p_i have a zero signature tensor:
// for any three variables, the sums lambda . p that are 1 on all three are
// those of lambda meeting at most three linear conditions, an even number
// of the 16 (or none). So toggling such sets keeps the tensor of f's odd
// parities, and the difference must make up the rest.
TEST(PolynomialTest, ADifferenceOfOneSignatureIsTheCliffordThatMakesThemEqual) {
  std::mt19937_64 rng(3);
  int changed = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint32_t n = 4 + trial % 3;
    const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
    PhasePolynomial f(n);
    for (std::uint64_t a = 1; a <= mask; ++a) {
      if (rng() % 3 != 0) f.add(&a, static_cast<std::uint8_t>(rng() % 8));
    }
    std::vector<std::uint64_t> g = f.odd_parities();
    for (std::size_t sets = 1 + rng() % 2; sets-- > 0;) {
      const std::uint64_t p[4] = {rng() & mask, rng() & mask, rng() & mask, rng() & mask};
      for (unsigned lambda = 1; lambda < 16; ++lambda) {
        std::uint64_t v = 0;
        for (int i = 0; i < 4; ++i) v ^= (lambda >> i) & 1 ? p[i] : 0;
        const auto at = std::find(g.begin(), g.end(), v);
        if (v == 0) continue;
        if (at != g.end()) {
          g.erase(at);
        } else {
          g.push_back(v);
        }
      }
    }
    const std::vector<std::uint64_t> odd = f.odd_parities();
    changed += std::set(g.begin(), g.end()) != std::set(odd.begin(), odd.end());
    const DiagonalClifford d = clifford_difference(f, g);
    for (std::uint64_t x = 0; x <= mask; ++x) {
      int lhs = 0, rhs = 0;
      for (std::size_t j = 0; j < f.terms(); ++j) lhs += f.coefficient(j) * dot(*f.parity(j), x);
      for (std::uint64_t c : g) rhs += dot(c, x);
      for (std::uint32_t i = 0; i < n; ++i) rhs += 2 * d.s_powers[i] * ((x >> i) & 1);
      for (const auto& [i, k] : d.cz) rhs += 4 * (((x >> i) & 1) & ((x >> k) & 1));
      ASSERT_EQ(lhs & 7, rhs & 7) << "trial " << trial << ", x " << x;
    }
  }
  EXPECT_GT(changed, 200);
}

TEST(PolynomialTest, TablesOfAnotherSignatureAreAFault) {
  PhasePolynomial f(2);
  const std::uint64_t a = 0b01, b = 0b11;
  f.add(&a, 1);
  f.add(&b, 1);
  const std::vector<std::uint64_t> fewer = {a};
  EXPECT_THROW(clifford_difference(f, fewer), Fault);
}

// Under a deadline not yet passed the difference is the one without it;
// once it has passed, a polynomial of many terms gives none.
TEST(PolynomialTest, ADeadlineGivesTheSameDifferenceOrNone) {
  std::mt19937_64 rng(5);
  const std::uint32_t n = 12;
  PhasePolynomial f(n);
  for (int k = 0; k < 600; ++k) {
    const std::uint64_t parity = 1 + rng() % ((std::uint64_t{1} << n) - 1);
    f.add(&parity, static_cast<std::uint8_t>(1 + rng() % 7));
  }
  ASSERT_GT(f.terms(), 256u);
  const std::vector<std::uint64_t> g = f.odd_parities();
  const DiagonalClifford plain = clifford_difference(f, g);
  const std::optional<DiagonalClifford> timed = clifford_difference_until(f, g, Deadline(std::chrono::hours(1)));
  ASSERT_TRUE(timed.has_value());
  EXPECT_EQ(timed->s_powers, plain.s_powers);
  EXPECT_EQ(timed->cz, plain.cz);
  EXPECT_FALSE(clifford_difference_until(f, g, Deadline(std::chrono::nanoseconds(0))));
}

}  // namespace
}  // namespace kestrel
