// Products are or-ed into their run of the first level when a search first
// needs them, and a run that its last product completes is or-ed into its
// run one level up, so each product costs about one union of words, not one
// per level; a program whose searches never ask the index builds nothing.
// The products lie in blocks of a fixed number of them, so that the index
// grows without moving what it holds, and keeps its blocks when cleared.
#include "src/rotation_merging/support_index.h"

#include <algorithm>
#include <bit>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {

namespace {

// About this many bytes of products a block: small enough to come from the
// heap, large enough that the blocks' list stays short.
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

// The power of two of products that fill about kBlockBytes: one for
// products larger than that, and for an index of products on no qubits.
unsigned block_shift(std::size_t words) {
  const std::size_t products = kBlockBytes / (16 * std::max<std::size_t>(1, words));
  return static_cast<unsigned>(std::bit_width(std::max<std::size_t>(1, products)) - 1);
}

}  // namespace

SupportIndex::SupportIndex(std::size_t words) : words_(words), block_shift_(block_shift(words)) {}

void SupportIndex::clear() {
  size_ = 0;
  united_ = 0;
  for (auto& level : unions_) level.clear();
}

void SupportIndex::push_back(const std::uint64_t* row) {
  check(size_ < kUnknown, "fewer products than an index can number");
  if ((size_ >> block_shift_) == blocks_.size()) {
    blocks_.push_back(
        std::make_unique_for_overwrite<std::uint64_t[]>((std::size_t{2} * words_) << block_shift_));
  }
  std::copy(row, row + 2 * words_, slot(size_));
  ++size_;
}

void SupportIndex::unite() {
  const std::size_t half = 2 * words_;
  for (; united_ < size_; ++united_) {
    std::vector<std::uint64_t>& first = unions_[0];
    const std::uint32_t run = united_ >> kShift;
    if (first.size() == std::size_t{run} * half) first.resize(first.size() + half, 0);
    std::uint64_t* bits = first.data() + std::size_t{run} * half;
    const std::uint64_t* product = row(united_);
    for (std::size_t w = 0; w < half; ++w) bits[w] |= product[w];
    // The runs this product completes pass their unions one level up.
    const std::uint32_t done = united_ + 1;
    for (unsigned level = 0; level + 1 < kLevels; ++level) {
      if (done & ((std::uint32_t{1} << (kShift * (level + 1))) - 1)) break;
      const std::uint32_t finished = united_ >> (kShift * (level + 1));
      const std::uint32_t parent = finished >> kShift;
      std::vector<std::uint64_t>& up = unions_[level + 1];
      if (up.size() == std::size_t{parent} * half) up.resize(up.size() + half, 0);
      const std::uint64_t* from = unions_[level].data() + std::size_t{finished} * half;
      std::uint64_t* to = up.data() + std::size_t{parent} * half;
      for (std::size_t w = 0; w < half; ++w) to[w] |= from[w];
    }
  }
}

template <bool kSparse>
bool SupportIndex::overlaps(const std::uint64_t* row, const std::uint64_t* bits) const {
  const auto meets = [&](std::size_t w) {
    return ((row[w] & bits[words_ + w]) | (row[words_ + w] & bits[w])) != 0;
  };
  if constexpr (kSparse) return std::any_of(support_.begin(), support_.end(), meets);
  for (std::size_t w = 0; w < words_; ++w) {
    if (meets(w)) return true;
  }
  return false;
}

template <bool kSparse>
bool SupportIndex::anticommutes(const std::uint64_t* row, std::uint32_t n) const {
  if constexpr (!kSparse) return anticommute(row, this->row(n), words_);
  const std::uint64_t* other = this->row(n);
  std::uint64_t odd = 0;
  for (const std::uint32_t w : support_) {
    odd ^= (row[w] & other[words_ + w]) ^ (row[words_ + w] & other[w]);
  }
  return parity(odd);
}

template <bool kSparse>
std::uint32_t SupportIndex::search(const std::uint64_t* row, std::uint32_t below,
                                   std::uint32_t end, std::size_t tests) const {
  // Whether the run at `level` holding product p - 1 surely commutes with
  // `row`. A run none of whose shorter runs is complete has no union yet:
  // its products so far are those of the shorter run, tested already.
  const auto run_commutes = [&](unsigned level, std::uint32_t p) {
    const std::size_t at = std::size_t{(p - 1) >> (kShift * (level + 1))} * 2 * words_;
    return at >= unions_[level].size() || !overlaps<kSparse>(row, unions_[level].data() + at);
  };
  std::uint32_t p = below;
  while (p > end) {
    // The highest level whose run holding p - 1 surely commutes. A run's
    // union leaves out the shorter run holding p - 1 until that one is
    // complete, so each level holds only with the levels below it, and the
    // first that fails ends the climb.
    unsigned passed = 0;
    while (passed < kLevels && run_commutes(passed, p)) ++passed;
    const unsigned shift = kShift * (passed > 0 ? passed : 1);
    const std::uint32_t start = ((p - 1) >> shift) << shift;  // of that run, or of the failed one
    if (passed == 0) {
      for (const std::uint32_t stop = std::max(start, end); p > stop;) {
        if (tests-- == 0) return kUnknown;
        --p;
        if (anticommutes<kSparse>(row, p)) return p;
      }
    }
    p = start;
  }
  return kNone;
}

std::uint32_t SupportIndex::latest(const std::uint64_t* row, std::uint32_t below,
                                   std::uint32_t above, std::size_t tests) {
  unite();
  const std::uint32_t end = above == kNone ? 0 : above + 1;
  if (words_ >= kSparseWords) {
    support_.clear();
    for (std::uint32_t w = 0; w < words_; ++w) {
      if (row[w] | row[words_ + w]) support_.push_back(w);
    }
    if (4 * support_.size() <= words_) return search<true>(row, below, end, tests);
  }
  return search<false>(row, below, end, tests);
}

}  // namespace kestrel
