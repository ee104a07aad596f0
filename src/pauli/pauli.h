// Pauli products on n qubits, packed as bits, with their phase.
//
// A product is i^k X^x Z^z: k a power of i (0 to 3), x and z bit vectors
// over the qubits, X^x Z^z the tensor product of X^x_j Z^z_j. Its words lie
// in one row of `2 * words` 64-bit words, the X bits first, then the Z bits;
// the phase is kept beside the row. For three qubits, -Y on qubit 1 is
// i^3 X^010 Z^010, since Y = iXZ: x = z = 0b010, k = 3 (-i = i^3).
//
// Moving Z^z1 past X^x2 costs (-1)^(z1.x2), which gives the product rule
// (i^a X^x1 Z^z1)(i^b X^x2 Z^z2) = i^(a + b + 2 z1.x2) X^(x1^x2) Z^(z1^z2),
// and two products commute exactly when x1.z2 + z1.x2 is even. Hermitian
// products (the only ones used) have k = x.z mod 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The number of 64-bit words that hold one bit per qubit.
constexpr std::size_t pauli_words(std::size_t qubits) { return (qubits + 63) / 64; }

// The parity of the set bits of `x`, by folding: the processors a portable
// build targets have no population count instruction.
constexpr unsigned parity(std::uint64_t x) {
  x ^= x >> 32;
  x ^= x >> 16;
  x ^= x >> 8;
  x ^= x >> 4;
  return (0x6996u >> (x & 15)) & 1;
}

// Whether the products in rows `a` and `b`, `words` words a half, anticommute.
inline bool anticommute(const std::uint64_t* a, const std::uint64_t* b, std::size_t words) {
  std::uint64_t odd = 0;
  for (std::size_t w = 0; w < words; ++w) {
    odd ^= (a[w] & b[words + w]) ^ (a[words + w] & b[w]);
  }
  return parity(odd);
}

// Writes the product of rows `a` (phase `ka`) and `b` (phase `kb`), a * b,
// to `out`, which may be `a` or `b`. Returns its phase.
inline std::uint8_t multiply(const std::uint64_t* a, std::uint8_t ka, const std::uint64_t* b,
                             std::uint8_t kb, std::uint64_t* out, std::size_t words) {
  std::uint64_t swaps = 0;  // z_a . x_b, mod 2 as the parity of this word
  for (std::size_t w = 0; w < words; ++w) {
    // Each step reads and writes words w and words + w only, so `out` may
    // be either factor.
    const std::uint64_t ax = a[w], az = a[words + w], bx = b[w], bz = b[words + w];
    swaps ^= az & bx;
    out[w] = ax ^ bx;
    out[words + w] = az ^ bz;
  }
  return static_cast<std::uint8_t>((ka + kb + 2 * parity(swaps)) & 3);
}

// Whether rows `a` and `b` hold the same bits (the same product up to phase).
// Inline word by word: rows compared are mostly equal and a few words long.
inline bool same_bits(const std::uint64_t* a, const std::uint64_t* b, std::size_t words) {
  std::uint64_t differ = 0;
  for (std::size_t w = 0; w < 2 * words; ++w) differ |= a[w] ^ b[w];
  return differ == 0;
}

}  // namespace kestrel
