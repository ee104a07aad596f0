// Exact synthesis of one-qubit Clifford+T operators: a 2x2 unitary with
// entries in Z[1/√2, i], written as h, s, sdg, t, tdg, x and z gates with the
// fewest T gates.
//
// The matrix is kept as entries of Z[ω] over a power of √2. Each step
// multiplies it on the left by H·T^j (j = 0..3), choosing the j that lowers
// the power of √2 in the denominator (Kliuchnikov, Maslov and Mosca's
// reduction: such a j exists once the power is large enough; below that a
// few steps in a row do, found by trying the short sequences), until the
// power is 0 and the matrix is a diagonal or antidiagonal matrix of powers of
// ω, which is a T power and possibly an X. The steps read backwards are a
// circuit for the matrix; the normal form of src/normal_form/ then rewrites
// it with the fewest T gates any circuit for it has.
// For example the matrix of h, t, h comes back as h, t, h.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "src/circuit/op.h"
#include "src/synthesis/rings.h"

namespace kestrel::synthesis {

// A 2x2 matrix (entries row by row) divided by √2^k.
struct ExactMatrix {
  std::array<ZOmega, 4> e;  // the entries times √2^k: (0,0), (0,1), (1,0), (1,1)
  int k = 0;                // the power of √2 in the denominator

  friend bool operator==(const ExactMatrix&, const ExactMatrix&) = default;
  // The same matrix with the smallest k (no common factor √2 left in e).
  ExactMatrix reduced() const;
};

ExactMatrix operator*(const ExactMatrix& a, const ExactMatrix& b);

// The identity, and the matrix of one gate (H, S, Sdg, T, Tdg, X or Z).
ExactMatrix identity_matrix();
ExactMatrix gate_matrix(OpKind gate);
// The product of the gates in circuit order (the first gate acts first).
ExactMatrix circuit_matrix(std::span<const OpKind> gates);

// Whether a = ω^m·b for some m.
bool equal_up_to_phase(const ExactMatrix& a, const ExactMatrix& b);

// A lower bound on the T gates of any circuit whose matrix has (0,0) entry
// v/√2^k (v nonzero and not divisible by √2): sde(|v|²/2^k) - 2, raised to
// the parity of the T count (odd where the determinant is an odd power of
// ω), with sde(|v|²/2^k) = 2k, or 2k - 1 where 1 + ω divides v (the sum of
// v's coordinates is even). Approximate synthesis uses it to pass over
// candidates that cannot beat the best found.
std::size_t least_t_count(const ZOmega& v, int k, bool odd);

// Gates whose product equals `u` up to a power of ω, with the fewest T gates.
// `u` must be unitary (a fault otherwise).
std::vector<OpKind> synthesize_exact(const ExactMatrix& u);

}  // namespace kestrel::synthesis
