// Linear reversible synthesis by section-wise elimination.
//
// One pass (`eliminate_lower`) brings a matrix to upper triangular form by
// row additions r_t += r_s with s < t, or s > t only to put a one on the
// diagonal; each addition is a cx(s, t) read backwards. Within each section
// of m columns, rows that agree on the section's columns are added together
// first, so that one addition clears up to m bits. A second pass on the
// transpose clears the upper part: with F the first pass's additions and G
// the second's, G_q ... G_1 (F_p ... F_1 M)^T = I, hence
// M = F_1 ... F_p G_q^T ... G_1^T, which read from the right is the circuit:
// the transposed G in order, then the F in reverse.
#include "src/phase_polynomial/linear_synthesis.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "engine/fault.h"

namespace kestrel {

BitMatrix::BitMatrix(std::uint32_t n)
    : n_(n), words_((std::size_t{n} + 63) / 64), bits_(std::size_t{n} * words_, 0) {}

BitMatrix BitMatrix::identity(std::uint32_t n) {
  BitMatrix m(n);
  for (std::uint32_t i = 0; i < n; ++i) m.set(i, i, true);
  return m;
}

bool BitMatrix::get(std::uint32_t r, std::uint32_t c) const {
  checked_index(n_, c);
  return (row(r)[c / 64] >> (c % 64)) & 1;
}

void BitMatrix::set(std::uint32_t r, std::uint32_t c, bool value) {
  checked_index(n_, c);
  const std::uint64_t bit = std::uint64_t{1} << (c % 64);
  std::uint64_t& word = row(r)[c / 64];
  word = value ? (word | bit) : (word & ~bit);
}

std::uint64_t* BitMatrix::row(std::uint32_t r) {
  return bits_.data() + checked_index(n_, r) * words_;
}

const std::uint64_t* BitMatrix::row(std::uint32_t r) const {
  return bits_.data() + checked_index(n_, r) * words_;
}

void BitMatrix::add_row(std::uint32_t target, std::uint32_t source) {
  std::uint64_t* t = row(target);
  const std::uint64_t* s = row(source);
  for (std::size_t w = 0; w < words_; ++w) t[w] ^= s[w];
}

void BitMatrix::swap_rows(std::uint32_t r, std::uint32_t s) {
  std::swap_ranges(row(r), row(r) + words_, row(s));
}

BitMatrix BitMatrix::transposed() const {
  BitMatrix t(n_);
  for (std::uint32_t r = 0; r < n_; ++r) {
    const std::uint64_t* bits = row(r);
    for (std::size_t w = 0; w < words_; ++w) {
      for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
        t.set(static_cast<std::uint32_t>(64 * w + std::countr_zero(word)), r, true);
      }
    }
  }
  return t;
}

std::optional<BitMatrix> BitMatrix::inverse() const {
  BitMatrix a = *this;
  BitMatrix inv = identity(n_);
  for (std::uint32_t c = 0; c < n_; ++c) {
    std::uint32_t pivot = c;
    while (pivot < n_ && !a.get(pivot, c)) ++pivot;
    if (pivot == n_) return std::nullopt;
    a.swap_rows(c, pivot);
    inv.swap_rows(c, pivot);
    for (std::uint32_t r = 0; r < n_; ++r) {
      if (r != c && a.get(r, c)) {
        a.add_row(r, c);
        inv.add_row(r, c);
      }
    }
  }
  return inv;
}

namespace {

// A row addition r_target += r_source.
struct RowAddition {
  std::uint32_t source;
  std::uint32_t target;
};

// Bits c0 to c0 + width - 1 (width at most 16) of a row, as a number.
std::uint32_t section_bits(const std::uint64_t* row, std::uint32_t c0, std::uint32_t width) {
  const std::size_t w = c0 / 64, shift = c0 % 64;
  std::uint64_t bits = row[w] >> shift;
  if (shift + width > 64) bits |= row[w + 1] << (64 - shift);
  return static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << width) - 1));
}

