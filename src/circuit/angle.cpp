// Reading an angle as quarter turns, and writing one back as text.
#include "src/circuit/angle.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

#include <boost/math/constants/constants.hpp>
#include <boost/multiprecision/cpp_bin_float.hpp>

namespace kestrel {
namespace {

constexpr double kPi = std::numbers::pi;
// Angles past this many quarter turns are never taken for exact.
constexpr double kMaxTurns = 1 << 20;

}  // namespace

std::optional<std::uint8_t> quarter_turns(double angle, double tolerance) {
  const double turns = angle / (kPi / 4);
  if (!(std::abs(turns) <= kMaxTurns)) return std::nullopt;
  const double k = std::nearbyint(turns);
  if (std::abs(angle - k * (kPi / 4)) > tolerance) return std::nullopt;
  return static_cast<std::uint8_t>(((static_cast<long long>(k) % 16) + 16) % 16);
}

std::optional<std::uint8_t> exact_quarter_turns(double angle) {
  const std::optional<std::uint8_t> k = quarter_turns(angle);
  if (!k) return std::nullopt;
  const double turns = std::nearbyint(angle / (kPi / 4));
  if (std::abs(angle - turns * (kPi / 4)) > 1e-14 * std::max(1.0, std::abs(turns))) {
    return std::nullopt;
  }
  return k;
}

double rounding_distance(double angle) {
  const double d = angle - std::nearbyint(angle / (kPi / 4)) * (kPi / 4);
  return 2 * std::sin(std::abs(d) / 4);
}

double large_angle_reduced(double angle) {
  if (!(std::abs(angle) >= kLargeAngle) || !std::isfinite(angle)) return angle;
  // Every finite double is below 2^1024: 1,152 bits hold its quotient by
  // 4 pi and leave the remainder's 53 bits exact.
  using Wide = boost::multiprecision::number<
      boost::multiprecision::cpp_bin_float<1152, boost::multiprecision::digit_base_2>>;
  static const Wide four_pi = 4 * boost::math::constants::pi<Wide>();
  const Wide x = angle;
  const Wide r = x - four_pi * round(x / four_pi);  // [-2 pi, 2 pi]
  double d = static_cast<double>(r);
  if (d <= -2 * kPi) d += 4 * kPi;
  return d;
}

double reduced_angle(double angle) {
  if (std::abs(angle) <= 2 * kPi) return angle;
  if (std::abs(angle) >= kLargeAngle) return large_angle_reduced(angle);
  double r = std::fmod(angle, 4 * kPi);  // (-4 pi, 4 pi), exactly
  if (r > 2 * kPi) r -= 4 * kPi;
  if (r <= -2 * kPi) r += 4 * kPi;
  return r;
}

double Phase::total_radians() const {
  double r = std::fmod(eighths * (kPi / 8) + radians, 2 * kPi);
  if (r < 0) r += 2 * kPi;
  return r;
}

std::optional<std::uint8_t> Phase::as_eighths() const {
  if (exact()) return eighths;
  const std::optional<std::uint8_t> k = quarter_turns(2 * radians);  // pi/8 units of radians
  if (!k) return std::nullopt;
  // 2 radians = k pi/4 within 2 tolerances: radians = k pi/8 within one.
  return static_cast<std::uint8_t>((eighths + *k) % 16);
}

std::string angle_text(double angle) {
  if (angle == 0) return "0";
  // n*pi/d, as the reader evaluates it: (n * pi) / d.
  static constexpr std::array<int, 12> kDenominators = {1, 2, 3, 4, 6, 8, 12, 16, 32, 64, 128, 256};
  for (const int d : kDenominators) {
    const double n = std::nearbyint(angle * d / kPi);
    if (n == 0 || std::abs(n) > 4096) continue;
    if ((n * kPi) / d != angle) continue;  // n = 1 too: 1 * pi is pi
    std::string text = n < 0 ? "-" : "";
    const long long whole = static_cast<long long>(std::abs(n));
    if (whole != 1) text += std::to_string(whole) + "*";
    text += "pi";
    if (d != 1) text += "/" + std::to_string(d);
    // "-pi/4" reads as -(pi)/4 and "-3*pi/4" as (-(3)*pi)/4: the same double.
    return text;
  }
  std::array<char, 64> buffer{};
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), angle);
  std::string text(buffer.data(), end);
  // OpenQASM 2.0 writes a real with a point: 1e-05 as 1.0e-05.
  const std::size_t e = text.find('e');
  if (text.find('.') == std::string::npos && e != std::string::npos) text.insert(e, ".0");
  return text;
}

}  // namespace kestrel
