// The e-graph: equivalence classes of nodes, with hash-consing and deferred
// congruence closure.
//
// Every node (an operator whose children are class ids) lives in exactly one
// class; `memo` finds the class of a node from its canonical form, so a node
// is stored once. `union_` merges two classes cheaply and leaves congruence
// broken; `rebuild` restores it in one batch. Adding H, T, X, Seq(H, T) and
// Seq(X, T), then merging H with X and rebuilding, merges the two Seq classes
// too, since their nodes have become equal.
//
// Class ids are dense and never reused, so the class table is a vector
// indexed by id; the live classes are exactly the union-find roots, visited
// in ascending id order. All containers hash without a per-process seed, so
// the same operations give the same ids and orders on every run.
#pragma once

#include <boost/container/small_vector.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <ranges>
#include <string>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "engine/hashing.h"
#include "engine/language.h"
#include "engine/unionfind.h"

namespace kestrel {

// A node that has a class as a child, with the id of the class the node was
// added to (which may no longer be canonical).
template <Language L>
struct ParentEntry {
  L node;  // the parent node as it was entered
  Id id;   // the class it was entered for
  bool operator==(const ParentEntry&) const = default;
};

template <Language L>
struct EClass {
  Id id = 0;  // the canonical id; equals the class's slot in the table
  // Members of the class; sorted, canonical and unique right after rebuild.
  boost::container::small_vector<L, 1> nodes;
  // Every node with this class as a child; stale and repeated entries stay.
  boost::container::small_vector<ParentEntry<L>, 1> parents;

  // The multi-line debug form used in fault messages.
  std::string debug() const
    requires requires(const L& n) { n.debug(); }
  {
    std::string out = "EClass {\n    id: " + std::to_string(id) + ",\n    nodes: [";
    for (std::size_t i = 0; i < nodes.size(); ++i) out += (i ? ", " : "") + nodes[i].debug();
    out += "],\n    data: (),\n    parents: [";
    for (std::size_t i = 0; i < parents.size(); ++i) {
      out += (i ? ", (" : "(") + parents[i].node.debug() + ", " + std::to_string(parents[i].id) +
             ")";
    }
    out += "],\n}";
    return out;
  }
};

template <Language L>
class EGraph {
 public:
  using Node = L;
  using Class = EClass<L>;

  EGraph() = default;
  EGraph(const EGraph&) = delete;
  EGraph& operator=(const EGraph&) = delete;
  EGraph(EGraph&&) noexcept = default;
  EGraph& operator=(EGraph&&) noexcept = default;

  Id find(Id id) const { return uf_.find(id); }
  Id find_mut(Id id) { return uf_.find_mut(id); }

  // Adds `node`, whose children are ids of this e-graph, and returns the id
  // of its class, not necessarily canonical. Canonicalises `node` in place.
  // A node already present changes nothing, not even the clean flag.
  Id add_internal(L& node) {
    update_children(node, [&](Id child) { return find(child); });
    // One probe: the key is entered with the id the new class will get.
    const auto next = static_cast<Id>(uf_.size());
    const auto [it, inserted] = memo_.try_emplace(node, next);
    if (!inserted) return it->second;
    const Id id = uf_.make_set();
    for (Id child : node.children()) {
      class_at(find_mut(child)).parents.push_back({node, id});
    }
    pending_.push_back({node, id});
    Class& created = classes_.emplace_back();
    created.id = id;
    created.nodes.push_back(node);
    ++class_count_;
    clean_ = false;
    return id;
  }

  // Adds every node of `expr`, first to last, and returns the id for its
  // root, not necessarily canonical.
  Id add_expr_internal(const RecExpr<L>& expr) {
    std::vector<Id> ids;
    ids.reserve(expr.size());
    // At most one class per node. Reserving the bound up front spares the
    // copies of growth; the pages past the classes actually made stay untouched.
    classes_.reserve(classes_.size() + expr.size());
    pending_.reserve(pending_.size() + expr.size());
    for (L node : expr.nodes()) {
      update_children(node, [&](Id child) { return ids[checked_index(ids.size(), child)]; });
      ids.push_back(add_internal(node));
    }
    if (ids.empty()) fault_index(0, 0);
    return ids.back();
  }

  // The canonical class holding `node`, if any. Canonicalises `node` in place.
  std::optional<Id> lookup(L& node) const {
    update_children(node, [&](Id child) { return find(child); });
    if (auto it = memo_.find(node); it != memo_.end()) return find(it->second);
    return std::nullopt;
  }

  // Merges the classes of `id1` and `id2`; true when they were different.
  bool union_(Id id1, Id id2) { return perform_union(id1, id2); }

