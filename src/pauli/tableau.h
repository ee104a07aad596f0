// The Clifford frame of a program read so far: for every qubit q, the signed
// Pauli products C^-1 X_q C and C^-1 Z_q C, where C is the product of the
// Clifford gates read (the first gate read rightmost).
//
// A T gate read next on qubit q is, up to a global phase, the rotation
// exp(-i pi/8 Z_q); moved to the front of the program, past C, it becomes
// exp(-i pi/8 C^-1 Z_q C): the product this frame keeps as qubit q's Z row.
// Each gate G updates the rows by G^-1 P G, written in the old rows (the
// gate table, src/circuit/elementary.h, gives each image): S^-1 X S = -Y =
// -i X Z makes the new X row -i times the old X row times the old Z row. After `h q[0]; s q[0];` the rows of q[0] are Y_0 (X) and X_0 (Z):
// H S^-1 X S H = -H Y H = Y, and H S^-1 Z S H = H Z H = X. Every update
// costs a row copy or product, a few words per 64 qubits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel {

// The gates the frame follows: the Clifford gates of `Elementary`, every one
// but T and T-dagger, with the action the gate table gives them.
using CliffordGate = Elementary;

class Tableau {
 public:
  // The identity frame on `qubits` qubits.
  explicit Tableau(std::uint32_t qubits);
  Tableau(const Tableau&) = delete;
  Tableau& operator=(const Tableau&) = delete;

  // Reads Clifford gate `gate` on qubit `a` (and `b` for the two-qubit
  // gates, which must differ from `a`); T and T-dagger are faults.
  void apply(Elementary gate, std::uint32_t a, std::uint32_t b = 0);

  std::uint32_t qubits() const noexcept { return qubits_; }
  std::size_t words() const noexcept { return words_; }

  // Qubit q's X row (C^-1 X_q C) and Z row (C^-1 Z_q C): `2 * words()` words.
  const std::uint64_t* x_row(std::uint32_t q) const { return row(2 * q); }
  const std::uint64_t* z_row(std::uint32_t q) const { return row(2 * q + 1); }
  std::uint8_t x_phase(std::uint32_t q) const { return phases_[2 * q]; }
  std::uint8_t z_phase(std::uint32_t q) const { return phases_[2 * q + 1]; }

 private:
  std::uint64_t* row(std::size_t r) { return rows_.data() + r * 2 * words_; }
  const std::uint64_t* row(std::size_t r) const { return rows_.data() + r * 2 * words_; }
  void swap_rows(std::size_t r, std::size_t s);
  template <Elementary G>
  void apply_clifford(std::uint32_t a, std::uint32_t b);

  std::uint32_t qubits_;               // qubits of the program
  std::size_t words_;                  // words per half row
  std::vector<std::uint64_t> rows_;    // X row then Z row of each qubit, 2 * words_ words each
  std::vector<std::uint8_t> phases_;   // the power of i of each row
};

}  // namespace kestrel
