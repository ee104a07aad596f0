// Integer factoring and square roots modulo a prime, for the norm equation of
// approximate synthesis.
//
// `factor` splits n into prime powers by trial division by the primes below
// 1000, a Miller-Rabin test and Pollard's rho method (Brent's variant). Rho's
// work is counted in modular squarings against a budget that the caller
// gives and that every call draws down, so a number with two large prime
// factors costs a bounded amount and comes back as "not factored" instead of
// taking unbounded time. Everything is deterministic: the primality test's
// witnesses come from a generator with a fixed seed.
// For example factor(2·3²·1000003) gives {2, 1}, {3, 2}, {1000003, 1}.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "src/synthesis/rings.h"

namespace kestrel::synthesis {

struct PrimePower {
  Integer prime;       // a prime (probable prime above 2^64, as Miller-Rabin says)
  unsigned exponent;   // its multiplicity, at least 1
};

// Whether n is prime: exact below 2^64, with 25 fixed-seed Miller-Rabin rounds above.
bool is_probable_prime(const Integer& n);

// The prime powers of n >= 1 in increasing order of prime, or nothing when
// Pollard's rho used up `budget` (squarings modulo a factor) first.
std::optional<std::vector<PrimePower>> factor(const Integer& n, std::uint64_t& budget);

// An x with x² ≡ a (mod p) for an odd prime p, or nothing when a is not a
// square modulo p.
std::optional<Integer> sqrt_mod(const Integer& a, const Integer& p);

}  // namespace kestrel::synthesis
