// The grid search: the lattice's reduction (once) and the enumeration of a
// level's ball; instantiated for the two float types of real.h.
#include "src/synthesis/grid_search.h"

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

}  // namespace

template <class Real>
GridSearch<Real>::GridSearch(const Real& cos0, const Real& sin0, const Real& epsilon) {
  const Real r2 = sqrt(Real(2)), h = 1 / r2;
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
  reduce(basis_);
  gram_schmidt(basis_, 0);
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
void GridSearch<Real>::reduce(Basis& b) {
  // Textbook LLL with δ = 0.75, the Gram-Schmidt data brought up to date
  // from the first vector that changed. The step count is bounded so that
  // a basis that rounding keeps from settling still ends; any basis serves
  // the enumeration, a reduced one only makes it fast.
  const Real delta("0.75");
  gram_schmidt(b, 0);
  int k = 1;
  for (int steps = 0; k < 4 && steps < 20000; ++steps) {
    bool changed = false;
    for (int j = k - 1; j >= 0; --j) {
      const Integer q = nearest_integer(mu_[k][j]);
      if (q == 0) continue;
      for (int c = 0; c < 4; ++c) b.x[k][c] -= q * b.x[j][c];
      const Real qr(q);
      for (int i = 0; i < j; ++i) mu_[k][i] -= qr * mu_[j][i];
      mu_[k][j] -= qr;
      changed = true;
    }
    if (changed) {  // the image and row k again from the exact coordinates
      b.f[k] = image(b.x[k]);
      gram_schmidt(b, k);
    }
    if (norm2_[k] >= (delta - mu_[k][k - 1] * mu_[k][k - 1]) * norm2_[k - 1]) {
      ++k;
    } else {
      std::swap(b.x[k], b.x[k - 1]);
      std::swap(b.f[k], b.f[k - 1]);
      gram_schmidt(b, k - 1);
      k = k > 1 ? k - 1 : 1;
    }
  }
}

template <class Real>
void GridSearch<Real>::enumerate(int k, std::size_t limit, std::uint64_t node_budget,
                                 std::vector<ZOmega>& out) const {
  // √2^k scales the centre; the squared radius is 2^(k+1).
  Real scale = 1;
  for (int i = 0; i < k / 2; ++i) scale *= 2;
  if (k % 2 != 0) scale *= sqrt(Real(2));
  const Real radius2 = scale * scale * 2;
  std::array<Real, 4> centre;
  for (int i = 0; i < 4; ++i) centre[i] = centre_[i] * scale;

  // Depth-first over y3, y2, y1, y0 with explicit per-level state.
  std::array<Integer, 4> y, hi;
  std::array<Real, 5> used{};  // used[i]: the squared length taken by levels above i
  std::array<Real, 4> offset;  // the shifted centre of each level
  auto open_level = [&](int i) {
    Real c = centre[i];
    for (int j = i + 1; j < 4; ++j) c -= mu_[j][i] * (Real(y[j]) - centre[j]);
    offset[i] = c;
    const Real room = radius2 - used[i + 1];
    if (room < 0) return false;
    const Real half = sqrt(room / norm2_[i]);
    y[i] = ceil(c - half).template convert_to<Integer>();
    hi[i] = floor(c + half).template convert_to<Integer>();
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
    const Real d = Real(y[i]) - offset[i];
    used[i] = used[i + 1] + d * d * norm2_[i];
    if (i > 0) {
      --i;
      open = open_level(i);
      continue;
    }
    // A leaf: x = Σ y_j·x_j.
    ZOmega v;
    for (int j = 0; j < 4; ++j) {
      for (int c = 0; c < 4; ++c) v.c[c] += y[j] * basis_.x[j][c];
    }
    out.push_back(std::move(v));
    if (out.size() >= limit) return;
    ++y[0];
  }
}

template class GridSearch<Real256>;
template class GridSearch<Real512>;

}  // namespace kestrel::synthesis
