// Substitutions: what a pattern's variables stand for in one match.
//
// A `Subst` is an ordered list of (variable, class) pairs, at most one per
// variable, looked up from the front. Matching (seq ?a (seq ?b ?c)) against
// Seq(3, 7) where class 7 holds Seq(4, 5) gives {?a: 3, ?b: 4, ?c: 5}. Up to
// three pairs are stored inline, which covers every rule of the system. A
// search keeps its matches in a class as a `SubstList`: the variables once,
// then one row of ids per match.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <ranges>
#include <span>
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

// The substitutions of one search in one class, in the order found. They
// all bind the same variables in the same order, so the variables are kept
// once and each substitution is a row of ids: 200,000 matches of
// (seq (seq ?a ?b) ?c) take 12 bytes each. Indexing and iteration give
// `Subst` values.
class SubstList {
 public:
  SubstList() = default;
  explicit SubstList(std::span<const Var> vars) : var_count_(vars.size()) {
    if (vars.size() <= kInlineVars) {
      std::copy(vars.begin(), vars.end(), inline_vars_.begin());
    } else {
      more_vars_ = std::make_shared<const std::vector<Var>>(vars.begin(), vars.end());
    }
  }

  // `rows` substitutions counted but not stored: the searcher that counted
  // them produces them again before they are read (`Searcher::fill_deferred`).
  static SubstList deferred(std::span<const Var> vars, std::size_t rows) {
    SubstList list(vars);
    list.rows_ = rows;
    list.deferred_ = true;
    return list;
  }

  // Turns a deferred list into an empty stored one with room for its rows;
  // returns the number of rows it had.
  std::size_t store() {
    check(deferred_, "the substitutions are deferred");
    const std::size_t rows = rows_;
    deferred_ = false;
    rows_ = 0;
    ids_.reserve(rows * var_count_);
    return rows;
  }

  std::size_t size() const noexcept { return rows_; }
  bool empty() const noexcept { return rows_ == 0; }
  bool deferred() const noexcept { return deferred_; }
  // The variables every row binds, in binding order.
  std::span<const Var> vars() const noexcept {
    if (more_vars_) return *more_vars_;
    return {inline_vars_.data(), var_count_};
  }
  // The ids of row `row`, one per variable.
  std::span<const Id> row(std::size_t row) const {
    checked_index(rows_, row);
    if (deferred_) fault("the substitutions were counted, not stored");
    return std::span<const Id>(ids_).subspan(row * var_count_, var_count_);
  }

  // Appends a row; `ids` holds one id per variable.
  void push_back(std::span<const Id> ids) {
    check(ids.size() == var_count_ && !deferred_, "ids.len() == vars.len()");
    for (Id id : ids) ids_.push_back(id);  // cheaper than a range insert for a few ids
    ++rows_;
  }

  Subst operator[](std::size_t index) const {
    const std::span<const Id> ids = row(index);
    Subst s;
    const std::span<const Var> names = vars();
    for (std::size_t k = 0; k < ids.size(); ++k) s.append_unbound(names[k], ids[k]);
    return s;
  }

  class const_iterator {
   public:
    using value_type = Subst;
    using difference_type = std::ptrdiff_t;
    const_iterator() = default;
    const_iterator(const SubstList* list, std::size_t row) : list_(list), row_(row) {}
    Subst operator*() const { return (*list_)[row_]; }
    const_iterator& operator++() {
      ++row_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++row_;
      return old;
    }
    bool operator==(const const_iterator&) const = default;

   private:
    const SubstList* list_ = nullptr;  // the list iterated
    std::size_t row_ = 0;              // the row it is at
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, rows_}; }

  // Equal when the substitutions are equal one by one; deferred ones are
  // equal to nothing but an empty list.
  bool operator==(const SubstList& other) const {
    if (rows_ != other.rows_) return false;
    if (rows_ == 0) return true;
    if (deferred_ || other.deferred_) return false;
    return std::ranges::equal(vars(), other.vars()) && ids_ == other.ids_;
  }

 private:
  // The variables of every row: up to four inline, so that a list is cheap
  // to copy, more in a shared array. Unused places hold handle 0, not a
  // default Var, which would look the empty text up in the symbol table.
  static constexpr std::size_t kInlineVars = 4;
  static constexpr Var kUnused{GlobalSymbol::from_handle(0)};
  std::array<Var, kInlineVars> inline_vars_{kUnused, kUnused, kUnused, kUnused};
  std::size_t var_count_ = 0;
  std::shared_ptr<const std::vector<Var>> more_vars_;
  std::vector<Id> ids_;                          // the rows, one after another
  std::size_t rows_ = 0;                         // number of rows (the ids say it only with variables)
  bool deferred_ = false;                        // rows counted, ids not stored
};

}  // namespace kestrel
