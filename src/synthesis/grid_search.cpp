// The grid search: the lattice's reduction (once) and the enumeration of a
// level's ball; instantiated for the three float types of real.h.
#include "src/synthesis/grid_search.h"

#include <cmath>
#include <cstdint>
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

template <class Real>
void GridSearch<Real>::enumerate(int k, std::size_t limit, std::uint64_t node_budget,
                                 std::vector<ZOmega>& out) const {
  // √2^k scales the centre; the squared radius is 2^(k+1).
  Real scale = ldexp(Real(1), k / 2);
  if (k % 2 != 0) scale *= root2_;
  const double radius2 = std::ldexp(1.0, k + 1);
  // The centre, split into the nearest integer point `base` of the basis's
  // coordinates (kept exactly) and the offset from it (small, in doubles).
  // `base` is only made at the first leaf: most levels have none.
  std::array<double, 4> centre;
  std::array<Real, 4> y_base;
  for (int i = 0; i < 4; ++i) {
    const Real c = centre_[i] * scale;
    y_base[i] = round(c);
    centre[i] = (c - y_base[i]).template convert_to<double>();
  }
  std::optional<ZOmega> base;

  // Depth-first over y3, y2, y1, y0 (offsets from y_base) with explicit per-level state.
  std::array<double, 4> y{}, hi{};
  std::array<double, 5> used{};  // used[i]: the squared length taken by levels above i
  std::array<double, 4> offset{};  // the shifted centre of each level
  auto open_level = [&](int i) {
    double c = centre[i];
    for (int j = i + 1; j < 4; ++j) c -= mu_d_[j][i] * (y[j] - centre[j]);
    offset[i] = c;
    const double room = radius2 - used[i + 1];
    if (room < 0) return false;
    const double half = std::sqrt(room / norm2_d_[i]);
    // Offsets stay exact integers in doubles; a wider level lies far past
    // the levels where the search ends, and is left out.
    if (!(std::fabs(c) + half < 0x1p50)) return false;
    y[i] = std::ceil(c - half);
    hi[i] = std::floor(c + half);
    return y[i] <= hi[i];
  };
  int i = 3;
  bool open = open_level(3);
  std::uint64_t nodes = 0;
  while (true) {
    if (!open || y[i] > hi[i]) {
      if (i == 3) return;
      ++i;
      ++y[i];
      open = true;
      continue;
    }
    if (++nodes > node_budget) return;
    const double d = y[i] - offset[i];
    used[i] = used[i + 1] + d * d * norm2_d_[i];
    if (i > 0) {
      --i;
      open = open_level(i);
      continue;
    }
    // A leaf: x = Σ (y_base_j + y_j)·x_j.
    if (!base) {
      base.emplace();
      for (int j = 0; j < 4; ++j) {
        const Integer yj = y_base[j].template convert_to<Integer>();
        for (int c = 0; c < 4; ++c) base->c[c] += yj * basis_.x[j][c];
      }
    }
    ZOmega v = *base;
    for (int j = 0; j < 4; ++j) {
      if (y[j] == 0) continue;
      const Integer yj(static_cast<long long>(y[j]));
      for (int c = 0; c < 4; ++c) v.c[c] += yj * basis_.x[j][c];
    }
    out.push_back(std::move(v));
    if (out.size() >= limit) return;
    ++y[0];
  }
}

template class GridSearch<Real128>;
template class GridSearch<Real256>;
template class GridSearch<Real512>;

}  // namespace kestrel::synthesis
