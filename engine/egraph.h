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
// Ids are dense and never reused: id k is the class made for the k-th node
// added, and the live classes are the union-find roots. Each node is stored
// once, in `keys_`, in the form it was last entered in `memo` with; `memo`
// itself is a hash set of node ids looked up through that form. A merge
// queues the absorbed class's parents (the nodes having it as a child) and
// appends them to the survivor's list; `rebuild` re-enters each queued node
// in canonical form, merging classes whose nodes have become equal, and then
// lays out each live class's distinct nodes, sorted, in one array: what
// `operator[]`, `classes()` and `classes_by_kind()` show until the next
// change. A memo key whose child has stopped being canonical can never be
// found again, since every lookup canonicalises first: `rebuild` drops such
// keys and counts them, so `node_count()` is the number of distinct keys
// ever entered.
//
// Every choice that decides a result is fixed: the class with more parents
// survives a merge (the first on a tie), queued nodes are re-entered last
// queued first, and the containers hash without a per-process seed, so the
// same operations give the same ids and orders on every run.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_set.hpp>

#include "engine/fault.h"
#include "engine/hashing.h"
#include "engine/id_lists.h"
#include "engine/language.h"
#include "engine/unionfind.h"

namespace kestrel {

// A live class as the last rebuild laid it out.
template <Language L>
struct EClass {
  Id id = 0;                 // the canonical id
  std::span<const L> nodes;  // its members: sorted, canonical and unique
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
    if (const auto it = memo_.find(node); it != memo_.end()) return *it;
    std::vector<L>& keys = *keys_;
    const auto id = static_cast<Id>(keys.size());
    keys.push_back(node);
    memo_.insert(id);
    uf_.make_set();
    parents_.emplace_back();
    for (Id child : node.children()) lists_.push_back(parents_[child], id);
    ++class_count_;
    changed_ = true;
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
    keys_->reserve(keys_->size() + expr.size());
    parents_.reserve(parents_.size() + expr.size());
    uf_.reserve(uf_.size() + expr.size());
    for (L node : expr.nodes()) {
      update_children(node, [&](Id child) { return ids[checked_index(ids.size(), child)]; });
      ids.push_back(add_internal(node));
    }
    if (ids.empty()) fault_index(0, 0);
    return ids.back();
  }

  // Makes room for `more` nodes beyond those present without further
  // growth of the per-id arrays. The room is only reserved: pages past the
  // nodes actually added stay untouched, so a generous bound costs address
  // space, not memory, and spares the copies and the doubled footprint of
  // growing step by step.
  void reserve_more(std::size_t more) {
    constexpr std::size_t kMaxReserve = std::size_t{1} << 24;  // a sane bound on address space
    more = std::min(more, kMaxReserve);
    keys_->reserve(keys_->size() + more);
    parents_.reserve(parents_.size() + more);
    uf_.reserve(uf_.size() + more);
  }

  // The canonical class holding `node`, if any. Canonicalises `node` in place.
  std::optional<Id> lookup(L& node) const {
    update_children(node, [&](Id child) { return find(child); });
    if (auto it = memo_.find(node); it != memo_.end()) return find(*it);
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
    if (lists_.size(parents_[root]) < lists_.size(parents_[other])) std::swap(root, other);
    uf_.union_roots(root, other);
    --class_count_;
    changed_ = true;
    for (Id parent : lists_.view(parents_[other])) pending_.push_back(parent);
    lists_.splice(parents_[root], parents_[other]);
    return true;
  }

  // Restores congruence and lays the classes out; returns the number of
  // merges that congruence caused.
  std::size_t rebuild() {
    const std::size_t merges = process_unions();
    release_slack();
    if (changed_) lay_out_classes();
    changed_ = false;
    clean_ = true;
    return merges;
  }

  // The class of `find(id)`. Requires a clean e-graph.
  Class operator[](Id id) const { return class_at(class_index(id)); }

