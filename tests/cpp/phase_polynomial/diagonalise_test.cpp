// Diagonalisation against the Clifford frame (src/pauli/tableau.h, which
// tableau_test holds to dense matrices): E P_j = s_j Z^(a_j) E for every
// product (so E^-1 exp(-i theta s_j Z^(a_j)) E is the rotation about P_j),
// that is, the frame read through E gives E^-1 Z_q E, and s_j times their
// product over a_j must be P_j, phase and all. Its own conjugation by each
// gate is held to dense matrices directly. The commuting sets are
// images of random signed Z products under random Clifford circuits (so
// they include dependent products, repeats and -I), some touching only a
// few qubits, as in the common case. E^-1 (inverse_gates) is replayed by
// the rewrite tests, which write it after every block.
#include "src/phase_polynomial/diagonalise.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/fault.h"
#include "src/pauli/pauli.h"
#include "src/pauli/tableau.h"
#include "tests/cpp/helpers.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel {
namespace {

using testing::Dense;

using testing::kCliffordGates;

// Commuting Hermitian products: rows and phases as diagonalise takes them.
struct Products {
  std::uint32_t n;
  std::size_t words;
  std::vector<std::uint64_t> rows;
  std::vector<std::uint8_t> phases;

  std::size_t size() const { return phases.size(); }
  const std::uint64_t* row(std::size_t j) const { return rows.data() + j * 2 * words; }
};

// `count` products C^-1 (s Z^a) C for random signs s and bits a (one in
// `sparsity` set), C random gates on qubits below `reach`.
Products random_commuting(std::uint32_t n, std::size_t count, std::uint32_t reach,
                          std::size_t gates, std::uint32_t sparsity, std::mt19937_64& rng) {
  Tableau frame(n);
  for (std::size_t k = 0; k < gates; ++k) {
    const Elementary g = kCliffordGates[rng() % std::size(kCliffordGates)];
    const std::uint32_t a = rng() % reach;
    const std::uint32_t b = reach < 2 ? a : (a + 1 + rng() % (reach - 1)) % reach;
    if (elementary_info(g).qubits == 2 && a == b) continue;
    frame.apply(g, a, b);
  }
  Products out{n, pauli_words(n), {}, {}};
  std::vector<std::uint64_t> row(2 * out.words);
  for (std::size_t j = 0; j < count; ++j) {
    std::fill(row.begin(), row.end(), 0);
    std::uint8_t phase = rng() % 2 ? 2 : 0;
    for (std::uint32_t q = 0; q < n; ++q) {
      if (rng() % sparsity == 0) phase = multiply(row.data(), phase, frame.z_row(q), frame.z_phase(q), row.data(), out.words);
    }
    out.rows.insert(out.rows.end(), row.begin(), row.end());
    out.phases.push_back(phase);
  }
  return out;
}

// s_j times the product over a_j of E^-1 Z_q E (the frame read through E)
// is P_j exactly.
void check_frame(const Products& p, const Diagonalisation& d, const std::string& name) {
  Tableau frame(p.n);
  for (const PlacedGate& g : d.gates) frame.apply(g.gate, g.a, g.b);
  std::vector<std::uint64_t> row(2 * p.words);
  for (std::size_t j = 0; j < p.size(); ++j) {
    std::fill(row.begin(), row.end(), 0);
    std::uint8_t phase = d.signs[j] == 1 ? 0 : 2;
    for (std::uint32_t q = 0; q < p.n; ++q) {
      if ((d.z_bits[j * p.words + q / 64] >> (q % 64)) & 1) {
        phase = multiply(row.data(), phase, frame.z_row(q), frame.z_phase(q), row.data(), p.words);
      }
    }
    ASSERT_TRUE(same_bits(row.data(), p.row(j), p.words)) << name << ", product " << j;
    ASSERT_EQ(phase, p.phases[j]) << name << ", sign of product " << j;
  }
}

// (That a set with no X part takes no gate is SmallSets' first row.)
TEST(DiagonaliseTest, RandomCommutingSets) {
  struct Case {
    std::uint32_t n;
    std::size_t count;
    std::uint32_t reach;  // the Clifford acts below this qubit
    std::size_t gates;
    std::uint32_t sparsity;
  };
  std::vector<Case> cases = {
      {64, 100, 64, 500, 2},    // dense products, every qubit mixed
      {70, 200, 3, 10, 4},      // mostly diagonal: a few qubits mixed
      {130, 300, 130, 2000, 30},
      {200, 50, 200, 3000, 2},
      {130, 400, 1, 0, 3},      // diagonal only
  };
  for (std::uint32_t n = 1; n <= 8; ++n) {
    for (std::uint32_t trial = 0; trial < 12; ++trial) {
      cases.push_back({n, 1 + trial % 7 + n, trial % 3 == 0 ? std::min<std::uint32_t>(n, 2) : n, 4 * n, 2});
    }
  }
  std::mt19937_64 rng(23);
  for (const Case& c : cases) {
    const Products p = random_commuting(c.n, c.count, c.reach, c.gates, c.sparsity, rng);
    const Diagonalisation d = diagonalise(c.n, p.rows, p.phases);
    const std::string name = std::to_string(c.n) + " qubits, " + std::to_string(c.count) + " products";
    check_frame(p, d, name);
  }
}

TEST(DiagonaliseTest, SmallSetsTakeTheGatesExpected) {
  struct Case {
    const char* name;
    std::uint32_t n;
    std::vector<std::pair<std::string, std::uint8_t>> products;  // letters, qubit 0 first; phase
    const char* gates;
    std::vector<std::uint64_t> z_bits;
    std::vector<std::int8_t> signs;
  };
  const Case cases[] = {
      {"diagonal", 3, {{"ZZI", 0}, {"IIZ", 2}, {"III", 2}}, "", {0b011, 0b100, 0}, {1, -1, -1}},
      {"-Y", 1, {{"Y", 3}}, "s q[0]; h q[0]; ", {1}, {1}},
      {"Y", 1, {{"Y", 1}}, "s q[0]; h q[0]; ", {1}, {-1}},
      {"X with diagonal ones", 4, {{"ZZII", 0}, {"IIZI", 0}, {"ZIIX", 0}}, "h q[3]; ",
       {0b0011, 0b0100, 0b1001}, {1, 1, 1}},
      {"XX and ZZ", 2, {{"XX", 0}, {"ZZ", 0}}, "cx q[0],q[1]; h q[0]; ", {0b01, 0b10}, {1, 1}},
      {"-XX and YY", 2, {{"XX", 2}, {"YY", 2}}, "cx q[0],q[1]; h q[0]; ", {0b01, 0b11}, {-1, -1}},
  };
  for (const Case& c : cases) {
    Products p{c.n, pauli_words(c.n), {}, {}};
    for (const auto& [letters, phase] : c.products) {
      std::uint64_t x = 0, z = 0;
      for (std::size_t q = 0; q < letters.size(); ++q) {
        x |= std::uint64_t{letters[q] == 'X' || letters[q] == 'Y'} << q;
        z |= std::uint64_t{letters[q] == 'Z' || letters[q] == 'Y'} << q;
      }
      p.rows.push_back(x);
      p.rows.push_back(z);
      p.phases.push_back(phase);
    }
    const Diagonalisation d = diagonalise(c.n, p.rows, p.phases);
    EXPECT_EQ(show(d.gates), c.gates) << c.name;
    EXPECT_EQ(d.z_bits, c.z_bits) << c.name;
    EXPECT_EQ(d.signs, c.signs) << c.name;
    check_frame(p, d, c.name);
  }
}

TEST(DiagonaliseTest, ConjugationByEachGateAgreesWithDenseMatrices) {
  // G P G^-1 for every Clifford gate on two qubits and every signed product.
  for (const Elementary g : kCliffordGates) {
    for (const auto& [a, b] : {std::pair{0u, 1u}, {1u, 0u}}) {
      const PlacedGate gate{g, a, elementary_info(g).qubits == 2 ? b : 0};
      Dense matrix(2);
      testing::apply_elementary(matrix, g, static_cast<int>(gate.a), static_cast<int>(gate.b));
      for (std::uint64_t x = 0; x < 4; ++x) {
        for (std::uint64_t z = 0; z < 4; ++z) {
          for (std::uint8_t sign : {0, 2}) {
            std::uint64_t row[2] = {x, z};
            std::uint8_t phase = static_cast<std::uint8_t>((__builtin_popcountll(x & z) + sign) % 4);
            const Dense before = Dense::pauli(2, row, phase);
            conjugate_by(gate, row, phase, 1);
            const Dense after = matrix.times(before).times(matrix.adjoint());
            EXPECT_TRUE(after.equals(Dense::pauli(2, row, phase)))
                << elementary_info(g).qasm_name << " on " << a << ", x " << x << ", z " << z;
          }
        }
      }
    }
  }
}

TEST(DiagonaliseTest, RefusesWhatItCannotDiagonalise) {
  // X and Z together; iX, not Hermitian; more phases than products; a letter past the one qubit.
  const std::pair<std::vector<std::uint64_t>, std::vector<std::uint8_t>> bad[] = {
      {{1, 0, 0, 1}, {0, 0}}, {{1, 0}, {1}}, {{1, 0}, {0, 0}}, {{0b10, 0}, {0}}};
  for (const auto& b : bad) EXPECT_NE(fault_of([&] { diagonalise(1, b.first, b.second); }), "no fault") << b.first[0];
}

}  // namespace
}  // namespace kestrel
