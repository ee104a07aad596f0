// The step-back rules, G^-1 (X^x Z^z) G on G's qubits, in the packed form:
// H swaps x and z (-1 for Y); S^-1 X S = -i X Z and S X S^-1 = i X Z; X, Y
// and Z negate the factors they anticommute with; CX moves x_c to the
// target's X and z_t to the control's Z; CZ adds x_b to z_a and x_a to z_b,
// with -1 when both qubits hold X.
#include "src/rotation_merging/local_pauli.h"

#include <algorithm>

#include "src/pauli/pauli.h"

namespace kestrel {

LocalPauli::LocalPauli(std::uint32_t qubits)
    : words_(pauli_words(qubits)), row_(2 * words_, 0) {}

void LocalPauli::reset(std::uint32_t q) {
  std::fill(row_.begin(), row_.end(), 0);
  row_[words_ + q / 64] = std::uint64_t{1} << (q % 64);
  phase_ = 0;
  weight_ = 1;
}

void LocalPauli::set(std::uint32_t q, bool x, bool z) {
  const std::uint64_t bit = std::uint64_t{1} << (q % 64);
  std::uint64_t& xw = row_[q / 64];
  std::uint64_t& zw = row_[words_ + q / 64];
  const bool before = ((xw | zw) & bit) != 0;
  xw = x ? xw | bit : xw & ~bit;
  zw = z ? zw | bit : zw & ~bit;
  weight_ += static_cast<std::uint32_t>(x || z) - static_cast<std::uint32_t>(before);
}

void LocalPauli::times_z(std::uint32_t q) {
  // Z X^x Z^z = (-1)^x_q X^x Z Z^z.
  if (x(q)) times_i(2);
  set(q, x(q), !z(q));
}

void LocalPauli::step_back(CliffordGate gate, std::uint32_t a, std::uint32_t b) {
  const bool xa = x(a), za = z(a);
  switch (gate) {
    case CliffordGate::H:
      if (xa && za) times_i(2);
      set(a, za, xa);
      return;
    case CliffordGate::S:
    case CliffordGate::Sdg:
      if (xa) {
        times_i(gate == CliffordGate::S ? 3 : 1);
        set(a, xa, !za);
      }
      return;
    case CliffordGate::X:
      if (za) times_i(2);
      return;
    case CliffordGate::Y:
      if (xa != za) times_i(2);
      return;
    case CliffordGate::Z:
      if (xa) times_i(2);
      return;
    case CliffordGate::CX: {
      const bool xb = x(b), zb = z(b);
      set(a, xa, za != zb);
      set(b, xb != xa, zb);
      return;
    }
    case CliffordGate::CZ: {
      const bool xb = x(b), zb = z(b);
      if (xa && xb) times_i(2);
      set(a, xa, za != xb);
      set(b, xb, zb != xa);
      return;
    }
    case CliffordGate::Swap: {
      const bool xb = x(b), zb = z(b);
      set(a, xb, zb);
      set(b, xa, za);
      return;
    }
  }
}

}  // namespace kestrel