// Brings `a` to upper triangular form with unit diagonal, appending the row
// additions made to `out`; `first_of` is scratch of 2^section entries, all
// kNone on entry and on return.
constexpr std::uint32_t kNone = 0xffffffffu;
void eliminate_lower(BitMatrix& a, std::uint32_t section, std::vector<std::uint32_t>& first_of,
                     std::vector<RowAddition>& out) {
  const std::uint32_t n = a.size();
  std::vector<std::uint32_t> used;
  for (std::uint32_t start = 0; start < n; start += section) {
    const std::uint32_t end = std::min(n, start + section);
    // Rows equal on this section's columns: the later one is cleared there
    // by one addition.
    for (std::uint32_t r = start; r < n; ++r) {
      const std::uint32_t pattern = section_bits(a.row(r), start, end - start);
      if (pattern == 0) continue;
      if (first_of[pattern] == kNone) {
        first_of[pattern] = r;
        used.push_back(pattern);
      } else {
        a.add_row(r, first_of[pattern]);
        out.push_back({first_of[pattern], r});
      }
    }
    for (std::uint32_t pattern : used) first_of[pattern] = kNone;
    used.clear();
    for (std::uint32_t c = start; c < end; ++c) {
      bool diagonal = a.get(c, c);
      for (std::uint32_t r = c + 1; r < n; ++r) {
        if (!a.get(r, c)) continue;
        if (!diagonal) {
          a.add_row(c, r);
          out.push_back({r, c});
          diagonal = true;
        }
        a.add_row(r, c);
        out.push_back({c, r});
      }
      check(diagonal, "the matrix to synthesise is invertible");
    }
  }
}

// The cx gates of one elimination of `m` with the given section size.
std::vector<PlacedGate> eliminate(const BitMatrix& m, std::uint32_t section,
                                  std::vector<std::uint32_t>& first_of) {
  BitMatrix a = m;
  std::vector<RowAddition> lower, upper;
  eliminate_lower(a, section, first_of, lower);
  BitMatrix t = a.transposed();
  eliminate_lower(t, section, first_of, upper);
  check(t == BitMatrix::identity(m.size()), "the elimination ends at the identity");
  std::vector<PlacedGate> gates;
  gates.reserve(lower.size() + upper.size());
  for (const RowAddition& u : upper) gates.push_back({Elementary::CX, u.target, u.source});
  for (auto it = lower.rbegin(); it != lower.rend(); ++it) {
    gates.push_back({Elementary::CX, it->source, it->target});
  }
  return gates;
}

}  // namespace

std::vector<PlacedGate> synthesise_linear(const BitMatrix& m) {
  const std::uint32_t n = m.size();
  if (m == BitMatrix::identity(n)) return {};
  const std::optional<BitMatrix> inverse = m.inverse();
  check(inverse.has_value(), "the matrix to synthesise is invertible");
  const BitMatrix transposed = m.transposed();
  const BitMatrix inverse_transposed = inverse->transposed();
  // A circuit for M^-1 read backwards is one for M; one for M^T read
  // backwards with control and target exchanged, too; one for M^-T with
  // them exchanged in order.
  struct Variant {
    const BitMatrix* matrix;
    bool reverse;
    bool exchange;
  };
  const Variant variants[] = {{&m, false, false},
                              {&*inverse, true, false},
                              {&transposed, true, true},
                              {&inverse_transposed, false, true}};
  const std::uint32_t max_section =
      std::min<std::uint32_t>(16, static_cast<std::uint32_t>(std::bit_width(n)));
  std::vector<std::uint32_t> first_of(std::size_t{1} << max_section, kNone);
  std::vector<PlacedGate> best;
  bool found = false;
  for (std::uint32_t section = 1; section <= max_section; ++section) {
    for (const Variant& v : variants) {
      std::vector<PlacedGate> gates = eliminate(*v.matrix, section, first_of);
      if (found && gates.size() >= best.size()) continue;
      if (v.reverse) std::reverse(gates.begin(), gates.end());
      if (v.exchange) {
        for (PlacedGate& g : gates) std::swap(g.a, g.b);
      }
      best = std::move(gates);
      found = true;
    }
  }
  return best;
}

BitMatrix linear_map_of(std::span<const PlacedGate> gates, std::uint32_t n) {
  BitMatrix map = BitMatrix::identity(n);
  for (const PlacedGate& g : gates) {
    switch (g.gate) {
      case Elementary::CX:
        check(g.a != g.b, "a two-qubit gate names two qubits");
        map.add_row(g.b, g.a);
        break;
      case Elementary::Swap: map.swap_rows(g.a, g.b); break;
      case Elementary::S:
      case Elementary::Sdg:
      case Elementary::T:
      case Elementary::Tdg:
      case Elementary::Z:
        checked_index(n, g.a);
        break;
      case Elementary::CZ:
        checked_index(n, g.a);
        checked_index(n, g.b);
        break;
      default: fault("a linear map is made of cx, swap and diagonal gates");
    }
  }
  return map;
}

}  // namespace kestrel