  // The merge behind `union_`. The class with more parents survives (the
  // first on a tie); the absorbed class's parents are queued for rebuild.
  bool perform_union(Id id1, Id id2) {
    clean_ = false;
    Id root = find_mut(id1);
    Id other = find_mut(id2);
    if (root == other) return false;
    if (classes_[root].parents.size() < classes_[other].parents.size()) std::swap(root, other);
    uf_.union_roots(root, other);
    --class_count_;
    ++merges_since_rebuild_;

    Class absorbed = std::move(classes_[other]);
    classes_[other] = Class{};
    classes_[other].id = other;  // the slot keeps its id; it is dead because `other` is no root
    Class& kept = classes_[root];
    check(kept.id == root, "left == right");
    pending_.insert(pending_.end(), absorbed.parents.begin(), absorbed.parents.end());
    concat_longer_first(kept.nodes, absorbed.nodes);
    concat_longer_first(kept.parents, absorbed.parents);
    return true;
  }

  // Restores congruence and the class invariants; returns the number of
  // merges that congruence caused.
  std::size_t rebuild() {
    const std::size_t merges = process_unions();
    rebuild_classes();
    merges_since_rebuild_ = 0;
    clean_ = true;
    return merges;
  }

  // The class of `find(id)`.
  const Class& operator[](Id id) const { return class_at(find(id)); }
  Class& operator[](Id id) { return class_at(find(id)); }

  // Entries of `memo`, stale keys included.
  std::size_t node_count() const noexcept { return memo_.size(); }
  std::size_t class_count() const noexcept { return class_count_; }
  // Every id ever created, canonical or not.
  std::size_t id_count() const noexcept { return uf_.size(); }

  // The live classes in ascending id order.
  auto classes() const {
    return classes_ | std::views::filter([this](const Class& c) { return uf_.is_root(c.id); });
  }

  // The classes holding a node of operator kind `kind`, ascending; accurate
  // right after a rebuild, stale after later changes.
  const std::vector<Id>& classes_by_kind(std::size_t kind) const {
    return classes_by_kind_[checked_index(classes_by_kind_.size(), kind)];
  }

  bool clean() const noexcept { return clean_; }
  const HashMap<L, Id>& memo() const noexcept { return memo_; }

 private:
  const Class& class_at(Id canonical) const {
    const Class& c = classes_[checked_index(classes_.size(), canonical)];
    if (!uf_.is_root(canonical)) fault("Invalid id " + std::to_string(canonical));
    return c;
  }
  Class& class_at(Id canonical) {
    return const_cast<Class&>(std::as_const(*this).class_at(canonical));
  }

  // Appends the shorter of `kept` and `absorbed` to the longer, leaving the
  // result in `kept`; on equal lengths `kept`'s entries come first.
  template <class V>
  static void concat_longer_first(V& kept, V& absorbed) {
    if (kept.size() < absorbed.size()) std::swap(kept, absorbed);
    kept.insert(kept.end(), absorbed.begin(), absorbed.end());
    V().swap(absorbed);
  }

  std::size_t process_unions() {
    if (merges_since_rebuild_ == 0) {
      // Every pending entry was queued by `add_internal` since the last
      // rebuild with canonical children, no class has merged since, and its
      // `memo` value is still its own id: re-entering it would change nothing.
      pending_.clear();
      return 0;
    }
    std::size_t merges = 0;
    while (!pending_.empty()) {
      auto [node, id] = pending_.back();
      pending_.pop_back();
      update_children(node, [&](Id child) { return find_mut(child); });
      auto [it, inserted] = memo_.try_emplace(node, id);
      if (!inserted) {
        const Id old = std::exchange(it->second, id);
        if (perform_union(old, id)) ++merges;
      }
    }
    return merges;
  }

  void rebuild_classes() {
    for (auto& ids : classes_by_kind_) ids.clear();
    for (Class& c : classes_) {
      if (!uf_.is_root(c.id)) continue;
      for (L& node : c.nodes) update_children(node, [&](Id child) { return find_mut(child); });
      std::sort(c.nodes.begin(), c.nodes.end());
      c.nodes.erase(std::unique(c.nodes.begin(), c.nodes.end()), c.nodes.end());
      std::size_t last_kind = L::kNumKinds;
      for (const L& node : c.nodes) {
        if (node.kind() != last_kind) {
          last_kind = node.kind();
          classes_by_kind_[last_kind].push_back(c.id);
        }
      }
    }
  }

  UnionFind uf_;                      // canonical ids of all classes
  HashMap<L, Id> memo_;               // node -> class it was entered for; only grows
  std::vector<ParentEntry<L>> pending_;  // nodes to re-canonicalise, used as a stack
  std::vector<Class> classes_;        // slot i holds class i while i is canonical
  std::size_t class_count_ = 0;       // number of canonical ids
  // Per operator kind, the classes holding a node of it, ascending.
  std::array<std::vector<Id>, L::kNumKinds> classes_by_kind_;
  bool clean_ = false;                // true from a rebuild until the next change
  std::size_t merges_since_rebuild_ = 0;  // class merges since the last rebuild
};

}  // namespace kestrel
