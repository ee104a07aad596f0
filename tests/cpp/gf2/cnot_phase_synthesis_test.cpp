// Guided parity networks against a diagonal model: a network of cx and phase
// gates sends each basis state x to a basis state with a phase, so playing
// it on every x (wires as bits, the phase in eighths of 2 pi) gives its whole
// action. Each network must bring every x back to itself with phase
// sum_j c_j (a_j . x) mod 8, end with the guide's first `followed` gates
// reversed, and, once the program's own copies of the guide's gates follow
// it and the pairs cancel (src/cancellation/pair_cancellation.h), leave at
// most `cx_left` cx gates of the two together. CZ gates folded into a
// network's phase gates (src/gf2/cz_absorption.h) are held to the same model.
#include "src/gf2/cnot_phase_synthesis.h"
#include "src/gf2/cz_absorption.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "src/cancellation/pair_cancellation.h"
#include "tests/cpp/gf2/phase_model.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

using testing::cx_in;
using testing::play;

using Terms = testing::Table;

using Bits = std::bitset<64>;  // a basis state of up to 64 wires

// Every property the header promises, on every basis state; under a
// deadline not yet passed the same network, and none once it has passed.
// The network goes to `out`, when given.
void check_network(const Terms& terms, const std::vector<PlacedGate>& guide, const std::string& name,
                   GuidedNetwork* out = nullptr) {
  SCOPED_TRACE(name);
  const GuidedNetwork net = synthesise_guided_network(terms.n, terms.columns, terms.coefficients, guide);
  if (out != nullptr) *out = net;
  const std::optional<GuidedNetwork> timed = synthesise_guided_network_until(
      terms.n, terms.columns, terms.coefficients, guide, Deadline(std::chrono::hours(1)));
  ASSERT_TRUE(timed.has_value());
  EXPECT_EQ(timed->gates, net.gates);
  EXPECT_EQ(std::tuple(timed->followed, timed->cx, timed->cx_left), std::tuple(net.followed, net.cx, net.cx_left));
  EXPECT_FALSE(synthesise_guided_network_until(terms.n, terms.columns, terms.coefficients, guide,
                                               Deadline(std::chrono::nanoseconds(0))));
  EXPECT_EQ(net.cx, cx_in(net.gates));
  ASSERT_LE(net.followed, guide.size());
  ASSERT_LE(2 * net.followed, net.cx);
  for (std::size_t k = 0; k < net.followed; ++k) {
    const PlacedGate& g = net.gates[net.gates.size() - 1 - k];
    EXPECT_TRUE(g.gate == Elementary::CX && g.a == guide[k].a && g.b == guide[k].b) << k;
  }
  for (std::uint64_t x = 0; x < (std::uint64_t{1} << terms.n); ++x) {
    Bits wires(x);
    ASSERT_EQ(play(net.gates, wires), terms.phase(Bits(x))) << "x = " << x;
    ASSERT_EQ(wires, Bits(x)) << "x = " << x;
  }
  // The network, then the whole guide as the program has it: the pairs
  // cancel down to the network's cx_left (that what they cancel is sound is
  // pair_cancellation_test's).
  std::vector<CancelItem> items;
  for (const PlacedGate& g : net.gates) items.push_back({g, 0, 0});
  for (const PlacedGate& g : guide) items.push_back({g, 0, 0});
  const std::vector<bool> removed = cancel_gate_pairs(terms.n, items, {});
  std::vector<PlacedGate> kept;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!removed[i]) kept.push_back(items[i].gate);
  }
  EXPECT_LE(cx_in(kept), net.cx_left);
}

PlacedGate cx(std::uint32_t c, std::uint32_t t) { return {Elementary::CX, c, t}; }

Terms terms(std::uint32_t n, const std::vector<std::pair<std::uint64_t, std::uint8_t>>& list) {
  Terms t(n);
  for (const auto& [parity, c] : list) t.add_word(parity, c);
  return t;
}

Terms ccz() {
  Terms t(3);
  t.add_ccz(0, 1, 2);
  return t;
}

