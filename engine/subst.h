// Substitutions: what a pattern's variables stand for in one match.
//
// A `Subst` is an ordered list of (variable, class) pairs, at most one per
// variable, looked up from the front. Matching (seq ?a (seq ?b ?c)) against
// Seq(3, 7) where class 7 holds Seq(4, 5) gives {?a: 3, ?b: 4, ?c: 5}. Up to
// three pairs are stored inline, which covers every rule of the system; a
// search makes one substitution per match, so they must be cheap to build.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <ranges>
#include <string>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "engine/language.h"
#include "engine/pattern_node.h"
#include "engine/symbol.h"

namespace kestrel {

class Subst {
 public:
  // The class of `var`, if bound.
  std::optional<Id> get(Var var) const {
    const Slot* slot = find(var.symbol().handle());
    if (slot == nullptr) return std::nullopt;
    return slot->id;
  }

  // Binds `var` to `id`; an existing pair keeps its place and its old id is
  // returned.
  std::optional<Id> insert(Var var, Id id) {
    const std::uint32_t handle = var.symbol().handle();
    if (Slot* slot = const_cast<Slot*>(find(handle))) return std::exchange(slot->id, id);
    append_unbound(var, id);
    return std::nullopt;
  }

  // Appends a pair for `var`, which must not be bound yet; the matcher uses
  // it to fill a substitution whose variables are known to be distinct.
  void append_unbound(Var var, Id id) {
    const Slot slot{var.symbol().handle(), id};
    if (size_ < kInline) {
      inline_[size_] = slot;
    } else {
      if (size_ == kInline) heap_.assign(inline_.begin(), inline_.end());
      heap_.push_back(slot);
    }
    ++size_;
  }

  // The class of `var`; faults when it is not bound.
  Id operator[](Var var) const {
    if (auto id = get(var)) return *id;
    const std::string name(var.as_str());
    fault("Var '" + name + "=" + name + "' not found in " + text());
  }

  std::size_t size() const noexcept { return size_; }

  // The pairs in binding order, as (variable, class) values.
  auto pairs() const {
    return std::views::iota(std::size_t{0}, std::size_t{size_}) |
           std::views::transform([this](std::size_t i) {
             const Slot& s = slots()[i];
             return std::pair<Var, Id>(Var(GlobalSymbol::from_handle(s.var)), s.id);
           });
  }

  // {?a: 3, ?b: 4}
  std::string text() const {
    std::string out = "{";
    for (const auto& [var, id] : pairs()) {
      if (out.size() > 1) out += ", ";
      out += var.as_str();
      out += ": ";
      out += std::to_string(id);
    }
    return out + "}";
  }

  bool operator==(const Subst& other) const {
    if (size_ != other.size_) return false;
    return std::equal(slots(), slots() + size_, other.slots(),
                      [](const Slot& a, const Slot& b) { return a.var == b.var && a.id == b.id; });
  }

 private:
  static constexpr std::uint32_t kInline = 3;

  struct Slot {
    std::uint32_t var;  // the variable's symbol handle
    Id id;              // the class it stands for
  };

  const Slot* slots() const noexcept { return size_ <= kInline ? inline_.data() : heap_.data(); }

  const Slot* find(std::uint32_t handle) const noexcept {
    const Slot* all = slots();
    for (std::uint32_t i = 0; i < size_; ++i) {
      if (all[i].var == handle) return &all[i];
    }
    return nullptr;
  }

  std::uint32_t size_ = 0;            // number of pairs
  std::array<Slot, kInline> inline_{};  // the pairs while there are at most three
  std::vector<Slot> heap_;            // all pairs once there are more
};

}  // namespace kestrel
