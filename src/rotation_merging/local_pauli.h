// A Pauli product in the frame of one point of a program, stepped back
// through the program's Clifford gates one at a time.
//
// A rotation's product P = C^-1 Z_q C, read at the point where the Clifford
// gates C have been applied, is Z_q there: one qubit. Stepped back over a
// gate G it becomes G^-1 P G, a change on G's qubits only, so walking back
// through the gates before it costs a few bit operations a gate, whatever
// the width of the program. The product is packed as in pauli.h, i^k X^x Z^z,
// with its weight (the qubits it acts on) kept as it changes. Stepping back
// over `cx q[0],q[1]` from Z_1 gives Z_0 Z_1; over `h q[0]` from X_0 gives
// Z_0, and from Y_0 (i X_0 Z_0) gives -Y_0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "src/pauli/tableau.h"

// The axis a rotation of any angle is read about, on its qubit.
namespace kestrel {
enum class RotationAxis : std::uint8_t { Z, X, Y };
}  // namespace kestrel

namespace kestrel {

class LocalPauli {
 public:
  explicit LocalPauli(std::uint32_t qubits);

  // Becomes Z_q.
  void reset(std::uint32_t q);
  // Becomes Z_q, X_q or Y_q (i X_q Z_q).
  void reset(std::uint32_t q, RotationAxis axis);

  bool x(std::uint32_t q) const { return (row_[q / 64] >> (q % 64)) & 1; }
  bool z(std::uint32_t q) const { return (row_[words_ + q / 64] >> (q % 64)) & 1; }
  std::uint8_t phase() const { return phase_; }
  std::uint32_t weight() const { return weight_; }
  // Whether it is +-Z_q.
  bool is_z(std::uint32_t q) const { return weight_ == 1 && z(q) && !x(q); }
  // Whether it is +-A_q for the axis A.
  bool is_axis(std::uint32_t q, RotationAxis axis) const {
    return weight_ == 1 && x(q) == (axis != RotationAxis::Z) && z(q) == (axis != RotationAxis::X);
  }
  // Whether it anticommutes with A_q.
  bool anticommutes(std::uint32_t q, RotationAxis axis) const {
    switch (axis) {
      case RotationAxis::Z: return x(q);
      case RotationAxis::X: return z(q);
      case RotationAxis::Y: return x(q) != z(q);
    }
    return true;
  }

  // P <- G^-1 P G for the Clifford gate G on a (and b).
  void step_back(CliffordGate gate, std::uint32_t a, std::uint32_t b);
  // P <- i^k P.
  void times_i(unsigned k) { phase_ = static_cast<std::uint8_t>((phase_ + k) & 3); }
  // P <- Z_q P.
  void times_z(std::uint32_t q);
  // P <- A_q P for the axis A (Y = i X Z).
  void times_axis(std::uint32_t q, RotationAxis axis) {
    if (axis == RotationAxis::X) {
      set(q, !x(q), z(q));
      return;
    }
    times_z(q);
    if (axis == RotationAxis::Y) {
      set(q, !x(q), z(q));
      times_i(1);
    }
  }

 private:
  void set(std::uint32_t q, bool x, bool z);

  std::size_t words_;                // words per half row
  std::vector<std::uint64_t> row_;   // X bits, then Z bits
  std::uint8_t phase_ = 0;           // the power of i
  std::uint32_t weight_ = 0;         // qubits with a bit set
};

}  // namespace kestrel
