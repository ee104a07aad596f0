// Substitutions: what a pattern's variables stand for in one match.
//
// A `Subst` is an ordered list of (variable, class) pairs, at most one per
// variable, looked up from the front. Matching (seq ?a (seq ?b ?c)) against
// Seq(3, 7) where class 7 holds Seq(4, 5) gives {?a: 3, ?b: 4, ?c: 5}. Up to
// three pairs are stored inline, which covers every rule of the system.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "engine/language.h"
#include "engine/pattern_node.h"

namespace kestrel {

class Subst {
 public:
  using Pair = std::pair<Var, Id>;

  // The class of `var`, if bound.
  std::optional<Id> get(Var var) const {
    for (const Pair& p : pairs()) {
      if (p.first == var) return p.second;
    }
    return std::nullopt;
  }

  // Binds `var` to `id`; an existing pair keeps its place and its old id is
  // returned.
  std::optional<Id> insert(Var var, Id id) {
    for (Pair& p : mutable_pairs()) {
      if (p.first == var) return std::exchange(p.second, id);
    }
    if (size_ < kInline) {
      inline_[size_] = {var, id};
    } else {
      if (size_ == kInline) heap_.assign(inline_.begin(), inline_.end());
      heap_.emplace_back(var, id);
    }
    ++size_;
    return std::nullopt;
  }

  // The class of `var`; faults when it is not bound.
  Id operator[](Var var) const {
    if (auto id = get(var)) return *id;
    const std::string name(var.as_str());
    fault("Var '" + name + "=" + name + "' not found in " + text());
  }

  std::size_t size() const noexcept { return size_; }
  // The pairs in binding order.
  std::span<const Pair> pairs() const noexcept {
    return size_ <= kInline ? std::span<const Pair>(inline_.data(), size_) : std::span<const Pair>(heap_);
  }

  // {?a: 3, ?b: 4}
  std::string text() const {
    std::string out = "{";
    const auto all = pairs();
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (i) out += ", ";
      out += std::string(all[i].first.as_str()) + ": " + std::to_string(all[i].second);
    }
    return out + "}";
  }

  bool operator==(const Subst& other) const {
    const auto a = pairs(), b = other.pairs();
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  static constexpr std::uint32_t kInline = 3;

  std::span<Pair> mutable_pairs() noexcept {
    return size_ <= kInline ? std::span<Pair>(inline_.data(), size_) : std::span<Pair>(heap_);
  }

  std::uint32_t size_ = 0;            // number of pairs
  std::array<Pair, kInline> inline_;  // the pairs while there are at most three
  std::vector<Pair> heap_;            // all pairs once there are more
};

}  // namespace kestrel
