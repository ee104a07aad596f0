// An insertion-ordered set: a vector of distinct values plus a hash index.
//
// `insert` returns the position of the value, new or already present, so the
// set doubles as a value numbering: inserting T, seq(0, 0), T gives positions
// 0, 1, 0. Iteration is the order of first insertion.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "engine/hashing.h"

namespace kestrel {

template <class T, class H>
class IndexedSet {
 public:
  // Inserts `value` if absent. Returns its position and whether it was new.
  std::pair<std::uint32_t, bool> insert(const T& value) {
    const auto next = static_cast<std::uint32_t>(values_.size());
    auto [it, inserted] = index_.try_emplace(value, next);
    if (inserted) values_.push_back(value);
    return {it->second, inserted};
  }

  const T& operator[](std::uint32_t i) const { return values_[i]; }
  std::size_t size() const noexcept { return values_.size(); }
  std::span<const T> values() const noexcept { return values_; }
  std::vector<T> take() && { return std::move(values_); }

 private:
  std::vector<T> values_;                             // distinct values, first insertion first
  boost::unordered_flat_map<T, std::uint32_t, H> index_;  // value -> position in values_
};

}  // namespace kestrel
