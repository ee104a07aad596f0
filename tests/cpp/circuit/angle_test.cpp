// Angles: the one tolerance, exact reading, phases with a part in radians,
// and the text an angle is written as, read back by the program's own
// expression reader to the same double.
#include "src/circuit/angle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "src/program/expressions.h"
#include "src/program/tokenizer.h"

namespace kestrel {
namespace {

constexpr double kPi = std::numbers::pi;

double read_back(const std::string& text) {
  const std::string list = text + ")";
  Tokenizer tokens(list);
  tokens.advance();
  std::vector<ExprItem> items;
  EXPECT_TRUE(compile_expression(tokens, {}, items)) << text;
  std::vector<double> stack;
  return evaluate(items, {}, stack);
}

TEST(Angle, TextReadsBackAsTheSameDouble) {
  const struct {
    double angle;
    const char* text;
  } cases[] = {
      {kPi / 4, "pi/4"},        {-3 * kPi / 8, "-3*pi/8"}, {kPi, "pi"},
      {-kPi, "-pi"},            {0.3, "0.3"},              {1e-5, "1.0e-05"},
      {0, "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(angle_text(c.angle), c.text);
    EXPECT_EQ(read_back(angle_text(c.angle)), c.angle) << c.text;
  }
  std::mt19937_64 rng(35);
  std::uniform_real_distribution<double> any(-20, 20);
  for (int k = 0; k < 2000; ++k) {
    const double angle = k % 2 ? any(rng) : std::ldexp(any(rng), -(k % 60));
    const std::string text = angle_text(angle);
    EXPECT_EQ(read_back(text), angle) << text;
    EXPECT_LE(text.size(), 25u) << text;  // 17 significant digits at most, sign and exponent
  }
}

TEST(Angle, OneToleranceInRadians) {
  EXPECT_EQ(quarter_turns(kPi / 4 + 0.9e-9), 1);
  EXPECT_EQ(quarter_turns(kPi / 4 + 1.1e-9), std::nullopt);
  EXPECT_EQ(quarter_turns(-kPi / 4), 15);
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