  // The position of `find(id)` among `classes()`. Requires a clean e-graph.
  std::size_t class_index(Id id) const {
    if (!clean_) fault("Tried to read the classes of a dirty e-graph!");
    return slot_[find(id)];
  }

  // The position among `classes()` of `id`, a class live at the last layout,
  // without canonicalising it: the children of laid-out nodes are such ids.
  std::size_t laid_out_index(Id id) const {
    const std::uint32_t index = slot_[checked_index(slot_.size(), id)];
    if (index == kNotLaidOut) [[unlikely]] fault_invalid_id(id);
    return index;
  }

  // The nodes of class `id` as the last rebuild laid them out, whatever has
  // changed since: `id` must have been canonical at that rebuild, and no
  // `find` is applied. Matching reads this to produce again, while rules
  // are being applied, the matches it counted in the clean e-graph.
  std::span<const L> laid_out_nodes(Id id) const {
    const std::size_t index = laid_out_index(id);
    const std::uint32_t begin = begin_[index];
    return {class_nodes_.data() + begin, begin_[index + 1] - begin};
  }
  // The live classes of the last rebuild, in ascending id order.
  std::span<const Id> laid_out_classes() const noexcept { return live_; }
  // Counts the layouts made; equal numbers mean the same classes and nodes.
  std::uint64_t layout_generation() const noexcept { return layouts_; }

  // Distinct nodes ever entered, keys no longer canonical included.
  std::size_t node_count() const noexcept { return memo_.size() + stale_keys_; }
  std::size_t class_count() const noexcept { return class_count_; }
  // Every id ever created, canonical or not.
  std::size_t id_count() const noexcept { return uf_.size(); }

  // The live classes in ascending id order. Requires a clean e-graph.
  auto classes() const {
    if (!clean_) fault("Tried to read the classes of a dirty e-graph!");
    return std::views::iota(std::size_t{0}, live_.size()) |
           std::views::transform([this](std::size_t index) { return class_at(index); });
  }

  // The classes holding a node of operator kind `kind`, ascending; accurate
  // right after a rebuild, stale after later changes.
  const std::vector<Id>& classes_by_kind(std::size_t kind) const {
    return by_kind_[checked_index(by_kind_.size(), kind)];
  }

  bool clean() const noexcept { return clean_; }

  // The multi-line debug form of the class of `id` used in fault messages:
  // its nodes as laid out and its parents as (node, id) pairs.
  std::string class_debug(Id id) const
    requires requires(const L& n) { n.debug(); }
  {
    const Class c = (*this)[id];
    std::string out = "EClass {\n    id: " + std::to_string(c.id) + ",\n    nodes: [";
    for (std::size_t i = 0; i < c.nodes.size(); ++i) out += (i ? ", " : "") + c.nodes[i].debug();
    out += "],\n    data: (),\n    parents: [";
    const std::span<const Id> parents = lists_.view(parents_[c.id]);
    for (std::size_t i = 0; i < parents.size(); ++i) {
      out += (i ? ", (" : "(") + (*keys_)[parents[i]].debug() + ", " +
             std::to_string(parents[i]) + ")";
    }
    out += "],\n}";
    return out;
  }

 private:
  // Hash and equality of `memo`: an id stands for its node's key, so the set
  // can be probed with an id or with a node.
  struct KeyHash {
    using is_transparent = void;
    using is_avalanching = void;  // nodes' `hash()` results are already mixed
    const std::vector<L>* keys;   // the e-graph's `keys_`, which stays put
    std::size_t operator()(Id id) const noexcept { return (*keys)[id].hash(); }
    std::size_t operator()(const L& node) const noexcept { return node.hash(); }
  };
  struct KeyEqual {
    using is_transparent = void;
    const std::vector<L>* keys;
    bool operator()(Id a, Id b) const noexcept { return (*keys)[a] == (*keys)[b]; }
    bool operator()(Id a, const L& b) const noexcept { return (*keys)[a] == b; }
    bool operator()(const L& a, Id b) const noexcept { return a == (*keys)[b]; }
  };
  using Memo = boost::unordered_flat_set<Id, KeyHash, KeyEqual>;

