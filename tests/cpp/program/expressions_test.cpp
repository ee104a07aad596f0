// Parameter expressions read and evaluated as OpenQASM 2.0 evaluates them:
// a table of texts and their values, with the precedence that sets `^`
// above a sign, angles as the writer writes them read back exactly, and
// nesting far deeper than any stack would take.
#include "src/program/expressions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <string>

#include "src/circuit/angle.h"

namespace kestrel {
namespace {

// The value of `text` (followed by ')'), with parameters a = 0.5, b = 3.
std::optional<double> value(const std::string& text) {
  const std::string full = text + ")";
  Tokenizer tokens(full);
  tokens.advance();
  std::vector<ExprItem> items;
  const std::string_view names[] = {"a", "b"};
  if (!compile_expression(tokens, names, items) || !tokens.is(Tok::RParen)) return std::nullopt;
  std::vector<double> stack;
  const double params[] = {0.5, 3};
  return evaluate(items, params, stack);
}

TEST(Expressions, ValuesAsTheLanguageHasThem) {
  const double pi = std::numbers::pi;
  const std::pair<std::string, double> cases[] = {
      {"pi/4", pi / 4}, {"-pi/4+2*pi", 7 * pi / 4}, {"1e-1+.5", 0.6},
      {"-2^2", -4},  // the sign applies to the power
      {"2^-1", 0.5},
      {"2^3^2", 512},  // `^` groups to the right
      {"8/2/2", 2},    // `/` to the left
      {"2-3-4", -5}, {"--+-1", -1}, {"a*-b", -1.5}, {"(a+b)*2", 7}, {"sin(pi/2)*pi/4", pi / 4},
      {"cos(0)+tan(0)+exp(0)+ln(1)+sqrt(4)", 4}, {"-(pi)/(4)", -pi / 4}, {"b^a^2", std::pow(3.0, 0.25)},
  };
  for (const auto& [text, expected] : cases) {
    const std::optional<double> v = value(text);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_NEAR(*v, expected, 1e-12) << text;
  }
  EXPECT_TRUE(std::isinf(*value("1/0")));
  EXPECT_TRUE(std::isnan(*value("ln(-1)")));
  EXPECT_TRUE(std::isinf(*value("1" + std::string(400, '0'))));
}

TEST(Expressions, WhatIsNoExpression) {
  for (const char* text : {"", "1+", "(1", "sin 1", "c", "1 2", "*2", "pi("}) {
    EXPECT_FALSE(value(text).has_value()) << text;
  }
}

// The text an angle is written as reads back as the same double.
TEST(Expressions, AnglesAsWrittenReadBackExactly) {
  constexpr double kPi = std::numbers::pi;
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
    EXPECT_EQ(value(angle_text(c.angle)), c.angle) << c.text;
  }
  std::mt19937_64 rng(35);
  std::uniform_real_distribution<double> any(-20, 20);
  for (int k = 0; k < 2000; ++k) {
    const double angle = k % 2 ? any(rng) : std::ldexp(any(rng), -(k % 60));
    const std::string text = angle_text(angle);
    EXPECT_EQ(value(text), angle) << text;
    EXPECT_LE(text.size(), 25u) << text;  // 17 significant digits at most, sign and exponent
  }
}

TEST(Expressions, NestingCostsNoStack) {
  constexpr int kDepth = 1000000;
  const std::string text = std::string(kDepth, '(') + "-a" + std::string(kDepth, ')') + "*4";
  EXPECT_EQ(value(text), -2.0);
  EXPECT_EQ(value(std::string(kDepth, '-') + "1"), 1.0);
}

}  // namespace
}  // namespace kestrel
