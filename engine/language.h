// Ids, the language interface, flat expressions and their layout.
//
// The engine works on any node type that satisfies `Language`: a small,
// trivially copyable value holding an operator and a fixed number of child
// `Id`s, with a total order, a fixed hash and an operator kind. A term
// outside the e-graph is a `RecExpr`: nodes in a vector whose children are
// positions of earlier nodes, root last. For example seq(T, T) is the
// expression [T, T, seq(0, 1)], or, with the leaf shared, [T, seq(0, 0)].
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "engine/hashing.h"
#include "engine/indexed_set.h"

namespace kestrel {

// A position inside a `RecExpr`, or an e-class inside the e-graph.
using Id = std::uint32_t;

// What the engine requires of a node type. Beyond what the compiler checks:
// the order sorts by `kind()` first, so that a sorted list keeps each kind's
// nodes together (the e-graph checks this whenever it sorts a class), and
// nodes that match have the same kind. A type whose `matches` is exactly
// kind equality may say so with `static constexpr bool kMatchesByKind =
// true`; the matcher then counts a run of one kind without testing each node.
template <class L>
concept Language = std::regular<L> && std::totally_ordered<L> &&
                   std::is_trivially_copyable_v<L> &&
                   requires(const L& node, L& mutable_node) {
                     // The child ids in order.
                     { node.children() } -> std::same_as<std::span<const Id>>;
                     // The same slots, writable in place.
                     { mutable_node.children_mut() } -> std::same_as<std::span<Id>>;
                     // Same operator and arity; children are not compared.
                     { node.matches(node) } -> std::same_as<bool>;
                     // The operator without its children, as a dense index.
                     { node.kind() } -> std::same_as<std::size_t>;
                     { L::kNumKinds } -> std::convertible_to<std::size_t>;
                     // A fixed hash of operator and children.
                     { node.hash() } -> std::same_as<std::uint64_t>;
                   };

// Whether nodes of L match exactly when their kinds are equal.
template <Language L>
constexpr bool matches_by_kind() {
  if constexpr (requires { L::kMatchesByKind; }) {
    return L::kMatchesByKind;
  } else {
    return false;
  }
}

// Calls `f` on each child id, first child first.
template <Language L, class F>
void for_each_child(const L& node, F&& f) {
  for (Id child : node.children()) f(child);
}

// True when `pred` holds for every child, tested in order up to the first failure.
template <Language L, class P>
bool all_children(const L& node, P&& pred) {
  for (Id child : node.children()) {
    if (!pred(child)) return false;
  }
  return true;
}

// Replaces every child of `node` in place by `f(child)`, in order.
template <Language L, class F>
void update_children(L& node, F&& f) {
  for (Id& child : node.children_mut()) child = f(child);
}

// A copy of `node` whose children are `f(child)`, visited in order.
template <Language L, class F>
L map_children(L node, F&& f) {
  update_children(node, std::forward<F>(f));
  return node;
}

// The error of building a node from an operator name the language rejects,
// or from the wrong number of children.
struct FromOpError {
  std::string op;            // the operator text as given
  std::vector<Id> children;  // the children as given

  FromOpError(std::string_view op_text, std::vector<Id> kids)
      : op(op_text), children(std::move(kids)) {}
  bool operator==(const FromOpError&) const = default;
};

// A term as a flat vector of nodes; every child is the position of an earlier
// node and the last node is the root.
template <Language L>
class RecExpr {
 public:
  RecExpr() = default;
  explicit RecExpr(std::vector<L> nodes) : nodes_(std::move(nodes)) {}

  // Appends `node` and returns its position. Equal nodes are not merged.
  Id add(const L& node) {
    nodes_.push_back(node);
    return static_cast<Id>(nodes_.size() - 1);
  }

  // The node at position `id`; faults when `id` is past the end.
  const L& operator[](Id id) const { return nodes_[checked_index(nodes_.size(), id)]; }
  L& operator[](Id id) { return nodes_[checked_index(nodes_.size(), id)]; }

