// The two-dimensional grid problem of approximate synthesis, solved as the
// search for lattice points in an ellipsoid.
//
// An approximation of a z-rotation with denominator √2^k needs v in Z[ω]
// with v/√2^k in the ε-region R (the points of the unit disk whose real
// part, seen in the direction of the target z0, is at least 1 - ε²/2) and
// v•/√2^k in the unit disk. Written with v's four integer coordinates x,
// (Re v, Im v, Re v•, Im v•) is a linear map of x; R lies in an ellipse E
// whose axes follow z0 (half-widths ε²/(2√2) across and √2·ε along the
// circle, about its middle line 1 - ε²/4). So every solution has
// |F·x - √2^k·g|² ≤ 2^(k+1), where F's first two rows measure v against E's
// axes and its last two are v•, and g is E's centre: lattice points in a
// ball whose centre and radius grow with k over the same lattice F·Z⁴.
//
// This shape is the point of the method: the lattice is reduced once
// (Lenstra-Lenstra-Lovász, with each basis vector kept as exact integer
// coordinates and recomputed from them), and then every level k is a
// Fincke-Pohst enumeration in the reduced basis, which visits each point
// of the ball once and few other nodes. The ball holds R × disk but is
// larger; where the ε-region lies along an axis (θ near a multiple of π/4)
// the lattice falls into planes that a short 2D sublattice spans, and a
// plane can cut the ball outside R with millions of points. So each node is
// also pruned by the box around R × disk (the part fixed so far, plus how
// far the levels below can still move each coordinate, by Cauchy-Schwarz),
// and a leaf is kept only if it passes R's chord, arc and E, and the disk:
// the points given are the ball's points that may lie in R × disk. It
// plays the part of Ross and Selinger's grid operators, which bring the
// same two ellipses to upright form once for all k. The caller checks every point exactly; the
// floating-point work only decides which points are looked at, and any
// precision lost there could only drop a point, never admit a wrong one.
// Real is a Boost.Multiprecision binary float (deterministic, no libm).
//
// Most of the work is in doubles, where their 53 bits are known to serve:
// the reduction first runs in doubles on the lattice with its two long rows
// shortened to 2^24, then lengthening them 2^16 at a time (each stage starts from a basis
// the last one reduced, so its numbers stay small), with the integer
// coordinates kept exactly and the images recomputed in Real after each
// stage; only the Gram-Schmidt data of the final basis are computed in Real
// (any basis serves the enumeration's completeness; a reduced one makes it
// fast). The enumeration of a level rounds
// the ball's centre (in the basis's coordinates) to integers in Real and
// walks the small offsets from there in doubles; the Gram-Schmidt data it
// uses are well-conditioned (the basis is reduced), and E's 1% widening
// dwarfs their rounding. Only +, -, ×, /, √, floor and ceil of doubles
// decide, all exactly rounded by IEEE 754, so every machine walks the same
// points in the same order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "src/synthesis/rings.h"

namespace kestrel::synthesis {

template <class Real>
class GridSearch {
 public:
  // The search for the target z0 = cos0 + i·sin0 (|z0| = 1) at precision epsilon.
  GridSearch(const Real& cos0, const Real& sin0, const Real& epsilon);

  // Appends to `out` the v in Z[ω] that the ball of level k holds, at most
  // `limit` of them, after visiting at most `node_budget` nodes of the search
  // tree; returns the nodes visited. (The caller's budgets only bind where
  // the ε-region lies within a few ε of an axis, or far outside the useful range.)
  std::uint64_t enumerate(int k, std::size_t limit, std::uint64_t node_budget,
                          std::vector<ZOmega>& out) const;

 private:
  using Vec = std::array<Real, 4>;
  class Walk;  // one level's enumeration (grid_search.cpp)
  struct Basis {
    std::array<std::array<Integer, 4>, 4> x;  // each vector's integer coordinates
    std::array<Vec, 4> f;                     // each vector's image F·x
  };

  Vec image(const std::array<Integer, 4>& x) const;
  // Brings b near reduction in doubles, stage by stage (see above).
  void presize(Basis& b) const;
  // Brings star_, norm2_ and mu_ up to date for the vectors from `from` on.
  void gram_schmidt(const Basis& b, int from);

  Real root2_;                 // √2
  std::array<Vec, 4> rows_;    // F
  Basis basis_;                // the reduced basis
  std::array<Vec, 4> star_;    // the Gram-Schmidt vectors b_i*
  std::array<Real, 4> norm2_;  // |b_i*|², the Gram-Schmidt vectors' squared lengths
  std::array<std::array<Real, 4>, 4> mu_{};  // mu_[i][j] = <b_i, b_j*> / |b_j*|², j < i
  std::array<Real, 4> centre_;  // g in the reduced basis's coordinates, for k = 0
  std::array<double, 4> norm2_d_;                // norm2_ rounded, for the enumeration
  std::array<std::array<double, 4>, 4> mu_d_{};  // mu_ rounded, for the enumeration
  std::array<std::array<double, 4>, 4> star_d_{};  // star_ rounded, for the enumeration
  // reach_d_[i][c]: the length of the unit vector e_c projected on the span
  // of b_0*, ..., b_{i-1}*, so how far coordinate c can still move once the
  // levels from i up are fixed, per unit of the length left to them.
  std::array<std::array<double, 4>, 5> reach_d_{};
  std::array<double, 5> reach_disk_d_{};  // |(reach_d_[i][2], reach_d_[i][3])|: the same for v•
  double chord_d_ = 0;  // R's chord ε²/4 below the circle, in E's across half-widths
  double arc_d_ = 0;    // along² / (2·across): how fast R's arc falls, in E's units
};

}  // namespace kestrel::synthesis
