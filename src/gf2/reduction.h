// Fewer T gates for a phase polynomial: a parity table with the same
// signature tensor and fewer columns.
//
// The signature tensor of a table A (n variables, columns a_j) is
// S_abc = sum_j a_aj a_bj a_cj mod 2 over all index triples, repeats
// allowed. Two tables with the same tensor differ, as phase polynomials, by
// S, Z and CZ terms only (a Clifford the caller computes and writes), so a
// table with fewer columns is a circuit with fewer T gates.
//
// The moves: let L(A) be A stacked on the rows A_a * A_b (a < b, elementwise
// products). For y in the kernel of L(A) over GF(2) and any z, replacing a_j
// by a_j + z wherever y_j = 1, and appending z when |y| is odd, keeps S;
// columns that become equal cancel in pairs and zero columns go. With
// z = a_i + a_k, y_i = 1 and y_k = 0, column i becomes a_k and both go.
// Kernel moves are taken while any gains, the best first (most columns
// gone, then the lightest y, then, where |y| is odd and z joins, the
// lightest z, whose network needs fewer cx gates). Then widened moves: a y
// with L(A) y equal to (0, z ^ w) for some w, where (z ^ w) has a 1 in row
// (a, b) when z_a w_b + z_b w_a is odd, keeps S with that z and no other;
// such moves are sought z by z, each followed by kernel moves again, until
// a whole cycle of z values gains nothing.
//
// Example: the 15 nonzero parities of 4 variables have a zero tensor and go
// altogether; the seven parities of a doubly controlled Z stay as they are;
// the multiplier over GF(2^16) (1,040 parities of 49 variables) comes down
// to between 625 and 730 columns, depending on their order.
//
// Deterministic: the same table and options give the same table on every
// run and machine (the effort and the cap bound the work alike on all),
// unless the deadline cuts the work (then the result is the
// best table reached; every table along the way is a valid one).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "src/gf2/parity_table.h"
#include "src/gf2/reduction_settled.h"
#include "src/timing/deadline.h"

