// The optimiser's cost: T count first, then depth, then gate count.
//
// Costs are triples compared lexicographically, so one T gate fewer beats any
// saving in depth or size. Seq(H, T) costs (1, 2, 2); Par(T, X) costs
// (1, 2, 2) too, since a Par is one level deeper than its deeper side; the
// identity I is free.
#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <limits>

#include "engine/language.h"
#include "src/circuit/op.h"

namespace kestrel {

class TCost {
 public:
  // Costs add up as a term is unfolded into a tree, and a term that shares
  // subterms can stand for a tree of astronomical size; sums therefore stop
  // at the largest value instead of overflowing.
  static constexpr std::int64_t add(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return std::numeric_limits<std::int64_t>::max();
    return sum;
  }

  struct Cost {
    std::int64_t t = 0;      // T and Tdg gates
    std::int64_t depth = 0;  // Seq adds depths; Par takes the deeper side plus one
    std::int64_t gates = 0;  // gates other than I
    auto operator<=>(const Cost&) const = default;
  };

  // The cost of `node` from the recorded costs of its children's classes.
  template <class F>
  Cost cost(const Op& node, F&& child_cost) const {
    switch (node.op()) {
      case OpKind::I: return {0, 0, 0};
      case OpKind::T:
      case OpKind::Tdg: return {1, 1, 1};
      case OpKind::Seq:
      case OpKind::Par: {
        const Cost a = child_cost(node.children()[0]);
        const Cost b = child_cost(node.children()[1]);
        const std::int64_t depth = node.op() == OpKind::Seq ? add(a.depth, b.depth)
                                                            : add(std::max(a.depth, b.depth), 1);
        return {add(a.t, b.t), depth, add(a.gates, b.gates)};
      }
      default: return {0, 1, 1};
    }
  }
};

}  // namespace kestrel
