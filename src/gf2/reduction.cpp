// The reduction of a parity table: the passes that drive its searches
// (reduce_pass, in chunks for tables too large for one pass, in other
// column orders while the effort lasts) and the memory they take. The
// searches and their state are in reduction_echelon.h (the columns with
// L(A) in echelon form, repaired move by move), reduction_kernel_search.h
// (the best kernel move) and reduction_widened_search.h (widened moves z by
// z).
//
// The work of every part is counted in word operations (Budget), so that an
// effort bounds it the same way on every machine.
#include "src/gf2/reduction.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/reduction_echelon.h"
#include "src/gf2/reduction_kernel_search.h"
#include "src/gf2/reduction_settled.h"
#include "src/gf2/reduction_widened_search.h"

namespace kestrel {
namespace {

using namespace reduction_detail;

// Variants of the column order tried at most (reordered), and the work
// they take at most, in multiples of the first order's.
constexpr std::size_t kOrders = 64;
constexpr std::uint64_t kRestarts = 3;
// Tables with fewer columns are tried in their own order only: their few
// moves seldom depend on it, and their first order takes milliseconds.
constexpr std::size_t kReorderColumns = 128;
// Work units a machine like the project's does in a second of one core.
constexpr double kWorkPerSecond = 6e8;

std::size_t rows_of(std::uint32_t n) { return n + std::size_t{n} * (n == 0 ? 0 : n - 1) / 2; }

// The bytes one pass over m columns of n variables may take: the echelon
// form (at most min(rows, m + 1) images of rows and m + 1 bits each), the
// columns with their index and the kernel search's bits per slot and
// candidates; with the widened search, its matrices U_r, its H_s per slot
// and its products.
std::size_t pass_bytes(std::uint32_t n, std::size_t m, bool widened) {
  const std::size_t rows = rows_of(n);
  const std::size_t slots = m + 1;
  const std::size_t words = parity_words(n);
  const std::size_t images = std::min(rows, slots);
  const std::size_t echelon = 8 * images * (words_for(rows) + words_for(slots) + words_for(n + 1)) + 16 * rows +
                              slots * (16 * words + 64) + 32 * slots * (words + 1);
  // Kernel bits per slot, the candidates with their pairs, the sorted
  // fingerprints of a count, fingerprints and scratch per slot.
  constexpr std::size_t pool = KernelSearch::kPool;
  const std::size_t search = 8 * (slots + 1) * words_for(slots) + pool * (8 * words + 64) +
                             8 * std::min(pool * slots / 2, slots * slots / 2) + 8 * (KernelSearch::kPairCap + slots) +
                             (std::size_t{1} << 20) + 16 * (slots + 1) * (1 + words);
  if (!widened) return echelon + search;
  const std::size_t block = 8 * std::size_t{n} * words;
  return echelon + search + block * (rows + n + 32 + slots + 1) + 8 * WidenedSearch::kProductWords +
         8 * rows_of(n) * words;
}

// The most columns one pass takes at once for n variables: its working
// memory within the budget and L(A) within kPassCells cells, beyond which
// a pass's moves take too long to keep to a deadline. Larger tables go in
// chunks first.
constexpr std::size_t kPassCells = std::size_t{1} << 28;
// The fewest columns a pass takes: below that, chunks gain too little.
constexpr std::size_t kLeastPass = 64;
// The columns of the first round's chunks: kFirstChunk, or twice the
// variables rounded up to a power of two where that is more. Small chunks
// gain the most per unit of work, and each round's doubled chunks take what
// joins them: the multiplier over GF(2^64) (192 variables) loses 3,096 of
// its 16,448 columns in 512-column chunks for 3.1e8 units of work, 4,016
// in 4,096-column chunks for 2.8e9; the one over GF(2^128) (384
// variables) comes down from 65,664 to 58,588 columns in 1,024-column
// chunks within the default cap, to 61,154 in 512-column chunks and then
// 1,024-column ones, where the narrower chunks' moves took a part each.
constexpr std::size_t kFirstChunk = 512;
std::size_t first_chunk(std::uint32_t n) { return std::max(kFirstChunk, std::bit_ceil(std::size_t{2} * n)); }
std::size_t pass_columns(std::uint32_t n, std::size_t budget) {
  std::size_t m = std::max<std::size_t>(1, kPassCells / std::max<std::size_t>(1, rows_of(n)));
  while (m > 1 && pass_bytes(n, m, false) > budget) m /= 2;
  return m;
}

// The cheap test of `table`, read from `cache` (when given) where the
// table was met before.
Settled settled_test(const ParityTable& table, SettledCache* cache) {
  if (cache == nullptr) return surely_no_move(table);
  std::vector<std::uint64_t> key;
  key.reserve(1 + table.bits.size());
  key.push_back(table.variables);
  key.insert(key.end(), table.bits.begin(), table.bits.end());
  if (const auto found = cache->find(key); found != cache->end()) return found->second;
  const Settled quick = surely_no_move(table);
  cache->emplace(std::move(key), quick);
  return quick;
}

// The move (y, z) as a test sees it: the table before it and the columns it
// moves.
ReductionMove move_report(const Echelon& echelon, const std::vector<std::uint64_t>& y, const std::uint64_t* z,
                          bool widened) {
  ReductionMove report;
  report.before = echelon.table();
  std::size_t column = 0;
  for (std::size_t s = 0; s < echelon.slots(); ++s) {
    if (echelon.state(s) == Echelon::kDead) continue;
    if (test_bit(y.data(), s)) report.moved.push_back(column);
    ++column;
  }
  report.z.assign(z, z + echelon.words());
  report.widened = widened;
  return report;
}

// Widened moves: the pairs (i, k), i <= k (k == i: z = a_i), in a cycle
// from the start, until a whole cycle passes without a move; each move
// taken by `take` and followed by `kernel_moves`.
template <class Take, class KernelMoves>
void widened_cycle(Echelon& echelon, Budget& budget, std::vector<std::uint64_t>& y, const Take& take,
                   const KernelMoves& kernel_moves, ReductionStats& stats) {
  WidenedSearch search_widened(echelon, budget);
  if (!search_widened.rebuild()) return;
  std::vector<std::vector<std::uint64_t>> basis;
  std::vector<std::uint64_t> z(echelon.words());
  const std::size_t slots = echelon.slots();
  const std::size_t cycle = slots * (slots + 1) / 2;
  std::size_t i = 0, k = 0;
  for (std::size_t quiet = 0; quiet < cycle; ++quiet) {
    if (quiet % 1024 == 0 && budget.stop()) break;
    const std::size_t a = i, b = k;
    if (++k == slots) {
      i = i + 1 == slots ? 0 : i + 1;
      k = i;
    }
    if (echelon.state(a) == Echelon::kDead || echelon.state(b) == Echelon::kDead) continue;
    for (std::size_t w = 0; w < z.size(); ++w) z[w] = echelon.value(a)[w] ^ (a == b ? 0 : echelon.value(b)[w]);
    if (search_widened.surely_none(a, b, z.data()) || !search_widened.may_split(a, b, z.data())) continue;
    search_widened.vectors(z.data(), basis);
    if (basis.empty()) continue;
    for (std::size_t f = 0; f < slots; ++f) {
      if (echelon.state(f) != Echelon::kFree) continue;
      basis.emplace_back(echelon.slot_words());
      echelon.kernel_vector(f, basis.back().data());
    }
    const long gain = best_combination(echelon, z.data(), basis, y);
    if (gain <= 0) continue;
    take(z.data(), gain, true);
    ++stats.widened_moves;
    if (!kernel_moves() || !search_widened.rebuild()) break;
    quiet = 0;
  }
}

// One pass of the reduction: kernel moves until none gains, then, with
// `widened`, widened moves (when their search fits the memory budget) until
// a cycle of z values passes without one, each followed by kernel moves
// again. The budget's limit, when set, starts to count after the first
// kernel moves when `first_free`. Adds to the statistics.
ParityTable reduce_pass(const ParityTable& table, const ReductionOptions& options, bool widened, bool first_free,
                        Budget& budget, ReductionStats& stats) {
  const std::optional<std::uint64_t> limit = budget.limit;
  if (first_free) budget.limit.reset();
  Echelon echelon(table.variables, table.columns() + 1, budget);
  // The clock is read more often than the work is weighed: on wide tables
  // (n = 384, 74,000 rows of L(A)) a column's insertion takes long, and
  // the work's checks decide where the cap stops, on every machine alike.
  for (std::size_t j = 0; j < table.columns(); ++j) {
    if ((j % 256 == 255 && budget.stop()) || (j % 16 == 15 && budget.deadline.passed())) {
      stats.cut |= !budget.spent();
      budget.limit = limit;
      return table;
    }
    echelon.add_column(table.column(j).data());
  }
  if (options.self_check) echelon.verify();
  KernelSearch search(echelon, budget, options.light_z);
  std::vector<std::uint64_t> y;
  // Applies the move (y, z), reporting it first when asked.
  const auto take = [&](const std::uint64_t* z, long gain, bool is_widened) {
    if (options.on_move) options.on_move(move_report(echelon, y, z, is_widened));
    const std::size_t before = echelon.live();
    echelon.apply(y.data(), z);
    check(echelon.live() + gain == before, "a move removes what its score says");
    if (options.self_check) echelon.verify();
  };
  // Kernel moves until none gains; false when the budget ran out.
  const auto kernel_moves = [&] {
    while (!budget.stop()) {
      const Move move = search.best();
      if (move.gain <= 0) return !search.cut();
      search.kernel_vector(move, y);
      take(move.z.data(), move.gain, false);
      ++stats.kernel_moves;
    }
    return false;
  };
  const bool done = kernel_moves();
  if (first_free) {
    budget.limit = limit;
    if (limit) budget.limit = *limit + budget.work;
  }
  if (!done || !widened || budget.stop() ||
      pass_bytes(table.variables, table.columns(), true) > options.memory_budget) {
    return echelon.table();
  }
  widened_cycle(echelon, budget, y, take, kernel_moves, stats);
  return echelon.table();
}

// The columns of the tables given, in their order, each column once if it
// occurs an odd number of times (a pair of equal columns is an S-type term,
// no T), at its first place. Kept in order, columns that met in one chunk
// meet again in the next round's larger one, as they do in the program: the
// multiplier over GF(2^64) comes down to 11,812 columns in three rounds, to
// 13,282 when each round took the columns sorted.
ParityTable merged(std::uint32_t n, const std::vector<ParityTable>& parts) {
  std::vector<std::vector<std::uint64_t>> all;
  for (const ParityTable& part : parts) {
    for (std::size_t j = 0; j < part.columns(); ++j) all.emplace_back(part.column(j).begin(), part.column(j).end());
  }
  std::vector<std::size_t> order(all.size());
  for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return all[x] < all[y]; });
  std::vector<bool> keep(all.size(), false);
  for (std::size_t i = 0; i < order.size();) {
    std::size_t j = i;
    while (j < order.size() && all[order[j]] == all[order[i]]) ++j;
    if ((j - i) % 2 == 1) keep[order[i]] = true;
    i = j;
  }
  ParityTable out(n);
  for (std::size_t j = 0; j < all.size(); ++j) {
    if (keep[j]) out.push_back(all[j]);
  }
  return out;
}