TEST(GuidedNetwork, FollowsTheGuideUpToItsLastTermWritten) {
  // A guide that brings x1+x2, x0+x1+x2, x0+x2 and x0+x1 onto wires writes,
  // with the three single wires, all seven parities of the ccz: no cx of
  // its own. Gates past the last term written are not followed; a guide
  // that never makes a term, or terms of coefficient 4 and 0 only (z
  // gates, nothing; equal parities add up), are not followed at all.
  Terms wide = ccz();
  wide.n = 4;  // a fourth wire, which the guide alone moves
  struct Case {
    const char* name;
    Terms terms;
    std::vector<PlacedGate> guide;
    std::size_t followed;
    std::optional<std::size_t> cx_left;  // the guide's own, as copied
  };
  const Case cases[] = {
      {"ccz guided", ccz(), {cx(1, 2), cx(0, 2), cx(1, 2), cx(0, 1)}, 4, 4},
      {"one term", terms(3, {{0b011, 1}}), {cx(0, 1), cx(1, 2), cx(0, 2)}, 1, 3},
      {"no guide", ccz(), {}, 0, {}},
      {"useless guide", wide, {cx(0, 3), cx(1, 3)}, 0, {}},
      {"z terms", terms(3, {{0b011, 4}, {0b110, 0}, {0b101, 3}, {0b101, 5}}), {cx(0, 1)}, 0, {}},
  };
  for (const Case& c : cases) {
    GuidedNetwork net;
    check_network(c.terms, c.guide, c.name, &net);
    EXPECT_EQ(net.followed, c.followed) << c.name;
    EXPECT_EQ(net.cx_left, c.cx_left.value_or(net.cx_left)) << c.name;
  }
  const Terms zs = terms(3, {{0b011, 4}, {0b110, 0}, {0b101, 3}, {0b101, 5}});
  const GuidedNetwork z = synthesise_guided_network(3, zs.columns, zs.coefficients, {});
  EXPECT_EQ(z.cx, 0u);
  EXPECT_EQ(z.gates.size(), 2u);  // a z on wire 0 and one on wire 1
}


TEST(GuidedNetwork, RandomTermsAndGuides) {
  std::mt19937_64 rng(37);
  for (int round = 0; round < 300; ++round) {
    Terms terms(2 + static_cast<std::uint32_t>(rng() % 7));
    std::vector<PlacedGate> guide;
    const std::size_t length = rng() % 12;
    for (std::size_t k = 0; k < length; ++k) {
      const std::uint32_t c = static_cast<std::uint32_t>(rng() % terms.n);
      const std::uint32_t t = static_cast<std::uint32_t>((c + 1 + rng() % (terms.n - 1)) % terms.n);
      guide.push_back(cx(c, t));
    }
    // Half the terms are parities the guide makes, so that it is followed.
    std::vector<std::uint64_t> made;
    std::vector<std::uint64_t> wires(terms.n);
    for (std::uint32_t q = 0; q < terms.n; ++q) wires[q] = std::uint64_t{1} << q;
    for (const PlacedGate& g : guide) made.push_back(wires[g.b] ^= wires[g.a]);
    const std::size_t count = rng() % 10;
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint64_t parity = !made.empty() && rng() % 2 ? made[rng() % made.size()]
                                                             : rng() & ((std::uint64_t{1} << terms.n) - 1);
      terms.add_word(parity, static_cast<std::uint8_t>(rng() % 8));
    }
    check_network(terms, guide, "round " + std::to_string(round));
  }
}

using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Whether the folded circuit sends the basis state x where the cz gates
// then the circuit do, with the same phase.
template <class State>
bool folds_exactly(const std::vector<PlacedGate>& gates, const Pairs& cz, const CzAbsorption& folded, const State& x) {
  State a = x, b = x;
  unsigned want = play(gates, a), got = play(folded.gates, b);
  for (const auto& [p, q] : cz) want += 4 * (x[p] && x[q]);
  for (const auto& [p, q] : folded.cz) got += 4 * (x[p] && x[q]);
  for (std::uint32_t q = 0; q < folded.s_powers.size(); ++q) got += 2 * folded.s_powers[q] * x[q];
  return got % 8 == want % 8 && a == b;
}

// The folded circuit is the cz gates then the circuit, on every basis
// state; it leaves fewer cz gates, or returns everything as it was given.
void check_folding(std::uint32_t n, const std::vector<PlacedGate>& gates, const Pairs& cz, const std::string& name) {
  SCOPED_TRACE(name);
  const CzAbsorption folded = absorb_cz(n, gates, cz);
  ASSERT_EQ(folded.s_powers.size(), n);
  if (folded.cz.size() >= cz.size()) {
    EXPECT_EQ(folded.cz, cz);
    EXPECT_EQ(folded.gates.size(), gates.size());
  }
  EXPECT_EQ(cx_in(folded.gates), cx_in(gates));
  EXPECT_TRUE(std::none_of(folded.gates.begin(), folded.gates.end(),
                           [](const PlacedGate& g) { return g.gate == Elementary::CZ; }));
  for (std::uint64_t x = 0; x < (std::uint64_t{1} << n); ++x) {
    ASSERT_TRUE(folds_exactly(gates, cz, folded, Bits(x))) << "x = " << x;
  }
}

// A guide or circuit of other gates, a guide past the wires, a coefficient
// past 7 and a cz pair out of order are faults.
TEST(GuidedNetworkAndCzAbsorption, FaultOnBadInput) {
  const Terms t = ccz();
  const std::vector<PlacedGate> h = {{Elementary::H, 0, 0}}, outside = {cx(0, 3)}, one = {cx(0, 1)};
  const std::vector<std::uint8_t> eight(t.columns.size(), 8);
  const std::function<void()> bad[] = {
      [&] { synthesise_guided_network(3, t.columns, t.coefficients, outside); },
      [&] { synthesise_guided_network(3, t.columns, t.coefficients, h); },
      [&] { synthesise_guided_network(3, t.columns, eight, {}); },
      [&] { absorb_cz(2, h, Pairs{{0, 1}}); },
      [&] { absorb_cz(2, one, Pairs{{1, 0}}); }};
  for (std::size_t k = 0; k < std::size(bad); ++k) EXPECT_NE(fault_of(bad[k]), "no fault") << "row " << k;
}