  static constexpr std::uint32_t kNotLaidOut = ~std::uint32_t{0};  // the slot of a dead id
  // Scratch lists up to this many entries are kept for the next rebuild;
  // larger ones are given back.
  static constexpr std::size_t kKeptScratch = std::size_t{1} << 14;

  [[noreturn, gnu::noinline, gnu::cold]] static void fault_invalid_id(Id id) {
    fault("Invalid id " + std::to_string(id));
  }

  Class class_at(std::size_t index) const {
    const std::uint32_t begin = begin_[index];
    return {live_[index], std::span<const L>(class_nodes_.data() + begin, begin_[index + 1] - begin)};
  }

  // Re-enters every queued node in canonical form, last queued first. A node
  // whose canonical form is already entered for another class merges the
  // two classes, which queues more nodes.
  std::size_t process_unions() {
    std::vector<L>& keys = *keys_;
    std::size_t merges = 0;
    while (!pending_.empty()) {
      const Id id = pending_.back();
      pending_.pop_back();
      L node = keys[id];
      update_children(node, [&](Id child) { return find_mut(child); });
      // A key whose children are all still canonical is in the set, for an
      // id of this node's class: children never become canonical again, so
      // it was canonical when it was last entered and has not been dropped
      // since, and entering it merged the id found with the one entered.
      // Entering it once more would only make the entry name the other of
      // two ids of one class, and whoever reads an entry's id canonicalises it.
      if (node == keys[id]) continue;
      // The old key has a child that is canonical no more: never found
      // again, so it leaves the set and only its count stays.
      stale_keys_ += memo_.erase(keys[id]);
      keys[id] = node;
      const auto [it, inserted] = memo_.insert(id);
      if (inserted) continue;
      // The entry now names this node's class, as a map from key to the
      // last class entered would; both ids have the same key.
      const Id old = std::exchange(const_cast<Id&>(*it), id);
      if (perform_union(old, id)) ++merges;
    }
    return merges;
  }

  // Gives back room that the rebuild has left empty, before the layout
  // allocates its own: the stack of queued nodes, when large, and the part
  // of `memo` whose keys `process_unions` dropped. A rebuild that merged much
  // leaves `memo` several times larger than its keys need, and the largest
  // state of a run is usually reached at its last rebuild and extraction.
  // `memo` is a set, so its new size changes no result; only the layout
  // walks it, and that sorts what it reads.
  void release_slack() {
    if (pending_.capacity() > kKeptScratch) std::vector<Id>().swap(pending_);
    if (memo_.bucket_count() / 4 > memo_.size()) memo_.rehash(0);
  }

  // Sorts the nodes of one class, which are distinct, so any sort gives the
  // same order; most classes hold a few nodes, where inserting each in turn
  // beats the general sort.
  template <class It>
  static void sort_nodes(It first, It last) {
    constexpr std::ptrdiff_t kInsertionLimit = 16;
    if (last - first > kInsertionLimit) {
      std::sort(first, last);
      return;
    }
    for (It it = first + (first != last); it < last; ++it) {
      const L node = *it;
      It hole = it;
      for (; hole != first && node < *(hole - 1); --hole) *hole = *(hole - 1);
      *hole = node;
    }
  }

