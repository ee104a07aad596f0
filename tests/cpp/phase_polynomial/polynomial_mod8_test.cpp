// The Clifford difference of two polynomials checked by evaluating both on
// every input: f(x) = g(x) + 2 sum_i s_i x_i + 4 sum_cz x_i x_k (mod 8),
// with g's table taken from f's odd parities after a move that keeps the
// signature tensor (the kernel vector found by brute force).
#include "src/phase_polynomial/polynomial_mod8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <random>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

int dot(std::uint64_t a, std::uint64_t x) { return std::popcount(a & x) & 1; }

int evaluate(const PhasePolynomial& f, std::uint64_t x) {
  int sum = 0;
  for (std::size_t j = 0; j < f.terms(); ++j) sum += f.coefficient(j) * dot(*f.parity(j), x);
  return sum & 7;
}

// A basis of the kernel of [A ; A_a A_b (a < b)] over GF(2), by elimination:
// each vector a subset of the columns.
std::vector<std::uint64_t> kernel(const std::vector<std::uint64_t>& columns, std::uint32_t n) {
  const std::size_t m = columns.size();
  std::vector<std::uint64_t> rows;  // each row: a bit per column
  for (std::uint32_t a = 0; a < n; ++a) {
    for (std::uint32_t b = a; b < n; ++b) {
      std::uint64_t row = 0;
      for (std::size_t j = 0; j < m; ++j) row |= (((columns[j] >> a) & (columns[j] >> b)) & 1) << j;
      rows.push_back(row);
    }
  }
  std::vector<int> pivot_of(m, -1);  // column -> its pivot row
  std::size_t rank = 0;
  for (std::size_t j = 0; j < m && rank < rows.size(); ++j) {
    std::size_t r = rank;
    while (r < rows.size() && !((rows[r] >> j) & 1)) ++r;
    if (r == rows.size()) continue;
    std::swap(rows[r], rows[rank]);
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (k != rank && ((rows[k] >> j) & 1)) rows[k] ^= rows[rank];
    }
    pivot_of[j] = static_cast<int>(rank++);
  }
  std::vector<std::uint64_t> basis;
  for (std::size_t free = 0; free < m; ++free) {
    if (pivot_of[free] >= 0) continue;
    std::uint64_t y = std::uint64_t{1} << free;
    for (std::size_t j = 0; j < m; ++j) {
      if (pivot_of[j] >= 0 && ((rows[static_cast<std::size_t>(pivot_of[j])] >> free) & 1)) {
        y |= std::uint64_t{1} << j;
      }
    }
    basis.push_back(y);
  }
  return basis;
}

TEST(PolynomialTest, TermsWithOneParityAddUp) {
  PhasePolynomial f(3);
  const std::uint64_t a = 0b101, b = 0b010;
  f.add(&a, 1);
  f.add(&b, 7);
  f.add(&a, 1);
  ASSERT_EQ(f.terms(), 2u);
  EXPECT_EQ(f.coefficient(0), 2);
  EXPECT_EQ(f.coefficient(1), 7);
  EXPECT_EQ(f.odd_terms(), 1u);
  EXPECT_EQ(f.odd_parities(), std::vector<std::uint64_t>{b});
}

TEST(PolynomialTest, ADifferenceOfOneSignatureIsTheCliffordThatMakesThemEqual) {
  std::mt19937_64 rng(3);
  int moved = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint32_t n = 3 + trial % 3;
    PhasePolynomial f(n);
    // Distinct parities, most of them odd and enough for the kernel to be
    // nonzero most of the time, and a few even terms.
    std::vector<std::uint64_t> all;
    for (std::uint64_t a = 1; a < (std::uint64_t{1} << n); ++a) all.push_back(a);
    std::shuffle(all.begin(), all.end(), rng);
    const std::size_t odd = std::min(all.size(), n * (n + 1) / 2 + 1 + rng() % 6);
    for (std::size_t j = 0; j < all.size(); ++j) {
      if (j < odd) {
        f.add(&all[j], static_cast<std::uint8_t>(2 * (rng() % 4) + 1));
      } else if (rng() % 3 == 0) {
        f.add(&all[j], static_cast<std::uint8_t>(2 * (rng() % 4)));
      }
    }
    std::vector<std::uint64_t> g = f.odd_parities();
    // A move of the note's kind: y in the kernel, columns in y take z, z
    // joins when |y| is odd; equal pairs and zero columns go.
    std::vector<std::uint64_t> basis = kernel(g, n), kernel;
    std::uint64_t combination = 0;
    for (std::uint64_t v : basis) {
      if (rng() % 2) combination ^= v;
    }
    if (combination == 0 && !basis.empty()) combination = basis[0];
    if (combination != 0) kernel.push_back(combination);
    if (!kernel.empty()) {
      ++moved;
      const std::uint64_t y = kernel[rng() % kernel.size()];
      const std::uint64_t z = 1 + rng() % ((std::uint64_t{1} << n) - 1);
      std::vector<std::uint64_t> next;
      for (std::size_t j = 0; j < g.size(); ++j) next.push_back((y >> j) & 1 ? g[j] ^ z : g[j]);
      if (std::popcount(y) & 1) next.push_back(z);
      std::vector<std::uint64_t> kept;
      for (std::uint64_t c : next) {
        if (c == 0) continue;
        const auto same = std::find(kept.begin(), kept.end(), c);
        if (same != kept.end()) {
          kept.erase(same);
        } else {
          kept.push_back(c);
        }
      }
      g = kept;
    }
    const DiagonalClifford d = clifford_difference(f, g);
    for (std::uint64_t x = 0; x < (std::uint64_t{1} << n); ++x) {
      int rhs = 0;
      for (std::uint64_t c : g) rhs += dot(c, x);
      for (std::uint32_t i = 0; i < n; ++i) rhs += 2 * d.s_powers[i] * ((x >> i) & 1);
      for (const auto& [i, k] : d.cz) rhs += 4 * (((x >> i) & 1) & ((x >> k) & 1));
      ASSERT_EQ(evaluate(f, x), rhs & 7) << "trial " << trial << ", x " << x;
    }
  }
  EXPECT_GT(moved, 100);
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
  const std::optional<DiagonalClifford> timed =
      clifford_difference_until(f, g, Deadline(std::chrono::hours(1)));
  ASSERT_TRUE(timed.has_value());
  EXPECT_EQ(timed->s_powers, plain.s_powers);
  EXPECT_EQ(timed->cz, plain.cz);
  EXPECT_FALSE(clifford_difference_until(f, g, Deadline(std::chrono::nanoseconds(0))));
}

}  // namespace
}  // namespace kestrel
