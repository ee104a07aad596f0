// Terms kept by parity, and the multilinear coefficients of a polynomial
// modulo 8: L_i = sum_j c_j a_ij and Q_ik = -2 sum_j c_j a_ij a_kj. Their
// differences between f and g are the Clifford's S powers (L / 2) and CZ
// gates (Q / 4).
#include "src/phase_polynomial/polynomial_mod8.h"

#include <algorithm>
#include <bit>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {

PhasePolynomial::PhasePolynomial(std::uint32_t variables)
    : variables_(variables),
      words_(pauli_words(variables)),
      index_(0, ParityHash{this}, ParityEqual{this}) {}

std::size_t PhasePolynomial::ParityHash::operator()(const std::uint64_t* parity) const {
  std::uint64_t h = 0;
  for (std::size_t w = 0; w < owner->words_; ++w) h = hash_combine(h, parity[w]);
  return h;
}

bool PhasePolynomial::ParityEqual::operator()(const std::uint64_t* parity, std::uint32_t b) const {
  return std::equal(parity, parity + owner->words_, owner->parity(b));
}

void PhasePolynomial::add(const std::uint64_t* parity, std::uint8_t c) {
  if (auto found = index_.find(parity); found != index_.end()) {
    coefficients_[*found] = static_cast<std::uint8_t>((coefficients_[*found] + c) & 7);
    return;
  }
  const auto term = static_cast<std::uint32_t>(coefficients_.size());
  parities_.insert(parities_.end(), parity, parity + words_);
  coefficients_.push_back(c & 7);
  index_.insert(term);
}

std::optional<std::size_t> PhasePolynomial::term(const std::uint64_t* parity) const {
  const auto found = index_.find(parity);
  if (found == index_.end()) return std::nullopt;
  return *found;
}

std::vector<std::uint64_t> PhasePolynomial::odd_parities() const {
  std::vector<std::uint64_t> out;
  for (std::size_t j = 0; j < terms(); ++j) {
    if (coefficients_[j] & 1) out.insert(out.end(), parity(j), parity(j) + words_);
  }
  return out;
}

std::size_t PhasePolynomial::odd_terms() const {
  return static_cast<std::size_t>(
      std::count_if(coefficients_.begin(), coefficients_.end(), [](std::uint8_t c) { return c & 1; }));
}

namespace {

// Adds c times the linear and quadratic coefficients of one parity. The
// quadratic ones are kept by pair in a hash map, so a sum of a few short
// parities over many variables costs what its terms cost.
class Coefficients {
 public:
  explicit Coefficients(std::uint32_t n) : n_(n), linear_(n, 0) {}

  void add(const std::uint64_t* parity, std::size_t words, std::uint8_t c) {
    bits_.clear();
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t b = parity[w]; b != 0; b &= b - 1) {
        bits_.push_back(static_cast<std::uint32_t>(64 * w + std::countr_zero(b)));
      }
    }
    for (std::size_t u = 0; u < bits_.size(); ++u) {
      const std::uint32_t i = checked_index(n_, bits_[u]);
      linear_[i] = static_cast<std::uint8_t>(linear_[i] + c);
      for (std::size_t v = u + 1; v < bits_.size(); ++v) {
        std::uint8_t& q = quadratic_[std::uint64_t{i} * n_ + bits_[v]];
        q = static_cast<std::uint8_t>(q - 2 * c);
      }
    }
  }
  std::uint8_t linear(std::uint32_t i) const { return linear_[i] & 7; }
  // The pairs (i, k), i < k, whose quadratic coefficient is not 0 mod 8,
  // with it, by increasing pair.
  std::vector<std::pair<std::uint64_t, std::uint8_t>> quadratic() const {
    std::vector<std::pair<std::uint64_t, std::uint8_t>> out;
    for (const auto& [pair, q] : quadratic_) {
      if ((q & 7) != 0) out.emplace_back(pair, q & 7);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::uint32_t n_;                       // variables
  std::vector<std::uint8_t> linear_;      // L_i, mod 256
  HashMap<std::uint64_t, std::uint8_t, IntHash> quadratic_;  // Q_ik by i * n + k, mod 256
  std::vector<std::uint32_t> bits_;       // the parity's variables
};

}  // namespace

DiagonalClifford clifford_difference(const PhasePolynomial& f,
                                     std::span<const std::uint64_t> parities) {
  return *clifford_difference_until(f, parities, Deadline());
}

std::optional<DiagonalClifford> clifford_difference_until(const PhasePolynomial& f,
                                                          std::span<const std::uint64_t> parities,
                                                          const Deadline& deadline) {
  const auto late = [&](std::size_t k) { return k % 256 == 255 && deadline.passed(); };
  const std::uint32_t n = f.variables();
  const std::size_t words = f.words();
  check(words > 0 || parities.empty(), "parities of a polynomial over no variable");
  // g's parities that are f's too are taken off f's coefficients first:
  // where f's parities are kept (as in a table nothing reduced), its T
  // terms then add nothing.
  Coefficients difference(n);
  std::vector<std::uint8_t> c(f.terms());
  for (std::size_t j = 0; j < f.terms(); ++j) c[j] = f.coefficient(j);
  for (std::size_t at = 0; at + words <= parities.size(); at += words) {
    if (late(at / words)) return std::nullopt;
    const std::optional<std::size_t> j = f.term(parities.data() + at);
    if (j) {
      c[*j] = static_cast<std::uint8_t>((c[*j] + 7) & 7);  // minus 1
    } else {
      difference.add(parities.data() + at, words, 7);
    }
  }
  for (std::size_t j = 0; j < f.terms(); ++j) {
    if (late(j)) return std::nullopt;
    if (c[j] != 0) difference.add(f.parity(j), words, c[j]);
  }
  DiagonalClifford out;
  out.s_powers.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint8_t l = difference.linear(i);
    check(l % 2 == 0, "the difference of two polynomials with one signature is a Clifford");
    out.s_powers[i] = l / 2;
  }
  for (const auto& [pair, q] : difference.quadratic()) {
    check(q % 4 == 0, "the difference of two polynomials with one signature is a Clifford");
    out.cz.emplace_back(static_cast<std::uint32_t>(pair / n), static_cast<std::uint32_t>(pair % n));
  }
  return out;
}

}  // namespace kestrel
