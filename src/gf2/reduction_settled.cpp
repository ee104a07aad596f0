// The test that a parity table has no move of the reduction: the kernel
// of A by elimination, then the rank of P(y) for every nonzero y in it
// (src/gf2/reduction_settled.h says why that settles the table).
#include "src/gf2/reduction_settled.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"

namespace kestrel {
namespace {

// The index of the lowest set bit of a nonzero vector.
std::size_t lowest_bit(const std::uint64_t* v) {
  std::size_t w = 0;
  while (v[w] == 0) ++w;
  return 64 * w + static_cast<std::size_t>(std::countr_zero(v[w]));
}

// A basis of the kernel of A (m bits each), or nothing when its dimension
// passes kSettleKernel. Each column is reduced against the earlier
// independent ones (each kept with its lowest bit as pivot, cleared in all
// that came after it) and with it the record of which columns it sums.
bool kernel_of(const ParityTable& table, std::vector<std::vector<std::uint64_t>>& kernel, std::uint64_t& work) {
  const std::size_t m = table.columns(), nw = table.words, mw = words_for(m);
  std::vector<std::uint64_t> basis, records;
  std::vector<std::size_t> pivots;
  std::vector<std::uint64_t> v(nw), record(mw);
  for (std::size_t j = 0; j < m; ++j) {
    std::copy_n(table.column(j).data(), nw, v.data());
    std::fill(record.begin(), record.end(), 0);
    flip_bit(record.data(), j);
    for (std::size_t b = 0; b < pivots.size(); ++b) {
      if (!test_bit(v.data(), pivots[b])) continue;
      xor_words(v.data(), &basis[b * nw], nw);
      xor_words(record.data(), &records[b * mw], mw);
    }
    work += pivots.size() + 1 + nw + mw;
    if (zero_words(v.data(), nw)) {
      if (kernel.size() == kSettleKernel) return false;
      kernel.push_back(record);
      continue;
    }
    pivots.push_back(lowest_bit(v.data()));
    basis.insert(basis.end(), v.begin(), v.end());
    records.insert(records.end(), record.begin(), record.end());
    work += pivots.size() * (nw + mw);
  }
  return true;
}

// P(y) = the sum of a_j a_j^T over the columns in y, n rows of `words`.
std::vector<std::uint64_t> outer_sum(const ParityTable& table, const std::vector<std::uint64_t>& y,
                                     std::uint64_t& work) {
  const std::size_t nw = table.words;
  std::vector<std::uint64_t> p(std::size_t{table.variables} * nw, 0);
  for_each_bit(y.data(), y.size(), [&](std::size_t j) {
    const std::uint64_t* a = table.column(j).data();
    for_each_bit(a, nw, [&](std::size_t row) { xor_words(&p[row * nw], a, nw); });
    work += count_bits(a, nw) * nw + nw;
  });
  return p;
}

// Up to three independent rows of `p` (n rows of `words`), in `found`
// (3 * words): returns how many, 3 meaning three or more.
std::size_t independent_rows(const std::vector<std::uint64_t>& p, std::size_t words,
                             std::vector<std::uint64_t>& found, std::uint64_t& work) {
  std::vector<std::uint64_t> row(words);
  std::size_t pivot[3];
  std::size_t count = 0;
  const std::size_t rows = words == 0 ? 0 : p.size() / words;
  for (std::size_t r = 0; r < rows && count < 3; ++r) {
    std::copy_n(&p[r * words], words, row.data());
    for (std::size_t i = 0; i < count; ++i) {
      if (test_bit(row.data(), pivot[i])) xor_words(row.data(), &found[i * words], words);
    }
    work += (count + 1) * words;
    if (zero_words(row.data(), words)) continue;
    pivot[count] = lowest_bit(row.data());
    std::copy_n(row.data(), words, &found[count * words]);
    ++count;
  }
  return count;
}

// The table's columns found by value.
class ColumnIndex {
 public:
  explicit ColumnIndex(const ParityTable& table) : table_(table), order_(table.columns()) {
    for (std::size_t j = 0; j < order_.size(); ++j) order_[j] = j;
    std::sort(order_.begin(), order_.end(), [&](std::size_t x, std::size_t y) { return below(x, y); });
    for (std::size_t k = 0; k < order_.size(); ++k) {
      const bool distinct = k == 0 || below(order_[k - 1], order_[k]);
      check(distinct && !zero_words(table.column(order_[k]).data(), table.words), "distinct nonzero columns");
    }
  }

