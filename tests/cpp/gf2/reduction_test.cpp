// The reduction against a plain model of the signature tensor and of L(A)
// (tensor_model.h): every move it takes is
// replayed on the table before it and checked (the tensor kept, a kernel
// move's y in the kernel of L(A), a widened one's y outside it and good
// only with its own z), on random tables, on sums of doubly controlled Z
// terms and on multipliers over GF(2^k). (Which z a move appends among
// equal ones decides default outputs, which tests/python/test_tcount_digests.py
// pins.)
#include "src/gf2/reduction.h"
#include "src/gf2/reduction_settled.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <optional>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "tests/cpp/gf2/tensor_model.h"

namespace kestrel {
namespace {

using namespace reduction_model;

// Reduces `table` checking every move against the model, and the result:
// the same tensor, no more columns, distinct and nonzero. Returns it.
Reduction checked_reduction(const ParityTable& table, bool widened) {
  const std::uint32_t n = table.variables;
  std::vector<Column> expected = columns(table);
  std::size_t kernel_moves = 0, widened_moves = 0;
  ReductionOptions options;
  options.widened = widened;
  options.self_check = true;
  options.on_move = [&](const ReductionMove& move) {
    const std::vector<Column> before = columns(move.before);
    EXPECT_EQ(sorted(before), sorted(expected)) << "the table before a move is the last one's result";
    EXPECT_EQ(in_kernel(n, before, move.moved), !move.widened) << "only widened moves leave the kernel of L(A)";
    const std::vector<Column> after = moved_table(before, move.moved, move.z);
    EXPECT_EQ(signature(n, after), signature(n, before)) << "a move keeps the tensor";
    EXPECT_LT(after.size(), before.size()) << "a move gains";
    expected = after;
    ++(move.widened ? widened_moves : kernel_moves);
  };
  const Reduction r = reduce_parity_table(table, options);
  EXPECT_EQ(r.stats.kernel_moves, kernel_moves);
  EXPECT_EQ(r.stats.widened_moves, widened_moves);
  const std::vector<Column> result = columns(r.table);
  EXPECT_EQ(sorted(result), sorted(expected)) << "the result is the last move's";
  EXPECT_EQ(signature(n, result), signature(n, columns(table)));
  EXPECT_LE(result.size(), table.columns());
  EXPECT_EQ(std::set<Column>(result.begin(), result.end()).size(), result.size()) << "columns distinct";
  EXPECT_TRUE(std::none_of(result.begin(), result.end(), is_zero)) << "columns nonzero";
  return r;
}

// Random tables on n variables of m columns (one variable in `density`
// takes part in a column; density 0: sums of m doubly controlled Z terms).
TEST(ReductionTest, EveryMoveKeepsTheTensor) {
  struct Case {
    std::uint32_t n;
    std::size_t m;
    int density;
  };
  const Case cases[] = {{3, 5, 2},    {4, 12, 2},    {5, 20, 2},   {6, 40, 3},   {8, 60, 2},   {10, 80, 4},
                        {12, 150, 3}, {20, 120, 5},  {70, 200, 20}, {130, 160, 40}, {3, 1, 0}, {4, 3, 0},
                        {6, 10, 0},   {9, 30, 0},    {16, 60, 0},  {40, 120, 0}, {66, 90, 0}};
  std::mt19937_64 rng(11);
  for (const Case& c : cases) {
    for (int rep = 0; rep < 2; ++rep) {
      const ParityTable t = c.density == 0 ? random_cczs(c.n, c.m, rng) : random_table(c.n, c.m, c.density, rng);
      for (const bool widened : {false, true}) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << " m " << c.m << " widened " << widened << " rep " << rep);
        checked_reduction(t, widened);
      }
    }
  }
}

// The columns of `t` with variable i moved to `places[i]`, on n variables.
ParityTable placed(const ParityTable& t, const std::vector<std::uint32_t>& places, std::uint32_t n) {
  ParityTable out(n);
  std::vector<std::uint64_t> column(out.words);
  for (std::size_t j = 0; j < t.columns(); ++j) {
    std::fill(column.begin(), column.end(), 0);
    for (std::uint32_t i = 0; i < t.variables; ++i) {
      if ((t.column(j)[i / 64] >> (i % 64)) & 1) column[places[i] / 64] |= std::uint64_t{1} << (places[i] % 64);
    }
    out.push_back(column);
  }
  return out;
}

