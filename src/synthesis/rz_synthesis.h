// Approximate synthesis of z-rotations into Clifford+T gates (Ross and
// Selinger's method): the fewest T gates of any ancilla-free circuit within
// a given operator-norm distance ε of Rz(θ) up to a global phase, given that
// the integer factoring it needs succeeds.
//
// Rz(θ) = diag(e^{-iθ/2}, e^{iθ/2}). A Clifford+T operator is, up to a
// global phase, [[u, -t†],[t, u†]]/√2^k or [[u, -t†ω],[t, u†ω]]/√2^k with u, t
// in Z[ω] and |u|² + |t|² = 2^k; its distance to Rz(θ), up to a global phase,
// is √(2 - 2·Re(u·z̄)/√2^k) with z = e^{-iθ/2} (first family) or
// z = e^{-iθ/2 + iπ/8} (second). So for k = 0, 1, 2, ... the search lists
// the u of the grid problem at level k (grid_search.h) for both families
// (the second first: its T counts at level k are 2k - 3 or 2k - 1, the
// first's 2k - 2 or 2k),
// and for each, in order, tries to solve t†t = 2^k - |u|² (norm_equation.h);
// the first levels that give a solution decide, and the one with the fewest
// T gates once written out (exact_synthesis.h) is returned. A solution t is
// written out as t and as ω·t (the two operators are T-conjugates, and their
// T counts can differ by 2), and a candidate whose factoring ran out of
// budget gets a second, longer try when its level's others did not reach
// the level's least T count. Once an approximation is held, a candidate
// whose T count cannot be lower (read off v alone: see least_t_count) is
// passed over without factoring. Every step is
// exact, in Boost's multiprecision floats, or in doubles through exactly
// rounded operations only (grid_search.h), so the same angle and ε give
// the same gates on every machine; the work is bounded by counts (the
// factoring budget per candidate and per search, the candidates per level,
// the search-tree nodes per level and per search), never by time.
// Where the search reaches no point at any level (θ within about 3ε of an
// axis, below ε = 1e-14), or spends its nodes before it does, the result
// is rz(θ - π/8)·rz(π/8), each half within ε/2.
// For example synthesize_rz(π/4, 1e-10) is the single gate t, and
// synthesize_rz(0.1, 1e-10) has 100 T gates (3·log2(1e10) is 99.7).
#pragma once

#include <cstddef>
#include <vector>

#include "src/circuit/op.h"

namespace kestrel::synthesis {

struct RzApproximation {
  std::vector<OpKind> gates;  // h, s, sdg, t, tdg, x, z in circuit order
  std::size_t t_count = 0;    // T and T-dagger gates among them
  double distance = 0;        // the operator-norm distance to Rz(θ) up to a global phase,
                              // rounded up to a double
  double phase = 0;           // φ in (-π, π] with gates ≈ e^{iφ}·Rz(θ) at that distance
};

// Whether synthesize_rz takes epsilon: in [kSmallestEpsilon, 0.1] and not NaN.
bool valid_epsilon(double epsilon);

// The approximation of Rz(angle) within epsilon. Requires a finite angle and
// valid_epsilon(epsilon) (a fault otherwise).
RzApproximation synthesize_rz(double angle, double epsilon);

}  // namespace kestrel::synthesis
