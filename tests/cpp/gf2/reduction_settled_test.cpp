// The cheap test that a parity table has no move, held to two things it
// must never contradict: every move (y, z) with y in the kernel of A, found
// by trying all y and z on small tables against the plain model's tensor
// (tensor_model.h), and the reduction's own search (run with the
// test off) on larger tables, which must give a settled table back whole.
#include "src/gf2/reduction_settled.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "src/gf2/reduction.h"
#include "tests/cpp/gf2/tensor_model.h"

namespace kestrel {
namespace {

using namespace reduction_model;

TEST(ReductionSettledTest, NoSettledTableHasAGainingMove) {
  std::mt19937_64 rng(31);
  int settled = 0, settled_with_kernel = 0, open = 0;
  for (std::uint32_t n = 3; n <= 6; ++n) {
    for (std::size_t m = n - 1; m <= n + 6 && m < (std::size_t{1} << n); ++m) {
      for (int rep = 0; rep < 12; ++rep) {
        const ParityTable table = random_table(n, m, 2 + rep % 3, rng);
        const Settled result = surely_no_move(table);
        const bool gains = gaining_move(table);
        SCOPED_TRACE(testing::Message() << "n " << n << " m " << m << " rep " << rep);
        EXPECT_FALSE(result.settled && gains) << "a table with a gaining move is settled";
        settled += result.settled;
        settled_with_kernel += result.settled && m > n;
        open += !result.settled;
      }
    }
  }
  // Not blind either way: it settles tables with a kernel, and leaves some.
  EXPECT_GT(settled_with_kernel, 20);
  EXPECT_GT(open, 20);
  EXPECT_GT(settled, settled_with_kernel);
}

// A cache of the test's answers gives the reduction the same table and the
// same work as testing afresh, when it is filled and when it is read; two
// tables on as many variables keep answers of their own.
TEST(ReductionSettledTest, ACachedAnswerGivesTheSameReduction) {
  const std::pair<std::uint32_t, std::vector<std::uint64_t>> tables[] = {
      {3, {1, 2, 3, 4, 5, 6}}, {4, {1, 2, 3, 4, 5, 6, 7, 8}}, {4, {0b0001, 0b0011, 0b0110, 0b1100}}};
  SettledCache cache;
  for (int round = 0; round < 2; ++round) {
    for (const auto& [n, cols] : tables) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", " << cols.size() << " columns");
      const ParityTable table = table_of(n, cols);
      const Reduction fresh = reduce_parity_table(table);
      ReductionOptions options;
      options.settled_cache = &cache;
      const Reduction cached = reduce_parity_table(table, options);
      EXPECT_EQ(cached.table.bits, fresh.table.bits);
      EXPECT_EQ(cached.stats.work, fresh.stats.work);
    }
  }
  EXPECT_EQ(cache.size(), 3u);
}

// A table like a ripple-carry adder block's: a chain of doubly controlled
// Z terms on neighbouring variables and their sums, plus random sparse
// columns, kept distinct.
ParityTable chain_table(std::uint32_t n, std::size_t extra, std::mt19937_64& rng) {
  std::set<Column> seen;
  ParityTable t(n);
  const auto add = [&](const Column& v) {
    if (!is_zero(v) && seen.insert(v).second) t.push_back(v);
  };
  const auto flip = [](Column& c, std::uint32_t v) { c[v / 64] ^= std::uint64_t{1} << (v % 64); };
  for (std::uint32_t v = 0; v < n; ++v) {
    Column col = unit(n, v);
    if (v + 1 < n && v % 3 == 0) flip(col, v + 1);
    add(col);
  }
  for (std::size_t e = 0; e < extra; ++e) {
    Column col(t.words, 0);
    for (int k = 0; k < 3; ++k) flip(col, static_cast<std::uint32_t>(rng() % n));
    add(col);
  }
  return t;
}

TEST(ReductionSettledTest, TheSearchGivesSettledTablesBackWhole) {
  std::mt19937_64 rng(32);
  int settled = 0;
  for (const std::uint32_t n : {12u, 30u, 70u, 130u}) {
    for (const std::size_t extra : {1u, 2u, 4u, 8u}) {
      const ParityTable t = chain_table(n, extra, rng);
      SCOPED_TRACE(testing::Message() << "n " << n << " extra " << extra);
      const Settled result = surely_no_move(t);
      ReductionOptions options;
      options.settle = false;
      const Reduction searched = reduce_parity_table(t, options);
      options.settle = true;
      const Reduction quick = reduce_parity_table(t, options);
      EXPECT_EQ(quick.table, searched.table) << "the test changes no table";
      if (!result.settled) continue;
      ++settled;
      EXPECT_EQ(searched.table, t);
      EXPECT_EQ(searched.stats.kernel_moves + searched.stats.widened_moves, 0u);
    }
  }
  EXPECT_GE(settled, 4);
}

}  // namespace
}  // namespace kestrel
