// A Clifford circuit that turns commuting Pauli products into signed Z
// products.
//
// Given Hermitian products P_1 ... P_r that commute pairwise, `diagonalise`
// finds Clifford gates E (in time order: E's first gate acts first) with
// E P_j E^-1 = s_j Z^(a_j) for every j, s_j = +1 or -1 and Z^(a) the product
// of Z on the qubits where the bit vector a is 1. A rotation about P_j is
// then E^-1 exp(-i theta s_j Z^(a_j)) E: E first, the diagonal rotation,
// then E^-1 (`inverse_gates`). For the single product -Y on one qubit,
// E = `s q[0]; h q[0];` (S Y S^-1 = -X, H X H = Z), a = 1 and s = +1.
//
// Products with no X part are diagonal already: with only those, E is
// empty. Otherwise E is built from the products' X parts alone: Gaussian
// elimination of the X parts (row operations, free) picks independent
// products with pivot qubits; cx gates then clear every other qubit's X part
// column, each time from the column nearest to it (a pivot column if no
// other is nearer); cz gates between pivots and s gates on them clear the Z
// bits that the pivots' X bits meet (commutation makes that part symmetric);
// an h on each pivot turns its X into Z. Each product's image is then read
// by conjugating it through E, which also checks that the products
// commute.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel {

struct Diagonalisation {
  std::vector<PlacedGate> gates;       // E, in time order: h, s, cx and cz gates
  std::size_t words = 0;               // words per bit vector: (qubits + 63) / 64
  std::vector<std::uint64_t> z_bits;   // per product its a_j, `words` words each
  std::vector<std::int8_t> signs;      // per product its s_j, +1 or -1
};

// E and the images of the products given as `rows` (pauli.h's rows:
// 2 * (qubits + 63) / 64 words each, X bits then Z bits) with `phases` (one
// power of i per row). Faults when the sizes disagree, a product is not
// Hermitian (phase odd exactly when X and Z bits meet an odd number of times)
// or two products anticommute.
Diagonalisation diagonalise(std::uint32_t qubits, std::span<const std::uint64_t> rows,
                            std::span<const std::uint8_t> phases);

// The inverse of a Clifford+T circuit: its gates in reverse order, each
// inverted (s and sdg, t and tdg exchanged; the others are their own
// inverses).
std::vector<PlacedGate> inverse_gates(std::span<const PlacedGate> gates);

// Conjugates the product i^phase X^x Z^z in `row` (2 * words words) by one
// Clifford gate G, in place: the row becomes G P G^-1. Faults on t and tdg.
void conjugate_by(const PlacedGate& gate, std::uint64_t* row, std::uint8_t& phase,
                  std::size_t words);

}  // namespace kestrel
