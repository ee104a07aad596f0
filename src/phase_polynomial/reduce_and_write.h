// The step the rewrite of a block and the rewrite of a region with gadgets
// share: a phase polynomial's odd parities reduced (src/gf2/reduction.h) and
// written as gates on its variables, the Clifford difference first (S powers
// on single variables, then cz gates on pairs) and then the parity network
// of T gates on the reduced parities (src/gf2/parity_network.h), with as
// many cz gates as it can folded into its phase gates (src/gf2/cz_absorption.h).
//
// The reductions of one call of the method share one effort: each takes its
// work off what is left, so the blocks and stretches reduced first leave the
// later ones less, the same on every machine; once the cap on all their
// work is spent, the method writes what is left as it is, as at the
// deadline. For f = 3 x0 (an S and a T on
// one wire) the table keeps its one column: `s q0; t q0;`, one T gate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/gf2/cnot_phase_synthesis.h"
#include "src/gf2/parity_network.h"
#include "src/gf2/reduction.h"
#include "src/phase_polynomial/polynomial_mod8.h"
#include "src/timing/deadline.h"

namespace kestrel {

// What a method's reductions may still spend: the time limit's deadline,
// the effort and the cap left (src/gf2/reduction.h), each unset for no bound.
struct ReductionAllowance {
  Deadline deadline;
  std::optional<std::uint64_t> effort;
  std::optional<std::uint64_t> cap;
  std::uint64_t work = 0;  // the work charged so far

  // Counts `done` and takes it off the effort and the cap left (none once
  // they are spent).
  void charge(std::uint64_t done);
  // Whether the cap is spent: what is left to write is written as it is.
  bool exhausted() const { return cap && *cap == 0; }
};

struct WrittenPolynomial {
  std::size_t t = 0;                // T gates: the reduced table's columns
  std::vector<std::uint64_t> parities;  // those columns, (variables + 63) / 64 words each
  std::vector<PlacedGate> clifford; // the Clifford difference left, on the polynomial's variables
  DiagonalClifford difference;      // the whole Clifford difference, before cz gates are folded
  OpenParityNetwork network;        // the T gates' network; with `open` false, the wires
                                    // end at their inputs (map the identity)
};

// What `reduce_and_write` and `guided_network` wrote for polynomials met
// before, by the polynomial's terms in order, its reduced table and (for the
// guided network) the guide: both are functions of these alone, and along a
// wide adder or a chain of Toffoli gates the same small block recurs, so its
// networks are searched once. Only polynomials on at most 64 variables are
// kept, each a few hundred bytes.
struct WrittenCache {
  std::map<std::vector<std::uint64_t>, WrittenPolynomial> written;  // by key(f, reduced, open)
  std::map<std::vector<std::uint64_t>, GuidedNetwork> guided;       // by key(f, reduced) and the guide
  SettledCache settled;  // the reductions' cheap test, by table (src/gf2/reduction.h)
};

// The gate for S to the power `power` (1 to 3): s, z or sdg.
Elementary s_power_gate(std::uint8_t power);

// Polynomials of at most this many terms are reduced by both tie rules of
// src/gf2/reduction.h (ReductionOptions::light_z), both charged, and the
// writing with fewer T gates kept, then the one with fewer two-qubit gates:
// gf2^4_mult's one block is written with 87 two-qubit gates instead of 114.
inline constexpr std::size_t kBothTieRulesTerms = 8192;

// Polynomials of at most kColumnOrdersTerms terms whose reduction moved
// any column are also reduced with their columns in kColumnOrders other
// fixed orders (each charged): the
// reduction's moves depend on the order, and tables with the same T count
// can take different parity networks. The writing with fewer T gates is
// kept, then the one with fewer two-qubit gates, the first on a tie:
// csla_mux_3's blocks, read again in later rounds, are written with 72
// two-qubit gates in all where they took 78.
inline constexpr std::size_t kColumnOrdersTerms = 32;
inline constexpr std::uint64_t kColumnOrders = 8;

// f reduced within `allowance` (charged with the work) where the reduction
// fits its memory budget, else as it is, and written; nothing once the
// allowance's deadline has passed, before the network or while it is
// searched (the caller leaves the rotations as they were). The reduction
// itself stops at four fifths of the time left, leaving the rest for the
// network; the cz gates folded into it stop at the deadline too. With a
// `cache`, a polynomial whose reduced table was written before is written
// as it was then (the reduction still runs and is charged). With
// `both_tie_rules`, small polynomials are reduced in other column orders
// too (kColumnOrdersTerms).
std::optional<WrittenPolynomial> reduce_and_write(const PhasePolynomial& f, ReductionAllowance& allowance,
                                                  bool open, WrittenCache* cache = nullptr,
                                                  bool both_tie_rules = false);

// reduce_and_write in its two steps, for a caller that reads the T count
// before it writes anything: the tables it reduces, in its order, each
// charged as there (none in other column orders once the deadline has
// passed)...
struct ReducedTables {
  std::vector<std::uint64_t> first;                 // by the default tie rule
  std::optional<std::vector<std::uint64_t>> other;  // by the other, where both are tried
  std::vector<std::vector<std::uint64_t>> orders;   // in other column orders, in turn
  // The T gates of the writing kept: the fewest columns of any table
  // (`words` words a column).
  std::size_t t(std::size_t words) const;
};
ReducedTables reduce_tables(const PhasePolynomial& f, ReductionAllowance& allowance, WrittenCache* cache,
                            bool both_tie_rules);
// ... and the writing kept of those tables.
std::optional<WrittenPolynomial> write_tables(const PhasePolynomial& f, ReducedTables tables,
                                              const Deadline& deadline, bool open, WrittenCache* cache);

// The guided network (src/gf2/cnot_phase_synthesis.h) of `reduced`'s T
// gates and its Clifford difference's S powers, with the difference's cz
// gates folded into its phase gates before the copied gates at its end
// (src/gf2/cz_absorption.h), where they can be, and the others written
// first; `cx_left` counts those too. Nothing once `deadline` has passed
// (the caller keeps the plain network).
std::optional<GuidedNetwork> guided_network(const PhasePolynomial& f, const WrittenPolynomial& reduced,
                                            std::span<const PlacedGate> guide, const Deadline& deadline,
                                            WrittenCache* cache = nullptr);

// The gates of `guide` left once its pairs cancel among themselves, as
// they do when the rotations between them go.
std::size_t guided_alone(std::span<const PlacedGate> guide);

}  // namespace kestrel
