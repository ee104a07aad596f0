// Parity networks against a diagonal model: a network of cx and phase gates
// sends each basis state x to a basis state with a phase, so playing it on x
// (wires as bits, the phase in eighths of 2 pi) gives its whole action. Every
// x must come back to itself with phase sum_j c_j (a_j . x) mod 8: on every x
// up to 10 qubits, on random ones beyond.
#include "src/gf2/parity_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/fault.h"
#include "tests/cpp/gf2/phase_model.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

using testing::cx_in;
using testing::play;
using testing::Table;

// Checks the closed and the open network of `table` on its basis states.
void check_table(const Table& table, const std::string& name, NetworkSearch search) {
  const std::vector<PlacedGate> closed = synthesise_parity_network(table.n, table.columns, table.coefficients, search);
  const OpenParityNetwork open = synthesise_open_parity_network(table.n, table.columns, table.coefficients, search);
  std::mt19937_64 rng(table.n);
  const bool every = table.n <= 10;
  const std::size_t states = every ? std::size_t{1} << table.n : 200;
  for (std::size_t s = 0; s < states; ++s) {
    std::vector<bool> x(table.n);
    for (std::uint32_t q = 0; q < table.n; ++q) x[q] = every ? (s >> q) & 1 : rng() % 2;
    const unsigned want = table.phase(x);
    std::vector<bool> wires = x;
    ASSERT_EQ(play(closed, wires), want) << name << ", state " << s;
    ASSERT_EQ(wires, x) << name << ": a wire does not come back, state " << s;
    wires = x;
    ASSERT_EQ(play(open.gates, wires), want) << name << " (open), state " << s;
    for (std::uint32_t i = 0; i < table.n; ++i) {
      bool parity = false;
      for (std::uint32_t q = 0; q < table.n; ++q) parity = parity != (x[q] && open.map.get(i, q));
      ASSERT_EQ(wires[i], parity) << name << " (open): wire " << i << ", state " << s;
    }
  }
}

// Tables of structure the little random ones lack (ccz sums, many equal
// parities, several words) under every search.
TEST(ParityNetworkTest, TablesComeOutExactly) {
  std::mt19937_64 rng(17);
  const auto random_qubits = [&](std::uint32_t n, std::uint32_t weight) {
    std::vector<std::uint32_t> qubits;
    for (std::uint32_t k = 0; k < weight; ++k) qubits.push_back(static_cast<std::uint32_t>(rng() % n));
    return qubits;  // repeats cancel: the weight is at most `weight`
  };
  struct Case {
    std::string name;
    Table table;
  };
  std::vector<Case> cases = {{"one qubit", Table(1)}, {"one ccz", Table(3)}};
  cases[0].table.add({0}, 3);
  cases[1].table.add_ccz(0, 1, 2);
  for (std::uint32_t n : {6u, 10u}) {
    Table t(n);
    for (std::uint32_t k = 0; k < 3 * n; ++k) {
      const std::uint32_t i = rng() % n, j = (i + 1 + rng() % (n - 1)) % n;
      std::uint32_t l = rng() % n;
      while (l == i || l == j) l = (l + 1) % n;
      t.add_ccz(i, j, l);
    }
    cases.push_back({"ccz sum on " + std::to_string(n), t});
  }
  for (std::uint32_t n : {5u, 10u}) {
    Table dense(n);
    for (int k = 0; k < 300; ++k) dense.add(random_qubits(n, n), rng() % 8);  // repeats too
    cases.push_back({"dense on " + std::to_string(n), dense});
  }
  for (std::uint32_t n : {64u, 70u, 130u}) {
    Table t(n);
    for (int k = 0; k < 150; ++k) t.add(random_qubits(n, 1 + k % 6), 1 + rng() % 7);
    for (int k = 0; k < 10; ++k) t.add_ccz(k, n - 1 - k, 63);
    cases.push_back({"several words, " + std::to_string(n), t});
  }
  {
    // Beyond the size where only the star runs.
    Table t(385);
    for (int k = 0; k < 400; ++k) t.add_ccz(rng() % 128, 128 + rng() % 128, 256 + rng() % 129);
    cases.push_back({"large ccz sum", t});
  }
  for (const Case& c : cases) {
    for (const auto& [search, label] : {std::pair{NetworkSearch::Star, ", star"},
                                        {NetworkSearch::Split, ", split"},
                                        {NetworkSearch::Nearest, ", nearest"},
                                        {NetworkSearch::Shared, ", shared"},
                                        {NetworkSearch::Rebased, ", rebased"},
                                        {NetworkSearch::Best, ""}}) {
      if (c.table.n > 130 && search != NetworkSearch::Best) continue;
      check_table(c.table, c.name + label, search);
    }
  }
}

