// The support index against a plain backward scan, on sequences where runs
// can be skipped (mostly diagonal products) and where they cannot. (An index
// cleared at a boundary on every qubit: merger_test's random programs.)
#include "src/rotation_merging/support_index.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "src/pauli/pauli.h"

namespace kestrel {
namespace {

std::uint32_t scan(const std::vector<std::vector<std::uint64_t>>& rows, const std::uint64_t* row,
                   std::uint32_t below, std::uint32_t above, std::size_t words) {
  const std::uint32_t end = above == SupportIndex::kNone ? 0 : above + 1;
  for (std::uint32_t p = below; p > end;) {
    --p;
    if (anticommute(row, rows[p].data(), words)) return p;
  }
  return SupportIndex::kNone;
}

TEST(SupportIndexTest, FindsWhatAPlainScanFinds) {
  struct Case {
    std::size_t words;    // half-row words
    int x_in;             // one product in x_in has X bits (0: none, 1: all)
    int density;          // one bit in `density` is set
    std::uint32_t count;  // products
    std::uint32_t every;  // a search after every so many products
    std::size_t reach;    // each product has bits in at most this many words (0: all)
  };
  const Case cases[] = {
      {1, 0, 4, 5000, 7, 0},     // diagonal only: every run is skipped
      {1, 50, 8, 5000, 7, 0},    // a few products with X bits among diagonal ones
      {1, 1, 2, 3000, 7, 0},     // dense: runs are never skipped
      {3, 20, 40, 4000, 7, 0},   // three words, sparse
      // Past 65,536 products, runs of four levels, the longest not complete.
      {1, 3000, 4, 70000, 331, 0},
      // Twelve words, each product on one or two of them: searches read only
      // the words of their product; some products span all twelve.
      {12, 3, 6, 4000, 7, 2},
      {12, 1, 3, 3000, 7, 1},
  };
  std::mt19937_64 rng(5);
  for (const Case& c : cases) {
    SupportIndex index(c.words);
    std::vector<std::vector<std::uint64_t>> rows;
    const auto random_row = [&](bool with_x) {
      std::vector<std::uint64_t> row(2 * c.words, 0);
      std::vector<bool> reached(c.words, c.reach == 0 || rng() % 16 == 0);
      for (std::size_t k = 0; k < c.reach; ++k) reached[rng() % c.words] = true;
      for (std::size_t w = 0; w < 2 * c.words; ++w) {
        if (w < c.words && !with_x) continue;
        if (!reached[w % c.words]) continue;
        for (int b = 0; b < 64; ++b) {
          if (static_cast<int>(rng() % c.density) == 0) row[w] |= std::uint64_t{1} << b;
        }
      }
      return row;
    };
    for (std::uint32_t n = 0; n < c.count; ++n) {
      rows.push_back(random_row(c.x_in != 0 && rng() % c.x_in == 0));
      index.push_back(rows.back().data());
      ASSERT_EQ(index.size(), n + 1);
      ASSERT_EQ(std::vector<std::uint64_t>(index.row(n), index.row(n) + 2 * c.words), rows.back());
      if (n % c.every != 0) continue;
      const std::vector<std::uint64_t> probe = random_row(rng() % 2 == 0);
      const auto below = static_cast<std::uint32_t>(rng() % (n + 2));
      const std::uint32_t above =
          rng() % 3 == 0 || below == 0 ? SupportIndex::kNone : static_cast<std::uint32_t>(rng() % below);
      EXPECT_EQ(index.latest(probe.data(), below, above), scan(rows, probe.data(), below, above, c.words))
          << "words " << c.words << ", product " << n << ", below " << below;
    }
  }
}

}  // namespace
}  // namespace kestrel
