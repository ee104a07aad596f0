// Tests of the norm equation t†t = ξ: every ξ made as some t†t is solved,
// the answer checked exactly; those with no solution are refused.
#include "src/synthesis/norm_equation.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrel::synthesis {
namespace {

TEST(NormEquation, SolvesEveryNormOfAnElement) {
  std::mt19937 rng(17);
  for (int range : {3, 1000, 1000000}) {
    std::uniform_int_distribution<int> d(-range, range);
    for (int it = 0; it < 100; ++it) {
      const ZOmega t{{d(rng), d(rng), d(rng), d(rng)}};
      const ZRoot2 xi = t.abs2();
      std::uint64_t budget = 1'000'000;
      const auto solved = solve_norm_equation(xi, budget);
      ASSERT_TRUE(solved.has_value()) << xi.a << " + " << xi.b << "√2";
      EXPECT_EQ(solved->abs2(), xi);
    }
  }
}

TEST(NormEquation, RefusesWhatHasNoSolution) {
  const struct {
    ZRoot2 xi;
    const char* why;
  } cases[] = {
      {{-1, 0}, "negative"},
      {{1, 1}, "its conjugate 1 - √2 is negative"},
      {{3, 1}, "a prime above 7 (norm 7) once"},
      {{7, 0}, "7 = (3 + √2)(3 - √2), each prime once"},
      {{3 * 5, 5}, "5·(3 + √2): 5 is fine, the prime above 7 is not"},
  };
  for (const auto& c : cases) {
    std::uint64_t budget = 1'000'000;
    EXPECT_FALSE(solve_norm_equation(c.xi, budget).has_value()) << c.why;
  }
  std::uint64_t budget = 1'000'000;  // 0 is 0†0 (squares of the primes above: random t)
  EXPECT_EQ(solve_norm_equation(ZRoot2{0, 0}, budget).value_or(ZOmega{{1, 0, 0, 0}}).abs2(), ZRoot2{});
}

}  // namespace
}  // namespace kestrel::synthesis
