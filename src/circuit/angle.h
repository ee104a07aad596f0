// Angles of rotations and global phases, read and written alike by every
// method: one tolerance, a phase kept exactly where it is a multiple of
// pi/8, and the text an angle is written as.
//
// `kAngleTolerance` (1e-9 rad) is the one tolerance: an angle within it of
// k pi/4 is read as k quarter turns (rz(pi/4 + 1e-12) is a T gate up to
// phase), a group of merged rotations whose sum is within it of k pi/4 is
// written as phase gates, and the statistics count such a rotation as
// Clifford or T. Nothing else is ever rounded.
//
// A `Phase` is e^(i (eighths pi/8 + radians)): the exact part a whole
// number of eighths of pi (mod 16), the rest in radians, so that programs
// without arbitrary angles keep an exact phase. `angle_text` writes an
// angle so that it reads back as the same double: `pi/4`, `-3*pi/8`,
// `0.3`, `1.2345678901234567e-05`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

// The tolerance, in radians, within which an angle counts as a multiple of
// pi/4.
inline constexpr double kAngleTolerance = 1e-9;

// The k in 0..15 with `angle` = k pi/4 modulo 4 pi within `tolerance`
// (kAngleTolerance unless a caller asked for a finer one), for angles up to
// 2^20 quarter turns; nothing for any other angle (NaN and infinities too).
std::optional<std::uint8_t> quarter_turns(double angle, double tolerance = kAngleTolerance);

// The operator-norm distance, up to a global phase, between a rotation
// exp(-i angle/2 P) and the rotation by the multiple of pi/4 nearest to
// `angle`: 2 sin(|d|/4) for the difference d. What taking the one for the
// other costs in precision.
double rounding_distance(double angle);

// The same, where `angle` is k pi/4 to the precision of a double (within
// 1e-14 of it per quarter turn): how rotations of any angle are read, so
// that an angle near a multiple of pi/4 stays itself until a sum is written.
std::optional<std::uint8_t> exact_quarter_turns(double angle);

// `angle` reduced modulo 4 pi into (-2 pi, 2 pi] (by fmod, whose multiple
// of the double nearest 4 pi is off by under 1e-12 below kLargeAngle; from
// there on by 4 pi itself, to the last bit).
double reduced_angle(double angle);

// Angles from here on are reduced by 4 pi itself: a multiple of the double
// nearest 4 pi would be off by more than 1e-12, and a sum with a smaller
// angle would lose that angle's bits.
inline constexpr double kLargeAngle = 8192;

// `angle` reduced modulo 4 pi, to the last bit, where it is kLargeAngle or
// more; any other angle as it is. rz(1e60 + 0.3) and rz(1e60) rz(0.3) are
// then the same rotation, as they are in exact arithmetic.
double large_angle_reduced(double angle);

struct Phase {
  std::uint8_t eighths = 0;  // e^(i eighths pi/8), 0 to 15
  double radians = 0;        // times e^(i radians)

  // Adds e^(i k pi/8).
  void add_eighths(long long k) {
    eighths = static_cast<std::uint8_t>((((eighths + k) % 16) + 16) % 16);
  }
  Phase& operator+=(const Phase& other) {
    add_eighths(other.eighths);
    radians += other.radians;
    return *this;
  }
  // Whether the phase is exactly a multiple of pi/8.
  bool exact() const { return radians == 0; }
  // The whole phase in radians, in [0, 2 pi).
  double total_radians() const;
  // The whole phase as a multiple of pi/8 (0 to 15) where it is one within
  // kAngleTolerance, else nothing.
  std::optional<std::uint8_t> as_eighths() const;
  bool operator==(const Phase&) const = default;
};

// `angle` as written in a parameter list, reading back as the same double:
// n*pi/d for small n and d where that evaluates to it exactly, else the
// shortest decimal that does (at most 17 significant digits).
std::string angle_text(double angle);

}  // namespace kestrel
