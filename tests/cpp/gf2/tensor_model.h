// The plain model the reduction tests hold parity tables to, computed from
// the columns one entry at a time: the signature tensor, the kernel of
// L(A), a move (y, z) replayed, whether any kernel move gains (every y and
// z tried), and tables to reduce (random ones, sums of doubly controlled Z
// terms, multipliers over GF(2^k)).
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "src/gf2/reduction.h"

namespace kestrel::reduction_model {

using Column = std::vector<std::uint64_t>;
using Triple = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

inline bool bit(const Column& c, std::uint32_t v) { return (c[v / 64] >> (v % 64)) & 1; }
inline bool is_zero(const Column& c) {
  return std::all_of(c.begin(), c.end(), [](std::uint64_t w) { return w == 0; });
}

inline std::vector<Column> columns(const ParityTable& t) {
  std::vector<Column> out;
  for (std::size_t j = 0; j < t.columns(); ++j) out.emplace_back(t.column(j).begin(), t.column(j).end());
  return out;
}

// The triples a <= b <= c with S_abc = 1 (S is symmetric, so these fix it).
inline std::set<Triple> signature(std::uint32_t n, const std::vector<Column>& cols) {
  std::set<Triple> odd;
  for (const Column& c : cols) {
    std::vector<std::uint32_t> on;
    for (std::uint32_t v = 0; v < n; ++v) {
      if (bit(c, v)) on.push_back(v);
    }
    for (std::size_t x = 0; x < on.size(); ++x) {
      for (std::size_t y = x; y < on.size(); ++y) {
        for (std::size_t z = y; z < on.size(); ++z) {
          const Triple key{on[x], on[y], on[z]};
          if (!odd.erase(key)) odd.insert(key);
        }
      }
    }
  }
  return odd;
}

// Whether L(A) y = 0 for the columns `moved`: every variable and every pair
// of variables is on in an even number of them.
inline bool in_kernel(std::uint32_t n, const std::vector<Column>& cols, const std::vector<std::size_t>& moved) {
  for (std::uint32_t a = 0; a < n; ++a) {
    for (std::uint32_t b = a; b < n; ++b) {
      bool odd = false;
      for (const std::size_t j : moved) odd ^= bit(cols[j], a) && bit(cols[j], b);
      if (odd) return false;
    }
  }
  return true;
}

// The move (y, z) as the note states it: the moved columns become a + z, z
// joins when |y| is odd, equal columns cancel in pairs, zero columns go.
inline std::vector<Column> moved_table(const std::vector<Column>& cols, const std::vector<std::size_t>& moved,
                                const Column& z) {
  std::map<Column, int> count;
  std::vector<bool> is_moved(cols.size(), false);
  for (const std::size_t j : moved) is_moved[j] = true;
  for (std::size_t j = 0; j < cols.size(); ++j) {
    Column c = cols[j];
    if (is_moved[j]) {
      for (std::size_t w = 0; w < c.size(); ++w) c[w] ^= z[w];
    }
    ++count[c];
  }
  if (moved.size() % 2 == 1) ++count[z];
  std::vector<Column> out;
  for (const auto& [c, k] : count) {
    if (k % 2 == 1 && !is_zero(c)) out.push_back(c);
  }
  return out;
}

inline std::vector<Column> sorted(std::vector<Column> cols) {
  std::sort(cols.begin(), cols.end());
  return cols;
}

// The parities of odd coefficient of a sum of terms c * (parity), c mod 8.
inline ParityTable odd_terms(std::uint32_t n, const std::map<Column, int>& terms) {
  ParityTable t(n);
  for (const auto& [parity, c] : terms) {
    if (c % 2 != 0 && !is_zero(parity)) t.push_back(parity);
  }
  return t;
}

// Adds a doubly controlled Z on the parities p, q, r: the seven parities
// p, q, r, p+q, p+r, q+r, p+q+r with coefficients 1, 1, 1, -1, -1, -1, 1.
inline void add_ccz(std::map<Column, int>& terms, const Column& p, const Column& q, const Column& r) {
  for (int mask = 1; mask < 8; ++mask) {
    Column v(p.size(), 0);
    for (std::size_t w = 0; w < v.size(); ++w) {
      v[w] = ((mask & 1) ? p[w] : 0) ^ ((mask & 2) ? q[w] : 0) ^ ((mask & 4) ? r[w] : 0);
    }
    const int sign = std::popcount(static_cast<unsigned>(mask)) == 2 ? -1 : 1;
    int& c = terms[v];
    c = ((c + sign) % 8 + 8) % 8;
  }
}

inline Column unit(std::uint32_t n, std::uint32_t v) {
  Column u(parity_words(n), 0);
  u[v / 64] |= std::uint64_t{1} << (v % 64);
  return u;
}

// A table of one-word columns.
inline ParityTable table_of(std::uint32_t n, const std::vector<std::uint64_t>& words) {
  ParityTable t(n);
  for (const std::uint64_t w : words) t.push_back(std::vector<std::uint64_t>{w});
  return t;
}

inline ParityTable random_table(std::uint32_t n, std::size_t m, int density, std::mt19937_64& rng) {
  std::set<Column> seen;
  ParityTable t(n);
  while (t.columns() < m) {
    Column v(parity_words(n), 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (static_cast<int>(rng() % density) == 0) v[i / 64] |= std::uint64_t{1} << (i % 64);
    }
    if (!is_zero(v) && seen.insert(v).second) t.push_back(v);
  }
  return t;
}

inline ParityTable random_cczs(std::uint32_t n, std::size_t count, std::mt19937_64& rng) {
  std::map<Column, int> terms;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t a = rng() % n;
    std::uint32_t b = rng() % n, c = rng() % n;
    while (b == a) b = rng() % n;
    while (c == a || c == b) c = rng() % n;
    add_ccz(terms, unit(n, a), unit(n, b), unit(n, c));
  }
  return odd_terms(n, terms);
}

