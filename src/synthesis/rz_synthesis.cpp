// The search over levels and families for synthesize_rz, in the float type
// that ε calls for.
#include "src/synthesis/rz_synthesis.h"

#include <algorithm>
#include <boost/math/constants/constants.hpp>
#include <cmath>
#include <numbers>
#include <optional>

#include "engine/fault.h"
#include "src/synthesis/exact_synthesis.h"
#include "src/synthesis/grid_search.h"
#include "src/synthesis/norm_equation.h"
#include "src/synthesis/real.h"

namespace kestrel::synthesis {
namespace {

constexpr std::uint64_t kFactoringBudget = 4000;  // rho's squarings per candidate, first pass
// Rho's squarings per candidate in the second pass, which only the candidates
// the first pass could not factor see, and only at a level whose other
// candidates did not reach the level's least T count. Below ε = 1e-18 the
// numbers are twice as long and each squaring costs four times as much, so
// the second try is shorter there.
constexpr std::uint64_t kHardFactoringBudget = 200000;
constexpr std::uint64_t kHardFactoringBudget512 = 20000;
constexpr std::size_t kCandidateLimit = 4096;      // candidates per level and family
constexpr std::uint64_t kNodeBudget = 1 << 20;     // search-tree nodes per level and family
// Search-tree nodes over all levels and families of one search. Where the
// ε-region lies within a few ε of an axis (at ε = 1e-15, 1e-16) a search can
// reach no point at any level and would visit about 2.2·10^8 nodes before
// its last level. Of 256 angles within 10ε of a multiple of π/4 there, the
// searches that reach a point do so within 2^24 nodes but one (-2.5e-16 at
// 1e-16: 1.9·10^7 nodes, 209 T; now the split, 326 T).
constexpr std::uint64_t kSearchNodeBudget = std::uint64_t{1} << 24;
// Second tries of factoring per search, in units of one candidate's budget
// (the searches measured use at most 0.07 of one).
constexpr std::uint64_t kHardTries = 2;

// The m with a = ω^m·b, or -1.
int phase_power(const ExactMatrix& a, const ExactMatrix& b) {
  const ExactMatrix ra = a.reduced(), rb = b.reduced();
  if (ra.k != rb.k) return -1;
  for (int m = 0; m < 8; ++m) {
    const ZOmega w = ZOmega::omega_power(m);
    bool same = true;
    for (int j = 0; j < 4 && same; ++j) same = ra.e[j] == w * rb.e[j];
    if (same) return m;
  }
  return -1;
}

std::size_t count_t(const std::vector<OpKind>& gates) {
  return static_cast<std::size_t>(std::count_if(
      gates.begin(), gates.end(), [](OpKind g) { return g == OpKind::T || g == OpKind::Tdg; }));
}

template <class Real>
struct Target {
  Real cos0, sin0;   // z = cos0 + i·sin0
  bool omega;        // the second family: det ω, z turned by π/8
  GridSearch<Real> grid;
};

// What became of one candidate u.
enum class Outcome { kRejected, kSolved, kOutOfBudget };

// The search over levels and families, holding the best approximation yet.
template <class Real>
class Search {
 public:
  Search(const Real& eps, std::uint64_t hard_budget)
      : eps_(eps), inner_(1 - eps * eps / 2), hard_budget_(hard_budget),
        hard_left_(kHardTries * hard_budget) {}

  // Lists level k's candidates for `target` and tries them, those factoring
  // gave up on a second time (longer) only if the others did not meet
  // `bound`, the level and family's least T count. False once the search's
  // node budget is spent.
  bool level(int k, const Integer& two_k, const Real& scale, const Target<Real>& target,
             std::size_t bound);

  // Tries u = v/√2^k for `target`, with `budget` squarings for factoring;
  // `bound` is the least T count the level and family can give.
  Outcome consider(const ZOmega& v, int k, const Integer& two_k, const Real& scale,
                   const Target<Real>& target, std::uint64_t& budget, std::size_t bound);
  // The best approximation with its distance and phase.
  RzApproximation finish() const;

  struct Best {
    std::vector<OpKind> gates;
    std::size_t t_count;
    ExactMatrix u;     // the operator the gates make, up to a power of ω
    Real projection;   // Re(u·z̄)/√2^k
    bool omega;        // u is of the second family
  };
  std::optional<Best> best;

