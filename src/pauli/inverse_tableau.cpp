// Each gate's conjugation G R G^-1 as word operations on the columns of
// its qubits, for all rows at once. With x and z a row's letters on qubit a
// and k its power of i: H swaps x and z and adds 2 to k when both are set
// (H Y H = -Y); S adds 1 to k and flips z when x is set (S X S^-1 = Y =
// iXZ), S-dagger subtracts 1; X, Y and Z add 2 where they anticommute; CX
// from a to b flips x_b with x_a and z_a with z_b; CZ flips z_a with x_b
// and z_b with x_a, adding 2 when both x are set.
#include "src/pauli/inverse_tableau.h"

#include <algorithm>
#include <bit>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {

InverseTableau::InverseTableau(std::uint32_t qubits)
    : qubits_(qubits),
      words_(pauli_words(qubits)),
      column_words_(pauli_words(2 * std::size_t{qubits})),
      columns_(2 * std::size_t{qubits} * column_words_, 0),
      low_(column_words_, 0),
      high_(column_words_, 0),
      rows_(2 * std::size_t{qubits} * 2 * words_, 0),
      stale_(column_words_, 0) {
  for (std::size_t q = 0; q < qubits; ++q) {
    const std::size_t x_row = 2 * q, z_row = 2 * q + 1;
    column(2 * q)[x_row / 64] |= std::uint64_t{1} << (x_row % 64);
    column(2 * q + 1)[z_row / 64] |= std::uint64_t{1} << (z_row % 64);
    rows_[x_row * 2 * words_ + q / 64] |= std::uint64_t{1} << (q % 64);
    rows_[z_row * 2 * words_ + words_ + q / 64] |= std::uint64_t{1} << (q % 64);
  }
}

void InverseTableau::apply(Elementary gate, std::uint32_t a, std::uint32_t b) {
  checked_index(qubits_, a);
  const std::size_t n = column_words_;
  std::uint64_t* xa = column(2 * std::size_t{a});
  std::uint64_t* za = column(2 * std::size_t{a} + 1);
  std::uint64_t* low = low_.data();
  std::uint64_t* high = high_.data();
  std::uint64_t* stale = stale_.data();
  switch (gate) {
    case Elementary::H:
      for (std::size_t w = 0; w < n; ++w) {
        high[w] ^= xa[w] & za[w];
        stale[w] |= xa[w] ^ za[w];
        std::swap(xa[w], za[w]);
      }
      return;
    case Elementary::S:
      for (std::size_t w = 0; w < n; ++w) {
        high[w] ^= low[w] & xa[w];
        low[w] ^= xa[w];
        za[w] ^= xa[w];
        stale[w] |= xa[w];
      }
      return;
    case Elementary::Sdg:
      for (std::size_t w = 0; w < n; ++w) {
        high[w] ^= xa[w] & ~low[w];
        low[w] ^= xa[w];
        za[w] ^= xa[w];
        stale[w] |= xa[w];
      }
      return;
    case Elementary::X:
      for (std::size_t w = 0; w < n; ++w) high[w] ^= za[w];
      return;
    case Elementary::Y:
      for (std::size_t w = 0; w < n; ++w) high[w] ^= xa[w] ^ za[w];
      return;
    case Elementary::Z:
      for (std::size_t w = 0; w < n; ++w) high[w] ^= xa[w];
      return;
    case Elementary::CX:
    case Elementary::CZ:
    case Elementary::Swap: break;
    case Elementary::T:
    case Elementary::Tdg:
    case Elementary::Rz:
    case Elementary::Rx:
    case Elementary::Ry: fault("internal error: entered unreachable code");
  }
  checked_index(qubits_, b);
  check(a != b, "a two-qubit gate names two qubits");
  std::uint64_t* xb = column(2 * std::size_t{b});
  std::uint64_t* zb = column(2 * std::size_t{b} + 1);
  switch (gate) {
    case Elementary::CX:
      for (std::size_t w = 0; w < n; ++w) {
        stale[w] |= xa[w] | zb[w];
        xb[w] ^= xa[w];
        za[w] ^= zb[w];
      }
      return;
    case Elementary::CZ:
      for (std::size_t w = 0; w < n; ++w) {
        stale[w] |= xa[w] | xb[w];
        high[w] ^= xa[w] & xb[w];
        za[w] ^= xb[w];
        zb[w] ^= xa[w];
      }
      return;
    case Elementary::Swap:
      for (std::size_t w = 0; w < n; ++w) stale[w] |= (xa[w] ^ xb[w]) | (za[w] ^ zb[w]);
      std::swap_ranges(xa, xa + n, xb);
      std::swap_ranges(za, za + n, zb);
      return;
    default: fault("internal error: entered unreachable code");
  }
}

const std::uint64_t* InverseTableau::row(std::uint32_t r) {
  std::uint64_t* out = rows_.data() + std::size_t{r} * 2 * words_;
  const std::size_t word = r / 64;
  const unsigned bit = r % 64;
  if (((stale_[word] >> bit) & 1) == 0) return out;
  // A word of the row at a time, 64 qubits' letters gathered in registers.
  const std::uint64_t* letters = columns_.data() + word;  // qubit q's X letter word at 2 q column_words_
  for (std::size_t w = 0; w < words_; ++w) {
    std::uint64_t x = 0, z = 0;
    const std::size_t end = std::min<std::size_t>(64, qubits_ - 64 * w);
    for (std::size_t k = 0; k < end; ++k) {
      const std::uint64_t* at = letters + 2 * (64 * w + k) * column_words_;
      x |= ((at[0] >> bit) & 1) << k;
      z |= ((at[column_words_] >> bit) & 1) << k;
    }
    out[w] = x;
    out[words_ + w] = z;
  }
  stale_[word] &= ~(std::uint64_t{1} << bit);
  return out;
}

std::uint8_t InverseTableau::image(const std::uint64_t* in, std::uint8_t phase, std::uint64_t* out) {
  std::fill(out, out + 2 * words_, 0);
  std::uint8_t k = phase & 3;
  // P = i^k X^x Z^z: its X letters' rows first, then its Z letters', each
  // product keeping the order of the factors.
  for (int half = 0; half < 2; ++half) {
    for (std::size_t w = 0; w < words_; ++w) {
      for (std::uint64_t bits = in[half * words_ + w]; bits != 0; bits &= bits - 1) {
        const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(bits));
        checked_index(qubits_, q);
        const std::uint32_t r = 2 * q + static_cast<std::uint32_t>(half);
        const std::uint8_t row_phase = static_cast<std::uint8_t>(
            ((low_[r / 64] >> (r % 64)) & 1) | (((high_[r / 64] >> (r % 64)) & 1) << 1));
        k = multiply(out, k, row(r), row_phase, out, words_);
      }
    }
  }
  return k;
}

}  // namespace kestrel