  // The column equal to v, or kNone.
  std::size_t find(const std::uint64_t* v) const {
    const auto at = std::lower_bound(order_.begin(), order_.end(), v, [&](std::size_t j, const std::uint64_t* w) {
      const auto c = table_.column(j);
      return std::lexicographical_compare(c.begin(), c.end(), w, w + table_.words);
    });
    if (at == order_.end() || !equal_words(table_.column(*at).data(), v, table_.words)) return kNone;
    return *at;
  }

 private:
  bool below(std::size_t x, std::size_t y) const {
    const auto a = table_.column(x), b = table_.column(y);
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
  }

  const ParityTable& table_;
  std::vector<std::size_t> order_;  // column indices, ascending by value
};

// The columns the move (y, z) removes: two for each moved column that
// becomes one not moved, one for a moved column that becomes zero, less the
// one z adds when y moves an odd number, or plus one when z is a column
// not moved (both go). (Moved columns stay distinct, and none becomes z.)
long move_gain(const ParityTable& table, const ColumnIndex& index, const std::vector<std::uint64_t>& y,
               const std::uint64_t* z, std::uint64_t& work) {
  const std::size_t nw = table.words;
  std::vector<std::uint64_t> v(nw);
  long gain = 0;
  std::size_t moved = 0;
  for_each_bit(y.data(), y.size(), [&](std::size_t j) {
    ++moved;
    for (std::size_t w = 0; w < nw; ++w) v[w] = table.column(j)[w] ^ z[w];
    if (zero_words(v.data(), nw)) {
      ++gain;
    } else {
      const std::size_t k = index.find(v.data());
      if (k != kNone && !test_bit(y.data(), k)) gain += 2;
    }
    work += 8 * nw;
  });
  if (moved % 2 == 1) {
    const std::size_t k = index.find(z);
    gain += k != kNone && !test_bit(y.data(), k) ? 1 : -1;
  }
  return gain;
}

}  // namespace

Settled surely_no_move(const ParityTable& table) {
  Settled out;
  // More columns than variables plus kSettleKernel: a kernel too large.
  if (table.columns() > std::size_t{table.variables} + kSettleKernel) return out;
  std::vector<std::vector<std::uint64_t>> kernel;
  if (!kernel_of(table, kernel, out.work)) return out;
  std::vector<std::vector<std::uint64_t>> ps;
  for (const auto& y : kernel) ps.push_back(outer_sum(table, y, out.work));
  const ColumnIndex index(table);
  const std::size_t nw = table.words;
  // Every nonzero y of the kernel with its P, in Gray-code order: one
  // basis vector added per step.
  std::vector<std::uint64_t> y(words_for(table.columns()), 0);
  std::vector<std::uint64_t> p(std::size_t{table.variables} * nw, 0);
  std::vector<std::uint64_t> rows(3 * nw), z(nw);
  for (std::uint64_t step = 1; step < (std::uint64_t{1} << kernel.size()); ++step) {
    const auto b = static_cast<std::size_t>(std::countr_zero(step));
    xor_words(y.data(), kernel[b].data(), y.size());
    xor_words(p.data(), ps[b].data(), p.size());
    out.work += p.size() + y.size();
    const std::size_t rank = independent_rows(p, nw, rows, out.work);
    if (rank == 3) continue;
    // P = 0: any z keeps S. A column k not moved and z = a_i + a_k remove
    // a moved column i and k; with all moved, an even number, z = a_i
    // removes column i; an odd number of them all gains nothing (the
    // seven parities of a doubly controlled Z).
    if (rank == 0) {
      if (count_bits(y.data(), y.size()) == table.columns() && table.columns() % 2 == 1) continue;
      return out;
    }
    // An alternating P has even rank: 1 cannot occur (taken as undecided).
    if (rank != 2) return out;
    // Rank 2: z is one of the three nonzero vectors of P's row space.
    for (std::size_t c = 1; c <= 3; ++c) {
      for (std::size_t w = 0; w < nw; ++w) z[w] = (c & 1 ? rows[w] : 0) ^ (c & 2 ? rows[nw + w] : 0);
      if (move_gain(table, index, y, z.data(), out.work) > 0) return out;
    }
  }
  out.settled = true;
  return out;
}

}  // namespace kestrel
