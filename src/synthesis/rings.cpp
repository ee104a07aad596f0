// The ring operations of Z[√2] and Z[ω]: products, exact and rounded
// division, and the Euclidean algorithm.
#include "src/synthesis/rings.h"

#include <utility>

#include "engine/fault.h"

namespace kestrel::synthesis {

Integer floor_div(const Integer& n, const Integer& d) {
  Integer q = n / d;  // truncates toward zero
  if (q * d != n && ((n < 0) != (d < 0))) --q;
  return q;
}

Integer round_div(const Integer& n, const Integer& d) {
  return floor_div(2 * n + d, 2 * d);
}

int sign(const ZRoot2& x) {
  const int sa = x.a.sign(), sb = x.b.sign();
  if (sa >= 0 && sb >= 0) return sa + sb > 0 ? 1 : 0;
  if (sa <= 0 && sb <= 0) return -1;
  // Opposite signs: the larger of a² and 2b² decides.
  const Integer a2 = x.a * x.a, b2 = 2 * x.b * x.b;
  if (a2 == b2) return 0;  // cannot happen for integers other than 0, kept for safety
  return (a2 > b2) == (sa > 0) ? 1 : -1;
}

bool divide_exact(const ZRoot2& x, const ZRoot2& y, ZRoot2& quotient) {
  const Integer n = y.norm();
  const ZRoot2 num = x * y.dot();
  if (num.a % n != 0 || num.b % n != 0) return false;
  quotient = {num.a / n, num.b / n};
  return true;
}

ZOmega ZOmega::omega_power(int k) {
  const int m = ((k % 8) + 8) % 8;
  ZOmega x;
  x.c[m % 4] = m < 4 ? 1 : -1;
  return x;
}

ZOmega operator+(const ZOmega& x, const ZOmega& y) {
  return {{x.c[0] + y.c[0], x.c[1] + y.c[1], x.c[2] + y.c[2], x.c[3] + y.c[3]}};
}

ZOmega operator-(const ZOmega& x, const ZOmega& y) {
  return {{x.c[0] - y.c[0], x.c[1] - y.c[1], x.c[2] - y.c[2], x.c[3] - y.c[3]}};
}

ZOmega operator*(const ZOmega& x, const ZOmega& y) {
  ZOmega r;
  for (int i = 0; i < 4; ++i) {
    if (x.c[i] == 0) continue;
    for (int j = 0; j < 4; ++j) {
      if (i + j < 4) {
        r.c[i + j] += x.c[i] * y.c[j];
      } else {
        r.c[i + j - 4] -= x.c[i] * y.c[j];  // ω⁴ = -1
      }
    }
  }
  return r;
}

ZRoot2 ZOmega::abs2() const {
  // x†x is real: its coefficients are (r0, r1, 0, -r1), that is r0 + r1√2.
  const ZOmega r = adjoint() * *this;
  return {r.c[0], r.c[1]};
}

bool ZOmega::divisible_by_root2() const {
  return ((c[0] + c[2]) & 1) == 0 && ((c[1] + c[3]) & 1) == 0;
}

ZOmega ZOmega::times_root2() const {
  return {{c[1] - c[3], c[0] + c[2], c[1] + c[3], c[2] - c[0]}};
}

ZOmega ZOmega::divide_by_root2() const {
  ZOmega r = times_root2();
  for (Integer& v : r.c) v >>= 1;  // exact (v is even) when divisible_by_root2()
  return r;
}

namespace {

// y's three other conjugates multiplied, so that y times it is y's norm.
ZOmega norm_cofactor(const ZOmega& y) { return y.adjoint() * y.dot() * y.dot().adjoint(); }

}  // namespace

bool divide_exact(const ZOmega& x, const ZOmega& y, ZOmega& quotient) {
  const Integer n = y.norm();
  const ZOmega num = x * norm_cofactor(y);
  for (const Integer& v : num.c) {
    if (v % n != 0) return false;
  }
  for (int j = 0; j < 4; ++j) quotient.c[j] = num.c[j] / n;
  return true;
}

ZRoot2 euclid_gcd(ZRoot2 x, ZRoot2 y) {
  // The rounded quotient leaves a remainder of norm at most half of y's.
  while (!y.is_zero()) {
    const Integer n = y.norm();
    const ZRoot2 num = x * y.dot();
    const ZRoot2 q{round_div(num.a, n), round_div(num.b, n)};
    ZRoot2 r = x - q * y;
    x = std::move(y);
    y = std::move(r);
  }
  return x;
}

ZOmega euclid_gcd(ZOmega x, ZOmega y) {
  // Rounding each coordinate leaves a remainder of smaller norm except when
  // every coordinate is exactly a half; then one of the sixteen neighbouring
  // quotients does.
  while (!y.is_zero()) {
    const Integer n = y.norm();
    const ZOmega num = x * norm_cofactor(y);
    ZOmega q;
    for (int j = 0; j < 4; ++j) q.c[j] = round_div(num.c[j], n);
    ZOmega r = x - q * y;
    if (r.norm() >= n) {
      ZOmega best = r;
      for (int corner = 0; corner < 16; ++corner) {
        ZOmega qc;
        for (int j = 0; j < 4; ++j) qc.c[j] = floor_div(num.c[j], n) + ((corner >> j) & 1);
        ZOmega rc = x - qc * y;
        if (rc.norm() < best.norm()) best = std::move(rc);
      }
      r = std::move(best);
      check(r.norm() < n, "a Euclidean step in Z[omega] lowers the norm");
    }
    x = std::move(y);
    y = std::move(r);
  }
  return x;
}

}  // namespace kestrel::synthesis
