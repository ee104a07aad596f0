// The frame read backwards against dense matrices on three qubits (C P C^-1
// computed as a product), and against the forward frame on 130 qubits,
// where moving each forward row back to the point reached must give the
// plain X_q and Z_q again. Both take images between gates too, so rows kept
// from an earlier image must be gathered again exactly when a gate changed
// them.
#include "src/pauli/inverse_tableau.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "src/pauli/pauli.h"
#include "src/pauli/tableau.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel {
namespace {

using testing::Dense;
using testing::kCliffordGates;

TEST(InverseTableauTest, ImagesAreTheConjugatedProductsOfDenseMatrices) {
  constexpr int kQubits = 3;
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    InverseTableau frame(kQubits);
    Dense c(kQubits);
    for (int stretch = 0; stretch < 4; ++stretch) {
      c = testing::random_cliffords(rng, kQubits, (trial + stretch) % 5, frame).times(c);
      // A Hermitian product: k = x.z mod 2, with a random sign.
      std::uint64_t p[2] = {rng() % 8, rng() % 8};
      const std::uint8_t k = static_cast<std::uint8_t>((__builtin_popcountll(p[0] & p[1]) & 1) +
                                                       2 * (rng() % 2));
      std::uint64_t out[2];
      const std::uint8_t phase = frame.image(p, k, out);
      const Dense expected = c.times(Dense::pauli(kQubits, p, k)).times(c.adjoint());
      EXPECT_TRUE(expected.equals(Dense::pauli(kQubits, out, phase)))
          << "trial " << trial << " stretch " << stretch;
    }
  }
}

TEST(InverseTableauTest, UndoesTheForwardFrameOnManyQubits) {
  constexpr std::uint32_t kQubits = 130;
  std::mt19937 rng(5);
  Tableau forward(kQubits);
  InverseTableau backward(kQubits);
  const std::size_t words = backward.words();
  std::vector<std::uint64_t> out(2 * words), plain(2 * words), some(2 * words);
  for (int k = 0; k < 4000; ++k) {
    const Elementary g = kCliffordGates[rng() % std::size(kCliffordGates)];
    const std::uint32_t a = rng() % kQubits;
    const std::uint32_t b = (a + 1 + rng() % (kQubits - 1)) % kQubits;
    forward.apply(g, a, b);
    backward.apply(g, a, b);
    if (k % 7 == 0) {
      // The image of a few letters, so that their rows are kept for later.
      std::fill(some.begin(), some.end(), 0);
      for (int letter = 0; letter < 3; ++letter) {
        const std::uint32_t q = rng() % kQubits;
        some[(rng() % 2) * words + q / 64] |= std::uint64_t{1} << (q % 64);
      }
      backward.image(some.data(), 0, out.data());
    }
  }
  for (std::uint32_t q = 0; q < kQubits; ++q) {
    for (int half = 0; half < 2; ++half) {
      const std::uint64_t* row = half == 0 ? forward.x_row(q) : forward.z_row(q);
      const std::uint8_t k = half == 0 ? forward.x_phase(q) : forward.z_phase(q);
      EXPECT_EQ(backward.image(row, k, out.data()), 0) << "qubit " << q << " half " << half;
      std::fill(plain.begin(), plain.end(), 0);
      plain[half * words + q / 64] = std::uint64_t{1} << (q % 64);
      EXPECT_EQ(out, plain) << "qubit " << q << " half " << half;
    }
  }
}

}  // namespace
}  // namespace kestrel