// One pass over `part` on the variables some column of it has, in order:
// L(A) holds a row per variable and per pair of them, so a chunk that has
// few of the table's variables costs a fraction of its pass on all of them
// (gf2^128_mult's first chunks of 512 columns have 128 to 259 of its 384
// variables, 8,000 to 33,500 rows against 73,920). The moves are the same
// moves, on columns written with fewer bits: the kernel of L(A) does not
// see a variable no column has.
ParityTable narrowed_pass(const ParityTable& part, const ReductionOptions& options, Budget& budget,
                          ReductionStats& stats) {
  std::vector<std::uint64_t> any(part.words, 0);
  for (std::size_t j = 0; j < part.columns(); ++j) {
    for (std::size_t w = 0; w < part.words; ++w) any[w] |= part.column(j)[w];
  }
  std::vector<std::uint32_t> kept;  // the narrow table's variable i is the part's kept[i]
  for_each_bit(any.data(), part.words, [&](std::size_t v) { kept.push_back(static_cast<std::uint32_t>(v)); });
  if (kept.size() == part.variables) return reduce_pass(part, options, false, false, budget, stats);
  ParityTable narrow(static_cast<std::uint32_t>(kept.size()));
  std::vector<std::uint64_t> column(narrow.words);
  for (std::size_t j = 0; j < part.columns(); ++j) {
    std::fill(column.begin(), column.end(), 0);
    for (std::size_t i = 0; i < kept.size(); ++i) {
      if (test_bit(part.column(j).data(), kept[i])) set_bit(column.data(), i);
    }
    narrow.push_back(column);
  }
  const ParityTable reduced = reduce_pass(narrow, options, false, false, budget, stats);
  ParityTable out(part.variables);
  column.assign(part.words, 0);
  for (std::size_t j = 0; j < reduced.columns(); ++j) {
    std::fill(column.begin(), column.end(), 0);
    for_each_bit(reduced.column(j).data(), reduced.words, [&](std::size_t i) { set_bit(column.data(), kept[i]); });
    out.push_back(column);
  }
  return out;
}

}  // namespace

