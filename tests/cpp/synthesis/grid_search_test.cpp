// Tests of the grid search against brute force: every v in Z[ω] with v/√2^k
// in the ε-region of a target and v•/√2^k in the unit disk, found by trying
// every coordinate in a box, must be among the points the search lists, and
// every point it lists must lie in the ball the search is for.
#include "src/synthesis/grid_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "src/synthesis/real.h"

namespace kestrel::synthesis {
namespace {

using Real = Real256;

// Whether v/√2^k lies in the ε-region of z = (c, s) and v•/√2^k in the disk.
bool in_region(const ZOmega& v, int k, const Real& c, const Real& s, double epsilon) {
  const Real h = 1 / sqrt(Real(2));
  const Real scale = pow(sqrt(Real(2)), k);
  auto parts = [&](const ZOmega& x) {
    return std::pair<Real, Real>{Real(x.c[0]) + Real(x.c[1] - x.c[3]) * h,
                                 Real(x.c[2]) + Real(x.c[1] + x.c[3]) * h};
  };
  const auto [re, im] = parts(v);
  const auto [re_dot, im_dot] = parts(v.dot());
  const Real e2 = Real(epsilon) * Real(epsilon);
  return re * re + im * im <= scale * scale && re_dot * re_dot + im_dot * im_dot <= scale * scale &&
         re * c + im * s >= scale * (1 - e2 / 2);
}

TEST(GridSearch, FindsEveryPointOfTheRegion) {
  const struct {
    double angle, epsilon;
  } cases[] = {{0.3, 0.1}, {2.0, 0.08}, {-1.1, 0.1}, {4.0, 0.06}};
  for (const auto& c : cases) {
    const Real cs = cos(Real(c.angle)), sn = sin(Real(c.angle));
    const GridSearch<Real> grid(cs, sn, Real(c.epsilon));
    int total = 0;  // points of the regions, so that the test is not vacuous
    for (int k = 0; k <= 6; ++k) {
      std::vector<ZOmega> found;
      grid.enumerate(k, 1 << 20, 1 << 24, found);
      std::set<std::array<long, 4>> listed;
      for (const ZOmega& v : found) {
        listed.insert({static_cast<long>(v.c[0]), static_cast<long>(v.c[1]),
                       static_cast<long>(v.c[2]), static_cast<long>(v.c[3])});
      }
      // |a|, |c| ≤ √2^k and |b|, |d| ≤ √2^k as well (each is a mean of two
      // coordinates of v and v•, both in a disk of that radius).
      const int r = static_cast<int>(std::ceil(std::pow(std::sqrt(2.0), k))) + 1;
      int in = 0;
      for (int a = -r; a <= r; ++a)
        for (int b = -r; b <= r; ++b)
          for (int cc = -r; cc <= r; ++cc)
            for (int d = -r; d <= r; ++d) {
              const ZOmega v{{a, b, cc, d}};
              if (!in_region(v, k, cs, sn, c.epsilon)) continue;
              ++in;
              EXPECT_TRUE(listed.count({a, b, cc, d})) << "angle " << c.angle << " k " << k;
            }
      EXPECT_LE(static_cast<std::size_t>(in), found.size());
      total += in;
    }
    EXPECT_GT(total, 0) << c.angle;
  }
}

}  // namespace
}  // namespace kestrel::synthesis
