// Tests of exact synthesis: seeded random Clifford+T circuits are turned
// into their matrices (circuit_matrix's fast path checked against the
// general product), synthesised, and the gates multiplied back; the result
// must be the same matrix up to a power of ω, with no more T gates than the
// circuit had. That the count is the fewest: least_t_count here, and the
// reference counts of rz_synthesis_test.cpp, whose gates come from here.
#include "src/synthesis/exact_synthesis.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/cpp/helpers.h"

namespace kestrel::synthesis {
namespace {

// Random circuits of every length; 300 syllables H·T^±1 put the
// denominator past √2^130, where 64-bit coordinates no longer hold the
// entries: the reduction then runs on Integer.
TEST(ExactSynthesis, RandomCircuitsRoundTrip) {
  const OpKind alphabet[] = {OpKind::H, OpKind::S, OpKind::Sdg, OpKind::T,
                             OpKind::Tdg, OpKind::X, OpKind::Z};
  std::mt19937 rng(23);
  for (int length : {0, 1, 3, 10, 40, 200, -300}) {
    for (int it = 0; it < (length < 0 ? 4 : 60); ++it) {
      std::vector<OpKind> gates;
      ExactMatrix product = identity_matrix();  // the general product, beside circuit_matrix's fast path
      for (int i = 0; i < std::abs(length); ++i) {
        if (length > 0) gates.push_back(alphabet[rng() % 7]);
        if (length < 0) gates.insert(gates.end(), {OpKind::H, rng() % 2 ? OpKind::T : OpKind::Tdg});
      }
      for (OpKind g : gates) product = gate_matrix(g) * product;
      const ExactMatrix m = circuit_matrix(gates);
      ASSERT_EQ(m.reduced(), product.reduced()) << "length " << length;
      if (length < 0) {
        ASSERT_GT(m.reduced().k, 130);
      }
      const std::vector<OpKind> out = synthesize_exact(m);
      EXPECT_TRUE(equal_up_to_phase(circuit_matrix(out), m)) << "length " << length;
      EXPECT_LE(t_count(out), t_count(gates));
    }
  }
}

TEST(ExactSynthesis, LeastTCountBoundsTheFewest) {
  // least_t_count against the T count of the normal form (the fewest there
  // is) on random circuits; it must also be reached on most of them (a bound
  // far below would pass the first check).
  const OpKind alphabet[] = {OpKind::H, OpKind::S, OpKind::T, OpKind::Tdg, OpKind::X};
  std::mt19937 rng(41);
  int reached = 0, tried = 0;
  for (int length : {4, 10, 30}) {
    for (int it = 0; it < 800; ++it) {
      std::vector<OpKind> gates;
      for (int i = 0; i < length; ++i) {
        gates.push_back(OpKind::H);
        gates.push_back(alphabet[rng() % 5]);
      }
      const ExactMatrix m = circuit_matrix(gates).reduced();
      ZOmega v = m.e[0];
      int k = m.k;
      if (v == ZOmega{}) continue;
      for (; v.divisible_by_root2(); --k) v = v.divide_by_root2();
      const std::size_t fewest = t_count(synthesize_exact(m));
      const std::size_t least = least_t_count(v, k, t_count(gates) % 2 != 0);
      EXPECT_GE(fewest, least) << "length " << length << ", k " << k;
      if (least < 4) continue;  // below that, Clifford+T counts near 0 reach any bound
      reached += fewest == least;
      ++tried;
    }
  }
  EXPECT_GT(tried, 500);
  EXPECT_GT(reached, tried / 2);
}

}  // namespace
}  // namespace kestrel::synthesis
