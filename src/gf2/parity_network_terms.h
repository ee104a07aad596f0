// What the searches for a parity network (src/gf2/parity_network.h) share:
// a term's phase gates, the terms with distinct parities, the wires' present
// values row by row as the split and nearest-term searches keep them
// (Network), and the three searches, one file each (star_search.cpp,
// split_search.cpp, nearest_search.cpp). Included by those files only.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/fault.h"
#include "src/circuit/elementary.h"
#include "src/gf2/bits.h"
#include "src/gf2/parity_network.h"
#include "src/timing/deadline.h"

namespace kestrel {
namespace network_detail {

// Appends the phase gates of omega^c on `wire`.
inline void write_phase(std::vector<PlacedGate>& gates, std::uint8_t c, std::uint32_t wire) {
  const PhaseGates& phase = phase_gates(c & 7);
  for (std::size_t k = 0; k < phase.count; ++k) gates.push_back({phase.gates[k], wire, 0});
}

// Terms with distinct nonzero parities and nonzero coefficients, in the order
// of their first appearance in the input.
struct Terms {
  std::uint32_t qubits = 0;
  std::size_t words = 0;                   // words per column
  std::vector<std::uint64_t> columns;      // words per term
  std::vector<std::uint8_t> coefficients;  // 1 to 7 per term

  std::size_t size() const { return coefficients.size(); }
  const std::uint64_t* column(std::size_t p) const { return columns.data() + p * words; }
};

// What the split and nearest-term searches share: the terms in the wires' present values (bit p of
// row j: term p includes wire j), which terms are still to be written, the
// gates so far and the wires' values as parities of the inputs.
class Network {
 public:
  explicit Network(const Terms& terms)
      : n_(terms.qubits),
        m_(terms.size()),
        row_words_(words_for(terms.size())),
        rows_(std::size_t{terms.qubits} * row_words_, 0),
        live_(row_words_, 0),
        coefficients_(terms.coefficients),
        map_(BitMatrix::identity(terms.qubits)) {
    for (std::size_t p = 0; p < m_; ++p) {
      live_[p / 64] |= std::uint64_t{1} << (p % 64);
      const std::uint64_t* c = terms.column(p);
      for (std::size_t w = 0; w < terms.words; ++w) {
        for (std::uint64_t word = c[w]; word != 0; word &= word - 1) {
          const std::size_t j = 64 * w + std::countr_zero(word);
          rows_[j * row_words_ + p / 64] |= std::uint64_t{1} << (p % 64);
        }
      }
    }
  }

  std::uint32_t wires() const { return n_; }
  std::size_t terms() const { return m_; }
  std::size_t row_words() const { return row_words_; }
  const std::uint64_t* row(std::uint32_t j) const { return rows_.data() + j * row_words_; }
  const std::uint64_t* live_words() const { return live_.data(); }
  bool bit(std::uint32_t j, std::size_t p) const { return (row(j)[p / 64] >> (p % 64)) & 1; }
  bool live(std::size_t p) const { return (live_[p / 64] >> (p % 64)) & 1; }
  const BitMatrix& map() const { return map_; }

  // cx(control, target): the target wire gains the control's value, so every
  // term that includes the target now includes the control the other way.
  void cx(std::uint32_t control, std::uint32_t target) {
    check(control != target && control < n_ && target < n_, "a cx names two wires");
    std::uint64_t* c = rows_.data() + control * row_words_;
    const std::uint64_t* t = row(target);
    for (std::size_t w = 0; w < row_words_; ++w) c[w] ^= t[w];
    map_.add_row(target, control);
    gates_.push_back({Elementary::CX, control, target});
    ++cx_count_;
  }

  // Writes term p's phase on `wire`, which holds it now.
  void realise(std::size_t p, std::uint32_t wire) {
    check(live(p), "a term is written once");
    live_[p / 64] &= ~(std::uint64_t{1} << (p % 64));
    write_phase(gates_, coefficients_[p], wire);
  }

  OpenParityNetwork take() { return {std::move(gates_), std::move(map_)}; }
  std::size_t cx_count() const { return cx_count_; }

 private:
  std::uint32_t n_;                                  // wires
  std::size_t m_;                                    // terms
  std::size_t row_words_;                            // words per row: one bit per term
  std::vector<std::uint64_t> rows_;                  // n_ rows of row_words_ words
  std::vector<std::uint64_t> live_;                  // the terms not yet written
  const std::vector<std::uint8_t>& coefficients_;    // per term
  BitMatrix map_;                                    // wire i holds row i of it times x
  std::vector<PlacedGate> gates_;                    // the network so far
  std::size_t cx_count_ = 0;                         // cx gates among them
};

inline std::size_t cx_count(std::span<const PlacedGate> gates) {
  return static_cast<std::size_t>(
      std::count_if(gates.begin(), gates.end(), [](const PlacedGate& g) { return g.gate == Elementary::CX; }));
}

// The searches: each writes every term of `terms` (distinct nonzero
// parities, no coefficient 0 or 4) and leaves the wires holding the map it
// returns.
OpenParityNetwork split_search(const Terms& terms);
// `shared`: each term gathered onto its wire that the most terms include
// (nearest_search.cpp).
OpenParityNetwork nearest_search(const Terms& terms, bool shared);
OpenParityNetwork star_search(const Terms& terms);
// The star search that looks at the clock between targets: nothing once
// `deadline` has passed.
std::optional<OpenParityNetwork> star_search(const Terms& terms, const Deadline& deadline);

}  // namespace network_detail
}  // namespace kestrel
