// Tests of factoring and square roots modulo primes: products of known
// primes come apart into them, the budget stops a hard number, and square
// roots square back.
#include "src/synthesis/factoring.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kestrel::synthesis {
namespace {

TEST(Factoring, ProductsOfKnownPrimes) {
  const Integer p61("2305843009213693951");              // 2^61 - 1
  const Integer p89("618970019642690137449562111");      // 2^89 - 1
  const Integer q("1000003"), r("999999000001");
  const struct {
    Integer n;
    std::vector<PrimePower> expected;
  } cases[] = {
      {1, {}},
      {2 * 9 * q, {{2, 1}, {3, 2}, {q, 1}}},
      {p61 * p61, {{p61, 2}}},
      {p89 * 8, {{2, 3}, {p89, 1}}},
      {q * r * 7, {{7, 1}, {q, 1}, {r, 1}}},
      {q * q * q * r, {{q, 3}, {r, 1}}},
  };
  for (const auto& c : cases) {
    std::uint64_t budget = 1'000'000;
    const auto got = factor(c.n, budget);
    ASSERT_TRUE(got.has_value()) << c.n;
    ASSERT_EQ(got->size(), c.expected.size()) << c.n;
    for (std::size_t i = 0; i < got->size(); ++i) {
      EXPECT_EQ((*got)[i].prime, c.expected[i].prime) << c.n;
      EXPECT_EQ((*got)[i].exponent, c.expected[i].exponent) << c.n;
    }
  }
}

TEST(Factoring, PrimalityAgainstTrialDivision) {
  for (unsigned n = 0; n < 20000; ++n) {
    bool prime = n >= 2;
    for (unsigned d = 2; d * d <= n && prime; ++d) prime = n % d != 0;
    EXPECT_EQ(is_probable_prime(n), prime) << n;
  }
  // Strong pseudoprimes to small bases are composite.
  EXPECT_FALSE(is_probable_prime(Integer("3215031751")));
  EXPECT_FALSE(is_probable_prime(Integer("3825123056546413051")));
  EXPECT_TRUE(is_probable_prime(Integer("170141183460469231731687303715884105727")));  // 2^127 - 1
}

TEST(Factoring, TheBudgetStopsAHardNumber) {
  // Two 61-bit and 89-bit primes: rho needs about 2^30 steps.
  const Integer n = Integer("2305843009213693951") * Integer("618970019642690137449562111");
  std::uint64_t budget = 5000;
  EXPECT_FALSE(factor(n, budget).has_value());
  EXPECT_EQ(budget, 0u);
}

TEST(Factoring, SquareRootsSquareBack) {
  std::mt19937 rng(5);
  for (const char* text : {"7", "17", "41", "1000003", "2305843009213693951", "999999000001"}) {
    const Integer p(text);
    for (int it = 0; it < 20; ++it) {
      const Integer a = Integer(rng()) % p;
      const auto root = sqrt_mod(a, p);
      // Euler's criterion says whether a root exists.
      const bool square = a == 0 || boost::multiprecision::powm(a, (p - 1) / 2, p) == 1;
      ASSERT_EQ(root.has_value(), square) << a << " mod " << p;
      if (root) {
        EXPECT_EQ((*root * *root) % p, a) << a << " mod " << p;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel::synthesis