// Little random tables, each qubit in a term `in` times in three: every
// search on every basis state; under a deadline not yet passed the network
// (closed and open) is the one written without it, and once it has passed
// there is none; the closed network is the shortest of the searches', and
// on some tables that is the nearest term's second way (`Shared`).
TEST(ParityNetworkTest, ManySmallRandomTables) {
  std::mt19937_64 rng(41);
  int shared_shortest = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const std::uint32_t n = 3 + trial % 10;
    Table t(n);
    for (int k = 0, m = 3 + static_cast<int>(rng() % 30); k < m; ++k) {
      std::vector<std::uint32_t> qubits;
      for (std::uint32_t q = 0; q < n; ++q) {
        if (rng() % 3 < 1u + trial % 2) qubits.push_back(q);
      }
      t.add(qubits, static_cast<std::uint8_t>(1 + rng() % 7));
    }
    const std::string name = "trial " + std::to_string(trial);
    const auto cx_of = [&](NetworkSearch search) {
      return cx_in(synthesise_parity_network(n, t.columns, t.coefficients, search));
    };
    for (NetworkSearch search :
         {NetworkSearch::Split, NetworkSearch::Nearest, NetworkSearch::Shared, NetworkSearch::Star}) {
      check_table(t, name, search);
    }
    const std::vector<PlacedGate> best = synthesise_parity_network(n, t.columns, t.coefficients);
    const std::size_t others =
        std::min({cx_of(NetworkSearch::Star), cx_of(NetworkSearch::Split), cx_of(NetworkSearch::Nearest)});
    EXPECT_LE(cx_in(best), std::min(others, cx_of(NetworkSearch::Shared))) << name;
    shared_shortest += cx_of(NetworkSearch::Shared) < others;
    const Deadline later(std::chrono::hours(1)), passed(std::chrono::nanoseconds(0));
    const auto closed = synthesise_parity_network_until(n, t.columns, t.coefficients, false, later);
    const auto open = synthesise_parity_network_until(n, t.columns, t.coefficients, true, later);
    ASSERT_TRUE(closed && open);
    EXPECT_EQ(closed->gates, best) << name;
    EXPECT_EQ(closed->map, BitMatrix::identity(n));
    const OpenParityNetwork plain = synthesise_open_parity_network(n, t.columns, t.coefficients);
    EXPECT_EQ(open->gates, plain.gates) << name;
    EXPECT_EQ(open->map, plain.map) << name;
    EXPECT_FALSE(synthesise_parity_network_until(n, t.columns, t.coefficients, true, passed));
  }
  EXPECT_GT(shared_shortest, 0);
}

