// The exact global phase between two one-qubit gate sequences that are equal
// up to one.
//
// Every product of h, s, sdg, t, tdg, x and z has a determinant that is a
// power of e^(i pi/4), so when two such products U and
// V satisfy U = e^(i phi) V, e^(2 i phi) is one as well and phi is a multiple
// of pi/8. `GateProduct` multiplies the 2x2 matrices in floating point and
// `phase_between` rounds the ratio of the two products to the nearest
// multiple of pi/8. That rounding is exact as long as the floating error of
// each product stays below 0.1 in every entry: the candidates for the ratio
// of the largest entries lie at least 2 sin(pi/16) / sqrt(2) = 0.27 apart.
// Each multiplication of unitary 2x2 matrices adds at most about 1e-15 to
// that error, so a product of fewer than 10^13 gates is safe; a text below
// 4 GiB holds fewer than 2^30.
//
// For "t; t" against "s" the phase is 0 (T T = S exactly); for
// "h; s; h; s; h; s" against nothing it is 2, since (S H)^3 = e^(i pi/4).
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "src/circuit/op.h"

namespace kestrel {

class GateProduct {
 public:
  // Multiplies the product so far by `gate` from the left (gates are given
  // first to last). I is nothing; every gate but the seven is a fault.
  void add(OpKind gate);

  // The product's entry in row r, column c.
  std::complex<double> at(int r, int c) const { return m_[2 * r + c]; }

 private:
  std::array<std::complex<double>, 4> m_{1.0, 0.0, 0.0, 1.0};  // row-major, the identity at first
};

// The k in 0..15 with `before` = e^(i k pi/8) `after`. Faults when the two
// are not equal up to such a phase.
std::uint8_t phase_between(const GateProduct& before, const GateProduct& after);

}  // namespace kestrel
