// A phase polynomial over n variables, f(x) = sum_j c_j (a_j . x) mod 8,
// and the Clifford that two of them differ by.
//
// The diagonal unitary U_f |x> = w^f(x) |x>, w = e^(i pi/4), is a block of
// commuting rotations once they are diagonalised: a T gate on the parity
// a.x is the term (a, 1), T-dagger (a, 7), S (a, 2), Z (a, 4). Terms with
// the same parity add their coefficients, so `add` keeps one term per
// parity, in the order the parities first came.
//
// Read a parity as an integer: a.x = sum_i a_i x_i - 2 sum_(i<k) a_i a_k
// x_i x_k + 4 sum_(i<k<l) ... (mod 8). Two polynomials whose odd parities
// have the same signature tensor then differ by linear coefficients that
// are even and quadratic ones that are multiples of 4: S powers on single
// variables and CZ gates on pairs, which `clifford_difference` reads off.
// For f = 3 x0 (S and T on one wire) against g = x0 (one T) the
// difference is S on x0, and w^f = S T exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/hashing.h"
#include "src/timing/deadline.h"

namespace kestrel {

class PhasePolynomial {
 public:
  explicit PhasePolynomial(std::uint32_t variables);
  PhasePolynomial(const PhasePolynomial&) = delete;
  PhasePolynomial& operator=(const PhasePolynomial&) = delete;

  // Adds `c` (mod 8) to the coefficient of parity `parity` (`words()`
  // words; nonzero).
  void add(const std::uint64_t* parity, std::uint8_t c);

  std::uint32_t variables() const noexcept { return variables_; }
  std::size_t words() const noexcept { return words_; }
  std::size_t terms() const noexcept { return coefficients_.size(); }
  const std::uint64_t* parity(std::size_t j) const { return parities_.data() + j * words_; }
  std::uint8_t coefficient(std::size_t j) const { return coefficients_[j]; }
  // The term whose parity is `parity` (`words()` words), if there is one.
  std::optional<std::size_t> term(const std::uint64_t* parity) const;

  // The parities with odd coefficient, in order, `words()` words each.
  std::vector<std::uint64_t> odd_parities() const;
  std::size_t odd_terms() const;

 private:
  struct ParityHash {
    using is_transparent = void;
    using is_avalanching = void;
    const PhasePolynomial* owner;
    std::size_t operator()(std::uint32_t term) const { return (*this)(owner->parity(term)); }
    std::size_t operator()(const std::uint64_t* parity) const;
  };
  struct ParityEqual {
    using is_transparent = void;
    const PhasePolynomial* owner;
    bool operator()(std::uint32_t a, std::uint32_t b) const { return a == b; }
    bool operator()(const std::uint64_t* parity, std::uint32_t b) const;
    bool operator()(std::uint32_t a, const std::uint64_t* parity) const { return (*this)(parity, a); }
  };

  std::uint32_t variables_;                  // n
  std::size_t words_;                        // words per parity
  std::vector<std::uint64_t> parities_;      // one per term
  std::vector<std::uint8_t> coefficients_;   // one per term, 0 to 7
  boost::unordered_flat_set<std::uint32_t, ParityHash, ParityEqual> index_;  // the terms by parity
};

// The diagonal Clifford w^(f - g) as gates on the variables' wires.
struct DiagonalClifford {
  std::vector<std::uint8_t> s_powers;                         // per variable: S to this power, 0 to 3
  std::vector<std::pair<std::uint32_t, std::uint32_t>> cz;    // CZ gates on pairs (first < second)
};

// f - g, where g has coefficient 1 on each of the `columns` parities in
// `parities` (f's words each). Faults unless the difference is a Clifford,
// that is unless g's parities have the signature tensor of f's odd ones.
DiagonalClifford clifford_difference(const PhasePolynomial& f,
                                     std::span<const std::uint64_t> parities);

// The same, or nothing once `deadline` has passed (read every 256
// parities: a wide table's quadratic terms take long).
std::optional<DiagonalClifford> clifford_difference_until(const PhasePolynomial& f,
                                                          std::span<const std::uint64_t> parities,
                                                          const Deadline& deadline);

}  // namespace kestrel
