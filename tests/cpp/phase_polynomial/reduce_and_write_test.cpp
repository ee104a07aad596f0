// A polynomial reduced and written, replayed on every basis state by a plain
// simulation (wires as bits, the phase in eighths of a turn): the gates give
// w^f(x) |x> exactly; and with both tie rules of the reduction, the writing
// kept has no more T gates than the default rule's, and no more two-qubit
// gates at equal T.
#include "src/phase_polynomial/reduce_and_write.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

int evaluate(const PhasePolynomial& f, std::uint64_t x) {
  int sum = 0;
  for (std::size_t j = 0; j < f.terms(); ++j) sum += f.coefficient(j) * (std::popcount(*f.parity(j) & x) & 1);
  return sum & 7;
}

// The gates on basis state x: the wires' values at the end, and the phase.
std::pair<std::uint64_t, int> run(const std::vector<PlacedGate>& gates, std::uint64_t x) {
  int phase = 0;
  for (const PlacedGate& g : gates) {
    const int a = static_cast<int>((x >> g.a) & 1);
    const int b = static_cast<int>((x >> g.b) & 1);
    switch (g.gate) {
      case Elementary::CX: x ^= static_cast<std::uint64_t>(a) << g.b; break;
      case Elementary::CZ: phase += 4 * a * b; break;
      case Elementary::T: phase += a; break;
      case Elementary::Tdg: phase += 7 * a; break;
      case Elementary::S: phase += 2 * a; break;
      case Elementary::Sdg: phase += 6 * a; break;
      case Elementary::Z: phase += 4 * a; break;
      default: ADD_FAILURE() << "a gate other than cx, cz and phase gates"; break;
    }
  }
  return {x, phase & 7};
}

std::size_t two_qubit(const WrittenPolynomial& w) {
  std::size_t n = 0;
  for (const auto* gates : {&w.clifford, &w.network.gates}) {
    for (const PlacedGate& g : *gates) n += g.gate == Elementary::CX || g.gate == Elementary::CZ ? 1 : 0;
  }
  return n;
}

// Random polynomials: sums of doubly controlled Z gates on 6 to 13
// variables (each the seven parities of its three, coefficients 1 and 7,
// as Toffoli gates leave them), and on 3 to 9 variables random parities
// with coefficients 1 to 7. Each writing is exact, and the choice between
// the tie rules never costs a T gate, nor a two-qubit gate at equal T; on
// some it saves two-qubit gates (else the test would not see the second rule).
TEST(ReduceAndWriteTest, BothTieRulesWriteExactlyAndNeverWorse) {
  std::mt19937_64 rng(5);
  int fewer = 0;
  for (int rep = 0; rep < 240; ++rep) {
    const bool cczs = rep % 2 == 0;
    const std::uint32_t n = cczs ? 6 + static_cast<std::uint32_t>(rep / 2 % 8) : 3 + static_cast<std::uint32_t>(rep % 7);
    PhasePolynomial f(n);
    if (cczs) {
      for (std::size_t k = 0, count = 3 + rng() % 10; k < count; ++k) {
        std::uint64_t v[3];
        do {
          for (std::uint64_t& x : v) x = std::uint64_t{1} << (rng() % n);
        } while (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]);
        for (std::uint64_t mask = 1; mask < 8; ++mask) {
          const std::uint64_t parity = (mask & 1 ? v[0] : 0) | (mask & 2 ? v[1] : 0) | (mask & 4 ? v[2] : 0);
          const std::uint8_t c = std::popcount(mask) % 2 == 1 ? 1 : 7;
          f.add(&parity, c);
        }
      }
    } else {
      for (std::size_t j = 0, terms = 4 + rng() % (4 * n); j < terms; ++j) {
        const std::uint64_t parity = rng() & ((std::uint64_t{1} << n) - 1) & (rep % 4 == 1 ? rng() : ~std::uint64_t{0});
        if (parity != 0) f.add(&parity, static_cast<std::uint8_t>(1 + rng() % 7));
      }
    }
    SCOPED_TRACE(testing::Message() << "rep " << rep << " n " << n);
    ReductionAllowance one_rule, both_rules;
    const std::optional<WrittenPolynomial> a = reduce_and_write(f, one_rule, false, nullptr, false);
    const std::optional<WrittenPolynomial> b = reduce_and_write(f, both_rules, false, nullptr, true);
    ASSERT_TRUE(a && b);
    for (const WrittenPolynomial* w : {&*a, &*b}) {
      std::vector<PlacedGate> gates = w->clifford;
      gates.insert(gates.end(), w->network.gates.begin(), w->network.gates.end());
      for (std::uint64_t x = 0; x < (std::uint64_t{1} << n); ++x) {
        const auto [out, phase] = run(gates, x);
        ASSERT_EQ(out, x) << "the wires end at their inputs";
        ASSERT_EQ(phase, evaluate(f, x)) << "input " << x;
      }
    }
    EXPECT_LE(b->t, a->t);
    if (b->t == a->t) EXPECT_LE(two_qubit(*b), two_qubit(*a));
    fewer += b->t < a->t || two_qubit(*b) < two_qubit(*a) ? 1 : 0;
  }
  EXPECT_GT(fewer, 0);
}

}  // namespace
}  // namespace kestrel
