// A polynomial reduced and written, replayed on every basis state by the
// plain model of tests/cpp/gf2/phase_model.h: the gates give
// w^f(x) |x> exactly; and with both tie rules of the reduction, the writing
// kept has no more T gates than the default rule's, and no more two-qubit
// gates at equal T.
#include "src/phase_polynomial/reduce_and_write.h"

#include <gtest/gtest.h>

#include <bitset>
#include <random>
#include <vector>

#include "tests/cpp/gf2/phase_model.h"

namespace kestrel {
namespace {

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
    testing::Table model(n);  // the terms, evaluated plainly below
    if (cczs) {
      for (std::size_t k = 0, count = 3 + rng() % 10; k < count; ++k) {
        std::uint32_t v[3];
        do {
          for (std::uint32_t& x : v) x = static_cast<std::uint32_t>(rng() % n);
        } while (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]);
        model.add_ccz(v[0], v[1], v[2]);
      }
    } else {
      for (std::size_t j = 0, terms = 4 + rng() % (4 * n); j < terms; ++j) {
        const std::uint64_t parity = rng() & ((std::uint64_t{1} << n) - 1) & (rep % 4 == 1 ? rng() : ~std::uint64_t{0});
        if (parity != 0) model.add_word(parity, static_cast<std::uint8_t>(1 + rng() % 7));
      }
    }
    PhasePolynomial f(n);
    for (std::size_t j = 0; j < model.coefficients.size(); ++j) f.add(&model.columns[j], model.coefficients[j]);
    SCOPED_TRACE(::testing::Message() << "rep " << rep << " n " << n);
    ReductionAllowance one_rule, both_rules;
    const std::optional<WrittenPolynomial> a = reduce_and_write(f, one_rule, false, nullptr, false);
    const std::optional<WrittenPolynomial> b = reduce_and_write(f, both_rules, false, nullptr, true);
    ASSERT_TRUE(a && b);
    for (const WrittenPolynomial* w : {&*a, &*b}) {
      std::vector<PlacedGate> gates = w->clifford;
      gates.insert(gates.end(), w->network.gates.begin(), w->network.gates.end());
      for (std::uint64_t x = 0; x < (std::uint64_t{1} << n); ++x) {
        std::bitset<64> wires(x);
        ASSERT_EQ(testing::play(gates, wires), model.phase(std::bitset<64>(x))) << "input " << x;
        ASSERT_EQ(wires, std::bitset<64>(x)) << "the wires end at their inputs";
      }
    }
    EXPECT_LE(b->t, a->t);
    if (b->t == a->t) { EXPECT_LE(two_qubit(*b), two_qubit(*a)); }
    fewer += b->t < a->t || two_qubit(*b) < two_qubit(*a) ? 1 : 0;
  }
  EXPECT_GT(fewer, 0);
}

}  // namespace
}  // namespace kestrel
