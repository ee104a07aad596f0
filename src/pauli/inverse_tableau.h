// The Clifford frame read the other way: for every qubit q, the signed
// Pauli products C X_q C^-1 and C Z_q C^-1, where C is the product of the
// Clifford gates read so far (the first gate read rightmost).
//
// `Tableau` (tableau.h) moves a product from a later point of a program to
// its start: P -> C^-1 P C. This frame moves a product given at the start
// to the point reached: `image(P)` is C P C^-1, the product of the rows
// that P's letters pick. After `h q[0]; s q[0];` the image of Z_0 is
// S H Z H S^-1 = S X S^-1 = Y_0.
//
// A gate G conjugates every row: R -> G R G^-1, which reads and writes only
// the letters on G's qubits. The rows are therefore kept by column (for
// each qubit, its X letters and its Z letters over all 2n rows, and the
// rows' phases as two bit planes), so a gate costs a few words per 64 rows.
// `image` gathers the rows it needs from the columns and keeps them until
// a gate changes their letters: a gate marks stale the rows with a letter
// it changes (H on a: the rows whose x and z on a differ; S: those with x
// on a; CX from a to b: those with x on a or z on b; a Pauli gate only
// their phases, which are read from the columns), so a row gathered once
// is gathered again only when it has changed. Wide programs whose gates
// each touch a few rows then gather each row a few times, not at every
// state of the frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel {

class InverseTableau {
 public:
  // The identity frame on `qubits` qubits.
  explicit InverseTableau(std::uint32_t qubits);
  InverseTableau(const InverseTableau&) = delete;
  InverseTableau& operator=(const InverseTableau&) = delete;

  // Reads Clifford gate `gate` (not T or T-dagger; a fault otherwise) on
  // qubit `a`, and `b` for a two-qubit gate (which must differ from `a`).
  void apply(Elementary gate, std::uint32_t a, std::uint32_t b = 0);

  std::uint32_t qubits() const noexcept { return qubits_; }
  std::size_t words() const noexcept { return words_; }

  // C P C^-1 for the product P in `row` (pauli.h's layout, `words()` words
  // a half, phase `phase`), written to `out` (2 * words() words, not
  // `row`). Returns its phase.
  std::uint8_t image(const std::uint64_t* row, std::uint8_t phase, std::uint64_t* out);

 private:
  std::uint64_t* column(std::size_t c) { return columns_.data() + c * column_words_; }
  const std::uint64_t* row(std::uint32_t r);

  std::uint32_t qubits_;                 // qubits of the program
  std::size_t words_;                    // words per half row
  std::size_t column_words_;             // words of a column: one bit per row, 2 * qubits rows
  std::vector<std::uint64_t> columns_;   // per qubit: its X letters, then its Z letters, of every row
  std::vector<std::uint64_t> low_;       // bit 0 of every row's power of i
  std::vector<std::uint64_t> high_;      // bit 1 of every row's power of i
  std::vector<std::uint64_t> rows_;      // rows gathered for `image`, 2 * words_ words each
  std::vector<std::uint64_t> stale_;     // one bit per row: its copy in rows_ may differ from the columns
};

}  // namespace kestrel