namespace kestrel {

// The memory the phase-polynomial method gives a reduction: 1 GiB. The
// largest multiplier of the T-count suite, over GF(2^128) (385 variables,
// 65,664 columns), needs about 130 MB for its passes over chunks of its
// columns (60 MB resident in practice); the multiplier over
// GF(2^64) about 350 MB, and its widened search up to 0.8 GB.
inline constexpr std::size_t kReductionBudget = std::size_t{1} << 30;

// A move as taken: the table before it, the columns it moves (indices into
// that table), z, and whether it was a widened move.
struct ReductionMove {
  ParityTable before;
  std::vector<std::size_t> moved;
  std::vector<std::uint64_t> z;
  bool widened = false;
};

// The cheap test's answers (reduction_settled.h) for tables met before,
// by their variables and columns: the answer is a function of the table
// alone, so a caller reducing the same small table many times (the blocks
// along an adder) has it tested once.
using SettledCache = std::map<std::vector<std::uint64_t>, Settled>;

struct ReductionOptions {
  // Whether widened moves follow the kernel's own (more time, fewer columns).
  bool widened = true;
  // Past this point the reduction stops and returns the best table so far.
  Deadline deadline;
  // The work that may follow the first kernel moves (ReductionStats::work):
  // widened moves, then, for tables of 128 columns or more, the same moves
  // from the columns in other orders (up to 3 times the first order's
  // work), the table with fewest columns kept; none when the first order,
  // done to the end, removed no column (a table with nothing to gain
  // costs one pass, or only the cheap test, as a ripple-carry adder's
  // blocks do). Unlike the deadline, it gives the same table on every
  // machine. A caller reducing many tables under
  // one time limit shares reduction_effort(limit) among them. Unset: widened
  // moves until none gains, in the table's own order only.
  std::optional<std::uint64_t> effort;
  // All the work the reduction may do, its first kernel moves and its passes
  // over chunks included: once it is reached the reduction stops as at the
  // deadline, with the best table so far, but at the same place on every
  // machine. A caller under a time limit sets it (reduction_cap) so that it
  // comes well before the deadline. Unset: none.
  std::optional<std::uint64_t> cap;
  // Among moves that remove as many columns with equally light kernel
  // vectors, the one with the lightest z whatever the vectors' weight (by
  // default only where the weight is odd and z is appended): the moved
  // columns become a_j + z, so a light z keeps them narrow too. Neither
  // rule gives fewer columns or fewer cx gates on every table (gf2^4_mult's:
  // 49 columns either way, 87 two-qubit gates written against 114;
  // gf2^10_mult's 261 columns against 269, 539 against 504).
  bool light_z = false;
  // The working memory the reduction may take: a table with more columns
  // than one pass can hold goes in chunks (reduction_bytes), and widened
  // moves run only where their search fits too.
  std::size_t memory_budget = kReductionBudget;
  // Whether a table that the cheap test of src/gf2/reduction_settled.h
  // shows to have no move comes back at once, unsearched; the table is
  // the same either way, the work (only the test's) is not. Tests turn it
  // off to hold the test to the search.
  bool settle = true;
  // With a cache, the cheap test's answer for a table met before is read
  // from it, and each new answer stored there.
  SettledCache* settled_cache = nullptr;
  // For tests: called before each move with the move, and whether to
  // re-derive the echelon form of L(A) after every move and fault on any
  // difference (slow).
  std::function<void(const ReductionMove&)> on_move;
  bool self_check = false;
};

struct ReductionStats {
  std::size_t columns_before = 0;  // columns of the table given
  std::size_t chunk_passes = 0;    // passes over chunks of a table too large for one
  std::size_t kernel_moves = 0;    // kernel moves taken (in the order kept)
  std::size_t widened_moves = 0;   // widened moves taken (in the order kept)
  std::size_t orders = 0;          // column orders tried
  std::uint64_t work = 0;          // work done, about a machine word operation a unit
  bool cut = false;                // the deadline or the cap stopped the work
  bool effort_spent = false;       // the effort ran out
};

struct Reduction {
  ParityTable table;  // distinct nonzero columns, the tensor of the table given
  ReductionStats stats;
};

// The table `table` (distinct nonzero columns; faults otherwise) with as
// few columns as the moves find. Tables whose passes do not fit
// options.memory_budget (reduction_fits) fault.
Reduction reduce_parity_table(const ParityTable& table, const ReductionOptions& options = {});

// The bytes a reduction of `columns` columns over `variables` variables
// needs at most under `budget`, widened moves aside: the largest pass's
// echelon form of
// L(A) (up to min(m, n(n+1)/2) + 1 vectors of n(n+1)/2 and m + 1 bits),
// columns and their index, kernel bits per column and candidates, with m
// the columns of one pass (2^28 cells of L(A) at most, and as many as fit
// the budget), plus the table. 385 variables and 65,664 columns: about
// 130 MB.
std::size_t reduction_bytes(std::uint32_t variables, std::size_t columns,
                            std::size_t budget = kReductionBudget);

// The table's columns in the order of variant v: 0 as they are, 1
// reversed, 2 heaviest first, 3 lightest first, 4 ascending as words, later
// ones shuffled by a fixed sequence (the same on every machine). The moves
// depend on the order (which columns become pivot slots, and ties), and the
// results differ by several per cent.
ParityTable reordered(const ParityTable& table, std::size_t v);

// Whether a reduction fits the budget (a pass of at least 64 columns, or
// the whole table, within it).
bool reduction_fits(std::uint32_t variables, std::size_t columns, std::size_t budget = kReductionBudget);

// The effort for a time limit: a tenth of it, plus a quarter of what
// exceeds 10 s, in the work one core of a machine like the project's does
// (5 s: about 0.5 s of work; 60 s: about 13.5 s), so that the call ends well
// before the limit on a loaded machine, with the same table on every
// machine.
std::uint64_t reduction_effort(std::chrono::duration<double> limit);

// The cap on all the reductions' work for a time limit: four times its
// effort (5 s: about 2 s of one core's work), so that on a machine up to
// twice as slow as the project's the work ends before the deadline.
std::uint64_t reduction_cap(std::chrono::duration<double> limit);

}  // namespace kestrel