ParityTable reordered(const ParityTable& table, std::size_t v) {
  std::vector<std::size_t> order(table.columns());
  for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
  const auto weight = [&](std::size_t j) { return count_bits(table.column(j).data(), table.words); };
  const auto below = [&](std::size_t x, std::size_t y) {
    return std::lexicographical_compare(table.column(x).begin(), table.column(x).end(), table.column(y).begin(),
                                        table.column(y).end());
  };
  if (v == 1) std::reverse(order.begin(), order.end());
  if (v == 2) std::stable_sort(order.begin(), order.end(), [&](auto x, auto y) { return weight(x) > weight(y); });
  if (v == 3) std::stable_sort(order.begin(), order.end(), [&](auto x, auto y) { return weight(x) < weight(y); });
  if (v == 4) std::sort(order.begin(), order.end(), below);
  if (v >= 5) {
    std::uint64_t state = 0x2545f4914f6cdd1dULL * v;
    for (std::size_t j = order.size(); j > 1; --j) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      std::swap(order[j - 1], order[(state >> 33) % j]);
    }
  }
  ParityTable out(table.variables);
  for (const std::size_t j : order) out.push_back(table.column(j));
  return out;
}

std::size_t reduction_bytes(std::uint32_t variables, std::size_t columns, std::size_t budget) {
  const std::size_t pass = std::min(columns, std::max<std::size_t>(kLeastPass, pass_columns(variables, budget)));
  return pass_bytes(variables, pass, false) + 4 * columns * 8 * parity_words(variables);
}

