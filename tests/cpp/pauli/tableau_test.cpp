// The Clifford frame and the frame read backwards against dense matrices
// of three qubits (C^-1 P C and C P C^-1 computed as products), the three
// placed on qubits 0 to 2 of a three-qubit frame and on qubits 1, 64 and
// 129 of a 130-qubit one, whose rows span three words. The backward frame
// takes images between gates too, so rows kept from an earlier image must
// be gathered again exactly when a gate changed them.
#include "src/pauli/inverse_tableau.h"
#include "src/pauli/tableau.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "src/pauli/pauli.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel {
namespace {

using testing::Dense;

// A frame whose qubit j is the dense model's qubit j placed at on[j].
template <class Frame>
struct Placed {
  Frame& frame;
  std::array<std::uint32_t, 3> on;

  void apply(Elementary g, std::uint32_t a, std::uint32_t b) { frame.apply(g, on[a], on[b]); }
  // A model row (a word a half) on the frame's qubits.
  std::vector<std::uint64_t> spread(const std::uint64_t* p) const {
    std::vector<std::uint64_t> out(2 * frame.words(), 0);
    for (std::size_t half = 0; half < 2; ++half) {
      for (std::size_t j = 0; j < 3; ++j) {
        if ((p[half] >> j) & 1) out[half * frame.words() + on[j] / 64] |= std::uint64_t{1} << (on[j] % 64);
      }
    }
    return out;
  }
  // A frame row as a model row; a letter on any other qubit fails.
  std::array<std::uint64_t, 2> gather(const std::uint64_t* row) const {
    std::array<std::uint64_t, 2> out = {0, 0};
    for (std::size_t half = 0; half < 2; ++half) {
      for (std::size_t j = 0; j < 3; ++j) {
        out[half] |= ((row[half * frame.words() + on[j] / 64] >> (on[j] % 64)) & 1) << j;
      }
    }
    EXPECT_EQ(spread(out.data()), std::vector<std::uint64_t>(row, row + 2 * frame.words()));
    return out;
  }
};

struct Placement {
  std::uint32_t qubits;
  std::array<std::uint32_t, 3> on;
};
constexpr Placement kPlacements[] = {{3, {0, 1, 2}}, {130, {1, 64, 129}}};

TEST(TableauTest, RowsAreTheConjugatedPaulisOfDenseMatrices) {
  for (const auto& [qubits, on] : kPlacements) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
      Tableau frame(qubits);
      Placed<Tableau> placed{frame, on};
      const Dense c = testing::random_cliffords(rng, 3, 1 + trial % 12, placed);
      for (std::uint32_t q = 0; q < 3; ++q) {
        std::uint64_t x_bit[2] = {1u << q, 0}, z_bit[2] = {0, 1u << q};
        const Dense x = c.adjoint().times(Dense::pauli(3, x_bit, 0)).times(c);
        const Dense z = c.adjoint().times(Dense::pauli(3, z_bit, 0)).times(c);
        EXPECT_TRUE(x.equals(Dense::pauli(3, placed.gather(frame.x_row(on[q])).data(), frame.x_phase(on[q]))))
            << qubits << " qubits, trial " << trial << ", X row of qubit " << q;
        EXPECT_TRUE(z.equals(Dense::pauli(3, placed.gather(frame.z_row(on[q])).data(), frame.z_phase(on[q]))))
            << qubits << " qubits, trial " << trial << ", Z row of qubit " << q;
      }
    }
  }
}

TEST(InverseTableauTest, ImagesAreTheConjugatedProductsOfDenseMatrices) {
  for (const auto& [qubits, on] : kPlacements) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 300; ++trial) {
      InverseTableau frame(qubits);
      Placed<InverseTableau> placed{frame, on};
      Dense c(3);
      for (int stretch = 0; stretch < 4; ++stretch) {
        c = testing::random_cliffords(rng, 3, (trial + stretch) % 5, placed).times(c);
        // A Hermitian product: k = x.z mod 2, with a random sign.
        std::uint64_t p[2] = {rng() % 8, rng() % 8};
        const std::uint8_t k = static_cast<std::uint8_t>((__builtin_popcountll(p[0] & p[1]) & 1) + 2 * (rng() % 2));
        std::vector<std::uint64_t> out(2 * frame.words());
        const std::uint8_t phase = frame.image(placed.spread(p).data(), k, out.data());
        const Dense expected = c.times(Dense::pauli(3, p, k)).times(c.adjoint());
        EXPECT_TRUE(expected.equals(Dense::pauli(3, placed.gather(out.data()).data(), phase)))
            << qubits << " qubits, trial " << trial << " stretch " << stretch;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