TEST(ParityNetworkTest, SmallNetworksAsExpected) {
  Table controlled_s(2);
  controlled_s.add({0}, 1), controlled_s.add({1}, 1), controlled_s.add({0, 1}, 7);
  EXPECT_EQ(show(synthesise_parity_network(2, controlled_s.columns, controlled_s.coefficients)),
            "t q[0]; t q[1]; cx q[1],q[0]; tdg q[0]; cx q[1],q[0]; ");
  // A ccz's seven parities need six cx gates with a Gray code, and so do
  // the cczs of a multiplier, ccz(a_i, b_j, c_(i+j mod 8)), one by one.
  Table ccz(3);
  ccz.add_ccz(0, 1, 2);
  EXPECT_LE(cx_in(synthesise_parity_network(3, ccz.columns, ccz.coefficients)), 6u);
  Table multiplier(24);
  for (std::uint32_t i = 0; i < 8; ++i) {
    for (std::uint32_t j = 0; j < 8; ++j) multiplier.add_ccz(i, 8 + j, 16 + (i + j) % 8);
  }
  EXPECT_LE(cx_in(synthesise_parity_network(24, multiplier.columns, multiplier.coefficients)), 6u * 64);
  // Coefficient 4 is a z on each wire, no cx: here x0, x2 and x4 twice.
  Table z_parities(5);
  z_parities.add({0, 2, 4}, 4), z_parities.add({1, 2}, 4), z_parities.add({0, 4}, 4);
  const std::vector<PlacedGate> zs = synthesise_parity_network(5, z_parities.columns, z_parities.coefficients);
  EXPECT_EQ(show(zs), "z q[1]; ");  // (-1)^(a.x) (-1)^(b.x) = (-1)^((a xor b).x)
  check_table(z_parities, "z parities", NetworkSearch::Best);
  // Nothing to write writes nothing: one parity twice, 3 + 5 = 8; the zero
  // parity, a global phase; a coefficient 0; no qubit.
  Table nothing(4);
  nothing.add({1, 2}, 3), nothing.add({1, 2}, 5), nothing.add({}, 1), nothing.add({0, 3}, 0);
  EXPECT_TRUE(synthesise_parity_network(4, nothing.columns, nothing.coefficients).empty());
  EXPECT_TRUE(synthesise_parity_network(0, {}, {}).empty());
}

// Many terms in a span of few parities, each the sum of two of 50 random
// three-wire parities on 96 wires: past the small tables, the nearest term
// (both ways) still runs beside the star, and wins there (2,485 cx to the
// star's 3,362), as on the reduced table of a GF(2^32) multiplier (6,474 to
// 7,110).
TEST(ParityNetworkTest, AMiddleTableGetsTheNearestTerm) {
  std::mt19937_64 rng(47);
  std::vector<std::vector<std::uint32_t>> base(50);
  for (auto& parity : base) {
    for (int k = 0; k < 3; ++k) parity.push_back(static_cast<std::uint32_t>(rng() % 96));
  }
  Table t(96);
  for (int k = 0; k < 1500; ++k) {
    std::vector<std::uint32_t> qubits = base[rng() % 50];
    const std::vector<std::uint32_t>& other = base[rng() % 50];
    qubits.insert(qubits.end(), other.begin(), other.end());
    t.add(qubits, 1);
  }
  std::set<std::vector<std::uint64_t>> distinct;
  for (std::size_t p = 0; p < t.coefficients.size(); ++p) {
    distinct.insert({t.columns.begin() + 2 * p, t.columns.begin() + 2 * p + 2});
  }
  ASSERT_GT(96 * distinct.size(), std::size_t{1} << 16);  // not a small table
  const auto cx_of = [&](NetworkSearch search) {
    return cx_in(synthesise_parity_network(t.n, t.columns, t.coefficients, search));
  };
  const std::size_t nearest = std::min(cx_of(NetworkSearch::Nearest), cx_of(NetworkSearch::Shared));
  ASSERT_LT(nearest, cx_of(NetworkSearch::Star));
  EXPECT_EQ(cx_of(NetworkSearch::Best), nearest);
  check_table(t, "middle table", NetworkSearch::Best);
}

TEST(ParityNetworkTest, RefusesMalformedTables) {
  const std::vector<std::uint64_t> one = {0b11};
  const std::vector<std::uint8_t> eight = {8}, two = {1, 1};
  EXPECT_NE(fault_of([&] { synthesise_parity_network(2, one, eight); }), "no fault");
  EXPECT_NE(fault_of([&] { synthesise_parity_network(2, one, two); }), "no fault");
  const std::vector<std::uint8_t> fine = {1};
  EXPECT_NE(fault_of([&] { synthesise_parity_network(1, one, fine); }), "no fault");
  EXPECT_EQ(fault_of([&] { synthesise_parity_network(2, one, fine); }), "no fault");
}

}  // namespace
}  // namespace kestrel
