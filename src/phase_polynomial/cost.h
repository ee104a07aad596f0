// The one cost rule of the phase-polynomial method: a rewrite (of a block,
// or of a region with Hadamard gadgets) is kept only where it lowers
//
//   T + c * (two-qubit gates)
//
// with c the caller's `two_qubit_cost` (default 0.01: one T gate is worth a
// hundred two-qubit gates; 0 keeps every rewrite that lowers T alone). A
// block that saves 2 T gates for 150 more cx gates is kept at c = 0.01
// (2 > 1.5) and left as written at c = 0.02 (2 < 3).
//
// Regions with gadgets (extra qubits) are bounded besides, at any c above
// 0: they are kept, those that add the fewest two-qubit gates per T gate
// saved first, only while the whole result's two-qubit gates stay within
// gadget_two_qubit_bound: twice the program's, or the result without
// gadgets where that alone is above. A region that pays but passes the
// bound is cut in two by its blocks, each half tried on its own. A program
// of 409 two-qubit gates whose result without gadgets has 320 takes gadgets
// up to 818 in all.
#pragma once

#include <algorithm>
#include <cstdint>

namespace kestrel {

inline constexpr double kDefaultTwoQubitCost = 0.01;

// Whether writing `t_after` T gates and `two_qubit_after` two-qubit gates in
// place of `t_before` and `two_qubit_before` pays at cost `c` per two-qubit
// gate.
constexpr bool rewrite_pays(std::uint64_t t_before, std::uint64_t two_qubit_before,
                            std::uint64_t t_after, std::uint64_t two_qubit_after, double c) {
  return static_cast<double>(t_after) + c * static_cast<double>(two_qubit_after) <
         static_cast<double>(t_before) + c * static_cast<double>(two_qubit_before);
}
static_assert(rewrite_pays(10, 0, 8, 150, 0.01) && !rewrite_pays(10, 0, 8, 150, 0.02));
static_assert(rewrite_pays(10, 0, 9, 1000, 0.0) && !rewrite_pays(10, 0, 10, 0, 0.01));

// The most two-qubit gates a result with gadgets may have, for a program of
// `input` of them whose result without gadgets has `ancilla_free`.
constexpr std::uint64_t gadget_two_qubit_bound(std::uint64_t input, std::uint64_t ancilla_free) {
  return std::max(2 * input, ancilla_free);
}
static_assert(gadget_two_qubit_bound(409, 320) == 818 && gadget_two_qubit_bound(10, 25) == 25);

}  // namespace kestrel