// Multipliers over GF(2^k), as they are and (stride > 0) with their
// variables spread over two or three words a column (variable v becomes
// stride * v + 1), so that every part runs on columns of several words.
TEST(ReductionTest, ShrinksMultipliersByAFifthOrMore) {
  struct Case {
    std::uint32_t k;
    std::uint64_t poly;
    std::size_t columns;  // 4k^2 + k for even k
    std::uint32_t stride;
  };
  const Case cases[] = {{4, 0b10011, 68, 0},     {5, 0b100101, 115, 0}, {6, 0b1000011, 150, 0},
                        {7, 0b10000011, 217, 0}, {5, 0b100101, 115, 6}, {6, 0b1000011, 150, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "k " << c.k << " stride " << c.stride);
    ParityTable t = multiplier(c.k, c.poly);
    ASSERT_EQ(t.columns(), c.columns);
    if (c.stride > 0) {
      std::vector<std::uint32_t> places(t.variables);
      for (std::uint32_t v = 0; v < t.variables; ++v) places[v] = c.stride * v + 1;
      t = placed(t, places, c.stride * t.variables + 1);
      ASSERT_GT(t.words, 1u);
    }
    const Reduction r = checked_reduction(t, true);
    EXPECT_LE(5 * r.table.columns(), 4 * c.columns);
    EXPECT_GT(r.stats.widened_moves, 0u) << "the widened moves find what the kernel's do not";
  }
}