using Wide = std::bitset<128>;  // a parity, or a basis state, of up to 128 wires

// The sum, over GF(2), of the complete graphs of the parities that `gates`
// puts on a wire after a cx or under a t or tdg, each taken one time in
// two: a graph the folding must fold whole.
Pairs sum_of_visits(std::uint32_t n, const std::vector<PlacedGate>& gates, std::mt19937_64& rng) {
  std::vector<Wide> wires(n);
  for (std::uint32_t q = 0; q < n; ++q) wires[q].set(q);
  std::set<std::pair<std::uint32_t, std::uint32_t>> graph;  // the pairs on an odd number of times
  for (const PlacedGate& g : gates) {
    const bool cx = g.gate == Elementary::CX;
    if (cx) wires[g.b] ^= wires[g.a];
    if ((!cx && g.gate != Elementary::T && g.gate != Elementary::Tdg) || rng() % 2) continue;
    const Wide& parity = wires[cx ? g.b : g.a];
    for (std::uint32_t a = 0; a < n; ++a) {
      for (std::uint32_t b = a + 1; b < n; ++b) {
        if (parity[a] && parity[b] && !graph.erase({a, b})) graph.emplace(a, b);
      }
    }
  }
  return Pairs(graph.begin(), graph.end());
}

// Random circuits, and graphs at random or summed from the circuit's visits
// (a t or tdg turned round, an sdg after a cx, sums of several): every fold
// exact on every basis state, and every graph of visits folded whole.
TEST(CzAbsorption, RandomNetworksAndGraphs) {
  std::mt19937_64 rng(41);
  const Elementary phases[] = {Elementary::T, Elementary::Tdg, Elementary::S, Elementary::Z};
  std::size_t spanned = 0;
  for (int round = 0; round < 400; ++round) {
    const std::uint32_t n = 2 + static_cast<std::uint32_t>(rng() % 9);
    std::vector<PlacedGate> gates;
    const std::size_t length = rng() % (round < 200 ? 16 : 6 * n);
    for (std::size_t k = 0; k < length; ++k) {
      const std::uint32_t c = static_cast<std::uint32_t>(rng() % n);
      if (rng() % 3 == 0) {
        gates.push_back({phases[rng() % 4], c, 0});
        continue;
      }
      gates.push_back(cx(c, static_cast<std::uint32_t>((c + 1 + rng() % (n - 1)) % n)));
    }
    const bool of_visits = round % 2;
    Pairs cz = of_visits ? sum_of_visits(n, gates, rng) : Pairs{};
    for (std::uint32_t a = 0; a < n && !of_visits; ++a) {
      for (std::uint32_t b = a + 1; b < n; ++b) {
        if (rng() % 2) cz.emplace_back(a, b);
      }
    }
    const std::string name = "round " + std::to_string(round);
    check_folding(n, gates, cz, name);
    if (of_visits) {
      spanned += !cz.empty();
      EXPECT_TRUE(absorb_cz(n, gates, cz).cz.empty()) << name;
    }
  }
  EXPECT_GT(spanned, 100u);
}

TEST(CzAbsorption, WideCircuitsFoldEveryReachableGraph) {
  // Parities and pairs spread over several words: the cz gates are a sum
  // of visits' graphs, so all fold; checked on random basis states. Past
  // the deadline the search stops early: fewer fold, and what folds is
  // still exact.
  std::mt19937_64 rng(43);
  for (const std::uint32_t n : {66u, 100u, 128u}) {
    std::vector<PlacedGate> gates;
    for (int k = 0; k < 6 * static_cast<int>(n); ++k) {
      const auto c = static_cast<std::uint32_t>(rng() % n);
      const auto t = static_cast<std::uint32_t>((c + 1 + rng() % (n - 1)) % n);
      gates.push_back(cx(c, t));
      if (rng() % 4 == 0) gates.push_back({rng() % 2 ? Elementary::T : Elementary::Tdg, t, 0});
    }
    const Pairs cz = sum_of_visits(n, gates, rng);
    SCOPED_TRACE("n = " + std::to_string(n));
    ASSERT_GT(cz.size(), 100u);
    const CzAbsorption all = absorb_cz(n, gates, cz);
    EXPECT_TRUE(all.cz.empty());
    const CzAbsorption late = absorb_cz(n, gates, cz, Deadline(std::chrono::nanoseconds(0)));
    EXPECT_FALSE(late.cz.empty());
    for (const CzAbsorption& folded : {all, late}) {
      EXPECT_EQ(cx_in(folded.gates), cx_in(gates));
      ASSERT_EQ(folded.s_powers.size(), n);
      for (int round = 0; round < 300; ++round) {
        Wide x;
        for (std::uint32_t q = 0; q < n; ++q) x[q] = rng() % 2;
        ASSERT_TRUE(folds_exactly(gates, cz, folded, x)) << "round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
