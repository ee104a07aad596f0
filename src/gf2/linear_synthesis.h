// Invertible linear maps of the wires, x -> M x over GF(2), written as cx
// gates.
//
// A cx from wire c to wire t adds wire c's value into wire t, so a circuit of
// cx gates leaves on every wire a parity of the input values: after
// `cx q[0],q[1]; cx q[1],q[2];` on inputs x0, x1, x2 the wires hold x0,
// x0+x1 and x0+x1+x2, the map whose matrix has rows 100, 110 and 111 (row i
// the parity on wire i). `synthesise_linear` writes any invertible matrix so,
// with few gates: the elimination of Patel, Markov and Hayes (2008), which
// clears m columns at a time by first cancelling rows that agree on them,
// tried with the three section sizes m around log2(n) / 2 and on M, its
// inverse and their transposes (a circuit for M^-1 reversed, or one for M^T
// reversed with control and target exchanged, is one for M); the fewest
// gates win.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/fault.h"
#include "src/circuit/elementary.h"

namespace kestrel {

// An n x n matrix over GF(2), row by row, each row `words()` 64-bit words with
// column c at bit c % 64 of word c / 64; bits past column n - 1 stay zero.
class BitMatrix {
 public:
  // The zero matrix of size n.
  explicit BitMatrix(std::uint32_t n);
  static BitMatrix identity(std::uint32_t n);

  std::uint32_t size() const noexcept { return n_; }
  std::size_t words() const noexcept { return words_; }

  bool get(std::uint32_t r, std::uint32_t c) const {
    return (row(r)[checked_index(n_, c) / 64] >> (c % 64)) & 1;
  }
  void set(std::uint32_t r, std::uint32_t c, bool value) {
    const std::uint64_t bit = std::uint64_t{1} << (checked_index(n_, c) % 64);
    std::uint64_t& word = row(r)[c / 64];
    word = value ? (word | bit) : (word & ~bit);
  }
  // Row r: `words()` words.
  std::uint64_t* row(std::uint32_t r) { return bits_.data() + checked_index(n_, r) * words_; }
  const std::uint64_t* row(std::uint32_t r) const {
    return bits_.data() + checked_index(n_, r) * words_;
  }
  // Row `target` += row `source`, the effect of cx(source, target) on the
  // parities the wires hold.
  void add_row(std::uint32_t target, std::uint32_t source);
  void swap_rows(std::uint32_t r, std::uint32_t s);

  BitMatrix transposed() const;
  // The inverse, or nothing when the matrix is singular.
  std::optional<BitMatrix> inverse() const;

  bool operator==(const BitMatrix&) const = default;

 private:
  std::uint32_t n_;                   // rows and columns
  std::size_t words_;                 // words per row
  std::vector<std::uint64_t> bits_;   // n_ rows of words_ words
};

// The cx gates, in time order, after which wire i holds row i of `m` times
// the input values, on wires 0 to n - 1. `m` must be invertible (faults
// otherwise). The identity takes no gate.
std::vector<PlacedGate> synthesise_linear(const BitMatrix& m);

// The same when it finds a circuit of fewer than `limit` gates, else
// nothing; each try gives up once it reaches the fewest found so far, so a
// tight limit makes the search cheap.
std::optional<std::vector<PlacedGate>> synthesise_linear_within(const BitMatrix& m,
                                                                std::size_t limit);

// The rows of `m` that differ from the identity's: a lower bound on the cx
// gates of any circuit for it, as each cx changes one wire's parity.
std::size_t rows_moved(const BitMatrix& m);

// The map of the wires a circuit of cx, swap and diagonal gates (s, t, z, cz
// and their inverses, which leave every wire's value as it is) makes on `n`
// wires: row i is the parity wire i holds at the end. Faults on any other gate.
BitMatrix linear_map_of(std::span<const PlacedGate> gates, std::uint32_t n);

}  // namespace kestrel
