// Substitutions: what a pattern's variables stand for in one match.
//
// A `Subst` is an ordered list of (variable, class) pairs, at most one per
// variable, looked up from the front. Matching (seq ?a (seq ?b ?c)) against
// Seq(3, 7) where class 7 holds Seq(4, 5) gives {?a: 3, ?b: 4, ?c: 5}. Up to
// three pairs are stored inline, which covers every rule of the system.
#pragma once

#include <boost/container/small_vector.hpp>

#include <optional>
#include <string>
#include <utility>

#include "engine/fault.h"
#include "engine/language.h"
#include "engine/pattern_node.h"

namespace kestrel {

class Subst {
 public:
  using Pair = std::pair<Var, Id>;

  // The class of `var`, if bound.
  std::optional<Id> get(Var var) const {
    for (const Pair& p : pairs_) {
      if (p.first == var) return p.second;
    }
    return std::nullopt;
  }

  // Binds `var` to `id`; an existing pair keeps its place and its old id is
  // returned.
  std::optional<Id> insert(Var var, Id id) {
    for (Pair& p : pairs_) {
      if (p.first == var) return std::exchange(p.second, id);
    }
    pairs_.emplace_back(var, id);
    return std::nullopt;
  }

  // The class of `var`; faults when it is not bound.
  Id operator[](Var var) const {
    if (auto id = get(var)) return *id;
    const std::string name(var.as_str());
    fault("Var '" + name + "=" + name + "' not found in " + text());
  }

  std::size_t size() const noexcept { return pairs_.size(); }
  const auto& pairs() const noexcept { return pairs_; }
  void reserve(std::size_t n) { pairs_.reserve(n); }

  // {?a: 3, ?b: 4}
  std::string text() const {
    std::string out = "{";
    for (std::size_t i = 0; i < pairs_.size(); ++i) {
      if (i) out += ", ";
      out += std::string(pairs_[i].first.as_str()) + ": " + std::to_string(pairs_[i].second);
    }
    return out + "}";
  }

  bool operator==(const Subst&) const = default;

 private:
  boost::container::small_vector<Pair, 3> pairs_;  // in binding order
};

}  // namespace kestrel