 private:
  Real eps_;
  Real inner_;                          // 1 - ε²/2, the least Re(u·z̄) allowed
  Real h_ = 1 / sqrt(Real(2));          // 1/√2
  std::uint64_t hard_budget_;           // rho's squarings for one candidate's second try
  std::uint64_t hard_left_;             // those left to the search's second tries
  std::uint64_t nodes_left_ = kSearchNodeBudget;  // search-tree nodes left to the search
  std::vector<ZOmega> candidates_, hard_;          // one level's candidates, and those to retry
};

template <class Real>
bool Search<Real>::level(int k, const Integer& two_k, const Real& scale, const Target<Real>& target,
                         std::size_t bound) {
  auto met = [&] { return best && best->t_count <= bound; };
  candidates_.clear();
  hard_.clear();
  const std::uint64_t nodes = std::min(kNodeBudget, nodes_left_);
  nodes_left_ -= target.grid.enumerate(k, kCandidateLimit, nodes, candidates_);
  for (const ZOmega& v : candidates_) {
    std::uint64_t budget = kFactoringBudget;
    const Outcome o = consider(v, k, two_k, scale, target, budget, bound);
    if (o == Outcome::kOutOfBudget) hard_.push_back(v);
    if (met()) break;
  }
  for (const ZOmega& v : hard_) {
    if (met() || hard_left_ == 0) break;
    std::uint64_t budget = std::min(hard_budget_, hard_left_);
    const std::uint64_t given = budget;
    consider(v, k, two_k, scale, target, budget, bound);
    hard_left_ -= given - budget;
  }
  return nodes_left_ > 0;
}

template <class Real>
Outcome Search<Real>::consider(const ZOmega& v, int k, const Integer& two_k, const Real& scale,
                               const Target<Real>& target, std::uint64_t& budget,
                               std::size_t bound) {
  if (k > 0 && v.divisible_by_root2()) return Outcome::kRejected;  // seen at level k - 1
  // In the second family only v with 1 + ω | v reach 2k - 3; the others
  // give 2k - 1 at best, and a level can hold thousands of them.
  if (best && best->t_count <= least_t_count(v, k, target.omega)) return Outcome::kRejected;
  const ZRoot2 abs2 = v.abs2();
  const ZRoot2 xi{two_k - abs2.a, -abs2.b};
  if (sign(xi) < 0 || sign(xi.dot()) < 0) return Outcome::kRejected;
  const Real re = Real(v.c[0]) + Real(v.c[1] - v.c[3]) * h_;
  const Real im = Real(v.c[2]) + Real(v.c[1] + v.c[3]) * h_;
  const Real projection = (re * target.cos0 + im * target.sin0) / scale;
  if (projection < inner_) return Outcome::kRejected;
  const std::optional<ZOmega> t = solve_norm_equation(xi, budget);
  if (!t) return budget == 0 ? Outcome::kOutOfBudget : Outcome::kRejected;
  // t and ω·t give operators T-conjugate to each other, whose T counts can
  // differ by 2 (ω²·t is a Clifford conjugate, no new count): both are tried.
  const ZOmega w = ZOmega::omega_power(target.omega ? 1 : 0);
  for (int j = 0; j < 2; ++j) {
    const ZOmega tj = *t * ZOmega::omega_power(j);
    const ExactMatrix u{{v, -(tj.adjoint() * w), tj, v.adjoint() * w}, k};
    std::vector<OpKind> gates = synthesize_exact(u);
    const std::size_t t_count = count_t(gates);
    if (!best || t_count < best->t_count) {
      best = Best{std::move(gates), t_count, u, projection, target.omega};
    }
    if (t_count <= bound) break;  // ω·t cannot do better
  }
  return Outcome::kSolved;
}

template <class Real>
RzApproximation Search<Real>::finish() const {
  using boost::math::constants::pi;
  check(best.has_value(), "approximate synthesis finds an approximation");
  const ExactMatrix& u = best->u;
  const bool omega = best->omega;
  RzApproximation found;
  found.gates = best->gates;
  found.t_count = best->t_count;
  Real gap = 2 - 2 * best->projection;
  if (gap < 0) gap = 0;
  const Real distance = sqrt(gap);
  check(distance <= eps_, "an approximation found lies within epsilon");
  found.distance = distance.template convert_to<double>();
  if (Real(found.distance) < distance) found.distance = std::nextafter(found.distance, 1.0);
  const int m = phase_power(circuit_matrix(found.gates), u);
  check(m >= 0, "exact synthesis returns the matrix up to a power of omega");
  Real phase = pi<Real>() * m / 4 + (omega ? pi<Real>() / 8 : Real(0));
  if (phase > pi<Real>()) phase -= 2 * pi<Real>();
  found.phase = phase.template convert_to<double>();
  return found;
}

// The approximation of Rz(angle - shift) (the difference taken in Real) by
// the search over levels and families, or none where it ran out of levels
// or of nodes with no approximation found.
template <class Real>
std::optional<RzApproximation> search(double angle, double shift, double epsilon) {
  using boost::math::constants::pi;
  const Real eps = epsilon;
  const Real four_pi = 4 * pi<Real>();
  Real theta = angle;
  theta -= shift;
  theta -= four_pi * floor(theta / four_pi);  // Rz has period 4π
  const Real a0 = -theta / 2;
  // z turned by π/8, from cos(π/8) = √(2 + √2)/2 and sin(π/8) = √(2 - √2)/2.
  static const Real cos8 = sqrt(2 + sqrt(Real(2))) / 2, sin8 = sqrt(2 - sqrt(Real(2))) / 2;
  const Real c0 = cos(a0), s0 = sin(a0);
  const Real c1 = c0 * cos8 - s0 * sin8, s1 = s0 * cos8 + c0 * sin8;
  const Target<Real> targets[2] = {
      {c1, s1, true, GridSearch<Real>(c1, s1, eps)},
      {c0, s0, false, GridSearch<Real>(c0, s0, eps)},
  };
  const int k_max = 8 * static_cast<int>(std::ceil(std::log2(1 / epsilon))) + 64;

  Search<Real> s(eps, epsilon >= kEpsilon256 ? kHardFactoringBudget : kHardFactoringBudget512);
  auto met = [&s](std::size_t bound) { return s.best && s.best->t_count <= bound; };
  const Real root2 = sqrt(Real(2));
  Real scale = 1;  // √2^k
  Integer two_k = 1;
  for (int k = 0; k <= k_max && !met(static_cast<std::size_t>(std::max(0, 2 * k - 3)));
       ++k, scale *= root2, two_k *= 2) {
    // A solution at level k has 2k - 3 or 2k - 1 T gates in the second
    // family and 2k - 2 or 2k in the first, so (k, family) pairs come in
    // order of the lower bound, and the search ends when the best found
    // meets the next pair's bound, or when its node budget is spent.
    for (const Target<Real>& target : targets) {
      const std::size_t bound = static_cast<std::size_t>(std::max(0, 2 * k - (target.omega ? 3 : 2)));
      if (met(bound)) break;
      if (!s.level(k, two_k, scale, target, bound)) {
        return s.best ? std::optional(s.finish()) : std::nullopt;
      }
    }
  }
  if (!s.best) return std::nullopt;
  return s.finish();
}

std::optional<RzApproximation> search_at(double angle, double shift, double epsilon) {
  if (epsilon >= kEpsilon128) return search<Real128>(angle, shift, epsilon);
  return epsilon >= kEpsilon256 ? search<Real256>(angle, shift, epsilon)
                                : search<Real512>(angle, shift, epsilon);
}

}  // namespace

bool valid_epsilon(double epsilon) { return epsilon >= kSmallestEpsilon && epsilon <= 0.1; }

RzApproximation synthesize_rz(double angle, double epsilon) {
  check(std::isfinite(angle) && valid_epsilon(epsilon), "synthesize_rz's inputs are checked");
  if (std::optional<RzApproximation> found = search_at(angle, 0, epsilon)) return *found;
  // A few angles within a few ε of an axis (θ ≈ 3ε below ε = 1e-16) leave
  // the enumeration no point it can reach: there rz(θ) = rz(θ - π/8)·rz(π/8),
  // two rotations of ordinary size, each within ε/2 (the 512-bit floats
  // serve ε/2 below kSmallestEpsilon too; θ - π/8 is taken in them, exactly
  // for the double π/8 the second half approximates).
  const double eighth = std::numbers::pi / 8;
  std::optional<RzApproximation> first = search_at(angle, eighth, epsilon / 2);
  const std::optional<RzApproximation> second = search_at(eighth, 0, epsilon / 2);
  check(first && second, "approximate synthesis finds an approximation");
  first->gates.insert(first->gates.end(), second->gates.begin(), second->gates.end());
  first->t_count += second->t_count;
  first->distance += second->distance;
  first->phase += second->phase;
  if (first->phase > std::numbers::pi) first->phase -= 2 * std::numbers::pi;
  if (first->phase <= -std::numbers::pi) first->phase += 2 * std::numbers::pi;
  return *first;
}

}  // namespace kestrel::synthesis
