// A cheap test that a parity table has no move of the reduction
// (src/gf2/reduction.h), run before any search: when it says so, the
// reduction gives the table back as it is.
//
// Why it holds. Every move (y, z) the reduction takes, kernel or widened,
// has L(A) y = (0, p) for some p: its y lies in the kernel of A itself,
// and it is taken only when it removes columns. For such a y let
// P = sum over the columns a_j with y_j = 1 of a_j a_j^T, a symmetric
// matrix whose diagonal is A y = 0. The move adds to the tensor S the
// term with entries P_ab z_c + P_ac z_b + P_bc z_a (the terms cubic in z
// cancel, z joining when |y| is odd), so it keeps S only if that vanishes
// for all distinct a, b, c; for c with z_c = 1 this reads
// P_ab = P_ac z_b + P_bc z_a, so P = z w^T + w z^T with w the column c of
// P. Hence P has rank 0 or 2 (it is alternating, of even rank), and when
// 2, z is one of the three nonzero vectors of P's row space (which is the
// span of z and w). So a y whose P has rank 4 or more has no move; one of
// rank 2 has three, whose gain the test counts; one of rank 0 (a kernel
// move, any z) gains unless it moves all the columns, an odd number of
// them. A table none of whose y has a gaining move has none at all, and
// the search, which takes gaining moves only, gives it back as it is.
//
// The test finds the kernel of A by elimination, and decides when its
// dimension d is small (kSettleKernel at most): it walks all 2^d - 1
// nonzero y in Gray-code order, P being linear in y. Columns that are
// linearly independent (d = 0) settle at once. Example: the large block of
// a ripple-carry adder over 80 bits (164 columns on 162 variables, so a
// kernel of two dimensions or more) settles in under a tenth of a
// millisecond, where the search took well over a hundred.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/gf2/parity_table.h"

namespace kestrel {

// The largest kernel dimension the test walks (2^8 vectors y): its walk
// then costs less than the first pass of the search would.
inline constexpr std::size_t kSettleKernel = 8;

struct Settled {
  bool settled = false;    // the table surely has no move
  std::uint64_t work = 0;  // word operations the test took
};

// Whether `table` (distinct nonzero columns; faults otherwise where it
// walks the kernel) surely has no move of the reduction; false also when
// its kernel is too large to tell.
Settled surely_no_move(const ParityTable& table);

}  // namespace kestrel
