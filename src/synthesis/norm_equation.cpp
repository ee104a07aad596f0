// The norm equation t†t = ξ, one prime of ξ·ξ• at a time.
#include "src/synthesis/norm_equation.h"

#include "src/synthesis/factoring.h"

namespace kestrel::synthesis {
namespace {

const ZRoot2 kLambda{1, 1};         // 1 + √2, the fundamental unit
const ZRoot2 kLambdaInverse{-1, 1}; // √2 - 1

// Divides `rest` by `prime` as often as it goes; returns how often.
unsigned divide_out(ZRoot2& rest, const ZRoot2& prime) {
  unsigned count = 0;
  ZRoot2 quotient;
  while (!rest.is_zero() && divide_exact(rest, prime, quotient)) {
    rest = quotient;
    ++count;
  }
  return count;
}

ZOmega power(const ZOmega& x, unsigned n) {
  ZOmega out = ZOmega::omega_power(0);
  for (unsigned i = 0; i < n; ++i) out = out * x;
  return out;
}

// An element of Z[ω] whose |·|² is a unit times the Z[√2]-prime `eta` above
// the odd prime p (p ≡ 1, 3 or 5 mod 8), or nothing when p is not prime
// after all (a Miller-Rabin liar shows up as a missing square root).
std::optional<ZOmega> split_in_zomega(const ZOmega& eta, const Integer& p) {
  const unsigned r = static_cast<unsigned>(p % 8);
  // h + i with h² = -1 when p ≡ 1, 5; h + i√2 with h² = -2 when p ≡ 3.
  const std::optional<Integer> h = sqrt_mod(r == 3 ? Integer(-2) : Integer(-1), p);
  if (!h) return std::nullopt;
  ZOmega w{{*h, 0, r == 3 ? 0 : 1, 0}};
  if (r == 3) w.c[1] = 1, w.c[3] = 1;  // i√2 = ω + ω³
  return euclid_gcd(eta, w);
}

}  // namespace

std::optional<ZOmega> solve_norm_equation(const ZRoot2& xi, std::uint64_t& budget) {
  if (xi.is_zero()) return ZOmega{};
  if (sign(xi) < 0 || sign(xi.dot()) < 0) return std::nullopt;
  const std::optional<std::vector<PrimePower>> factors = factor(xi.norm(), budget);
  if (!factors) return std::nullopt;
  ZOmega t = ZOmega::omega_power(0);
  ZRoot2 rest = xi;
  for (const PrimePower& f : *factors) {
    const Integer& p = f.prime;
    if (p == 2) {
      // √2 = unit·(1 + ω)†(1 + ω).
      t = t * power(ZOmega{{1, 1, 0, 0}}, divide_out(rest, ZRoot2{0, 1}));
      continue;
    }
    const unsigned r = static_cast<unsigned>(p % 8);
    if (r == 3 || r == 5) {
      // p stays prime in Z[√2] and splits in Z[ω] into π and π†.
      const std::optional<ZOmega> pi = split_in_zomega(ZOmega::from(ZRoot2{p, 0}), p);
      if (!pi) return std::nullopt;
      t = t * power(*pi, divide_out(rest, ZRoot2{p, 0}));
      continue;
    }
    // p ≡ ±1 (mod 8) splits in Z[√2] into η and η•.
    const std::optional<Integer> h = sqrt_mod(Integer(2), p);
    if (!h) return std::nullopt;
    const ZRoot2 eta = euclid_gcd(ZRoot2{p, 0}, ZRoot2{*h, 1});
    if (abs(eta.norm()) != p) return std::nullopt;
    for (const ZRoot2& prime : {eta, eta.dot()}) {
      const unsigned m = divide_out(rest, prime);
      if (r == 7) {
        if (m % 2 != 0) return std::nullopt;  // η stays prime in Z[ω]
        t = t * power(ZOmega::from(prime), m / 2);
      } else {
        const std::optional<ZOmega> pi = split_in_zomega(ZOmega::from(prime), p);
        if (!pi) return std::nullopt;
        t = t * power(*pi, m);
      }
    }
  }
  // ξ = u·t†t with u a unit that is positive in both embeddings: λ^{2j}.
  ZRoot2 unit;
  if (!divide_exact(xi, t.abs2(), unit) || unit.norm() != 1 || sign(unit) <= 0) {
    return std::nullopt;
  }
  const ZRoot2 one{1, 0};
  const ZRoot2 lambda2 = kLambda * kLambda;
  const ZRoot2 lambda2_inverse = kLambdaInverse * kLambdaInverse;
  ZRoot2 fix = one;
  // Each step moves the unit's size by a factor 5.8, so this ends within the bit length.
  while (unit != one) {
    const bool above = sign(unit - one) > 0;
    unit = unit * (above ? lambda2_inverse : lambda2);
    fix = fix * (above ? kLambda : kLambdaInverse);
    if (unit.norm() != 1 || sign(unit) <= 0 || sign(unit.dot()) <= 0) return std::nullopt;
  }
  t = t * ZOmega::from(fix);
  if (t.abs2() != xi) return std::nullopt;
  return t;
}

}  // namespace kestrel::synthesis
