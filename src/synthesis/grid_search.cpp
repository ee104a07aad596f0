// The grid search: the lattice's reduction (once) and the enumeration of a
// level's ball; instantiated for the three float types of real.h.
#include "src/synthesis/grid_search.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "src/synthesis/real.h"

namespace kestrel::synthesis {
namespace {

template <class Real>
Real dot(const std::array<Real, 4>& a, const std::array<Real, 4>& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

template <class Real>
Integer nearest_integer(const Real& r) {
  return round(r).template convert_to<Integer>();
}

// Narrows [lo, hi] to the d with a·d² + b·d + g ≤ 0 (a ≥ 0); false if
// nothing is left.
bool clip_quadratic(double a, double b, double g, double& lo, double& hi) {
  if (a == 0) {
    if (b == 0) return g <= 0;
    (b > 0 ? hi : lo) = b > 0 ? std::min(hi, -g / b) : std::max(lo, -g / b);
    return lo <= hi;
  }
  const double disc = b * b - 4 * a * g;
  if (disc < 0) return false;
  const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
  const double r1 = q / a, r2 = q != 0 ? g / q : r1;  // the roots, stably
  lo = std::max(lo, std::min(r1, r2));
  hi = std::min(hi, std::max(r1, r2));
  return lo <= hi;
}

using Rows = std::array<std::array<double, 4>, 4>;
using Transform = std::array<std::array<std::int64_t, 4>, 4>;

// Textbook LLL (δ = 0.75) in doubles on the four vectors `f`, each step also
// applied to the rows of `t`. Stops early, leaving a valid basis, after a
// bounded number of steps or before a coefficient could grow past 2^40.
void lll_double(Rows& f, Transform& t) {
  auto dot4 = [](const std::array<double, 4>& a, const std::array<double, 4>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  };
  Rows star{};
  std::array<double, 4> norm2{};
  std::array<std::array<double, 4>, 4> mu{};
  auto gram_schmidt = [&] {
    for (int i = 0; i < 4; ++i) {
      star[i] = f[i];
      for (int j = 0; j < i; ++j) {
        mu[i][j] = norm2[j] > 0 ? dot4(f[i], star[j]) / norm2[j] : 0;
        for (int c = 0; c < 4; ++c) star[i][c] -= mu[i][j] * star[j][c];
      }
      norm2[i] = dot4(star[i], star[i]);
    }
  };
  constexpr double kLimit = 1099511627776.0;  // 2^40
  gram_schmidt();
  int k = 1;
  for (int steps = 0; k < 4 && steps < 2000; ++steps) {
    for (int j = k - 1; j >= 0; --j) {
      const double q = std::round(mu[k][j]);
      if (q == 0) continue;
      if (!(std::fabs(q) < kLimit)) return;
      const auto qi = static_cast<std::int64_t>(q);
      for (int c = 0; c < 4; ++c) {
        if (std::fabs(static_cast<double>(t[k][c]) - q * static_cast<double>(t[j][c])) >= kLimit) return;
      }
      for (int c = 0; c < 4; ++c) {
        t[k][c] -= qi * t[j][c];
        f[k][c] -= q * f[j][c];
      }
      gram_schmidt();
    }
    if (norm2[k] >= (0.75 - mu[k][k - 1] * mu[k][k - 1]) * norm2[k - 1]) {
      ++k;
    } else {
      std::swap(f[k], f[k - 1]);
      std::swap(t[k], t[k - 1]);
      gram_schmidt();
      k = k > 1 ? k - 1 : 1;
    }
  }
}

}  // namespace

template <class Real>
GridSearch<Real>::GridSearch(const Real& cos0, const Real& sin0, const Real& epsilon) {
  root2_ = sqrt(Real(2));
  const Real r2 = root2_, h = 1 / r2;
  // x = (a, b, c, d) ↦ Re v, Im v, Re v•, Im v• (ω = (1 + i)/√2, ω³ = (-1 + i)/√2).
  const Vec re{1, h, 0, -h}, im{0, h, 1, h};
  const Vec re_dot{1, -h, 0, h}, im_dot{0, -h, 1, -h};
  // E's half-widths, widened by 1% so that rounding cannot cut R's edge.
  const Real e2 = epsilon * epsilon;
  const Real across = e2 / (2 * r2) * Real(1.01), along = r2 * epsilon * Real(1.01);
  chord_d_ = (e2 / 4 / across).template convert_to<double>();
  arc_d_ = (along * along / (2 * across)).template convert_to<double>();
  for (int j = 0; j < 4; ++j) {
    rows_[0][j] = (re[j] * cos0 + im[j] * sin0) / across;
    rows_[1][j] = (im[j] * cos0 - re[j] * sin0) / along;
    rows_[2][j] = re_dot[j];
    rows_[3][j] = im_dot[j];
  }
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) basis_.x[i][j] = i == j ? 1 : 0;
    basis_.f[i] = image(basis_.x[i]);
  }
  presize(basis_);
  gram_schmidt(basis_, 0);
  for (int i = 0; i < 4; ++i) {
    norm2_d_[i] = norm2_[i].template convert_to<double>();
    for (int j = 0; j < i; ++j) mu_d_[i][j] = mu_[i][j].template convert_to<double>();
    for (int c = 0; c < 4; ++c) star_d_[i][c] = star_[i][c].template convert_to<double>();
  }
  for (int c = 0; c < 4; ++c) {
    Real reach2 = 0;
    for (int i = 1; i <= 4; ++i) {
      reach2 += star_[i - 1][c] * star_[i - 1][c] / norm2_[i - 1];
      reach_d_[i][c] = sqrt(reach2).template convert_to<double>();
    }
  }
  for (int i = 0; i <= 4; ++i) {
    const Real r2 = Real(reach_d_[i][2]), r3 = Real(reach_d_[i][3]);
    reach_disk_d_[i] = sqrt(r2 * r2 + r3 * r3).template convert_to<double>();
  }
  // g = ((1 - ε²/4)/across, 0, 0, 0) in Gram-Schmidt coordinates, then in the basis's.
  const Vec g{(1 - e2 / 4) / across, 0, 0, 0};
  for (int i = 3; i >= 0; --i) {
    centre_[i] = dot(g, star_[i]) / norm2_[i];
    for (int j = i + 1; j < 4; ++j) centre_[i] -= mu_[j][i] * centre_[j];
  }
}

