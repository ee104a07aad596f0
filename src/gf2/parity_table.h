// A table of parities over n variables: the T terms of a phase polynomial.
//
// Column j is a parity, an n-bit vector packed in `words = (n + 63) / 64`
// 64-bit words: bit i of the column is 1 when variable x_i takes part in it.
// The columns lie one after another (column-major) in a fixed order, so a
// table built the same way twice is the same table. Over three variables the
// parities x_0, x_0 + x_2 and x_1 + x_2 are the columns 0b001, 0b101, 0b110.
//
// The table says nothing of coefficients: the phase-polynomial method keeps
// here only the parities whose coefficient is odd, one T gate each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/gf2/bits.h"

namespace kestrel {

// The number of 64-bit words that hold one bit per variable.
constexpr std::size_t parity_words(std::size_t variables) { return words_for(variables); }

struct ParityTable {
  std::uint32_t variables = 0;        // n: the number of variables (rows)
  std::size_t words = 0;              // words per column, parity_words(variables)
  std::vector<std::uint64_t> bits;    // the columns, `words` words each

  ParityTable() = default;
  explicit ParityTable(std::uint32_t n) : variables(n), words(parity_words(n)) {}

  std::size_t columns() const noexcept { return words == 0 ? 0 : bits.size() / words; }
  std::span<const std::uint64_t> column(std::size_t j) const {
    return {bits.data() + j * words, words};
  }
  std::span<std::uint64_t> column(std::size_t j) { return {bits.data() + j * words, words}; }

  // Appends a column of `words` words (bits at and above `variables` zero).
  void push_back(std::span<const std::uint64_t> parity) {
    bits.insert(bits.end(), parity.begin(), parity.end());
  }

  friend bool operator==(const ParityTable&, const ParityTable&) = default;
};

}  // namespace kestrel
