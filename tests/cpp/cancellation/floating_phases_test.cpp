// The cx pairs removed where the phase gates between them can move, and the
// small regions written with the fewest cx gates: on tables of regions that
// do and do not allow it, and on random lists against the dense model
// (tests/model/matrices.h; its matrices, or random states on eight qubits
// and more), global phase included. The fewest-cx search against a plain
// breadth-first walk over every cx sequence.
#include "src/cancellation/floating_phases.h"
#include "src/gf2/fewest_cx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "tests/cpp/helpers.h"
#include "tests/model/matrices.h"

namespace kestrel {
namespace {

using E = Elementary;

struct Passed {
  std::vector<PlacedGate> given, kept;
  std::size_t gone = 0;
  std::uint8_t phase = 0;  // with_phase: given = e^(i phase pi/8) kept
};

// The pass on `items` (barriers on `barrier_qubits`), its additions spliced
// in; `with_phase`: stretches with x gates may be written anew too.
Passed run(const std::vector<CancelItem>& items, const std::vector<std::uint32_t>& barrier_qubits, std::uint32_t n,
           bool with_phase = false) {
  Passed out;
  std::vector<bool> removed(items.size(), false);
  std::vector<Elementary> now;
  for (const CancelItem& item : items) {
    now.push_back(item.gate.gate);
    if (item.count == 0) out.given.push_back(item.gate);
  }
  std::vector<ItemAddition> additions;
  out.gone = cancel_floating_pairs(n, items, barrier_qubits, removed, now, additions, {},
                                   with_phase ? &out.phase : nullptr);
  // Gates are written after gates only: a boundary's statement (a
  // measurement, a conditioned gate) cannot take them.
  for (const ItemAddition& a : additions) EXPECT_EQ(items.at(a.item).count, 0u) << "after item " << a.item;
  const SplicedItems s = splice_items(items, removed, now, additions);
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    if (!s.removed[i] && s.items[i].count == 0) out.kept.push_back({s.now[i], s.items[i].gate.a, s.items[i].gate.b});
  }
  return out;
}

std::vector<CancelItem> parse(const std::string& text, std::vector<std::uint32_t>& barrier_qubits) {
  std::vector<CancelItem> items;
  for (const GateText& op : parse_gates(text)) {
    if (op.name == "b") {
      const auto first = static_cast<std::uint32_t>(barrier_qubits.size());
      items.push_back({{}, first, static_cast<std::uint32_t>(op.qubits.size())});
      barrier_qubits.insert(barrier_qubits.end(), op.qubits.begin(), op.qubits.end());
    } else {
      items.push_back({{gate_named(op.name), op.qubits.at(0), op.qubits.size() > 1 ? op.qubits[1] : 0}, 0, 0});
    }
  }
  return items;
}

std::size_t count(const std::vector<PlacedGate>& gates, const std::function<bool(E)>& kind) {
  return static_cast<std::size_t>(
      std::count_if(gates.begin(), gates.end(), [&](const PlacedGate& g) { return kind(g.gate); }));
}
bool is_cx(E e) { return e == E::CX; }
bool is_t(E e) { return elementary_info(e).t; }

// Whether `a` and `b` take two random states to the same states exactly,
// global phase included: for lists on more qubits than a whole matrix is
// worth.
bool same_on_random_states(std::uint32_t n, const std::vector<PlacedGate>& a, const std::vector<PlacedGate>& b,
                           int eighths) {
  const model::Complex factor = std::polar(1.0, eighths * std::numbers::pi / 8);
  std::mt19937_64 rng(n);
  for (int trial = 0; trial < 2; ++trial) {
    model::State start(std::size_t{1} << n);
    std::normal_distribution<double> normal;
    for (model::Complex& z : start) z = {normal(rng), normal(rng)};
    model::State x = start, y = start;
    for (const auto& [gates, state] : {std::pair{&a, &x}, std::pair{&b, &y}}) {
      for (const PlacedGate& g : *gates) {
        const std::uint32_t on[] = {g.a, g.b};
        model::apply(*state, std::span(on, elementary_info(g.gate).qubits), model::placed_matrix(g));
      }
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (std::abs(x[i] - factor * y[i]) > 1e-9) return false;
    }
  }
  return true;
}

// Whether a = e^(i eighths pi/8) b, global phase included: on up to seven
// qubits by the whole matrices.
bool same(std::uint32_t n, const std::vector<PlacedGate>& a, const std::vector<PlacedGate>& b, int eighths = 0) {
  if (n > 7) return same_on_random_states(n, a, b, eighths);
  return model::equal_up_to(model::product(n, a), model::product(n, b), eighths);
}

struct Case {
  const char* name;
  std::uint32_t n;
  const char* given;
  std::size_t gone;  // cx gates removed
};
const Case kCases[] = {
    // x3 + x4, x2 + x3 + x4, x3 and x2 + x3 on three wires, the identity at the end: four cx, not six.
    {"a Toffoli's phases on three wires", 5,
     "h 4; cx 3 4; tdg 4; cx 2 4; t 4; cx 3 4; cx 2 4; t 3; cx 2 3; tdg 3; cx 2 3; h 4", 2},
    {"the same with an h on a wire between: two regions", 5,
     "h 4; cx 3 4; tdg 4; cx 2 4; t 4; cx 3 4; cx 2 4; h 3; cx 2 3; tdg 3; cx 2 3; h 4", 0},
    // On nine wires the whole stretch is past the search, but its first
    // window (up to a fifth wire) is not: seven cx gates take five.
    {"a window of a wider stretch", 9,
     "h 4; cx 3 4; tdg 4; cx 2 4; t 4; cx 3 4; cx 2 4; t 3; cx 2 3; tdg 3; cx 2 3; cx 5 6; cx 6 7; cx 7 8; cx 8 0; "
     "cx 0 1; h 4",
     2},
    // An x splits it: the window after it takes one cx fewer.
    {"less where an x splits it", 9,
     "h 4; cx 3 4; tdg 4; cx 2 4; t 4; x 3; cx 3 4; cx 2 4; t 3; cx 2 3; tdg 3; cx 2 3; cx 5 6; cx 6 7; cx 7 8; "
     "cx 8 0; cx 0 1; h 4",
     1},
    // The place to write it is before the h; the boundary just before that is passed over.
    {"written before the boundary that precedes a wire's leaving", 5,
     "cx 3 4; tdg 4; cx 2 4; t 4; cx 3 4; cx 2 4; t 3; b 0; h 4; cx 2 3; tdg 3; cx 2 3", 2},
    {"nor across a boundary", 5, "cx 3 4; tdg 4; cx 2 4; t 4; cx 3 4; b 4; cx 2 4; t 3; cx 2 3; tdg 3; cx 2 3", 0},
    // On nine wires (past the search for the fewest): the t on x0 + x1 moves to
    // wire 0 after cx 1 0, so the pair on 0, 1 goes.
    {"a pair whose phase gate finds its parity on another wire", 9,
     "cx 0 1; t 1; cx 0 1; cx 1 0; tdg 0; cx 2 3; cx 3 4; t 4; cx 0 4; cx 4 5; cx 5 6; cx 6 7; cx 7 8; h 0; h 1; h 2; h 3; h 4; h 5; h 6; h 7; h 8", 2},
    {"not where the parity is nowhere else", 9,
     "cx 0 1; t 1; cx 0 1; cx 2 0; tdg 0; cx 2 3; cx 3 4; t 4; cx 0 4; cx 4 5; cx 5 6; cx 6 7; cx 7 8; h 0; h 1; h 2; h 3; h 4; h 5; h 6; h 7; h 8", 0},
    // The pair stays, but the first window (wires 0 to 4) is written with
    // two cx fewer, and without its t and tdg, both on x0 + x1.
    {"nor where a cx between reads the target", 9,
     "cx 0 1; t 1; cx 1 3; cx 0 1; cx 1 0; tdg 0; cx 2 3; cx 3 4; t 4; cx 0 4; cx 4 5; cx 5 6; cx 6 7; cx 7 8; h 0; h 1; h 2; h 3; h 4; h 5; h 6; h 7; h 8", 2},
    // x0 + x1 + 1, with the x on wire 1 kept: wire 0 holds it after cx 1 0.
    {"x on the target passes, the parity found with its constant", 9,
     "cx 0 1; x 1; t 1; cx 0 1; cx 1 0; tdg 0; cx 2 3; cx 3 4; t 4; cx 0 4; cx 4 5; cx 5 6; cx 6 7; cx 7 8; h 0; h 1; h 2; h 3; h 4; h 5; h 6; h 7; h 8", 2},
    {"not with another constant", 9,
     "cx 0 1; x 1; t 1; cx 0 1; x 0; cx 1 0; tdg 0; cx 2 3; cx 3 4; t 4; cx 0 4; cx 4 5; cx 5 6; cx 6 7; cx 7 8; h 0; h 1; h 2; h 3; h 4; h 5; h 6; h 7; h 8", 0},
};

TEST(FloatingPhases, Table) {
  for (const Case& c : kCases) {
    std::vector<std::uint32_t> barrier_qubits;
    const std::vector<CancelItem> items = parse(c.given, barrier_qubits);
    const Passed r = run(items, barrier_qubits, c.n);
    EXPECT_EQ(r.gone, c.gone) << c.name;
    EXPECT_EQ(count(r.given, is_cx) - count(r.kept, is_cx), c.gone) << c.name;
    EXPECT_LE(count(r.kept, is_t), count(r.given, is_t)) << c.name;
    EXPECT_TRUE(same(c.n, r.kept, r.given)) << c.name;
  }
}

// Random lists of cx gates (often repeats of a recent one, so that pairs
// meet), phase gates, and (every other list) x, and now and then h, cz or a
// boundary, on 3 to 10 qubits: the pass keeps the matrix exactly (from 8
// qubits on, checked on random states), never adds a T gate or a cx, and
// removes some cx on few wires (the search for the fewest) and on many (the
// networks and the pairs).
TEST(FloatingPhases, RandomListsKeepTheirMatrix) {
  std::mt19937_64 rng(5);
  const E phases[] = {E::T, E::Tdg, E::S, E::Sdg, E::Z};
  std::size_t gone_few = 0, gone_many = 0, phased = 0;
  for (int round = 0; round < 300; ++round) {
    const auto n = static_cast<std::uint32_t>(3 + round % 8);
    std::vector<CancelItem> items;
    std::vector<std::uint32_t> barrier_qubits;
    std::vector<PlacedGate> recent;
    const bool stretch = round % 2;
    for (int k = 0, size = (stretch ? 40 : 10) + static_cast<int>(rng() % 40); k < size; ++k) {
      const auto a = static_cast<std::uint32_t>(rng() % n);
      const auto b = (a + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
      // Every other round one longer stretch of cx and phase gates alone.
      unsigned kind = rng() % 20;
      if (stretch && kind >= 11) kind = 15;  // a new cx
      PlacedGate g{E::CX, a, b};
      if (kind < 4 && !recent.empty()) g = recent[rng() % recent.size()];
      else if (kind < 11) g = {phases[rng() % 5], a, 0};
      else if (kind == 11) g = {E::X, a, 0};
      else if (kind == 12) g = {E::H, a, 0};
      else if (kind == 13) g = {E::CZ, a, b};
      if (kind == 14) {
        items.push_back({{}, static_cast<std::uint32_t>(barrier_qubits.size()), 1});
        barrier_qubits.push_back(a);
        continue;
      }
      items.push_back({g, 0, 0});
      if (g.gate == E::CX) recent.push_back(g);
      if (recent.size() > 4) recent.erase(recent.begin());
    }
    // Every third round the stretches with x gates may be written anew,
    // their x gates' constants moved into the phase reported.
    const bool with_phase = round % 3 == 0;
    const Passed r = run(items, barrier_qubits, n, with_phase);
    ASSERT_TRUE(same(n, r.kept, r.given, -r.phase)) << "round " << round;
    EXPECT_LE(count(r.kept, is_t), count(r.given, is_t)) << "round " << round;
    EXPECT_EQ(count(r.given, is_cx) - count(r.kept, is_cx), r.gone) << "round " << round;
    (n <= kFewestCxWires ? gone_few : gone_many) += r.gone;
    phased += r.phase != 0;
  }
  EXPECT_GT(gone_few, 20u);
  EXPECT_GT(gone_many, 20u);
  EXPECT_GT(phased, 0u);
}

// Phases of a Toffoli gate's target and of its controls' sum, with an x on
// a control before them: the stretch is written with four cx gates and the
// x at its end, the phase gates on x3 + 1 and its sums becoming their
// inverses on x3 and its sums, the phase taking the difference (tdg, t and
// tdg on parities with a constant: e^(-i pi/4)); without a phase to report
// the stretch keeps its x and is written window by window.
TEST(FloatingPhases, StretchWithAnXMovesItsConstantsIntoThePhase) {
  const char* text = "h 4; x 3; cx 3 4; tdg 4; cx 2 4; t 4; cx 3 4; cx 2 4; cx 2 3; tdg 3; cx 2 3; h 4";
  std::vector<std::uint32_t> barrier_qubits;
  const std::vector<CancelItem> items = parse(text, barrier_qubits);
  const Passed r = run(items, barrier_qubits, 5, true);
  EXPECT_EQ(r.gone, 2u);
  EXPECT_EQ(r.phase, 14u);
  EXPECT_TRUE(same(5, r.kept, r.given, -r.phase));
  EXPECT_EQ(count(r.kept, [](E e) { return e == E::X; }), 1u);
  const Passed without = run(items, barrier_qubits, 5);
  EXPECT_EQ(without.phase, 0u);
  EXPECT_TRUE(same(5, without.kept, without.given));
}

// The fewest cx gates on n wires that end at `map` having met every parity
// of `parities`, by a plain breadth-first walk over the wires' values and
// the parities met (no bound, no order), or nothing within `most` gates.
// A state: the rows, eight bits each, and the mask of parities met.
std::optional<std::size_t> fewest_by_breadth(std::uint32_t n, const std::vector<std::uint8_t>& map,
                                             const std::vector<std::uint8_t>& parities, std::size_t most) {
  using State = std::pair<std::uint64_t, std::uint32_t>;
  const auto row = [](std::uint64_t rows, std::uint32_t w) { return (rows >> (8 * w)) & 255; };
  const auto meet = [&](State s) {
    for (std::size_t k = 0; k < parities.size(); ++k) {
      for (std::uint32_t w = 0; w < n; ++w) {
        if (row(s.first, w) == parities[k]) s.second |= 1u << k;
      }
    }
    return s;
  };
  State start{0, 0}, goal{0, (1u << parities.size()) - 1};
  for (std::uint32_t w = 0; w < n; ++w) {
    start.first |= std::uint64_t{1} << (w + 8 * w);
    goal.first |= std::uint64_t{map[w]} << (8 * w);
  }
  std::set<State> seen{meet(start)};
  std::vector<State> level{meet(start)};
  for (std::size_t length = 0; length <= most; ++length) {
    if (std::find(level.begin(), level.end(), goal) != level.end()) return length;
    std::vector<State> next;
    for (const State& s : level) {
      for (std::uint32_t c = 0; c < n; ++c) {
        for (std::uint32_t t = 0; t < n; ++t) {
          if (c == t) continue;
          const State after = meet({s.first ^ (row(s.first, c) << (8 * t)), s.second});
          if (seen.insert(after).second) next.push_back(after);
        }
      }
    }
    level = std::move(next);
  }
  return std::nullopt;
}

TEST(FewestCx, MatchesABreadthFirstWalk) {
  std::mt19937_64 rng(3);
  FewestCxSearch search;
  for (int round = 0; round < 84; ++round) {
    // On two to eight wires; a map and parities that some random sequence
    // of up to six cx (five on five wires, four on six, three on more) meets.
    const auto n = static_cast<std::uint32_t>(2 + round % 7);
    const int longest = n <= 4 ? 6 : n == 5 ? 5 : n == 6 ? 4 : 3;
    std::vector<std::uint8_t> rows;
    for (std::uint32_t w = 0; w < n; ++w) rows.push_back(static_cast<std::uint8_t>(1u << w));
    std::vector<std::uint8_t> seen;
    for (int k = 0, length = static_cast<int>(rng() % (longest + 1)); k < length; ++k) {
      const auto c = static_cast<std::uint32_t>(rng() % n);
      const auto t = (c + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
      rows[t] ^= rows[c];
      if (rng() % 2 && std::find(seen.begin(), seen.end(), rows[t]) == seen.end()) seen.push_back(rows[t]);
    }
    const FewestCxQuestion question{n, rows, seen, 8};
    const std::optional<FewestCxAnswer> answer = fewest_cx(question, search);
    ASSERT_TRUE(answer) << "round " << round;
    // The answer replays to the map, meeting each parity where it says.
    std::vector<std::uint8_t> replay;
    for (std::uint32_t w = 0; w < n; ++w) replay.push_back(static_cast<std::uint8_t>(1u << w));
    for (std::size_t k = 0; k < seen.size(); ++k) {
      std::vector<std::uint8_t> at = replay;
      for (std::uint32_t g = 0; g < answer->met[k].first; ++g) at[answer->cx[g].second] ^= at[answer->cx[g].first];
      EXPECT_EQ(at[answer->met[k].second], seen[k]) << "round " << round;
    }
    for (const auto& [c, t] : answer->cx) replay[t] ^= replay[c];
    EXPECT_EQ(replay, rows) << "round " << round;
    // No shorter sequence does it.
    EXPECT_EQ(fewest_by_breadth(n, rows, seen, static_cast<std::size_t>(longest)), answer->cx.size())
        << "round " << round;
    // Asked for fewer than that, there is no answer.
    EXPECT_FALSE(fewest_cx({n, rows, seen, answer->cx.size()}, search)) << "round " << round;
  }
  // The Toffoli's parities: four cx.
  const std::optional<FewestCxAnswer> toffoli = fewest_cx({3, {1, 2, 4}, {6, 7, 3}, 6}, search);
  ASSERT_TRUE(toffoli);
  EXPECT_EQ(toffoli->cx.size(), 4u);
}

}  // namespace
}  // namespace kestrel
