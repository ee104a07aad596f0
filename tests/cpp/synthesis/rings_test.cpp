// Tests of Z[√2] and Z[ω] against their definitions: each operation is
// compared with the same operation on the complex numbers the elements
// stand for (both embeddings, in long double), on seeded random elements;
// exact division and the Euclidean gcd are checked by multiplying back.
#include "src/synthesis/rings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>

namespace kestrel::synthesis {
namespace {

using Complex = std::complex<long double>;
const long double kRoot2 = std::sqrt(2.0L);

// The element as a complex number; `dot` takes the embedding with ω ↦ -ω.
Complex embed(const ZOmega& x, bool dot = false) {
  const Complex w = std::polar(1.0L, std::acos(-1.0L) / 4) * (dot ? -1.0L : 1.0L);
  Complex out = 0, p = 1;
  for (int j = 0; j < 4; ++j, p *= w) out += p * static_cast<long double>(x.c[j]);
  return out;
}
long double embed(const ZRoot2& x) {
  return static_cast<long double>(x.a) + kRoot2 * static_cast<long double>(x.b);
}

ZOmega random_zomega(std::mt19937& rng, int range) {
  std::uniform_int_distribution<int> d(-range, range);
  return {{d(rng), d(rng), d(rng), d(rng)}};
}

bool close(Complex a, Complex b) { return std::abs(a - b) <= 1e-9L * (1 + std::abs(a)); }

TEST(Rings, OperationsMatchTheComplexNumbers) {
  std::mt19937 rng(7);
  for (int it = 0; it < 500; ++it) {
    const ZOmega x = random_zomega(rng, 50), y = random_zomega(rng, 50);
    for (bool dot : {false, true}) {
      EXPECT_TRUE(close(embed(x * y, dot), embed(x, dot) * embed(y, dot)));
      EXPECT_TRUE(close(embed(x + y, dot), embed(x, dot) + embed(y, dot)));
      EXPECT_TRUE(close(embed(x - y, dot), embed(x, dot) - embed(y, dot)));
      EXPECT_TRUE(close(embed(x.adjoint(), dot), std::conj(embed(x, dot))));
    }
    EXPECT_TRUE(close(embed(x.dot()), embed(x, true)));
    EXPECT_NEAR(embed(x.abs2()), std::norm(embed(x)), 1e-9L * (1 + std::norm(embed(x))));
    EXPECT_NEAR(static_cast<long double>(x.norm()), std::norm(embed(x)) * std::norm(embed(x, true)),
                1e-6L * (1 + static_cast<long double>(x.norm())));
    EXPECT_TRUE(close(embed(x.times_root2()), embed(x) * kRoot2));
    // √2 divides x exactly when x / √2 has integer coordinates.
    EXPECT_EQ(x.times_root2().divisible_by_root2(), true);
    if (x.divisible_by_root2()) {
      EXPECT_EQ(x.divide_by_root2().times_root2(), x);
    }
  }
}

TEST(Rings, SignIsExact) {
  // Elements next to 0: a² - 2b² = ±1 with large a and b (units λ^n).
  ZRoot2 unit{1, 0};
  const ZRoot2 lambda{1, 1};
  for (int n = 0; n < 80; ++n, unit = unit * lambda) {
    EXPECT_EQ(sign(unit), 1);
    EXPECT_EQ(sign(-unit), -1);
    EXPECT_EQ(sign(unit.dot()), n % 2 == 0 ? 1 : -1);  // (1 - √2)^n
  }
  EXPECT_EQ(sign(ZRoot2{0, 0}), 0);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> d(-1000, 1000);
  for (int it = 0; it < 1000; ++it) {
    const ZRoot2 x{d(rng), d(rng)};
    const long double v = embed(x);
    EXPECT_EQ(sign(x), v > 0 ? 1 : (v < 0 ? -1 : 0));
  }
}

TEST(Rings, ExactDivisionAndGcdMultiplyBack) {
  std::mt19937 rng(11);
  // Divides g·a by a; the gcd of g·a and g·b is a multiple of g and divides both.
  const auto check = [](const auto& g, const auto& a, const auto& b) {
    if (g.is_zero() || a.is_zero()) return;
    auto q = g;
    ASSERT_TRUE(divide_exact(g * a, a, q));
    EXPECT_EQ(q, g);
    const auto d = euclid_gcd(g * a, g * b);
    EXPECT_TRUE(divide_exact(d, g, q));
    EXPECT_TRUE(divide_exact(g * a, d, q));
    EXPECT_TRUE(divide_exact(g * b, d, q));
  };
  std::uniform_int_distribution<int> d(-300, 300);
  for (int it = 0; it < 200; ++it) {
    check(random_zomega(rng, 20), random_zomega(rng, 20), random_zomega(rng, 20));
    check(ZRoot2{d(rng), d(rng)}, ZRoot2{d(rng), d(rng)}, ZRoot2{d(rng), d(rng)});
  }
  // 1 + ω does not divide 1.
  ZOmega q;
  EXPECT_FALSE(divide_exact(ZOmega::omega_power(0), ZOmega{{1, 1, 0, 0}}, q));
}

TEST(Rings, RoundedDivisionRoundsToNearest) {
  const struct {
    int n, d, floor, round;
  } cases[] = {{7, 2, 3, 4}, {-7, 2, -4, -3}, {7, -2, -4, -3}, {5, 3, 1, 2}, {-5, 3, -2, -2}, {6, 3, 2, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(floor_div(c.n, c.d), c.floor) << c.n << "/" << c.d;
    EXPECT_EQ(round_div(c.n, c.d), c.round) << c.n << "/" << c.d;
  }
}

}  // namespace
}  // namespace kestrel::synthesis