// A budget too small for one pass over the table: passes over chunks of
// its columns, each move still checked, the chunks' results merged. Chunks
// shrink a table only where they hold columns dependent in L(A): always
// when they have more columns than L(A) has rows. A chunk whose columns
// have few of the table's variables is reduced on those alone (the moves
// then come on narrower tables), and its columns come back in place.
TEST(ReductionTest, TablesTooLargeForOnePassGoInChunks) {
  struct Case {
    const char* name;
    ParityTable table;
    std::size_t pass;  // columns the budget allows a pass about
    bool shrinks;
    bool narrowed;  // a chunk surely has fewer variables than the table
  };
  std::mt19937_64 rng(15), other_rng(16);
  ParityTable apart = placed(random_cczs(9, 150, other_rng), {0, 3, 62, 63, 64, 65, 100, 128, 129}, 130);
  const ParityTable second = placed(random_cczs(8, 150, other_rng), {1, 2, 4, 61, 66, 90, 101, 127}, 130);
  apart.bits.insert(apart.bits.end(), second.bits.begin(), second.bits.end());
  const Case cases[] = {
      {"doubly controlled Z terms on 9 variables", random_cczs(9, 150, rng), 64, true, false},
      {"multiplier over GF(2^8)", multiplier(8, 0b100011011), 180, false, false},
      {"two sets of such terms, spread over three words", apart, 64, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t n = c.table.variables;
    ReductionOptions options;
    options.memory_budget = reduction_bytes(n, c.pass, std::size_t{1} << 40) + 32 * c.table.words * c.table.columns();
    options.self_check = true;
    std::size_t checked = 0, narrow = 0;
    options.on_move = [&](const ReductionMove& move) {
      const std::uint32_t k = move.before.variables;
      const std::vector<Column> before = columns(move.before);
      EXPECT_EQ(signature(k, moved_table(before, move.moved, move.z)), signature(k, before));
      ++checked;
      narrow += k < n ? 1 : 0;
    };
    const Reduction r = reduce_parity_table(c.table, options);
    EXPECT_GT(r.stats.chunk_passes, 0u);
    if (c.narrowed) { EXPECT_GT(narrow, 0u); }
    EXPECT_EQ(signature(n, columns(r.table)), signature(n, columns(c.table)));
    EXPECT_LE(r.table.columns(), c.table.columns());
    if (c.shrinks) {
      EXPECT_GT(checked, 0u);
      EXPECT_LT(r.table.columns(), c.table.columns());
    }
  }
}

// A table its first order runs through without removing a column (here
// 140 independent columns, which no move shrinks) is settled there: with
// effort to spare, one order and no other; a table that shrinks in its
// first order, with the same effort, goes on to other orders.
TEST(ReductionTest, ATableThatDoesNotShrinkIsSettledByOneOrder) {
  constexpr std::uint32_t kColumns = 140;
  ParityTable independent(kColumns);
  for (std::uint32_t j = 0; j < kColumns; ++j) {
    std::vector<std::uint64_t> column(independent.words, 0);
    column[j / 64] |= std::uint64_t{1} << (j % 64);
    independent.push_back(column);
  }
  std::mt19937_64 rng(14);
  const ParityTable shrinking = random_cczs(30, 80, rng);
  ReductionOptions options;
  options.effort = 20000000;
  options.settle = false;  // the cheap test would settle it before any order
  const Reduction settled = reduce_parity_table(independent, options);
  EXPECT_EQ(settled.table.columns(), kColumns);
  EXPECT_EQ(settled.stats.orders, 1u);
  EXPECT_FALSE(settled.stats.effort_spent);
  options.settle = true;
  const Reduction quick = reduce_parity_table(independent, options);
  EXPECT_EQ(quick.table, independent);
  EXPECT_EQ(quick.stats.orders, 0u);
  EXPECT_LT(quick.stats.work * 10, settled.stats.work);
  const Reduction reordered = reduce_parity_table(shrinking, options);
  ASSERT_GE(shrinking.columns(), 128u);
  EXPECT_LT(reordered.table.columns(), shrinking.columns());
  EXPECT_GT(reordered.stats.orders, 1u);
}

TEST(ReductionTest, DeadlineAndEffortCutTheWork) {
  const ParityTable t = multiplier(6, 0b1000011);
  const std::set<Triple> s = signature(t.variables, columns(t));
  ReductionOptions options;
  options.deadline = Deadline(std::chrono::seconds(0));
  const Reduction late = reduce_parity_table(t, options);
  EXPECT_TRUE(late.stats.cut);
  EXPECT_EQ(late.table.columns(), t.columns());
  EXPECT_EQ(signature(t.variables, columns(late.table)), s);
  options = ReductionOptions{};
  options.effort = 0;  // no effort for widened moves
  const Reduction spent = reduce_parity_table(t, options);
  EXPECT_TRUE(spent.stats.effort_spent);
  EXPECT_EQ(spent.stats.widened_moves, 0u);
  options = ReductionOptions{};
  options.widened = false;
  EXPECT_EQ(spent.table, reduce_parity_table(t, options).table);
}

// The same table and work every time; and a cap stops all the work, first
// kernel moves and chunk passes included, at the same place every time: the
// table is a valid one with no fewer columns than the uncapped reduction's;
// the same for a table too large for one pass, whose chunks reduced by then
// and those left as they were still join into a table with the same tensor.
TEST(ReductionTest, CapStopsAllTheWorkAtTheSamePlace) {
  std::mt19937_64 rng(39);
  const std::pair<ParityTable, bool> tables[] = {  // the table, whether in chunks
      {multiplier(6, 0b1000011), false}, {random_table(90, 150, 30, rng), false}, {multiplier(8, 0b100011011), true}};
  for (const auto& [t, chunked] : tables) {
    ReductionOptions options;
    if (chunked) options.memory_budget = reduction_bytes(t.variables, 64, std::size_t{1} << 40) + 32 * t.words * t.columns();
    const Reduction full = reduce_parity_table(t, options), again = reduce_parity_table(t, options);
    EXPECT_EQ(again.table, full.table);
    EXPECT_EQ(std::tie(again.stats.work, again.stats.orders), std::tie(full.stats.work, full.stats.orders));
    ASSERT_GT(full.stats.work, 3u);
    ASSERT_TRUE(!chunked || full.stats.chunk_passes > 1);
    for (const std::uint64_t share : {4, 3}) {
      options.cap = full.stats.work / share;
      const Reduction a = reduce_parity_table(t, options);
      const Reduction b = reduce_parity_table(t, options);
      EXPECT_EQ(a.table, b.table);
      EXPECT_EQ(a.stats.work, b.stats.work);
      EXPECT_TRUE(a.stats.cut);
      EXPECT_GE(a.stats.work, *options.cap);
      EXPECT_LT(a.stats.work, full.stats.work);
      EXPECT_GE(a.table.columns(), full.table.columns());
      EXPECT_EQ(signature(t.variables, columns(a.table)), signature(t.variables, columns(t)));
    }
  }
}

TEST(ReductionTest, EffortAndCapGrowWithTheLimit) {
  using Seconds = std::chrono::duration<double>;
  EXPECT_EQ(reduction_effort(Seconds(0)), 0u);
  EXPECT_EQ(reduction_effort(Seconds(-1)), 0u);
  EXPECT_LT(reduction_effort(Seconds(5)), reduction_effort(Seconds(60)));
  EXPECT_LT(reduction_effort(Seconds(60)), reduction_effort(Seconds(1e300)));
  EXPECT_EQ(reduction_cap(Seconds(0)), 0u);
  EXPECT_LT(reduction_cap(Seconds(5)), reduction_cap(Seconds(60)));
}

// Small tables: what the reduction leaves, and whether the cheap test
// (reduction_settled.h) settles them, which it must do exactly where no
// kernel move gains (by trying every y and z).
TEST(ReductionTest, SmallAndOddTables) {
  struct Case {
    const char* name;
    std::uint32_t n;
    std::vector<std::uint64_t> columns;  // one word each
    std::optional<std::size_t> after;    // columns after
    std::optional<bool> settled;         // by the cheap test
  };
  const Case cases[] = {
      {"empty", 3, {}, 0, {}},
      {"one column", 1, {1}, 1, true},
      {"a doubly controlled Z's seven parities", 3, {1, 2, 4, 3, 5, 6, 7}, 7, true},
      {"every parity of two variables", 2, {1, 2, 3}, 3, {}},
      {"every parity of four variables: tensor zero, a kernel too large", 4,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0, false},
      {"independent columns", 4, {0b0001, 0b0011, 0b0110, 0b1100}, {}, true},
      {"the seven and x3: a kernel move", 4, {1, 2, 3, 4, 5, 6, 7, 8}, {}, false},
      {"the seven but x0 + x1 + x2: a kernel, no move", 3, {1, 2, 3, 4, 5, 6}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParityTable table = table_of(c.n, c.columns);
    const Reduction r = checked_reduction(table, true);
    EXPECT_EQ(r.table.columns(), c.after.value_or(r.table.columns()));
    if (!c.settled) continue;
    EXPECT_EQ(surely_no_move(table).settled, *c.settled);
    EXPECT_EQ(gaining_move(table), !*c.settled);
  }
}

// Every order is the same columns, rearranged the same way on every call;
// the reductions of different orders keep the tensor and, on some tables,
// reach different tables (why the method tries several on small blocks).
TEST(ReductionTest, OrdersRearrangeTheColumnsOnly) {
  std::mt19937_64 rng(23);
  std::size_t differing = 0;
  for (int round = 0; round < 6; ++round) {
    const ParityTable table = random_table(7, 24, 2, rng);
    std::vector<Column> given = columns(table);
    std::ranges::sort(given);
    std::set<std::vector<std::uint64_t>> reduced;
    for (std::size_t v = 0; v < 12; ++v) {
      SCOPED_TRACE(v);
      const ParityTable order = reordered(table, v);
      std::vector<Column> now = columns(order);
      std::ranges::sort(now);
      EXPECT_EQ(now, given);
      EXPECT_EQ(reordered(table, v), order);
      if (v == 0) {
        EXPECT_EQ(order, table);
      } else if (v == 1) {
        EXPECT_EQ(order.column(0)[0], table.column(table.columns() - 1)[0]);
      } else if (v == 3) {
        for (std::size_t j = 1; j < order.columns(); ++j) {
          EXPECT_LE(std::popcount(order.column(j - 1)[0]), std::popcount(order.column(j)[0]));
        }
      }
      std::vector<Column> kept = columns(checked_reduction(order, true).table);
      std::ranges::sort(kept);
      std::vector<std::uint64_t> words;
      for (const Column& c : kept) words.insert(words.end(), c.begin(), c.end());
      reduced.insert(words);
    }
    differing += reduced.size() > 1;
  }
  EXPECT_GT(differing, 0u);
}

TEST(ReductionTest, MemoryBudgetAndRefusals) {
  // The largest multiplier fits the budget the method gives, in passes over
  // chunks of its columns; a tighter budget makes the passes smaller; too
  // many variables, or a budget below the least pass, do not fit.
  EXPECT_TRUE(reduction_fits(385, 65664));
  EXPECT_LT(reduction_bytes(193, 16448, std::size_t{1} << 26), reduction_bytes(193, 16448));
  EXPECT_TRUE(reduction_fits(193, 16448, std::size_t{1} << 26));
  EXPECT_FALSE(reduction_fits(20000, 1000000));
  EXPECT_FALSE(reduction_fits(100, 500, std::size_t{1} << 20));
  EXPECT_LE(reduction_bytes(50, 1000), reduction_bytes(51, 1000));
  EXPECT_LE(reduction_bytes(50, 1000), reduction_bytes(50, 1001));
  // A table that does not fit its budget is refused, as is one with a
  // repeated or a zero column.
  ReductionOptions options;
  options.memory_budget = std::size_t{1} << 20;
  EXPECT_THROW(reduce_parity_table(multiplier(4, 0b10011), options), Fault);
  EXPECT_THROW(reduce_parity_table(table_of(3, {5, 5})), Fault);
  EXPECT_THROW(reduce_parity_table(table_of(3, {0})), Fault);
}

}  // namespace
}  // namespace kestrel
