// Gates as updates of the wires' affine functions and terms of F.
#include "src/phase_polynomial/path_sum.h"

#include <algorithm>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {

PathSum::PathSum(std::uint32_t wires)
    : wires_(wires),
      words_(pauli_words(wires)),
      linear_(std::size_t{wires} * words_, 0),
      constants_(wires, false),
      polynomial_(wires),
      scratch_(words_, 0) {
  for (std::uint32_t w = 0; w < wires; ++w) wire_bits(w)[w / 64] = std::uint64_t{1} << (w % 64);
}

void PathSum::add_term(std::uint8_t c, const std::uint64_t* linear, bool constant) {
  c &= 7;
  if (c == 0) return;
  const bool zero = std::all_of(linear, linear + words_, [](std::uint64_t w) { return w == 0; });
  if (constant) phase_ = static_cast<std::uint8_t>((phase_ + c) & 7);
  if (zero) return;
  polynomial_.add(linear, static_cast<std::uint8_t>(constant ? 8 - c : c));
}

// A one-qubit gate that takes each basis state to one basis state times a
// power of omega, as its matrix in the gate table says (no entry divided by
// sqrt 2: not h, nor a rotation of another angle): |x> -> omega^(m0 + (m1 -
// m0) x) |x> on the diagonal, |not x> off it, with m0 and m1 the powers in
// the columns of |0> and |1>. For y (i|1> from |0>, -i|0> from |1>): the
// phase 2, the term 4 x on the value before the flip, then the flip.
void PathSum::one_qubit(const ElementaryInfo& info, std::uint32_t a) {
  const auto& m = info.matrix;  // m[row * 2 + column]
  const bool flips = m[0].omega < 0;
  const MatrixEntry from0 = flips ? m[2] : m[0], from1 = flips ? m[1] : m[3];
  check(from0.omega >= 0 && from1.omega >= 0 && from0.halves == 0 && from1.halves == 0,
        "a gate that takes basis states to basis states");
  phase_ = static_cast<std::uint8_t>((phase_ + from0.omega) & 7);
  add_term(static_cast<std::uint8_t>((from1.omega - from0.omega) & 7), wire(a), constants_[a]);
  if (flips) constants_[a] = !constants_[a];
}

void PathSum::apply(Elementary gate, std::uint32_t a, std::uint32_t b) {
  checked_index(wires_, a);
  const ElementaryInfo& info = elementary_info(gate);
  if (info.qubits == 1) {
    one_qubit(info, a);
    return;
  }
  const auto term = [&](std::uint8_t c, std::uint32_t w) { add_term(c, wire(w), constants_[w]); };
  checked_index(wires_, b);
  check(a != b, "a two-qubit gate names two qubits");
  switch (gate) {
    case Elementary::CX: {
      const std::uint64_t* from = wire(a);
      std::uint64_t* to = wire_bits(b);
      for (std::size_t w = 0; w < words_; ++w) to[w] ^= from[w];
      constants_[b] = constants_[b] != constants_[a];
      return;
    }
    case Elementary::CZ: {
      // 4 a b = 2 a + 2 b + 6 (a xor b).
      term(2, a);
      term(2, b);
      for (std::size_t w = 0; w < words_; ++w) scratch_[w] = wire(a)[w] ^ wire(b)[w];
      add_term(6, scratch_.data(), constants_[a] != constants_[b]);
      return;
    }
    case Elementary::Swap:
      std::swap_ranges(wire_bits(a), wire_bits(a) + words_, wire_bits(b));
      {
        const bool t = constants_[a];
        constants_[a] = constants_[b];
        constants_[b] = t;
      }
      return;
    default: fault("internal error: entered unreachable code");
  }
}

void PathSum::gadget(std::uint32_t wire_index, std::uint32_t extra) {
  checked_index(wires_, wire_index);
  checked_index(wires_, extra);
  check(wire_index != extra, "a gadget's extra wire is another wire");
  // cz between the two, then they swap roles.
  apply(Elementary::CZ, wire_index, extra);
  apply(Elementary::Swap, wire_index, extra);
}

}  // namespace kestrel
