// A circuit of cx, x, y, z, s, t, cz and swap gates, with Hadamard gates
// as gadgets, kept as a sum over paths: every wire holds an affine function
// of the variables over GF(2), and the circuit multiplies each path by
// w^F(v), w = e^(i pi/4), for a phase polynomial F (src/phase_polynomial/
// polynomial_mod8.h) plus a constant.
//
// Wire w starts holding variable w. A cx adds its control's function into
// its target's; x adds the constant 1; a phase gate adds a term on its
// wire's function (t 1, s 2, z 4, sdg 6, tdg 7), cz adds 4 ab = 2a + 2b +
// 6 (a xor b), y is i X Z. A term on an affine function with constant 1 is
// the constant minus the term on its linear part: c (L xor 1) = c - c L.
//
// A Hadamard gadget on a program wire holding l uses an extra wire that
// starts in |+>, holding its own variable y: a cz between the two adds
// 4 l y, and the two wires swap roles, so the program wire goes on with y
// and the extra wire keeps l until it is measured. For `h q[0]` read this
// way after `t q[0]` (wire 0 holding x0, the extra wire 1 holding y), F is
// x0 + 4 x0 y, wire 0 holds y and wire 1 holds x0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/phase_polynomial/polynomial_mod8.h"

namespace kestrel {

class PathSum {
 public:
  // `wires` wires, each holding its own variable at first.
  explicit PathSum(std::uint32_t wires);
  PathSum(const PathSum&) = delete;
  PathSum& operator=(const PathSum&) = delete;

  // A gate on wires `a` and `b` (not h; b unused for one-qubit gates).
  void apply(Elementary gate, std::uint32_t a, std::uint32_t b = 0);
  // A Hadamard gadget on `wire`, with the extra wire `extra` (which must
  // still hold its own variable).
  void gadget(std::uint32_t wire, std::uint32_t extra);
  // Adds c times the value of the affine function `linear` (words() words)
  // xor `constant`.
  void add_term(std::uint8_t c, const std::uint64_t* linear, bool constant);

  std::uint32_t wires() const noexcept { return wires_; }
  std::size_t words() const noexcept { return words_; }
  // The linear part of wire w's function, words() words.
  const std::uint64_t* wire(std::uint32_t w) const { return linear_.data() + std::size_t{w} * words_; }
  bool constant(std::uint32_t w) const { return constants_[w]; }
  const PhasePolynomial& polynomial() const { return polynomial_; }
  // The constant of F, in eighths of a turn (w^constant), 0 to 7.
  std::uint8_t phase() const { return phase_; }

 private:
  std::uint64_t* wire_bits(std::uint32_t w) { return linear_.data() + std::size_t{w} * words_; }
  // A one-qubit gate of the gate table on wire a.
  void one_qubit(const ElementaryInfo& info, std::uint32_t a);

  std::uint32_t wires_;                  // wires, and variables
  std::size_t words_;                    // words per affine function
  std::vector<std::uint64_t> linear_;    // per wire: its function's linear part
  std::vector<bool> constants_;          // per wire: its function's constant
  PhasePolynomial polynomial_;           // F without its constant
  std::uint8_t phase_ = 0;               // F's constant, mod 8
  std::vector<std::uint64_t> scratch_;   // a function being built
};

}  // namespace kestrel
