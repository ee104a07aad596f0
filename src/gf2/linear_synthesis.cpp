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
#include "src/gf2/linear_synthesis.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <utility>

#include "engine/fault.h"
#include "src/gf2/bits.h"

namespace kestrel {

BitMatrix::BitMatrix(std::uint32_t n)
    : n_(n), words_((std::size_t{n} + 63) / 64), bits_(std::size_t{n} * words_, 0) {}

BitMatrix BitMatrix::identity(std::uint32_t n) {
  BitMatrix m(n);
  for (std::uint32_t i = 0; i < n; ++i) m.set(i, i, true);
  return m;
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
  // Bit c of row r read straight from the words: the elimination reads n^2
  // bits per column.
  std::uint64_t* bits = a.bits_.data();
  for (std::uint32_t c = 0; c < n_; ++c) {
    const std::size_t word = c / 64;
    const std::uint64_t mask = std::uint64_t{1} << (c % 64);
    std::uint32_t pivot = c;
    while (pivot < n_ && (bits[pivot * words_ + word] & mask) == 0) ++pivot;
    if (pivot == n_) return std::nullopt;
    if (pivot != c) {
      a.swap_rows(c, pivot);
      inv.swap_rows(c, pivot);
    }
    for (std::uint32_t r = 0; r < n_; ++r) {
      if (r != c && (bits[r * words_ + word] & mask) != 0) {
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

// The buffers of the eliminations of one synthesis, made once: a matrix is
// eliminated many times (each section size, four forms), most often a small
// one, where allocation would cost more than the work.
struct Elimination {
  Elimination(std::uint32_t size, std::uint32_t max_section)
      : n(size),
        words((std::size_t{size} + 63) / 64),
        a(std::size_t{size} * words),
        t(std::size_t{size} * words),
        first_of(std::size_t{1} << max_section, kNone) {}

  std::uint64_t* row(std::vector<std::uint64_t>& m, std::uint32_t r) { return m.data() + r * words; }
  void add(std::vector<std::uint64_t>& m, std::uint32_t target, std::uint32_t source,
           std::vector<RowAddition>& out) {
    std::uint64_t* to = row(m, target);
    const std::uint64_t* from = row(m, source);
    for (std::size_t w = 0; w < words; ++w) to[w] ^= from[w];
    out.push_back({source, target});
    gave_up = lower.size() + upper.size() >= limit;
  }

  // Brings `m` to upper triangular form with unit diagonal, appending the
  // row additions made to `out`; stops where the additions reach `limit`
  // (`gave_up`). (A flag, not an exception: a block's many small
  // syntheses give up often, and unwinding cost more than their work.)
  void eliminate_lower(std::vector<std::uint64_t>& m, std::uint32_t section,
                       std::vector<RowAddition>& out) {
    for (std::uint32_t start = 0; start < n; start += section) {
      const std::uint32_t end = std::min(n, start + section);
      // Rows equal on this section's columns: the later one is cleared
      // there by one addition.
      for (std::uint32_t r = start; r < n; ++r) {
        const std::uint32_t pattern = section_bits(row(m, r), start, end - start);
        if (pattern == 0) continue;
        if (first_of[pattern] == kNone) {
          first_of[pattern] = r;
          used.push_back(pattern);
        } else {
          add(m, r, first_of[pattern], out);
          if (gave_up) return;
        }
      }
      for (std::uint32_t pattern : used) first_of[pattern] = kNone;
      used.clear();
      for (std::uint32_t c = start; c < end; ++c) {
        const std::size_t w = c / 64;
        const std::uint64_t bit = std::uint64_t{1} << (c % 64);
        bool diagonal = row(m, c)[w] & bit;
        for (std::uint32_t r = c + 1; r < n; ++r) {
          if (!(row(m, r)[w] & bit)) continue;
          if (!diagonal) {
            add(m, c, r, out);
            if (gave_up) return;
            diagonal = true;
          }
          add(m, r, c, out);
          if (gave_up) return;
        }
        check(diagonal, "the matrix to synthesise is invertible");
      }
    }
  }

  // Eliminates `matrix` with the given section size into `lower` and
  // `upper`; returns the additions made, or `limit` once they reach it.
  std::size_t run(const BitMatrix& matrix, std::uint32_t section, std::size_t at_most) {
    lower.clear();
    upper.clear();
    limit = at_most;
    gave_up = false;
    run_to_end(matrix, section);
    if (gave_up) {
      for (std::uint32_t pattern : used) first_of[pattern] = kNone;
      used.clear();
      return limit;
    }
    return lower.size() + upper.size();
  }
  void run_to_end(const BitMatrix& matrix, std::uint32_t section) {
    for (std::uint32_t r = 0; r < n; ++r) std::copy(matrix.row(r), matrix.row(r) + words, row(a, r));
    eliminate_lower(a, section, lower);
    if (gave_up) return;
    std::fill(t.begin(), t.end(), 0);
    for (std::uint32_t r = 0; r < n; ++r) {
      const std::uint64_t* bits = row(a, r);
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
          row(t, static_cast<std::uint32_t>(64 * w + std::countr_zero(word)))[r / 64] |=
              std::uint64_t{1} << (r % 64);
        }
      }
    }
    eliminate_lower(t, section, upper);
    if (gave_up) return;
    for (std::uint32_t r = 0; r < n; ++r) {
      for (std::size_t w = 0; w < words; ++w) {
        check(row(t, r)[w] == (w == r / 64 ? std::uint64_t{1} << (r % 64) : 0),
              "the elimination ends at the identity");
      }
    }
  }

  // The cx gates of the last run, in time order.
  std::vector<PlacedGate> gates() const {
    std::vector<PlacedGate> out;
    out.reserve(lower.size() + upper.size());
    for (const RowAddition& u : upper) out.push_back({Elementary::CX, u.target, u.source});
    for (auto it = lower.rbegin(); it != lower.rend(); ++it) {
      out.push_back({Elementary::CX, it->source, it->target});
    }
    return out;
  }

  std::uint32_t n;
  std::size_t words;
  std::vector<std::uint64_t> a, t;            // the matrix and its transpose, being eliminated
  std::vector<std::uint32_t> first_of, used;  // per section pattern: its first row; patterns set
  std::vector<RowAddition> lower, upper;      // the additions of the two passes
  std::size_t limit = 0;                      // a run gives up at this many additions
  bool gave_up = false;                       // the last run reached `limit`
};

}  // namespace

std::size_t rows_moved(const BitMatrix& m) {
  std::size_t moved = 0;
  for (std::uint32_t r = 0; r < m.size(); ++r) {
    const std::uint64_t* row = m.row(r);
    for (std::size_t w = 0; w < m.words(); ++w) {
      if (row[w] != (w == r / 64 ? std::uint64_t{1} << (r % 64) : 0)) {
        ++moved;
        break;
      }
    }
  }
  return moved;
}

std::vector<PlacedGate> synthesise_linear(const BitMatrix& m) {
  return *synthesise_linear_within(m, std::numeric_limits<std::size_t>::max());
}

std::optional<std::vector<PlacedGate>> synthesise_linear_within(const BitMatrix& m,
                                                                std::size_t limit) {
  const std::uint32_t n = m.size();
  // Each cx changes one wire, so a map with r rows other than the
  // identity's takes r gates at least: a circuit that short is final.
  const std::size_t at_least = rows_moved(m);
  if (at_least == 0) return limit > 0 ? std::optional(std::vector<PlacedGate>{}) : std::nullopt;
  if (at_least >= limit) return std::nullopt;
  // A circuit for M^-1 read backwards is one for M; one for M^T read
  // backwards with control and target exchanged, too; one for M^-T with
  // them exchanged in order. Each form is made when first tried (a
  // circuit of `at_least` gates ends the search before the others).
  std::optional<BitMatrix> inverse, transposed, inverse_transposed;
  const auto form = [&](int k) -> const BitMatrix& {
    if (k == 0) return m;
    if (!inverse) {
      inverse = m.inverse();
      check(inverse.has_value(), "the matrix to synthesise is invertible");
    }
    if (k == 1) return *inverse;
    if (k == 2) {
      if (!transposed) transposed = m.transposed();
      return *transposed;
    }
    if (!inverse_transposed) inverse_transposed = inverse->transposed();
    return *inverse_transposed;
  };
  struct Variant {
    int form;
    bool reverse;
    bool exchange;
  };
  const Variant variants[] = {{0, false, false}, {1, true, false}, {2, true, true}, {3, false, true}};
  // The best section size is near log2(n) / 2 (2 for 16 wires, 4 for 64
  // and 128, 5 for 256 and 385 on random maps): three sizes around it.
  const std::uint32_t middle = static_cast<std::uint32_t>(std::bit_width(n)) / 2;
  const std::uint32_t min_section = std::max<std::uint32_t>(1, middle - 1);
  const std::uint32_t max_section = std::min<std::uint32_t>(16, middle + 1);
  Elimination elimination(n, max_section);
  std::optional<std::vector<PlacedGate>> best;
  std::size_t fewest = limit;
  for (std::uint32_t section = min_section; section <= max_section; ++section) {
    for (const Variant& v : variants) {
      if (best && fewest == at_least) return best;
      const std::size_t count = elimination.run(form(v.form), section, fewest);
      if (count >= fewest) continue;
      best = elimination.gates();
      fewest = count;
      if (v.reverse) std::reverse(best->begin(), best->end());
      if (v.exchange) {
        for (PlacedGate& g : *best) std::swap(g.a, g.b);
      }
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
