// The span of a set of Pauli products, for asking whether a product
// commutes with all of them.
//
// Products are kept as their X and Z bits, one vector of 2n bits each (the
// phase does not matter), reduced to a basis with distinct leading bits. A
// product commutes with every product of the set exactly when it commutes
// with every vector of the basis, since commuting is a bilinear test; so a
// test costs at most 2n row tests however many products were added. The
// support (the qubits any product touches) skips a product that meets none
// of them. For {Z_0 Z_1, Z_1 Z_2, Z_0 Z_2} the basis holds two vectors, and
// X_1 anticommutes with the set while X_0 X_1 X_2 commutes with it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "src/pauli/pauli.h"

namespace kestrel {

// The highest set bit of a row of `size` words, or -1 when it is zero.
inline std::ptrdiff_t leading_bit(const std::uint64_t* row, std::size_t size) {
  for (std::size_t w = size; w-- > 0;) {
    if (row[w] != 0) return static_cast<std::ptrdiff_t>(64 * w + 63 - std::countl_zero(row[w]));
  }
  return -1;
}

class PauliSpan {
 public:
  explicit PauliSpan(std::size_t words) : words_(words), support_(words, 0) {}

  // Whether `row` anticommutes with some product of the span.
  bool anticommutes(const std::uint64_t* row) const {
    bool meets = false;
    for (std::size_t w = 0; w < words_ && !meets; ++w) {
      meets = ((row[w] | row[words_ + w]) & support_[w]) != 0;
    }
    if (!meets) return false;
    for (std::size_t v = 0; v < leads_.size(); ++v) {
      if (anticommute(row, basis_.data() + v * 2 * words_, words_)) return true;
    }
    return false;
  }

  // The qubits any product touches, one bit each.
  const std::vector<std::uint64_t>& support() const { return support_; }

  void add(const std::uint64_t* row) {
    for (std::size_t w = 0; w < words_; ++w) support_[w] |= row[w] | row[words_ + w];
    scratch_.assign(row, row + 2 * words_);
    // The basis is kept by decreasing leading bit, so one pass reduces.
    for (std::size_t v = 0; v < leads_.size(); ++v) {
      const std::size_t lead = static_cast<std::size_t>(leads_[v]);
      if ((scratch_[lead / 64] >> (lead % 64)) & 1) {
        const std::uint64_t* b = basis_.data() + v * 2 * words_;
        for (std::size_t w = 0; w < 2 * words_; ++w) scratch_[w] ^= b[w];
      }
    }
    const std::ptrdiff_t lead = leading_bit(scratch_.data(), 2 * words_);
    if (lead < 0) return;
    const std::size_t at = static_cast<std::size_t>(
        std::upper_bound(leads_.begin(), leads_.end(), lead, std::greater<>()) - leads_.begin());
    leads_.insert(leads_.begin() + static_cast<std::ptrdiff_t>(at), lead);
    basis_.insert(basis_.begin() + static_cast<std::ptrdiff_t>(at * 2 * words_), scratch_.begin(),
                  scratch_.end());
  }

 private:
  std::size_t words_;                     // words per half row
  std::vector<std::uint64_t> support_;    // qubits any product touches
  std::vector<std::uint64_t> basis_;      // the basis, 2 * words_ words a vector
  std::vector<std::ptrdiff_t> leads_;     // each basis vector's leading bit, decreasing
  std::vector<std::uint64_t> scratch_;    // the vector being reduced
};


}  // namespace kestrel