  std::size_t size() const noexcept { return nodes_.size(); }
  bool empty() const noexcept { return nodes_.empty(); }
  std::span<const L> nodes() const noexcept { return nodes_; }
  void reserve(std::size_t n) { nodes_.reserve(n); }

  // The position of the root, the last node; faults on an empty expression.
  Id root() const {
    if (nodes_.empty()) fault_index(0, 0);
    return static_cast<Id>(nodes_.size() - 1);
  }

  bool operator==(const RecExpr&) const = default;

 private:
  std::vector<L> nodes_;  // children point to earlier positions; root last
};

namespace detail {

// Where each source id was laid out: a hash map for sparse ids, a vector for
// ids known to be below a bound.
class PositionTable {
 public:
  explicit PositionTable(std::size_t dense_bound) {
    if (dense_bound > 0) dense_.assign(dense_bound, kNone);
  }
  bool contains(Id id) const {
    if (dense_.empty()) return sparse_.contains(id);
    return dense_[checked_index(dense_.size(), id)] != kNone;
  }
  Id at(Id id) const { return dense_.empty() ? sparse_.find(id)->second : dense_[id]; }
  void set(Id id, Id position) {
    if (dense_.empty()) {
      sparse_.emplace(id, position);
    } else {
      dense_[id] = position;
    }
  }

 private:
  static constexpr Id kNone = ~Id{0};
  std::vector<Id> dense_;              // id -> position, or kNone
  HashMap<Id, Id, IntHash> sparse_;    // id -> position
};

}  // namespace detail

// How `build_recexpr` may keep its tables; the result is the same either way.
struct LayoutHints {
  // Non-zero when every source id is below it: positions go in a vector
  // instead of a hash map.
  std::size_t dense_bound = 0;
  // True when distinct source ids are known to give nodes that stay distinct
  // after renumbering (the ids of a hash-consed term, the classes of a
  // rebuilt e-graph): the search for equal nodes can be skipped.
  bool distinct_nodes = false;
};

// Lays out the term rooted at `root` as a `RecExpr`. `node_for_id` maps a
// child id of the source (an e-class, a pattern position) to the node that
// stands for it. The walk uses an explicit stack, so deep terms need no call
// stack. A child id reached several times is laid out once; the last child's
// subterm comes before the first child's; nodes that become equal after
// renumbering share one position; the root is always last and never merged.
template <Language L, class F>
RecExpr<L> build_recexpr(L root, F&& node_for_id, LayoutHints hints = {}) {
  std::vector<Id> todo(root.children().begin(), root.children().end());
  detail::PositionTable position(hints.dense_bound);  // source id -> position in the result
  IndexedSet<L, NodeHash<L>> done;                    // laid-out nodes, when they may repeat
  std::vector<L> nodes;                               // laid-out nodes, when they are distinct
  if (hints.distinct_nodes) nodes.reserve(hints.dense_bound + 1);
  while (!todo.empty()) {
    const Id id = todo.back();
    if (position.contains(id)) {
      todo.pop_back();
      continue;
    }
    L node = node_for_id(id);
    bool pushed = false;
    for (Id child : node.children()) {
      if (!position.contains(child)) {
        todo.push_back(child);
        pushed = true;
      }
    }
    if (!pushed) {
      update_children(node, [&](Id child) { return position.at(child); });
      if (hints.distinct_nodes) {
        position.set(id, static_cast<Id>(nodes.size()));
        nodes.push_back(node);
      } else {
        position.set(id, done.insert(node).first);
      }
      todo.pop_back();
    }
  }
  if (!hints.distinct_nodes) nodes = std::move(done).take();
  update_children(root, [&](Id child) { return position.at(child); });
  nodes.push_back(root);
  return RecExpr<L>(std::move(nodes));
}

}  // namespace kestrel