bool reduction_fits(std::uint32_t variables, std::size_t columns, std::size_t budget) {
  return reduction_bytes(variables, columns, budget) <= budget;
}

Reduction reduce_parity_table(const ParityTable& table, const ReductionOptions& options) {
  check(table.words == parity_words(table.variables), "table words match its variables");
  Reduction out;
  out.stats.columns_before = table.columns();
  const std::uint32_t n = table.variables;
  check(reduction_fits(n, table.columns(), options.memory_budget), "a table that fits its budget");
  const std::size_t whole = std::max(kLeastPass, pass_columns(n, options.memory_budget));
  Budget budget;
  budget.deadline = options.deadline;
  budget.limit = options.effort;
  budget.cap = options.cap;
  const auto finish = [&](ParityTable result) {
    out.stats.work = budget.work;
    out.stats.cut = options.deadline.passed() || budget.capped();
    out.stats.effort_spent = budget.spent();
    out.table = std::move(result);
    return out;
  };
  if (table.columns() <= whole) {
    // A table the cheap test shows to have no move at all (as most blocks
    // of adders and comparators) comes back as it is, its search skipped.
    const Settled quick = options.settle ? settled_test(table, options.settled_cache) : Settled{};
    if (quick.settled) {
      budget.work = quick.work;
      return finish(table);
    }
    // The table as given, then in other orders while the effort lasts
    // (never without a limit); the fewest columns win, the earliest order
    // among equals. A table the first order ran through without removing a
    // column is settled: the other orders rarely gain where it found no
    // move at all, and cost up to three times its work.
    ParityTable best = reduce_pass(table, options, options.widened, true, budget, out.stats);
    out.stats.orders = 1;
    const std::uint64_t first = budget.work;
    const bool settled = best.columns() == table.columns() && !budget.stop();
    while (!settled && options.effort && options.widened && table.columns() >= kReorderColumns && !budget.stop() &&
           out.stats.orders < kOrders && budget.work < (kRestarts + 1) * first) {
      ReductionStats stats;
      ParityTable other = reduce_pass(reordered(table, out.stats.orders), options, true, false, budget, stats);
      ++out.stats.orders;
      if (other.columns() < best.columns()) {
        best = std::move(other);
        out.stats.kernel_moves = stats.kernel_moves;
        out.stats.widened_moves = stats.widened_moves;
      }
    }
    return finish(std::move(best));
  }
  // Too many columns for one pass: passes over chunks of them, each chunk
  // reduced on its own (its tensor kept, so the sum's too), the chunks
  // doubling in size from first_chunk(n) columns while the cap lasts, at least
  // until one pass takes the rest and on to half a pass.
  ParityTable current = table;
  std::size_t size = std::min(first_chunk(n), std::bit_floor(whole / 2));
  budget.limit.reset();
  while ((current.columns() > whole || (size <= whole / 2 && size < current.columns())) && size <= whole &&
         !budget.stop()) {
    std::vector<ParityTable> parts;
    for (std::size_t start = 0; start < current.columns(); start += size) {
      ParityTable part(n);
      for (std::size_t j = start; j < std::min(current.columns(), start + size); ++j) part.push_back(current.column(j));
      parts.push_back(budget.stop() ? part : narrowed_pass(part, options, budget, out.stats));
    }
    if (budget.deadline.passed()) {
      // Past the deadline the parts are joined as they are: the sort that
      // takes out pairs of equal columns costs as much as a round of passes.
      current = ParityTable(n);
      for (const ParityTable& part : parts) {
        current.bits.insert(current.bits.end(), part.bits.begin(), part.bits.end());
      }
      break;
    }
    current = merged(n, parts);
    ++out.stats.chunk_passes;
    size *= 2;
  }
  budget.limit = options.effort;
  if (current.columns() <= whole && !budget.stop()) {
    current = reduce_pass(current, options, options.widened, true, budget, out.stats);
  }
  return finish(std::move(current));
}

std::uint64_t reduction_cap(std::chrono::duration<double> limit) {
  const std::uint64_t effort = reduction_effort(limit);
  return effort > std::numeric_limits<std::uint64_t>::max() / 4 ? effort : 4 * effort;
}

std::uint64_t reduction_effort(std::chrono::duration<double> limit) {
  const double seconds = limit.count();
  if (!(seconds > 0)) return 0;
  const double share = seconds <= 10 ? 0.1 * seconds : 1 + 0.25 * (seconds - 10);
  return static_cast<std::uint64_t>(std::min(share * kWorkPerSecond, 1e18));
}

}  // namespace kestrel

