// A gate list as the left-leaning chain of `Seq` nodes, and back.
//
// `Chain` builds, gate after gate, the expression the line reader and the
// per-run methods hand to saturation: h, t, t gives
// [H, T, Seq(0, 1), T, Seq(2, 3)], root last. `for_each_gate` walks any
// circuit's leaves in circuit order with a stack of its own, so a chain of a
// million gates needs no call stack.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "engine/language.h"
#include "src/circuit/op.h"

namespace kestrel {

class Chain {
 public:
  // Room for `gates` gates, so that building does not reallocate.
  explicit Chain(std::size_t gates) { expr_.reserve(2 * gates + 1); }

  void add(OpKind gate) {
    const Id leaf = expr_.add(Op(gate));
    root_ = root_ ? expr_.add(Op::seq(*root_, leaf)) : leaf;
  }
  bool empty() const { return !root_; }

  // The chain; for no gate, the single node `I`.
  RecExpr<Op> take() && {
    if (!root_) expr_.add(Op(OpKind::I));
    return std::move(expr_);
  }

 private:
  RecExpr<Op> expr_;        // the nodes so far
  std::optional<Id> root_;  // the chain's root, none before the first gate
};

// Calls `f(Op)` on each leaf other than I under node `id`, in circuit order:
// the whole first child before the second, for Seq and Par alike. The walk
// keeps the pending second children on a stack of its own.
template <class F>
void for_each_gate(Id id, const RecExpr<Op>& expr, F&& f) {
  std::vector<Id> todo{id};
  while (!todo.empty()) {
    Op node = expr[todo.back()];
    todo.pop_back();
    while (!node.is_leaf()) {
      todo.push_back(node.children()[1]);
      node = expr[node.children()[0]];
    }
    if (node.op() != OpKind::I) f(node);
  }
}

// Appends to `gates` the leaves other than `I` under node `id`, in circuit order.
inline void emit(Id id, const RecExpr<Op>& expr, std::vector<Op>& gates) {
  for_each_gate(id, expr, [&](Op gate) { gates.push_back(gate); });
}

}  // namespace kestrel