  // Lays the live classes out in ascending id order, each class's nodes
  // sorted, and indexes them by the operator kinds they hold. After
  // `process_unions` every key left in `memo` is canonical and distinct, and
  // its id is in the class of its node: `memo` holds exactly the nodes of
  // the classes.
  void lay_out_classes() {
    ++layouts_;
    const std::vector<L>& keys = *keys_;
    const auto n = static_cast<Id>(keys.size());
    live_.clear();
    slot_.resize(n);
    for (Id id = 0; id < n; ++id) {
      if (!uf_.is_root(id)) {
        slot_[id] = kNotLaidOut;
        continue;
      }
      slot_[id] = static_cast<std::uint32_t>(live_.size());
      live_.push_back(id);
    }
    // A counting sort of the nodes by class: begin_[s] .. begin_[s + 1] are
    // the nodes of class live_[s].
    // One walk of `memo` notes each key's class; the placing pass then
    // reads the notes in order.
    begin_.assign(live_.size() + 1, 0);
    placed_.resize(memo_.size());
    std::size_t k = 0;
    for (Id id : memo_) {
      const std::uint32_t s = slot_[find_mut(id)];
      ++begin_[s + 1];
      placed_[k++] = {s, id};
    }
    std::partial_sum(begin_.begin(), begin_.end(), begin_.begin());
    cursor_.assign(begin_.begin(), begin_.end() - 1);
    class_nodes_.resize(memo_.size());
    for (const auto& [s, id] : placed_) class_nodes_[cursor_[s]++] = keys[id];
    if (placed_.capacity() > kKeptScratch) std::vector<std::pair<std::uint32_t, Id>>().swap(placed_);

    for (std::vector<Id>& ids : by_kind_) ids.clear();
    for (std::size_t s = 0; s < live_.size(); ++s) {
      const auto first = class_nodes_.begin() + begin_[s];
      const auto last = class_nodes_.begin() + begin_[s + 1];
      sort_nodes(first, last);
      // The node order must keep each kind together: the matcher takes a
      // class's nodes of one kind as one run.
      std::size_t last_kind = L::kNumKinds;
      for (auto it = first; it != last; ++it) {
        const std::size_t kind = it->kind();
        if (kind == last_kind) continue;
        if (last_kind != L::kNumKinds && kind < last_kind) {
          fault("the node order must group nodes by kind, ascending");
        }
        last_kind = kind;
        by_kind_[checked_index(by_kind_.size(), kind)].push_back(live_[s]);
      }
    }
  }

  // Every node added, by id, in the form `memo` holds it under; boxed so
  // that `memo`'s hash and equality can point at it across moves.
  std::unique_ptr<std::vector<L>> keys_ = std::make_unique<std::vector<L>>();
  Memo memo_{0, KeyHash{keys_.get()}, KeyEqual{keys_.get()}};  // ids of the distinct keys
  std::size_t stale_keys_ = 0;        // keys dropped from `memo_` once no longer canonical
  UnionFind uf_;                      // canonical ids of all classes
  std::vector<IdLists::Head> parents_;  // per id, the nodes with that class as a child
  IdLists lists_;                     // the storage of `parents_`
  std::vector<Id> pending_;           // nodes to re-enter at rebuild, used as a stack
  std::size_t class_count_ = 0;       // number of canonical ids
  bool clean_ = false;                // true from a rebuild until the next change
  bool changed_ = false;              // a class was added or merged since the last layout

  // The layout of the last rebuild.
  std::uint64_t layouts_ = 0;            // layouts made so far
  std::vector<Id> live_;                 // the live classes, ascending
  std::vector<std::uint32_t> slot_;      // per id laid out, its class's index in `live_` or kNotLaidOut
  std::vector<std::uint32_t> begin_;     // per index, its first node in `class_nodes_`; one more at the end
  std::vector<L> class_nodes_;           // every live class's nodes, one class after another
  std::array<std::vector<Id>, L::kNumKinds> by_kind_;  // per operator kind, the classes holding it
  std::vector<std::uint32_t> cursor_;    // scratch of the layout: per index, the next free place
  std::vector<std::pair<std::uint32_t, Id>> placed_;  // scratch of the layout: (class index, key id)
};

}  // namespace kestrel
