// Angles: the one tolerance, exact reading, and phases with a part in
// radians. (The text an angle is written as: expressions_test.cpp.)
#include "src/circuit/angle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kestrel {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(Angle, OneToleranceInRadians) {
  const double q = kPi / 4;
  EXPECT_EQ(quarter_turns(0), 0);
  EXPECT_EQ(quarter_turns(-q), 15);
  EXPECT_EQ(quarter_turns(-q + 2 * kPi), 7);
  EXPECT_EQ(quarter_turns(17 * q), 1);
  EXPECT_EQ(quarter_turns(q * (1 + 1e-12)), 1);
  EXPECT_EQ(quarter_turns(q + 0.9e-9), 1);
  EXPECT_EQ(quarter_turns(q + 1.1e-9), std::nullopt);
  EXPECT_EQ(quarter_turns((1 << 20) * q + q), std::nullopt);
  EXPECT_EQ(quarter_turns(std::nan("")), std::nullopt);
  // Read with rotations, only what is a multiple to a double's precision.
  EXPECT_EQ(exact_quarter_turns(3 * kPi / 4), 3);
  EXPECT_EQ(exact_quarter_turns(kPi / 4 + 1e-12), std::nullopt);
  EXPECT_EQ(exact_quarter_turns(7.3e-10), std::nullopt);
  EXPECT_EQ(quarter_turns(7.3e-10), 0);
}

TEST(Angle, PhasesKeepEighthsExactAndTheRestInRadians) {
  Phase p;
  p.add_eighths(-3);
  EXPECT_EQ(p.eighths, 13);
  EXPECT_TRUE(p.exact());
  EXPECT_EQ(p.as_eighths(), 13);
  p += Phase{4, 0.15};
  EXPECT_EQ(p.eighths, 1);
  EXPECT_EQ(p.as_eighths(), std::nullopt);
  EXPECT_DOUBLE_EQ(p.total_radians(), kPi / 8 + 0.15);
  // Radians that add up to a multiple of pi/8 within the tolerance are one.
  EXPECT_EQ((Phase{2, kPi / 8 + 1e-12}).as_eighths(), 3);
  EXPECT_DOUBLE_EQ((Phase{15, -kPi}).total_radians(), 7 * kPi / 8);
}

}  // namespace
}  // namespace kestrel
