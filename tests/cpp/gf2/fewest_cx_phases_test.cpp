// Stretches' phase gates written on the fewest cx gates, against a diagonal
// model: a writing sends each basis state x of its wires to a basis state
// with a phase, so playing it on every x (wires as bits, the phase in
// eighths of 2 pi) gives its whole action, which must be the map's and the
// phase gates' as given, exactly.
#include "src/gf2/fewest_cx_phases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel {
namespace {

// The phase, in eighths, that the phase gates put on input x.
int wanted_phase(const std::vector<StretchPhase>& phases, unsigned x) {
  int phase = 0;
  for (const StretchPhase& ph : phases) phase += ph.power * (std::popcount(ph.parity & x) % 2);
  return ((phase % 8) + 8) % 8;
}

// Plays `w` on every input: the map reached and the phase put; the T gates
// and the gates in all it writes.
struct Played {
  bool exact = true;
  std::size_t t = 0, gates = 0;
};
Played play(const PhaseWriting& w, std::uint32_t n, const std::vector<std::uint8_t>& map,
            const std::vector<StretchPhase>& phases) {
  Played out;
  for (const PhaseWriting::Phase& ph : w.phases) {
    for (std::size_t k = 0; k < phase_gates(ph.power).count; ++k) {
      const Elementary g = phase_gates(ph.power).gates[k];
      out.t += g == Elementary::T || g == Elementary::Tdg;
      ++out.gates;
    }
  }
  out.gates += w.cx.size();
  for (unsigned x = 0; x < (1u << n); ++x) {
    std::vector<std::uint8_t> rows(n);
    for (std::uint32_t i = 0; i < n; ++i) rows[i] = static_cast<std::uint8_t>(1u << i);
    int phase = 0;
    std::size_t next = 0;
    for (std::uint32_t step = 0; step <= w.cx.size(); ++step) {
      if (step > 0) rows[w.cx[step - 1].second] ^= rows[w.cx[step - 1].first];
      for (; next < w.phases.size() && w.phases[next].after == step; ++next) {
        phase += w.phases[next].power * (std::popcount(rows[w.phases[next].wire] & x) % 2);
      }
    }
    out.exact = out.exact && next == w.phases.size() && rows == map &&
                ((phase % 8) + 8) % 8 == wanted_phase(phases, x);
  }
  return out;
}

// Odd parities among the phases: the T gates any writing needs.
std::size_t odd_parities(const std::vector<StretchPhase>& phases) {
  std::vector<int> power(256, 0);
  for (const StretchPhase& ph : phases) power[ph.parity] += ph.power;
  std::size_t odd = 0;
  for (int p : power) odd += (p % 2 != 0);
  return odd;
}

// The T gates of the phases as given.
std::size_t t_gates(const std::vector<StretchPhase>& phases) {
  std::size_t t = 0;
  for (const StretchPhase& ph : phases) t += ph.power % 2 != 0;
  return t;
}

struct Case {
  std::string name;
  std::uint32_t n;
  std::vector<std::uint8_t> map;
  std::vector<StretchPhase> phases;
  std::size_t below;
  std::optional<std::size_t> cx;  // the writing's cx gates, or none found
};

TEST(FewestCxPhases, Table) {
  // Wires 0, 1, 2 hold a control c, the other control d and the target t
  // of a Toffoli network written twice on one target and one control, as
  // the phases merge: t ^ d, t ^ d ^ c and d ^ c tdg, t and c t; t ^ c sdg,
  // t and c s (a CZ on c and t, up to S gates).
  const std::vector<StretchPhase> twice = {{6, -1}, {7, 1}, {5, -2}, {4, 2}, {2, 1}, {1, 2}, {3, -1}};
  const std::vector<Case> cases = {
      {"the doubled Toffoli: four cx where its phases as they are take six", 3, {1, 2, 4}, twice, 7, 4},
      {"the same asked for fewer than four: none", 3, {1, 2, 4}, twice, 4, std::nullopt},
      // A Toffoli's seven T gates: all odd, the search as before: six cx
      // gates meet all seven parities.
      {"a Toffoli's parities", 3, {1, 2, 4}, {{6, 7}, {7, 1}, {3, 7}, {1, 1}, {2, 1}, {4, 1}, {5, 7}}, 7, 6},
      {"a Toffoli's parities asked of its targets' three", 3, {1, 2, 4}, {{6, 7}, {7, 1}, {3, 7}}, 6, 4},
      // A CZ alone (S on x0, x1, S-dagger on x0 ^ x1): its pairs need a
      // visit of x0 ^ x1, two cx, as the phases as they are take.
      {"a CZ as phase gates", 2, {1, 2}, {{1, 2}, {2, 2}, {3, -2}}, 3, 2},
      // t then tdg on one parity: nothing to write but the map.
      {"gates that cancel on x0 ^ x1", 2, {1, 2}, {{3, 1}, {3, -1}}, 2, 0},
      // With the map a swap's, three cx either way: the T gates go.
      {"the same with the map a swap's", 2, {2, 1}, {{3, 1}, {3, -1}}, 4, 3},
  };
  for (const Case& c : cases) {
    PhaseSearches search;
    const std::optional<PhaseWriting> w = write_on_fewest_cx(c.n, c.map, c.phases, c.below, search);
    ASSERT_EQ(w.has_value(), c.cx.has_value()) << c.name;
    if (!w) continue;
    EXPECT_EQ(w->cx.size(), *c.cx) << c.name;
    const Played p = play(*w, c.n, c.map, c.phases);
    EXPECT_TRUE(p.exact) << c.name;
    EXPECT_EQ(p.t, odd_parities(c.phases)) << c.name;
  }
}

TEST(FewestCxPhases, RandomStretchesAreWrittenExactly) {
  std::mt19937_64 rng(11);
  std::size_t fewer = 0;
  for (int round = 0; round < 300; ++round) {
    // A random stretch on two to six wires: cx gates and phase gates
    // (mostly s, sdg and z besides t and tdg, so that parities repeat and
    // powers add up to even ones).
    const auto n = static_cast<std::uint32_t>(2 + round % 5);
    std::vector<std::uint8_t> rows(n);
    for (std::uint32_t i = 0; i < n; ++i) rows[i] = static_cast<std::uint8_t>(1u << i);
    std::vector<StretchPhase> phases;
    std::size_t cx = 0;
    const int length = 4 + static_cast<int>(rng() % 12);
    for (int k = 0; k < length; ++k) {
      const auto w = static_cast<std::uint32_t>(rng() % n);
      if (rng() % 2) {
        const auto t = (w + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
        rows[t] ^= rows[w];
        ++cx;
      } else {
        static constexpr std::int8_t kPowers[] = {1, -1, 2, -2, 4, 2, -2};
        phases.push_back({rows[w], kPowers[rng() % 7]});
      }
    }
    PhaseSearches search;
    const std::optional<PhaseWriting> w = write_on_fewest_cx(n, rows, phases, cx, search);
    if (!w) continue;
    const Played p = play(*w, n, rows, phases);
    ASSERT_TRUE(p.exact) << "round " << round;
    EXPECT_LT(w->cx.size(), cx) << "round " << round;
    // No more T gates than given, and none that only cancel.
    EXPECT_LE(p.t, t_gates(phases)) << "round " << round;
    EXPECT_GE(p.t, odd_parities(phases)) << "round " << round;
    // Never more gates than the stretch as it was.
    EXPECT_LE(p.gates, cx + [&] {
      std::size_t g = 0;
      for (const StretchPhase& ph : phases) g += phase_gates(ph.power).count;
      return g;
    }()) << "round " << round;
    // Against the phases as they are: never more cx gates.
    FewestCxQuestion as_they_are{n, rows, {}, cx};
    for (const StretchPhase& ph : phases) {
      if (std::find(as_they_are.parities.begin(), as_they_are.parities.end(), ph.parity) ==
          as_they_are.parities.end()) {
        as_they_are.parities.push_back(ph.parity);
      }
    }
    if (as_they_are.parities.size() > kFewestCxParities) continue;
    FewestCxSearch other;
    const std::optional<FewestCxAnswer> plain = fewest_cx(as_they_are, other);
    if (plain) {
      EXPECT_LE(w->cx.size(), plain->cx.size()) << "round " << round;
      fewer += w->cx.size() < plain->cx.size();
    }
  }
  // The odd part pays on some of them.
  EXPECT_GT(fewer, 0u);
}

}  // namespace
}  // namespace kestrel
