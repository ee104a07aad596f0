// Trial division, Miller-Rabin with fixed witnesses, Pollard-Brent rho under
// a counted budget, and Tonelli-Shanks square roots.
#include "src/synthesis/factoring.h"

#include <algorithm>
#include <array>
#include <boost/multiprecision/integer.hpp>

namespace kestrel::synthesis {
namespace {

using boost::multiprecision::powm;

// The primes below 1000, for trial division and as Miller-Rabin witnesses.
const std::vector<unsigned>& small_primes() {
  static const std::vector<unsigned> primes = [] {
    std::vector<unsigned> out;
    for (unsigned n = 2; n < 1000; ++n) {
      bool prime = true;
      for (unsigned p : out) {
        if (p * p > n) break;
        if (n % p == 0) {
          prime = false;
          break;
        }
      }
      if (prime) out.push_back(n);
    }
    return out;
  }();
  return primes;
}

// One squaring step of rho: x ↦ x² + c (mod n).
Integer rho_step(const Integer& x, unsigned c, const Integer& n) { return (x * x + c) % n; }

// A nontrivial factor of the odd composite n, or 0 when the budget ran out.
Integer pollard_brent(const Integer& n, std::uint64_t& budget) {
  constexpr unsigned kBatch = 64;  // differences multiplied before each gcd
  for (unsigned c = 1;; ++c) {
    Integer y = 2, x, ys, q = 1, g = 1;
    for (std::uint64_t r = 1; g == 1; r *= 2) {
      x = y;
      for (std::uint64_t i = 0; i < r; ++i) y = rho_step(y, c, n);
      for (std::uint64_t k = 0; k < r && g == 1; k += kBatch) {
        ys = y;
        const std::uint64_t steps = std::min<std::uint64_t>(kBatch, r - k);
        if (budget < r + steps) {
          budget = 0;
          return 0;
        }
        budget -= steps;
        for (std::uint64_t i = 0; i < steps; ++i) {
          y = rho_step(y, c, n);
          q = (q * (x > y ? x - y : y - x)) % n;
        }
        g = gcd(q, n);
      }
      if (budget < r) {
        budget = 0;
        return 0;
      }
      budget -= r;
    }
    if (g == n) {  // the batch overshot: redo it one difference at a time
      do {
        ys = rho_step(ys, c, n);
        g = gcd(x > ys ? x - ys : ys - x, n);
      } while (g == 1);
    }
    if (g != n) return g;
  }
}

}  // namespace

bool is_probable_prime(const Integer& n) {
  if (n < 2) return false;
  for (unsigned p : small_primes()) {
    if (n == p) return true;
    if (n % p == 0) return false;
  }
  Integer d = n - 1;
  unsigned s = 0;
  while ((d & 1) == 0) {
    d >>= 1;
    ++s;
  }
  // The first twelve primes as witnesses decide every n below 3.18·10^23;
  // thirteen more make a wrong answer above that vanishingly unlikely.
  const std::vector<unsigned>& primes = small_primes();
  for (std::size_t w = 0; w < 25; ++w) {
    Integer x = powm(Integer(primes[w]), d, n);
    if (x == 1 || x == n - 1) continue;
    bool composite = true;
    for (unsigned i = 1; i < s && composite; ++i) {
      x = (x * x) % n;
      if (x == n - 1) composite = false;
    }
    if (composite) return false;
  }
  return true;
}

std::optional<std::vector<PrimePower>> factor(const Integer& n, std::uint64_t& budget) {
  std::vector<PrimePower> out;
  Integer rest = n;
  for (unsigned p : small_primes()) {
    if (rest % p != 0) continue;
    unsigned e = 0;
    while (rest % p == 0) {
      rest /= p;
      ++e;
    }
    out.push_back({Integer(p), e});
  }
  // The large factors, split on a work list (no recursion).
  std::vector<Integer> work;
  if (rest > 1) work.push_back(rest);
  std::vector<Integer> primes;
  while (!work.empty()) {
    Integer m = std::move(work.back());
    work.pop_back();
    if (is_probable_prime(m)) {
      primes.push_back(std::move(m));
      continue;
    }
    Integer root = sqrt(m);  // a perfect square defeats rho: take it apart first
    if (root * root == m) {
      work.push_back(root);
      work.push_back(std::move(root));
      continue;
    }
    Integer d = pollard_brent(m, budget);
    if (d == 0) return std::nullopt;
    work.push_back(m / d);
    work.push_back(std::move(d));
  }
  std::sort(primes.begin(), primes.end());
  for (std::size_t i = 0; i < primes.size();) {
    std::size_t j = i;
    while (j < primes.size() && primes[j] == primes[i]) ++j;
    out.push_back({primes[i], static_cast<unsigned>(j - i)});
    i = j;
  }
  return out;
}

std::optional<Integer> sqrt_mod(const Integer& a_in, const Integer& p) {
  const Integer a = ((a_in % p) + p) % p;
  if (a == 0) return Integer(0);
  if (powm(a, (p - 1) / 2, p) != 1) return std::nullopt;
  // Tonelli-Shanks: p - 1 = q·2^s with q odd.
  Integer q = p - 1;
  unsigned s = 0;
  while ((q & 1) == 0) {
    q >>= 1;
    ++s;
  }
  Integer z = 2;
  while (powm(z, (p - 1) / 2, p) != p - 1) ++z;  // the least non-square
  Integer m_c = powm(z, q, p), t = powm(a, q, p), r = powm(a, (q + 1) / 2, p);
  unsigned m = s;
  while (t != 1) {
    unsigned i = 0;
    Integer t2 = t;
    while (t2 != 1) {
      t2 = (t2 * t2) % p;
      ++i;
    }
    Integer b = m_c;
    for (unsigned j = 0; j + i + 1 < m; ++j) b = (b * b) % p;
    m = i;
    m_c = (b * b) % p;
    t = (t * m_c) % p;
    r = (r * b) % p;
  }
  return r;
}

}  // namespace kestrel::synthesis
