// The Clifford frame against two plain models: dense matrices on three
// qubits (C^-1 X_q C and C^-1 Z_q C computed as products), and Pauli strings
// multiplied letter by letter on 130 qubits, where rows span three words.
#include "src/pauli/tableau.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "src/pauli/pauli.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel {
namespace {

using testing::Dense;
using testing::kCliffordGates;

TEST(TableauTest, RowsAreTheConjugatedPaulisOfDenseMatrices) {
  constexpr int kQubits = 3;
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    Tableau frame(kQubits);
    const Dense c = testing::random_cliffords(rng, kQubits, 1 + trial % 12, frame);
    for (int q = 0; q < kQubits; ++q) {
      std::uint64_t x_bit[2] = {1u << q, 0}, z_bit[2] = {0, 1u << q};
      const Dense x = c.adjoint().times(Dense::pauli(kQubits, x_bit, 0)).times(c);
      const Dense z = c.adjoint().times(Dense::pauli(kQubits, z_bit, 0)).times(c);
      EXPECT_TRUE(x.equals(Dense::pauli(kQubits, frame.x_row(q), frame.x_phase(q))))
          << "trial " << trial << ", X row of qubit " << q;
      EXPECT_TRUE(z.equals(Dense::pauli(kQubits, frame.z_row(q), frame.z_phase(q))))
          << "trial " << trial << ", Z row of qubit " << q;
    }
  }
}

// A Pauli string letter by letter, with its phase as a power of i.
struct Letters {
  std::string letters;  // 'I', 'X', 'Y', 'Z' per qubit
  int k = 0;            // power of i

  // this * o, with the one-qubit products XY = iZ and cyclically.
  Letters times(const Letters& o) const {
    Letters out{letters, k + o.k};
    for (std::size_t q = 0; q < letters.size(); ++q) {
      const char a = letters[q], b = o.letters[q];
      if (a == 'I') { out.letters[q] = b; continue; }
      if (b == 'I') { out.letters[q] = a; continue; }
      if (a == b) { out.letters[q] = 'I'; continue; }
      const std::string cycle = "XYZ";
      const std::size_t ia = cycle.find(a), ib = cycle.find(b);
      out.letters[q] = cycle[3 - ia - ib];
      out.k += (ib == (ia + 1) % 3) ? 1 : 3;
    }
    out.k &= 3;
    return out;
  }
};

// The letters of a packed row: Y where both bits are set, which is i X Z, so
// the packed phase k gives the letters' phase k minus the number of Y.
Letters from_row(const std::uint64_t* row, std::uint8_t k, std::size_t qubits, std::size_t words) {
  Letters out{std::string(qubits, 'I'), k};
  for (std::size_t q = 0; q < qubits; ++q) {
    const bool x = (row[q / 64] >> (q % 64)) & 1, z = (row[words + q / 64] >> (q % 64)) & 1;
    out.letters[q] = x && z ? 'Y' : x ? 'X' : z ? 'Z' : 'I';
    if (x && z) out.k += 3;
  }
  out.k &= 3;
  return out;
}

TEST(TableauTest, RowsAcrossWordsFollowLetterByLetterProducts) {
  constexpr std::size_t kQubits = 130;  // three words a half row
  std::mt19937 rng(11);
  Tableau frame(kQubits);
  std::vector<Letters> xs, zs;  // the model's rows
  for (std::size_t q = 0; q < kQubits; ++q) {
    xs.push_back({std::string(kQubits, 'I'), 0});
    zs.push_back({std::string(kQubits, 'I'), 0});
    xs.back().letters[q] = 'X';
    zs.back().letters[q] = 'Z';
  }
  // Gates near the word boundaries 63/64 and 127/128, and anywhere.
  const std::uint32_t hot[] = {0, 62, 63, 64, 65, 127, 128, 129};
  for (int k = 0; k < 3000; ++k) {
    const CliffordGate g = kCliffordGates[rng() % std::size(kCliffordGates)];
    const std::uint32_t a = k % 3 ? hot[rng() % std::size(hot)] : rng() % kQubits;
    std::uint32_t b = hot[rng() % std::size(hot)];
    if (b == a) b = (a + 1) % kQubits;
    frame.apply(g, a, b);
    const Letters minus_i{std::string(kQubits, 'I'), 3}, plus_i{std::string(kQubits, 'I'), 1};
    const Letters minus{std::string(kQubits, 'I'), 2};
    switch (g) {
      case CliffordGate::H: std::swap(xs[a], zs[a]); break;
      case CliffordGate::S: xs[a] = minus_i.times(xs[a]).times(zs[a]); break;
      case CliffordGate::Sdg: xs[a] = plus_i.times(xs[a]).times(zs[a]); break;
      case CliffordGate::X: zs[a] = minus.times(zs[a]); break;
      case CliffordGate::Y: xs[a] = minus.times(xs[a]); zs[a] = minus.times(zs[a]); break;
      case CliffordGate::Z: xs[a] = minus.times(xs[a]); break;
      case CliffordGate::CX: xs[a] = xs[a].times(xs[b]); zs[b] = zs[a].times(zs[b]); break;
      case CliffordGate::CZ: xs[a] = xs[a].times(zs[b]); xs[b] = zs[a].times(xs[b]); break;
      case CliffordGate::Swap: std::swap(xs[a], xs[b]); std::swap(zs[a], zs[b]); break;
      default: break;
    }
  }
  for (std::uint32_t q = 0; q < kQubits; ++q) {
    const Letters x = from_row(frame.x_row(q), frame.x_phase(q), kQubits, frame.words());
    const Letters z = from_row(frame.z_row(q), frame.z_phase(q), kQubits, frame.words());
    EXPECT_EQ(x.letters, xs[q].letters) << q;
    EXPECT_EQ(x.k, xs[q].k) << q;
    EXPECT_EQ(z.letters, zs[q].letters) << q;
    EXPECT_EQ(z.k, zs[q].k) << q;
  }
}

}  // namespace
}  // namespace kestrel
