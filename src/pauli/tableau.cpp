// The frame's gate updates, each G^-1 P G of the gate's Pauli images (the
// gate table's `back`) written as a product of the old rows: H exchanges X
// and Z; S^-1 X S = -iXZ and S X S^-1 = iXZ; X, Y and Z negate the rows they
// anticommute with; CX takes X_c to X_c X_t and Z_t to Z_c Z_t; CZ takes X_a
// to X_a Z_b. Each gate's update is compiled from its images: a gate whose
// images are single rows exchanges and signs rows, any other multiplies the
// rows it changes by rows it leaves as they are, in place.
#include "src/pauli/tableau.h"

#include <algorithm>
#include <array>
#include <bit>
#include <type_traits>
#include <utility>

#include "engine/fault.h"
#include "src/pauli/pauli.h"

namespace kestrel {
namespace {

constexpr const std::array<GatePauli, 4>& images(Elementary g) { return elementary_info(g).back; }
constexpr std::size_t rows_of(Elementary g) { return 2 * std::size_t{elementary_info(g).qubits}; }
constexpr unsigned first_factor(GatePauli p) { return static_cast<unsigned>(std::countr_zero(p.bits)); }
constexpr unsigned last_factor(GatePauli p) {
  return 31u - static_cast<unsigned>(std::countl_zero(static_cast<unsigned>(p.bits)));
}

// Whether every image of `g` is one row, with a sign: the rows are exchanged.
constexpr bool permutes(Elementary g) {
  for (std::size_t j = 0; j < rows_of(g); ++j) {
    if (std::popcount(images(g)[j].bits) != 1) return false;
  }
  return true;
}

// Whether the update of `g` can be made as this file makes it: exchanges in
// pairs, or products of at most two rows in which every row but the one
// written is left as it is by the gate.
constexpr bool updatable(Elementary g) {
  const auto unmoved = [&](unsigned k) { return images(g)[k] == GatePauli{std::uint8_t(1u << k), 0}; };
  for (unsigned j = 0; j < rows_of(g); ++j) {
    const GatePauli image = images(g)[j];
    if (image.bits >= (1u << rows_of(g))) return false;
    if (permutes(g)) {
      if (first_factor(images(g)[first_factor(image)]) != j) return false;
      continue;
    }
    if (std::popcount(image.bits) > 2) return false;
    for (unsigned k = 0; k < rows_of(g); ++k) {
      if (((image.bits >> k) & 1) && k != j && !unmoved(k)) return false;
    }
  }
  return true;
}

}  // namespace

Tableau::Tableau(std::uint32_t qubits)
    : qubits_(qubits),
      words_(pauli_words(qubits)),
      rows_(2 * std::size_t{qubits} * 2 * words_, 0),
      phases_(2 * std::size_t{qubits}, 0) {
  for (std::uint32_t q = 0; q < qubits; ++q) {
    const std::uint64_t bit = std::uint64_t{1} << (q % 64);
    row(2 * q)[q / 64] = bit;                   // X_q: its X half
    row(2 * q + 1)[words_ + q / 64] = bit;      // Z_q: its Z half
  }
}

void Tableau::swap_rows(std::size_t r, std::size_t s) {
  std::swap_ranges(row(r), row(r) + 2 * words_, row(s));
  std::swap(phases_[r], phases_[s]);
}

template <Elementary G>
void Tableau::apply_clifford(std::uint32_t a, std::uint32_t b) {
  static_assert(elementary_info(G).clifford && updatable(G));
  checked_index(qubits_, a);
  if constexpr (elementary_info(G).qubits == 2) {
    checked_index(qubits_, b);
    check(a != b, "a two-qubit gate names two qubits");
  }
  // The rows of X_a, Z_a, X_b and Z_b, in the order of the images.
  const std::array<std::size_t, 4> r = {2 * std::size_t{a}, 2 * std::size_t{a} + 1,
                                        2 * std::size_t{b}, 2 * std::size_t{b} + 1};
  const auto each_row = [&](auto step) {
    [&]<std::size_t... J>(std::index_sequence<J...>) {
      (step(std::integral_constant<std::size_t, J>{}), ...);
    }(std::make_index_sequence<rows_of(G)>{});
  };
  if constexpr (permutes(G)) {
    each_row([&](auto j) {
      constexpr unsigned k = first_factor(images(G)[j]);
      if constexpr (k > j) swap_rows(r[j], r[k]);
    });
  }
  each_row([&](auto j) {
    constexpr GatePauli image = images(G)[j];
    if constexpr (permutes(G) || image.bits == (1u << j)) {
      if constexpr (image.phase != 0) phases_[r[j]] = (phases_[r[j]] + image.phase) & 3;
    } else {
      constexpr unsigned f = first_factor(image), g = last_factor(image);
      const std::uint8_t k =
          multiply(row(r[f]), phases_[r[f]], row(r[g]), phases_[r[g]], row(r[j]), words_);
      phases_[r[j]] = (k + image.phase) & 3;
    }
  });
}

void Tableau::apply(Elementary gate, std::uint32_t a, std::uint32_t b) {
  using E = Elementary;
  switch (gate) {
    case E::H: return apply_clifford<E::H>(a, b);
    case E::S: return apply_clifford<E::S>(a, b);
    case E::Sdg: return apply_clifford<E::Sdg>(a, b);
    case E::X: return apply_clifford<E::X>(a, b);
    case E::Y: return apply_clifford<E::Y>(a, b);
    case E::Z: return apply_clifford<E::Z>(a, b);
    case E::CX: return apply_clifford<E::CX>(a, b);
    case E::CZ: return apply_clifford<E::CZ>(a, b);
    case E::Swap: return apply_clifford<E::Swap>(a, b);
    case E::T:
    case E::Tdg:
    case E::Rz:
    case E::Rx:
    case E::Ry: break;
  }
  fault("the Clifford frame reads Clifford gates only");
}

}  // namespace kestrel
