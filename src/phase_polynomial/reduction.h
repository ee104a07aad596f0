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
// z = a_i + a_k, y_i = 1 and y_k = 0, column i becomes a_k and both go. A
// y solved with the kernel of L(A) widened by the columns z ^ e_k keeps S
// only with that z. The first kind of move is taken while any gains (the
// kernel's own moves), then the widened kind while time allows.
//
// Example: the seven parities of a doubly controlled Z, x0, x1, x2, x0+x1,
// x0+x2, x1+x2, x0+x1+x2, have a rank-7 L(A) and stay as they are; the 2n^2
// + ... parities of a multiplier over GF(2^n) shrink by a quarter.
//
// Deterministic: the same table gives the same result on every run, unless
// the deadline cuts the work, and then the result is the best table reached.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "src/phase_polynomial/parity_table.h"

namespace kestrel {

// The budget the phase-polynomial method gives a reduction: 2 GiB, which
// holds the largest multiplier over GF(2^128) (385 variables, 65,664
// columns) with room to spare.
inline constexpr std::size_t kReductionBudget = std::size_t{2} << 30;

// A move as taken: the table before it, the columns it moves (indices into
// that table), z, and whether it was a widened move.
struct ReductionMove {
  ParityTable before;
  std::vector<std::size_t> moved;
  std::vector<std::uint64_t> z;
  bool widened = false;
};

struct ReductionOptions {
  // Whether widened moves follow the kernel's own (more time, fewer columns).
  bool widened = true;
  // Past this point the reduction stops and returns the best table so far.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  // The work that may follow the first kernel moves (ReductionStats::work):
  // widened moves, then the same moves from the columns in other orders,
  // the best table kept. Unlike the deadline, it gives the same table on
  // every machine. Unset: widened moves until none gains, one order only.
  std::optional<std::uint64_t> effort;
  // For tests: called before each move with the move, and whether to
  // re-derive the echelon form of L(A) after every move and fault on any
  // difference (slow).
  std::function<void(const ReductionMove&)> on_move;
  bool self_check = false;
  // The working memory the reduction may take: a table with more columns
  // than one pass can hold goes in chunks, and widened moves need more.
  std::size_t memory_budget = kReductionBudget;
};

struct ReductionStats {
  std::size_t columns_before = 0;       // columns of the table given
  std::size_t chunk_passes = 0;         // passes over chunks of a table too large for one
  std::size_t kernel_moves = 0;         // kernel moves taken
  std::size_t widened_moves = 0;        // widened moves taken
  std::size_t orders = 0;               // column orders tried
  std::uint64_t work = 0;               // work done, about a machine word operation a unit
  bool cut = false;                     // the deadline stopped the work
  bool effort_spent = false;            // the effort ran out
};

struct Reduction {
  ParityTable table;     // the reduced table: distinct nonzero columns
  ReductionStats stats;
};

// The table `table` (distinct nonzero columns) with as few columns as the
// moves find, every column distinct and nonzero, and the same signature
// tensor. Its size must fit (reduction_fits); faults otherwise.
Reduction reduce_parity_table(const ParityTable& table, const ReductionOptions& options = {});

// The most bytes of working memory a reduction of `columns` columns over
// `variables` variables takes: the echelon form of L(A) (at most
// min(m, n(n+1)/2) vectors of n(n+1)/2 + m bits), the columns and their
// index, the kernel matrix and the pair counts.
std::size_t reduction_bytes(std::uint32_t variables, std::size_t columns);


// The effort for a time limit: a tenth of it, and a quarter of what
// exceeds 10 s, in the work one core of a machine like the project's does
// (5 s: 0.5 s of work; 60 s: 13.5 s), so that the call ends well before the
// limit on a loaded machine and with the same table on every machine.
std::uint64_t reduction_effort(std::chrono::duration<double> limit);

inline bool reduction_fits(std::uint32_t variables, std::size_t columns,
                           std::size_t budget = kReductionBudget) {
  return reduction_bytes(variables, columns) <= budget;
}

}  // namespace kestrel