template <class Real>
typename GridSearch<Real>::Vec GridSearch<Real>::image(const std::array<Integer, 4>& x) const {
  const Vec xr{Real(x[0]), Real(x[1]), Real(x[2]), Real(x[3])};
  return {dot(rows_[0], xr), dot(rows_[1], xr), dot(rows_[2], xr), dot(rows_[3], xr)};
}

template <class Real>
void GridSearch<Real>::presize(Basis& b) const {
  const Real long_rows[2] = {sqrt(dot(rows_[0], rows_[0])), sqrt(dot(rows_[1], rows_[1]))};
  const Real longest = long_rows[0] > long_rows[1] ? long_rows[0] : long_rows[1];
  const Real step = 65536;
  for (Real cap = step * 256;; cap *= step) {
    const bool last = cap >= longest;
    Real shrink[4] = {1, 1, 1, 1};
    for (int r = 0; r < 2 && !last; ++r) {
      if (long_rows[r] > cap) shrink[r] = cap / long_rows[r];
    }
    Rows f;
    Transform t{};
    for (int i = 0; i < 4; ++i) {
      t[i][i] = 1;
      const Vec image_i = image(b.x[i]);
      for (int r = 0; r < 4; ++r) f[i][r] = (image_i[r] * shrink[r]).template convert_to<double>();
    }
    lll_double(f, t);
    std::array<std::array<Integer, 4>, 4> x;
    for (int i = 0; i < 4; ++i) {
      for (int c = 0; c < 4; ++c) {
        x[i][c] = 0;
        for (int j = 0; j < 4; ++j) {
          if (t[i][j] != 0) x[i][c] += t[i][j] * b.x[j][c];
        }
      }
    }
    b.x = x;
    if (last) break;
  }
  for (int i = 0; i < 4; ++i) b.f[i] = image(b.x[i]);
}

template <class Real>
void GridSearch<Real>::gram_schmidt(const Basis& b, int from) {
  for (int i = 0; i < 4; ++i) {
    if (i >= from) {
      star_[i] = b.f[i];
      for (int j = 0; j < i; ++j) {
        mu_[i][j] = dot(b.f[i], star_[j]) / norm2_[j];
        for (int c = 0; c < 4; ++c) star_[i][c] -= mu_[i][j] * star_[j][c];
      }
      norm2_[i] = dot(star_[i], star_[i]);
    }
  }
}

// One level's walk: the depth-first search over the offsets y3, y2, y1, y0
// from the rounded centre, with explicit per-level state (no recursion).
template <class Real>
class GridSearch<Real>::Walk {
 public:
  Walk(const GridSearch& grid, int k);
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // Appends the level's points to `out`; returns the nodes visited.
  std::uint64_t run(std::size_t limit, std::uint64_t node_budget, std::vector<ZOmega>& out);

