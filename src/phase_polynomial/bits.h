// Counting the set bits of a word without a population count instruction,
// which the processors a portable build targets lack (std::popcount then
// becomes a library call per word): 0b1011 has 3.
#pragma once

#include <cstdint>

namespace kestrel {

// The number of set bits of `x`, by adding neighbouring fields.
constexpr unsigned count_ones(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ULL;
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
}
static_assert(count_ones(0) == 0 && count_ones(0b1011) == 3 && count_ones(~std::uint64_t{0}) == 64);

}  // namespace kestrel
