// Bit vectors packed in 64-bit words, as every GF(2) algorithm here keeps
// them (bit i of a vector is bit i % 64 of word i / 64): the words a number
// of bits takes, one bit read or flipped, whole vectors xored, compared,
// counted, hashed and walked bit by bit; and the index that names nothing.
// words_for(65) is 2; test_bit(v, 64) reads bit 0 of v[1].
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace kestrel {

// The index (of a slot, a row, a term...) that names none.
inline constexpr std::uint32_t kNone = 0xffffffffu;

// The number of 64-bit words that hold `bits` bits.
constexpr std::size_t words_for(std::size_t bits) { return (bits + 63) / 64; }

// The number of set bits of `x`, by adding neighbouring fields: without a
// population count instruction, which the processors a portable build
// targets lack (std::popcount then becomes a library call per word).
constexpr unsigned count_ones(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ULL;
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
}
static_assert(count_ones(0) == 0 && count_ones(0b1011) == 3 && count_ones(~std::uint64_t{0}) == 64);

inline bool test_bit(const std::uint64_t* v, std::size_t i) { return (v[i >> 6] >> (i & 63)) & 1; }
inline void flip_bit(std::uint64_t* v, std::size_t i) { v[i >> 6] ^= std::uint64_t{1} << (i & 63); }
inline void set_bit(std::uint64_t* v, std::size_t i) { v[i >> 6] |= std::uint64_t{1} << (i & 63); }

inline void xor_words(std::uint64_t* dst, const std::uint64_t* src, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) dst[w] ^= src[w];
}
inline bool zero_words(const std::uint64_t* v, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) {
    if (v[w] != 0) return false;
  }
  return true;
}
inline bool equal_words(const std::uint64_t* a, const std::uint64_t* b, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) {
    if (a[w] != b[w]) return false;
  }
  return true;
}
inline std::size_t count_bits(const std::uint64_t* v, std::size_t words) {
  std::size_t c = 0;
  for (std::size_t w = 0; w < words; ++w) c += static_cast<std::size_t>(std::popcount(v[w]));
  return c;
}
// Calls f(i) for every set bit i of v, in increasing order.
template <class F>
inline void for_each_bit(const std::uint64_t* v, std::size_t words, F&& f) {
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t x = v[w]; x != 0; x &= x - 1) {
      f(w * 64 + static_cast<std::size_t>(std::countr_zero(x)));
    }
  }
}
// A hash of a vector's words, the same on every machine.
inline std::uint64_t hash_words(const std::uint64_t* v, std::size_t words) {
  std::uint64_t h = 0x243f6a8885a308d3ULL;
  for (std::size_t w = 0; w < words; ++w) {
    h = (h ^ v[w]) * 0x9e3779b97f4a7c15ULL;
    h ^= h >> 31;
  }
  h *= 0xbf58476d1ce4e5b9ULL;
  return h ^ (h >> 29);
}

}  // namespace kestrel