 private:
  // Below the arc, |p1| ≤ √((chord·s - p0)·s/arc) for the least p0 still reachable.
  double along_bound(double p0_least) const {
    return std::min(s_, std::sqrt(std::max(0.0, high_[0] - p0_least + margin_) * s_ / grid_.arc_d_));
  }
  // Whether the point fixed by the levels from i up can still reach R × disk.
  bool in_box(int i) const;
  // Sets level i's first offset and last (y_[i], hi_[i]); false if none is left.
  bool open_level(int i);
  // Narrows level i's offsets d = y - c to the box's reach; false if none is left.
  bool clip_to_box(int i, double c, double spread);
  // Narrows them to the disk, and on the last level to R's arc.
  bool clip_to_disk_and_arc(int i, double c, double spread);
  // The v of the current leaf: Σ (y_base_j + y_j)·x_j.
  ZOmega leaf();

  const GridSearch& grid_;
  double radius2_;                 // the ball's squared radius, 2^(k+1)
  double s_;                       // √2^k
  double margin_;                  // covers the doubles' rounding
  std::array<double, 4> low_{}, high_{};  // the box around R × disk, about g·√2^k
  std::array<double, 4> centre_{};  // the centre's offset from y_base_, per coordinate
  std::array<Real, 4> y_base_;      // the centre rounded, in the basis's coordinates
  std::optional<ZOmega> base_;      // y_base_'s point, made at the first leaf
  std::array<double, 4> y_{}, hi_{};  // each level's current and last offset
  std::array<double, 5> used_{};    // used_[i]: the squared length taken by levels above i
  std::array<double, 4> offset_{};  // the shifted centre of each level
  std::array<std::array<double, 4>, 5> fixed_{};  // fixed_[i]: p - g·√2^k from levels i and up
};

template <class Real>
GridSearch<Real>::Walk::Walk(const GridSearch& grid, int k) : grid_(grid) {
  // √2^k scales the centre; the squared radius is 2^(k+1).
  Real scale = ldexp(Real(1), k / 2);
  if (k % 2 != 0) scale *= grid.root2_;
  radius2_ = std::ldexp(1.0, k + 1);
  // The centre, split into the nearest integer point `y_base_` of the
  // basis's coordinates (kept exactly) and the offset from it (small, in
  // doubles). Its point is only made at the first leaf: most levels have none.
  for (int i = 0; i < 4; ++i) {
    const Real c = grid.centre_[i] * scale;
    y_base_[i] = round(c);
    centre_[i] = (c - y_base_[i]).template convert_to<double>();
  }
  // R × disk in the image, about g·√2^k, with s = √2^k: |p2|² + |p3|² ≤ s²,
  // and p0 above R's chord, below its arc (|v| ≤ s gives p0 ≤ chord·s -
  // arc·p1²/s) and in E (|p0|² + |p1|² ≤ s²). The margin covers the
  // doubles' rounding; the caller's exact checks decide.
  s_ = std::sqrt(radius2_ / 2);
  margin_ = s_ * 1e-6;
  low_ = {-grid.chord_d_ * s_, -s_, -s_, -s_};
  high_ = {grid.chord_d_ * s_, s_, s_, s_};
}

template <class Real>
bool GridSearch<Real>::Walk::in_box(int i) const {
  const double left = std::sqrt(std::max(0.0, radius2_ - used_[i]));
  const double p1 = along_bound(fixed_[i][0] - left * grid_.reach_d_[i][0]);
  for (int c = 0; c < 4; ++c) {
    const double reach = left * grid_.reach_d_[i][c];
    const double lo = c == 1 ? -p1 : low_[c], up = c == 1 ? p1 : high_[c];
    if (fixed_[i][c] + reach < lo - margin_ || fixed_[i][c] - reach > up + margin_) return false;
  }
  if (i > 0) return true;
  const std::array<double, 4>& p = fixed_[0];
  const double bound2 = (s_ + margin_) * (s_ + margin_);
  return p[0] * p[0] + p[1] * p[1] <= bound2 && p[2] * p[2] + p[3] * p[3] <= bound2 &&
         p[0] <= high_[0] - grid_.arc_d_ * p[1] * p[1] / s_ + margin_;
}

template <class Real>
bool GridSearch<Real>::Walk::open_level(int i) {
  double c = centre_[i];
  for (int j = i + 1; j < 4; ++j) c -= grid_.mu_d_[j][i] * (y_[j] - centre_[j]);
  offset_[i] = c;
  const double room = radius2_ - used_[i + 1];
  if (room < 0) return false;
  const double half = std::sqrt(room / grid_.norm2_d_[i]);
  // Offsets stay exact integers in doubles; a wider level lies far past
  // the levels where the search ends, and is left out.
  if (!(std::fabs(c) + half < 0x1p50)) return false;
  y_[i] = std::ceil(c - half);
  hi_[i] = std::floor(c + half);
  const double spread = std::sqrt(room);
  return clip_to_box(i, c, spread) && clip_to_disk_and_arc(i, c, spread);
}

