// Tests of approximate synthesis of z-rotations: on a table of angles and
// precisions the gates, multiplied out exactly and then evaluated in 256-bit
// floats, lie within ε of Rz(θ) up to a global phase (the distance computed
// here from the trace, not as the search computes it), with the phase the
// result reports, and with no more T gates than pygridsynth 2.0 gives on
// the same angle and ε (its counts, taken once, are the table's bounds).
#include "src/synthesis/rz_synthesis.h"

#include <gtest/gtest.h>

#include <boost/multiprecision/cpp_bin_float.hpp>
#include <boost/multiprecision/cpp_complex.hpp>
#include <cmath>

#include "src/synthesis/exact_synthesis.h"
#include "tests/cpp/helpers.h"

namespace kestrel::synthesis {
namespace {

using Float = boost::multiprecision::cpp_bin_float_100;
using Complex = boost::multiprecision::cpp_complex_100;

Complex value(const ZOmega& x) {
  const Float h = 1 / sqrt(Float(2));
  const Complex w(h, h);
  Complex out = 0, p = 1;
  for (int j = 0; j < 4; ++j, p *= w) out += p * Float(x.c[j]);
  return out;
}

// The distance between the gates and e^{iφ}·Rz(θ) (φ = nullopt: the least
// over every φ), in 100-digit floats.
Float distance(const std::vector<OpKind>& gates, double angle, std::optional<double> phase) {
  const ExactMatrix m = circuit_matrix(gates);
  Float scale = pow(sqrt(Float(2)), m.k);
  Complex u[4];
  for (int j = 0; j < 4; ++j) u[j] = value(m.e[j]) / scale;
  const Float half = Float(angle) / 2;
  const Complex z(cos(half), -sin(half));  // Rz = diag(z, conj z)
  if (!phase) {
    // Up to a phase: √(2 - |tr(Rz† U)|) for unitary U.
    const Complex trace = conj(z) * u[0] + z * u[3];
    Float gap = 2 - abs(trace);
    return sqrt(gap < 0 ? Float(0) : gap);
  }
  // With the phase given: the operator norm of U - e^{iφ}Rz, the largest
  // singular value, from the 2x2 matrix's Frobenius norm and determinant.
  const Complex p(cos(Float(*phase)), sin(Float(*phase)));
  const Complex d[4] = {u[0] - p * z, u[1], u[2], u[3] - p * conj(z)};
  const Float f = norm(d[0]) + norm(d[1]) + norm(d[2]) + norm(d[3]);
  const Float det = abs(d[0] * d[3] - d[1] * d[2]);
  Float disc = f * f / 4 - det * det;
  return sqrt(f / 2 + sqrt(disc < 0 ? Float(0) : disc));
}

TEST(RzSynthesis, WithinEpsilonAndNoMoreTThanTheReference) {
  const double angles[] = {0.1, 0.5, 1.0, 2.0, 3.0, -0.7, 5.5, 0.001};
  const struct {
    double epsilon;
    std::size_t reference[8];  // pygridsynth 2.0's T counts on the angles above
  } rows[] = {
      {1e-3, {34, 34, 36, 34, 32, 32, 36, 0}},
      {1e-6, {64, 64, 62, 60, 62, 64, 64, 60}},
      {1e-10, {102, 102, 104, 106, 104, 104, 102, 104}},
      {1e-15, {156, 152, 150, 150, 154, 154, 154, 152}},
  };
  for (const auto& row : rows) {
    for (int i = 0; i < 8; ++i) {
      const RzApproximation r = synthesize_rz(angles[i], row.epsilon);
      SCOPED_TRACE(testing::Message() << "angle " << angles[i] << " epsilon " << row.epsilon);
      EXPECT_EQ(r.t_count, t_count(r.gates));
      EXPECT_LE(r.t_count, row.reference[i]);
      EXPECT_LE(distance(r.gates, angles[i], std::nullopt), Float(row.epsilon));
      EXPECT_LE(distance(r.gates, angles[i], r.phase), Float(row.epsilon) * (1 + 1e-12));
      EXPECT_GE(Float(r.distance), distance(r.gates, angles[i], std::nullopt) * (1 - 1e-12));
    }
  }
}

}  // namespace
}  // namespace kestrel::synthesis
