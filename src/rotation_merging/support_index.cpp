// Products are or-ed into the open run of every level when a search first
// needs them, so a run's unions are ready as soon as its first product is
// in, and a program whose searches never ask the index never builds them.
#include "src/rotation_merging/support_index.h"

#include <algorithm>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {

SupportIndex::SupportIndex(std::size_t words) : words_(words) {}

void SupportIndex::clear() {
  size_ = 0;
  united_ = 0;
  rows_.clear();
  for (auto& level : unions_) level.clear();
}

void SupportIndex::push_back(const std::uint64_t* row) {
  check(size_ < kUnknown, "fewer products than an index can number");
  rows_.insert(rows_.end(), row, row + 2 * words_);
  ++size_;
}

void SupportIndex::unite() {
  for (; united_ < size_; ++united_) {
    const std::uint64_t* product = row(united_);
    for (unsigned level = 0; level < kLevels; ++level) {
      const std::uint32_t run = united_ >> (kShift * (level + 1));
      std::vector<std::uint64_t>& unions = unions_[level];
      if (unions.size() == std::size_t{run} * 2 * words_) {
        unions.resize(unions.size() + 2 * words_, 0);
      }
      std::uint64_t* bits = unions.data() + std::size_t{run} * 2 * words_;
      for (std::size_t w = 0; w < 2 * words_; ++w) bits[w] |= product[w];
    }
  }
}

bool SupportIndex::run_commutes(const std::uint64_t* row, unsigned level,
                                std::uint32_t run) const {
  const std::uint64_t* bits = unions_[level].data() + std::size_t{run} * 2 * words_;
  for (std::size_t w = 0; w < words_; ++w) {
    if ((row[w] & bits[words_ + w]) | (row[words_ + w] & bits[w])) return false;
  }
  return true;
}

std::uint32_t SupportIndex::latest(const std::uint64_t* row, std::uint32_t below,
                                   std::uint32_t above, std::size_t tests) {
  unite();
  const std::uint32_t end = above == kNone ? 0 : above + 1;
  std::uint32_t p = below;
  while (p > end) {
    // The highest level whose run holding p - 1 surely commutes: the unions
    // grow with the level, so the first that fails ends the climb.
    unsigned passed = 0;
    while (passed < kLevels && run_commutes(row, passed, (p - 1) >> (kShift * (passed + 1)))) {
      ++passed;
    }
    const unsigned shift = kShift * (passed > 0 ? passed : 1);
    const std::uint32_t start = ((p - 1) >> shift) << shift;  // of that run, or of the failed one
    if (passed == 0) {
      for (const std::uint32_t stop = std::max(start, end); p > stop;) {
        if (tests-- == 0) return kUnknown;
        --p;
        if (anticommute(row, this->row(p), words_)) return p;
      }
    }
    p = start;
  }
  return kNone;
}

}  // namespace kestrel