// c += a * b over GF(2^k) modulo `poly` (bit k set): variables a_0..a_(k-1),
// b_0..b_(k-1), c_0..c_(k-1); the product a_i b_j lands on the parity of
// the c bits of x^(i+j) mod poly.
inline ParityTable multiplier(std::uint32_t k, std::uint64_t poly) {
  const std::uint32_t n = 3 * k;
  std::map<Column, int> terms;
  for (std::uint32_t i = 0; i < k; ++i) {
    for (std::uint32_t j = 0; j < k; ++j) {
      std::uint64_t power = std::uint64_t{1} << (i + j);
      for (std::uint32_t d = 2 * k - 2; d >= k; --d) {
        if ((power >> d) & 1) power ^= poly << (d - k);
      }
      Column c(parity_words(n), 0);
      for (std::uint32_t d = 0; d < k; ++d) {
        if ((power >> d) & 1) c[(2 * k + d) / 64] |= std::uint64_t{1} << ((2 * k + d) % 64);
      }
      add_ccz(terms, unit(n, i), unit(n, k + j), c);
    }
  }
  return odd_terms(n, terms);
}

// Whether some move (y, z) with A y = 0, y and z nonzero, keeps the tensor
// and removes a column (tables of at most 6 variables and 20 columns).
inline bool gaining_move(const ParityTable& table) {
  const std::uint32_t n = table.variables;
  const std::vector<Column> cols = columns(table);
  const std::set<Triple> s = signature(n, cols);
  for (std::uint64_t y = 1; y < (std::uint64_t{1} << cols.size()); ++y) {
    std::vector<std::size_t> moved;
    std::uint64_t sum = 0;
    for (std::size_t j = 0; j < cols.size(); ++j) {
      if ((y >> j) & 1) moved.push_back(j), sum ^= cols[j][0];
    }
    if (sum != 0) continue;
    for (std::uint64_t z = 1; z < (std::uint64_t{1} << n); ++z) {
      const std::vector<Column> after = moved_table(cols, moved, Column{z});
      if (after.size() < cols.size() && signature(n, after) == s) return true;
    }
  }
  return false;
}

}  // namespace kestrel::reduction_model
