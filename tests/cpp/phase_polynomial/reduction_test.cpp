// The reduction against a plain model: the signature tensor computed from
// the columns one triple at a time, before and after, on random tables, on
// sums of doubly controlled Z terms and on multipliers over GF(2^n).
#include "src/phase_polynomial/reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

namespace kestrel {
namespace {

using Triple = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

bool holds(const ParityTable& t, std::size_t j, std::uint32_t v) {
  return (t.column(j)[v / 64] >> (v % 64)) & 1;
}

// The triples a <= b <= c with S_abc = 1 (S is symmetric, so these fix it).
std::set<Triple> signature(const ParityTable& t) {
  std::set<Triple> odd;
  for (std::size_t j = 0; j < t.columns(); ++j) {
    std::vector<std::uint32_t> on;
    for (std::uint32_t v = 0; v < t.variables; ++v) {
      if (holds(t, j, v)) on.push_back(v);
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

// The parities of odd coefficient of a sum of terms c * (parity), c mod 8.
ParityTable odd_terms(std::uint32_t n, const std::map<std::vector<std::uint64_t>, int>& terms) {
  ParityTable t(n);
  for (const auto& [parity, c] : terms) {
    if (c % 2 != 0 && std::any_of(parity.begin(), parity.end(), [](std::uint64_t w) { return w != 0; })) {
      t.push_back(parity);
    }
  }
  return t;
}

// Adds a doubly controlled Z on the parities p, q, r: the seven parities
// p, q, r, p+q, p+r, q+r, p+q+r with coefficients 1, 1, 1, -1, -1, -1, 1.
void add_ccz(std::map<std::vector<std::uint64_t>, int>& terms, const std::vector<std::uint64_t>& p,
             const std::vector<std::uint64_t>& q, const std::vector<std::uint64_t>& r) {
  for (int mask = 1; mask < 8; ++mask) {
    std::vector<std::uint64_t> v(p.size(), 0);
    for (std::size_t w = 0; w < v.size(); ++w) {
      v[w] = ((mask & 1) ? p[w] : 0) ^ ((mask & 2) ? q[w] : 0) ^ ((mask & 4) ? r[w] : 0);
    }
    const int sign = std::popcount(static_cast<unsigned>(mask)) == 2 ? -1 : 1;
    int& c = terms[v];
    c = ((c + sign) % 8 + 8) % 8;
  }
}

std::vector<std::uint64_t> unit(std::uint32_t n, std::uint32_t v) {
  std::vector<std::uint64_t> u(parity_words(n), 0);
  u[v / 64] |= std::uint64_t{1} << (v % 64);
  return u;
}

ParityTable random_table(std::uint32_t n, std::size_t m, int density, std::mt19937_64& rng) {
  std::set<std::vector<std::uint64_t>> seen;
  ParityTable t(n);
  while (t.columns() < m) {
    std::vector<std::uint64_t> v(parity_words(n), 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (static_cast<int>(rng() % density) == 0) v[i / 64] |= std::uint64_t{1} << (i % 64);
    }
    if (std::all_of(v.begin(), v.end(), [](std::uint64_t w) { return w == 0; })) continue;
    if (seen.insert(v).second) t.push_back(v);
  }
  return t;
}

ParityTable random_cczs(std::uint32_t n, std::size_t count, std::mt19937_64& rng) {
  std::map<std::vector<std::uint64_t>, int> terms;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t a = rng() % n, b = rng() % n, c = rng() % n;
    while (b == a) b = rng() % n;
    while (c == a || c == b) c = rng() % n;
    add_ccz(terms, unit(n, a), unit(n, b), unit(n, c));
  }
  return odd_terms(n, terms);
}

// c += a * b over GF(2^k) modulo `poly` (bit k set): variables a_0.. a_(k-1),
// b_0.. b_(k-1), c_0.. c_(k-1); the product a_i b_j lands on the parity of
// the c bits of x^(i+j) mod poly.
ParityTable multiplier(std::uint32_t k, std::uint64_t poly) {
  const std::uint32_t n = 3 * k;
  std::map<std::vector<std::uint64_t>, int> terms;
  for (std::uint32_t i = 0; i < k; ++i) {
    for (std::uint32_t j = 0; j < k; ++j) {
      std::uint64_t power = std::uint64_t{1} << (i + j);
      for (std::uint32_t d = 2 * k - 2; d >= k; --d) {
        if ((power >> d) & 1) power ^= poly << (d - k);
      }
      std::vector<std::uint64_t> c(parity_words(n), 0);
      for (std::uint32_t d = 0; d < k; ++d) {
        if ((power >> d) & 1) c[(2 * k + d) / 64] |= std::uint64_t{1} << ((2 * k + d) % 64);
      }
      add_ccz(terms, unit(n, i), unit(n, k + j), c);
    }
  }
  return odd_terms(n, terms);
}

void expect_reduced(const ParityTable& before, const ReductionOptions& options = {}) {
  const Reduction r = reduce_parity_table(before, options);
  EXPECT_EQ(r.table.variables, before.variables);
  EXPECT_LE(r.table.columns(), before.columns());
  std::set<std::vector<std::uint64_t>> seen;
  for (std::size_t j = 0; j < r.table.columns(); ++j) {
    const auto col = r.table.column(j);
    EXPECT_TRUE(std::any_of(col.begin(), col.end(), [](std::uint64_t w) { return w != 0; }));
    EXPECT_TRUE(seen.insert({col.begin(), col.end()}).second) << "column " << j << " repeated";
  }
  EXPECT_EQ(signature(r.table), signature(before));
}

TEST(ReductionTest, KeepsTheSignatureOfRandomTables) {
  struct Case {
    std::uint32_t n;
    std::size_t m;
    int density;  // one variable in `density` takes part in a column
  };
  const Case cases[] = {{3, 5, 2}, {4, 12, 2}, {5, 20, 2}, {6, 40, 3}, {8, 60, 2},
                        {10, 80, 4}, {12, 150, 3}, {20, 120, 5}, {70, 200, 20}, {130, 300, 40}};
  std::mt19937_64 rng(11);
  for (const Case& c : cases) {
    for (int rep = 0; rep < 3; ++rep) {
      SCOPED_TRACE(testing::Message() << "n " << c.n << " m " << c.m << " rep " << rep);
      expect_reduced(random_table(c.n, c.m, c.density, rng));
    }
  }
}

TEST(ReductionTest, KeepsTheSignatureOfDoublyControlledZSums) {
  struct Case {
    std::uint32_t n;
    std::size_t terms;
  };
  const Case cases[] = {{3, 1}, {4, 3}, {6, 10}, {9, 30}, {16, 80}, {40, 200}, {66, 150}};
  std::mt19937_64 rng(12);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << " terms " << c.terms);
    expect_reduced(random_cczs(c.n, c.terms, rng));
  }
}

TEST(ReductionTest, ShrinksMultipliers) {
  struct Case {
    std::uint32_t k;
    std::uint64_t poly;
    std::size_t columns;  // 4k^2 + k for even k
  };
  const Case cases[] = {{4, 0b10011, 68}, {5, 0b100101, 115}, {6, 0b1000011, 150}, {8, 0b100011011, 264}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "k " << c.k);
    const ParityTable t = multiplier(c.k, c.poly);
    ASSERT_EQ(t.columns(), c.columns);
    expect_reduced(t);
  }
}

}  // namespace
}  // namespace kestrel