template <class Real>
bool GridSearch<Real>::Walk::clip_to_box(int i, double c, double spread) {
  // The box, with the room the levels from i down share: for each
  // coordinate, d = y - c with fixed[i + 1] + d·b_i* within reach of it.
  const double p1 = along_bound(fixed_[i + 1][0] - spread * grid_.reach_d_[i + 1][0]);
  for (int e = 0; e < 4; ++e) {
    const double a = grid_.star_d_[i][e], reach = spread * grid_.reach_d_[i][e] + margin_;
    const double lo = e == 1 ? -p1 : low_[e], up = e == 1 ? p1 : high_[e];
    const double from = lo - reach - fixed_[i + 1][e], to = up + reach - fixed_[i + 1][e];
    if (a == 0) {
      if (from > 0 || to < 0) return false;
      continue;
    }
    y_[i] = std::max(y_[i], std::ceil(c + (a > 0 ? from : to) / a));
    hi_[i] = std::min(hi_[i], std::floor(c + (a > 0 ? to : from) / a));
  }
  return true;
}

template <class Real>
bool GridSearch<Real>::Walk::clip_to_disk_and_arc(int i, double c, double spread) {
  // Where the lattice lies in planes, a plane's points can fill the box
  // and miss R × disk: so the disk too (a quadratic in d), and on the last
  // level R's arc p0 + d·a0 ≤ chord·s - arc·(p1 + d·a1)²/s.
  double lo = -std::numeric_limits<double>::infinity(), up = -lo;  // bounds on d
  const std::array<double, 4>& above = fixed_[i + 1];
  const double q2 = above[2], q3 = above[3], a2 = grid_.star_d_[i][2], a3 = grid_.star_d_[i][3];
  const double r = s_ + spread * grid_.reach_disk_d_[i] + margin_;
  if (!clip_quadratic(a2 * a2 + a3 * a3, 2 * (q2 * a2 + q3 * a3), q2 * q2 + q3 * q3 - r * r, lo, up)) {
    return false;
  }
  if (i == 0) {
    const double bend = grid_.arc_d_ / s_, p0 = above[0], p1 = above[1];
    const double a0 = grid_.star_d_[0][0], a1 = grid_.star_d_[0][1];
    if (!clip_quadratic(bend * a1 * a1, 2 * bend * p1 * a1 + a0, bend * p1 * p1 + p0 - high_[0] - margin_,
                        lo, up)) {
      return false;
    }
  }
  y_[i] = std::max(y_[i], std::ceil(c + lo));
  hi_[i] = std::min(hi_[i], std::floor(c + up));
  return y_[i] <= hi_[i];
}

template <class Real>
ZOmega GridSearch<Real>::Walk::leaf() {
  if (!base_) {
    base_.emplace();
    for (int j = 0; j < 4; ++j) {
      const Integer yj = y_base_[j].template convert_to<Integer>();
      for (int c = 0; c < 4; ++c) base_->c[c] += yj * grid_.basis_.x[j][c];
    }
  }
  ZOmega v = *base_;
  for (int j = 0; j < 4; ++j) {
    if (y_[j] == 0) continue;
    const Integer yj(static_cast<long long>(y_[j]));
    for (int c = 0; c < 4; ++c) v.c[c] += yj * grid_.basis_.x[j][c];
  }
  return v;
}

template <class Real>
std::uint64_t GridSearch<Real>::Walk::run(std::size_t limit, std::uint64_t node_budget,
                                          std::vector<ZOmega>& out) {
  int i = 3;
  bool open = open_level(3);
  std::uint64_t nodes = 0;
  while (true) {
    if (!open || y_[i] > hi_[i]) {
      if (i == 3) return nodes;
      ++i;
      ++y_[i];
      open = true;
      continue;
    }
    if (nodes == node_budget) return nodes;
    ++nodes;
    const double d = y_[i] - offset_[i];
    used_[i] = used_[i + 1] + d * d * grid_.norm2_d_[i];
    for (int c = 0; c < 4; ++c) fixed_[i][c] = fixed_[i + 1][c] + d * grid_.star_d_[i][c];
    if (!in_box(i)) {
      ++y_[i];
      continue;
    }
    if (i > 0) {
      --i;
      open = open_level(i);
      continue;
    }
    out.push_back(leaf());
    if (out.size() >= limit) return nodes;
    ++y_[0];
  }
}

template <class Real>
std::uint64_t GridSearch<Real>::enumerate(int k, std::size_t limit, std::uint64_t node_budget,
                                          std::vector<ZOmega>& out) const {
  return Walk(*this, k).run(limit, node_budget, out);
}

template class GridSearch<Real128>;
template class GridSearch<Real256>;
template class GridSearch<Real512>;

}  // namespace kestrel::synthesis
