// A union-find over dense ids: element i's parent is entry i, a root is its
// own parent. No rank is kept: the caller of `union_roots` decides which root
// survives (the e-graph keeps the class with more parents).
//
// make_set() twice gives 0 and 1; union_roots(0, 1) makes 0 the parent of 1,
// after which find(1) is 0.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/fault.h"
#include "engine/language.h"

namespace kestrel {

class UnionFind {
 public:
  // Appends a new singleton element and returns its id.
  Id make_set() {
    const auto id = static_cast<Id>(parents_.size());
    parents_.push_back(id);
    return id;
  }

  std::size_t size() const noexcept { return parents_.size(); }
  void reserve(std::size_t n) { parents_.reserve(n); }

  Id parent(Id id) const { return parents_[checked_index(parents_.size(), id)]; }
  bool is_root(Id id) const { return parent(id) == id; }

  // The root of `id`'s tree; changes nothing.
  Id find(Id id) const {
    Id p = parent(id);
    while (p != id) {
      id = p;
      p = parents_[id];
    }
    return id;
  }

  // The root of `id`'s tree, halving the path on the way.
  Id find_mut(Id id) {
    checked_index(parents_.size(), id);
    while (true) {
      const Id p = parents_[id];
      if (p == id) return id;
      const Id g = parents_[p];
      parents_[id] = g;
      id = g;
    }
  }

  // Makes `root1` the parent of `root2` and returns `root1`. Both must be
  // roots; this is not checked.
  Id union_roots(Id root1, Id root2) {
    parents_[checked_index(parents_.size(), root2)] = root1;
    return root1;
  }

 private:
  std::vector<Id> parents_;  // parent of each element; a root is its own parent
};

}  // namespace kestrel
