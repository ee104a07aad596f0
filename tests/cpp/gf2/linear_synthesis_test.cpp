// Linear synthesis against a plain model: the cx gates played on the wires'
// parities, one row addition each, must leave exactly the matrix asked for.
// (The inverse and the transpose are held to it there too: a circuit for
// either, read backwards, is taken when it is shorter.)
// How few gates it takes on random maps is pinned by the digests of the
// methods that write their networks with it (tests/python/test_tcount_digests.py);
// on the smallest maps (a fan-out, one cx, a swap) it is held here, as the
// digests do not see a single cx written as three.
#include "src/gf2/linear_synthesis.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/fault.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// The parities the wires hold after the cx gates `gates`, played one row
// of bools at a time.
BitMatrix play(const std::vector<PlacedGate>& gates, std::uint32_t n) {
  std::vector<std::vector<bool>> wires(n, std::vector<bool>(n, false));
  for (std::uint32_t i = 0; i < n; ++i) wires[i][i] = true;
  for (const PlacedGate& g : gates) {
    EXPECT_TRUE(g.gate == Elementary::CX && g.a < n && g.b < n && g.a != g.b);
    if (g.a >= n || g.b >= n) break;
    for (std::uint32_t c = 0; c < n; ++c) wires[g.b][c] = wires[g.b][c] != wires[g.a][c];
  }
  BitMatrix m(n);
  for (std::uint32_t r = 0; r < n; ++r) {
    for (std::uint32_t c = 0; c < n; ++c) m.set(r, c, wires[r][c]);
  }
  return m;
}

// A random invertible matrix: the map of n^2 / 2 random cx gates.
BitMatrix random_invertible(std::uint32_t n, std::mt19937_64& rng) {
  std::vector<PlacedGate> gates;
  for (std::uint32_t k = 0; n > 1 && k < n * n / 2; ++k) {
    const auto a = static_cast<std::uint32_t>(rng() % n);
    gates.push_back({Elementary::CX, a, static_cast<std::uint32_t>((a + 1 + rng() % (n - 1)) % n)});
  }
  return play(gates, n);
}

TEST(LinearSynthesisTest, RandomMatricesComeOutExactly) {
  std::mt19937_64 rng(11);
  for (std::uint32_t n : {1u, 2u, 3u, 5u, 8u, 17u, 63u, 64u, 65u, 130u}) {
    for (int trial = 0; trial < (n < 64 ? 20 : 3); ++trial) {
      const BitMatrix m = random_invertible(n, rng);
      const std::vector<PlacedGate> gates = synthesise_linear(m);
      EXPECT_EQ(play(gates, n), m) << "n " << n << ", trial " << trial;
      EXPECT_EQ(linear_map_of(gates, n), m);
    }
  }
}

TEST(LinearSynthesisTest, AWithinLimitSearchFindsOnlyShorterCircuits) {
  std::mt19937_64 rng(7);
  const BitMatrix m = random_invertible(40, rng);
  const std::size_t full = synthesise_linear(m).size();
  const std::optional<std::vector<PlacedGate>> generous = synthesise_linear_within(m, full + 1);
  ASSERT_TRUE(generous.has_value());
  EXPECT_EQ(generous->size(), full);
  EXPECT_EQ(play(*generous, 40), m);
  EXPECT_FALSE(synthesise_linear_within(m, full).has_value());
  // Every row of a fan-out moves but one: fewer gates than rows moved is
  // refused before any search, and that many is found.
  const std::vector<PlacedGate> fan = {{Elementary::CX, 0, 1}, {Elementary::CX, 0, 2}};
  const BitMatrix f = linear_map_of(fan, 3);
  EXPECT_EQ(rows_moved(f), 2u);
  EXPECT_FALSE(synthesise_linear_within(f, 2).has_value());
  EXPECT_EQ(synthesise_linear_within(f, 3)->size(), 2u);
  // The same without a limit, across words; a swap takes three.
  const std::vector<PlacedGate> across = {{Elementary::CX, 3, 68}}, swap = {{Elementary::Swap, 0, 4}};
  EXPECT_EQ(synthesise_linear(linear_map_of(across, 70)).size(), 1u);
  EXPECT_EQ(synthesise_linear(linear_map_of(swap, 5)).size(), 3u);
  EXPECT_FALSE(synthesise_linear_within(BitMatrix::identity(3), 0).has_value());
  EXPECT_TRUE(synthesise_linear_within(BitMatrix::identity(3), 1)->empty());
}

TEST(LinearSynthesisTest, RefusesWhatIsNotInvertibleOrLinear) {
  BitMatrix singular = BitMatrix::identity(4);
  singular.set(2, 2, false);
  EXPECT_FALSE(singular.inverse().has_value());
  EXPECT_NE(fault_of([&] { synthesise_linear(singular); }), "no fault");
  const std::vector<PlacedGate> h = {{Elementary::H, 0, 0}};
  EXPECT_NE(fault_of([&] { linear_map_of(h, 2); }), "no fault");
  const std::vector<PlacedGate> outside = {{Elementary::CX, 0, 2}};
  EXPECT_NE(fault_of([&] { linear_map_of(outside, 2); }), "no fault");
}

}  // namespace
}  // namespace kestrel
