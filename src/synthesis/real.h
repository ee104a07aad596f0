// The multiprecision binary floats of approximate synthesis (Boost's
// cpp_bin_float: arithmetic and trigonometry of its own, so the results are
// the same on every machine and never come from the platform's libm).
//
// The grid search needs about 4·log2(1/ε) bits (measured: 256 bits serve ε
// down to 1e-19 and 512 bits down to 1e-35, and the search runs astray
// beyond), so 256 bits serve ε down to 1e-18 and 512 bits down to
// kSmallestEpsilon, with a margin; 128 bits serve ε down to 1e-7 (93 bits
// needed there), where most of the work is these floats' own arithmetic.
#pragma once

#include <boost/multiprecision/cpp_bin_float.hpp>

namespace kestrel::synthesis {

using Real128 = boost::multiprecision::number<
    boost::multiprecision::cpp_bin_float<128, boost::multiprecision::digit_base_2>,
    boost::multiprecision::et_off>;
using Real256 = boost::multiprecision::number<
    boost::multiprecision::cpp_bin_float<256, boost::multiprecision::digit_base_2>,
    boost::multiprecision::et_off>;
using Real512 = boost::multiprecision::number<
    boost::multiprecision::cpp_bin_float<512, boost::multiprecision::digit_base_2>,
    boost::multiprecision::et_off>;

// The smallest ε the 128-bit and the 256-bit types serve, and the smallest
// served at all.
inline constexpr double kEpsilon128 = 1e-7;
inline constexpr double kEpsilon256 = 1e-18;
inline constexpr double kSmallestEpsilon = 1e-30;

}  // namespace kestrel::synthesis
