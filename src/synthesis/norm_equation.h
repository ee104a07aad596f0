// The norm equation of approximate synthesis: given ξ in Z[√2], find t in
// Z[ω] with t†t = ξ.
//
// A solution exists exactly when ξ and ξ• are both at least 0 and every prime
// of Z[√2] above a rational prime p ≡ 7 (mod 8) divides ξ an even number of
// times. The solver factors the integer ξ·ξ•, finds for each prime of Z[√2]
// in ξ an element of Z[ω] whose |·|² is that prime times a unit (a gcd with
// h + i or h + i√2 for a square root h of -1 or -2 modulo p), multiplies
// them, and fixes the remaining unit, which is then a square λ^{2j} of
// λ = 1 + √2. For example ξ = 2 + √2 gives t = 1 + ω up to a unit.
// The answer is checked exactly before it is returned.
#pragma once

#include <cstdint>
#include <optional>

#include "src/synthesis/rings.h"

namespace kestrel::synthesis {

// A t with t†t = ξ, or nothing when there is none or factoring ξ·ξ• used up
// `budget` (see `factor`).
std::optional<ZOmega> solve_norm_equation(const ZRoot2& xi, std::uint64_t& budget);

}  // namespace kestrel::synthesis
