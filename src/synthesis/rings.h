// Exact arithmetic in the two rings of Clifford+T synthesis, with integers of
// any size (Boost.Multiprecision's cpp_int).
//
// ZRoot2 is a + b·√2 with integers a and b (the ring Z[√2]); ZOmega is
// a + b·ω + c·ω² + d·ω³ with ω = e^{iπ/4} (the ring Z[ω], which holds i = ω²
// and √2 = ω - ω³). Every entry of a Clifford+T matrix is an element of Z[ω]
// divided by a power of √2. Two conjugations matter: the complex one (x ↦ x†)
// and the one that sends √2 to -√2 and fixes i (x ↦ x•, which sends ω to -ω).
// For example (1 + ω)†(1 + ω) = 2 + √2, and (2 + √2)• = 2 - √2.
//
// Both rings are Euclidean; `euclid_gcd` returns a greatest common divisor
// (up to a unit), found by division with the quotient's coordinates rounded.
#pragma once

#include <array>
#include <boost/multiprecision/cpp_int.hpp>

namespace kestrel::synthesis {

using Integer = boost::multiprecision::cpp_int;

// floor(n / d) and the nearest integer to n / d (halves go up), for d != 0.
Integer floor_div(const Integer& n, const Integer& d);
Integer round_div(const Integer& n, const Integer& d);

// a + b√2.
struct ZRoot2 {
  Integer a = 0;  // the rational part
  Integer b = 0;  // the coefficient of √2

  friend bool operator==(const ZRoot2&, const ZRoot2&) = default;
  friend ZRoot2 operator+(const ZRoot2& x, const ZRoot2& y) { return {x.a + y.a, x.b + y.b}; }
  friend ZRoot2 operator-(const ZRoot2& x, const ZRoot2& y) { return {x.a - y.a, x.b - y.b}; }
  friend ZRoot2 operator*(const ZRoot2& x, const ZRoot2& y) {
    return {x.a * y.a + 2 * x.b * y.b, x.a * y.b + x.b * y.a};
  }
  ZRoot2 operator-() const { return {-a, -b}; }
  ZRoot2 dot() const { return {a, -b}; }               // √2 ↦ -√2
  Integer norm() const { return a * a - 2 * b * b; }   // x · x•, an integer
  bool is_zero() const { return a == 0 && b == 0; }
};

// The sign of a + b√2 (-1, 0 or 1), exactly.
int sign(const ZRoot2& x);

// x / y when y divides x exactly (y != 0); false otherwise.
bool divide_exact(const ZRoot2& x, const ZRoot2& y, ZRoot2& quotient);

// a + bω + cω² + dω³.
struct ZOmega {
  std::array<Integer, 4> c{};  // the coefficients of 1, ω, ω² and ω³

  static ZOmega from(const ZRoot2& x) { return {{x.a, x.b, 0, -x.b}}; }  // √2 = ω - ω³
  static ZOmega omega_power(int k);                                       // ω^k, any k

  friend bool operator==(const ZOmega&, const ZOmega&) = default;
  friend ZOmega operator+(const ZOmega& x, const ZOmega& y);
  friend ZOmega operator-(const ZOmega& x, const ZOmega& y);
  friend ZOmega operator*(const ZOmega& x, const ZOmega& y);
  ZOmega operator-() const { return {{-c[0], -c[1], -c[2], -c[3]}}; }
  ZOmega adjoint() const { return {{c[0], -c[3], -c[2], -c[1]}}; }  // complex conjugate
  ZOmega dot() const { return {{c[0], -c[1], c[2], -c[3]}}; }       // ω ↦ -ω
  bool is_zero() const { return c[0] == 0 && c[1] == 0 && c[2] == 0 && c[3] == 0; }

  // |x|² = x†x, which lies in Z[√2].
  ZRoot2 abs2() const;
  // The product of x's four conjugates, a nonnegative integer.
  Integer norm() const { return abs2().norm(); }
  // Whether √2 divides x, and x / √2 when it does.
  bool divisible_by_root2() const;
  ZOmega divide_by_root2() const;
  ZOmega times_root2() const;
};

// x / y when y divides x exactly (y != 0); false otherwise.
bool divide_exact(const ZOmega& x, const ZOmega& y, ZOmega& quotient);

// A greatest common divisor, up to a unit: gcd(x, 0) = x.
ZRoot2 euclid_gcd(ZRoot2 x, ZRoot2 y);
ZOmega euclid_gcd(ZOmega x, ZOmega y);

}  // namespace kestrel::synthesis
