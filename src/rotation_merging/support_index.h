// The newest of a growing sequence of Pauli products that anticommutes with
// a given product, found by skipping runs of products that surely commute
// with it.
//
// Two products can only anticommute where one holds X (or Y) on a qubit on
// which the other holds Z (or Y). For each aligned run of 16, 256, 4,096,
// ... products the index keeps the union of their X bits and the union of
// their Z bits; a product P commutes with every product of a run when the X
// bits of P meet none of the run's Z bits and the Z bits of P none of its X
// bits. A run of 16 takes its products as they come, a longer run the
// unions of its 16 shorter runs as each is completed, so the run being
// filled lacks its newest part: a search from a position back climbs from
// the run of 16 holding the product before the position to longer ones
// while they pass, which covers that part, skips the longest that passed,
// and otherwise tests the products themselves. A run that reaches past the
// position only unites more bits, so its test stays sound. Among diagonal
// products (Z bits only), the rotations of cx, t and tdg programs, every
// run passes: a search costs a test per level, not per product.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace kestrel {

class SupportIndex {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::uint32_t kUnknown = kNone - 1;  // a search that gave up

  // An empty index of products with `words` words a half row (pauli.h).
  explicit SupportIndex(std::size_t words);
  SupportIndex(const SupportIndex&) = delete;
  SupportIndex& operator=(const SupportIndex&) = delete;

  // Appends a product (its phase does not matter); the first is number 0.
  void push_back(const std::uint64_t* row);
  std::uint32_t size() const noexcept { return size_; }

  // The newest product numbered from `above` + 1 (from 0 when `above` is
  // kNone) to `below` - 1 that anticommutes with `row`, or kNone; or
  // kUnknown once it has tested `tests` products one by one (runs skipped
  // whole are not counted) without finding it.
  std::uint32_t latest(const std::uint64_t* row, std::uint32_t below, std::uint32_t above,
                       std::size_t tests = std::numeric_limits<std::size_t>::max());

  // Forgets every product.
  void clear();

  // The product numbered `n`: 2 * words words.
  const std::uint64_t* row(std::uint32_t n) const { return slot(n); }

 private:
  static constexpr unsigned kShift = 4;   // runs of 16^k products at level k
  static constexpr unsigned kLevels = 7;  // up to runs of 2^28

  // From this many words a half row, a search whose product has bits in at
  // most a quarter of them reads only those words of the unions and rows.
  static constexpr std::size_t kSparseWords = 8;

  // Whether `row` has X bits against Z bits of the unions `bits` or Z bits
  // against X bits on some qubit, and whether it anticommutes with product
  // `n`; with kSparse reading only the words of support_.
  template <bool kSparse>
  bool overlaps(const std::uint64_t* row, const std::uint64_t* bits) const;
  template <bool kSparse>
  bool anticommutes(const std::uint64_t* row, std::uint32_t n) const;
  template <bool kSparse>
  std::uint32_t search(const std::uint64_t* row, std::uint32_t below, std::uint32_t end,
                       std::size_t tests) const;
  void unite();
  // Where product `n` is or goes.
  std::uint64_t* slot(std::uint32_t n) const {
    return blocks_[n >> block_shift_].get() + (n & ((1u << block_shift_) - 1)) * 2 * words_;
  }

  std::size_t words_;                           // words per half row
  std::uint32_t size_ = 0;                      // products appended
  std::uint32_t united_ = 0;                    // products or-ed into the unions
  unsigned block_shift_;                        // a block holds 2^block_shift_ products
  std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;  // the products, 2 * words_ words each
  std::vector<std::uint64_t> unions_[kLevels];  // per level, per run: its X bits' and Z bits' unions
  std::vector<std::uint32_t> support_;          // a search: the words where its product has bits
};

}  // namespace kestrel
