// The step back, G^-1 (X^x Z^z) G on G's qubits, looked up in the gate
// table's `kStepBack` by the product's bits there: H swaps x and z (-1 for
// Y); S^-1 X S = -i X Z; X, Y and Z negate the factors they anticommute
// with; CX moves x_c to the target's X and z_t to the control's Z.
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

void LocalPauli::reset(std::uint32_t q, RotationAxis axis) {
  reset(q);
  if (axis == RotationAxis::Z) return;
  row_[q / 64] |= std::uint64_t{1} << (q % 64);
  if (axis == RotationAxis::X) row_[words_ + q / 64] = 0;
  phase_ = axis == RotationAxis::Y ? 1 : 0;
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
  const bool two = elementary_info(gate).qubits == 2;
  const unsigned bits = static_cast<unsigned>(x(a)) | static_cast<unsigned>(z(a)) << 1 |
                        (two ? static_cast<unsigned>(x(b)) << 2 | static_cast<unsigned>(z(b)) << 3
                             : 0u);
  const GatePauli image = kStepBack[static_cast<std::size_t>(gate)][bits];
  times_i(image.phase);
  set(a, image.bits & 1, image.bits & 2);
  if (two) set(b, image.bits & 4, image.bits & 8);
}

}  // namespace kestrel
