// Extraction: the cheapest term of an e-class under a cost function.
//
// Creation computes, for every class, the least cost of any term it holds and
// one node that reaches it, by sweeping all classes in id order until a sweep
// improves nothing; a recorded cost is replaced only by a strictly smaller
// one, so among equal costs the node found first stays. `best_term` then lays
// the chosen nodes out as a `RecExpr`. For a class {T, Seq(a, b)} where a and
// b hold T under a T-counting cost, the leaf T wins.
//
// The cost function is a type with a member type `Cost` (compared with `<`)
// and `Cost cost(const L& node, F&& child_cost)`, where `child_cost(id)`
// returns the recorded cost of a child's class. It is called only when every
// child class has a cost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/egraph.h"
#include "engine/fault.h"
#include "engine/language.h"

namespace kestrel {

template <class CF, class L>
concept CostFunction =
    Language<L> && requires(const CF& cf, const L& node, const typename CF::Cost& c,
                            const typename CF::Cost& (*child_cost)(Id)) {
      { c < c } -> std::convertible_to<bool>;
      { cf.cost(node, child_cost) } -> std::same_as<typename CF::Cost>;
    };

template <Language L, class CF>
  requires CostFunction<CF, L>
class Extractor {
 public:
  using Cost = typename CF::Cost;

  // Computes the best cost of every class of `egraph`, which must be clean
  // and stay unchanged while the extractor lives.
  Extractor(const EGraph<L>& egraph, CF cost_function)
      : egraph_(egraph), cost_function_(std::move(cost_function)), best_(egraph.class_count()) {
    if (!egraph.clean()) fault("Tried to read the classes of a dirty e-graph!");
    find_costs();
  }
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  // The recorded cost of the class of `id` and its cheapest term, root last.
  std::pair<Cost, RecExpr<L>> best_term(Id id) const {
    const Entry& root = entry(egraph_.class_index(id));
    // The term is laid out over class indices, which are dense. In a rebuilt
    // e-graph no two classes hold equal nodes, so the chosen nodes of
    // distinct classes stay distinct after renumbering.
    const auto to_index = [&](const L& node) {
      return map_children(node, [&](Id child) { return static_cast<Id>(egraph_.class_index(child)); });
    };
    const LayoutHints hints{.dense_bound = best_.size(), .distinct_nodes = true};
    RecExpr<L> expr = build_recexpr(
        to_index(root.node), [&](Id index) { return to_index(entry(index).node); }, hints);
    return {root.cost, std::move(expr)};
  }

  // The node chosen for the class of `id`: the first of its cheapest.
  const L& best_node(Id id) const { return entry(egraph_.class_index(id)).node; }

 private:
  struct Entry {
    Cost cost;  // the least cost found for the class
    L node;     // a member of the class that reaches it
  };

  const Entry& entry(std::size_t index) const {
    const auto& slot = best_[checked_index(best_.size(), index)];
    if (!slot) fault("no entry found for key");
    return *slot;
  }

  // The cheapest node of `c` under the current table; the first one wins ties.
  std::optional<Entry> best_node(const EClass<L>& c) const {
    if (c.nodes.empty()) fault("Can't extract, eclass is empty: " + egraph_.class_debug(c.id));
    std::optional<Entry> best;
    for (const L& node : c.nodes) {
      std::optional<Cost> cost = laid_out_cost(node);
      if (cost && (!best || *cost < best->cost)) best = Entry{std::move(*cost), node};
    }
    return best;
  }

  // The cost of `node` if every child class has a recorded cost. `node` is
  // as the e-graph laid it out: its children are live classes already, so
  // their positions need no `find`.
  std::optional<Cost> laid_out_cost(const L& node) const {
    const bool ready = all_children(
        node, [&](Id child) { return best_[egraph_.laid_out_index(child)].has_value(); });
    if (!ready) return std::nullopt;
    return cost_function_.cost(node, [&](Id child) -> const Cost& {
      return best_[egraph_.laid_out_index(child)]->cost;
    });
  }

  // Sweeps until nothing improves. A class none of whose children's
  // entries has changed since its last pass is skipped: the pass would
  // find what it found then, which changed its entry then or could not.
  void find_costs() {
    // Per class index: `changed_at` the step of its entry's last change,
    // `passed_at` the step at its last pass, 0 before the first.
    std::vector<std::uint64_t> changed_at(best_.size(), 0);
    std::vector<std::uint64_t> passed_at(best_.size(), 0);
    std::uint64_t step = 1;
    const auto stale = [&](const EClass<L>& c, std::uint64_t since) {
      for (const L& node : c.nodes) {
        for (Id child : node.children()) {
          if (changed_at[egraph_.laid_out_index(child)] > since) return true;
        }
      }
      return false;
    };
    bool changed = true;
    while (changed) {
      changed = false;
      std::size_t index = 0;
      for (const EClass<L>& c : egraph_.classes()) {
        const std::size_t at = index++;
        if (passed_at[at] != 0 && !stale(c, passed_at[at])) continue;
        passed_at[at] = step;
        std::optional<Entry> found = best_node(c);
        std::optional<Entry>& slot = best_[at];
        if (!found) continue;
        if (!slot || found->cost < slot->cost) {
          slot = std::move(found);
          changed_at[at] = ++step;
          changed = true;
        }
      }
    }
  }

  const EGraph<L>& egraph_;          // borrowed, read only
  CF cost_function_;                 // how a node is costed from its children
  std::vector<std::optional<Entry>> best_;  // per class index, the best (cost, node) so far
};

}  // namespace kestrel
