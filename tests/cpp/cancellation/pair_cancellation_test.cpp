// The pair cancellation on tables of gates that commute or do not, with and
// without boundaries, and on random gate lists against a dense model: the
// gates kept must multiply to the same 2^n x 2^n matrix as those given
// (global phase included) in the shared model (tests/model/matrices.h);
// with T gates joined, the gates as left; then with cz gates made phases on
// a passing network (src/cancellation/cz_to_phases.h); then with the pairs
// that meet across h gates gone (src/cancellation/pairs_across_h.h), those
// that meet agreeing on one qubit merged (src/cancellation/pair_merging.h)
// and the phase gates that meet joined (src/cancellation/phase_joining.h).
#include "src/cancellation/pair_cancellation.h"
#include "src/cancellation/cz_to_phases.h"
#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_merging.h"
#include "src/cancellation/pairs_across_h.h"
#include "src/cancellation/phase_joining.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/cpp/helpers.h"
#include "tests/model/matrices.h"

namespace kestrel {
namespace {

PlacedGate g1(Elementary e, std::uint32_t q) { return {e, q, 0}; }
PlacedGate g2(Elementary e, std::uint32_t a, std::uint32_t b) { return {e, a, b}; }
CancelItem gate(PlacedGate g) { return {g, 0, 0}; }
std::vector<CancelItem> items_of(const std::vector<PlacedGate>& gates) {
  std::vector<CancelItem> items;
  for (const PlacedGate& g : gates) items.push_back(gate(g));
  return items;
}
PlacedGate rotation(Elementary e, std::uint32_t q) { return {e, q, 0, 0.3}; }

// Whether two lists of gates on n qubits multiply to the same matrix
// (tests/model/matrices.h), global phase included.
bool same(const std::vector<PlacedGate>& a, const std::vector<PlacedGate>& b, std::uint32_t n) {
  return model::equal_up_to(model::product(n, a), model::product(n, b), 0);
}

// The gates kept, barriers left out, each as `now` has it when given.
std::vector<PlacedGate> kept_gates(const std::vector<CancelItem>& items, const std::vector<bool>& removed,
                                   const std::vector<Elementary>* now = nullptr) {
  std::vector<PlacedGate> out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (removed[i] || items[i].count != 0) continue;
    out.push_back(items[i].gate);
    if (now != nullptr) out.back().gate = (*now)[i];  // a one-qubit gate acts on `a`
  }
  return out;
}

// How many two-qubit gates and how many T gates a list holds.
struct Counts {
  std::size_t two_qubit = 0, t = 0;
};
Counts counts(const std::vector<PlacedGate>& gates) {
  Counts c;
  for (const PlacedGate& g : gates) c.two_qubit += elementary_info(g.gate).qubits == 2, c.t += elementary_info(g.gate).t;
  return c;
}

// The pairs that cancel, and how; then (`join`) with T gates joined and cx
// pairs around S powers made cz gates. A pair cancelled where it should
// not be changes the matrix, which RandomListsKeepTheirMatrix checks on
// lists of the same gates.
TEST(PairCancellation, PairsThroughCommutingGates) {
  using E = Elementary;
  struct Case {
    std::string name;
    bool join;
    std::vector<PlacedGate> gates;
    std::vector<Elementary> left;  // the gates kept, in order
  };
  const std::vector<Case> cases = {
      {"adjacent cx", false, {g2(E::CX, 0, 1), g2(E::CX, 0, 1)}, {}},
      {"through a shared control", false, {g2(E::CX, 0, 1), g2(E::CX, 0, 2), g2(E::CX, 0, 1)}, {E::CX}},
      {"through a shared target", false, {g2(E::CX, 0, 2), g2(E::CX, 1, 2), g2(E::CX, 0, 2)}, {E::CX}},
      {"through t on the control", false, {g2(E::CX, 0, 1), g1(E::T, 0), g2(E::CX, 0, 1)}, {E::T}},
      {"through x on the target", false, {g2(E::CX, 0, 1), g1(E::X, 1), g2(E::CX, 0, 1)}, {E::X}},
      {"cz either way round, through s", false, {g2(E::CZ, 0, 1), g1(E::S, 1), g2(E::CZ, 1, 0)}, {E::S}},
      {"nested pairs", false, {g2(E::CX, 0, 1), g2(E::CX, 1, 2), g2(E::CX, 1, 2), g2(E::CX, 0, 1)}, {}},
      {"one-qubit inverses", false,
       {g1(E::T, 0), g1(E::Tdg, 0), g1(E::S, 1), g1(E::Sdg, 1), g1(E::H, 2), g1(E::H, 2)}, {}},
      {"swap either way round", false, {g2(E::Swap, 0, 1), g2(E::Swap, 1, 0)}, {}},
      {"through rz on the control", false, {g2(E::CX, 0, 1), rotation(E::Rz, 0), g2(E::CX, 0, 1)}, {E::Rz}},
      {"through rx on the target", false, {g2(E::CX, 0, 1), rotation(E::Rx, 1), g2(E::CX, 0, 1)}, {E::Rx}},
      {"tdg tdg through a control is sdg", true, {g1(E::Tdg, 0), g2(E::CX, 0, 1), g1(E::Tdg, 0)}, {E::Sdg, E::CX}},
      {"t tdg still cancel", true, {g1(E::T, 0), g1(E::S, 0), g1(E::Tdg, 0)}, {E::S}},
      {"t t t: s then t", true, {g1(E::T, 0), g1(E::T, 0), g1(E::T, 0)}, {E::S, E::T}},
      {"cx s cx is cz, s, s", true, {g2(E::CX, 0, 1), g1(E::S, 1), g2(E::CX, 0, 1)}, {E::CZ, E::S, E::S}},
      {"cx z cx is z z", true, {g2(E::CX, 0, 1), g1(E::Z, 1), g2(E::CX, 0, 1)}, {E::Z, E::Z}},
      {"cx s sdg cx: the s pair goes first, then the cx pair", true,
       {g2(E::CX, 0, 1), g1(E::S, 1), g1(E::Sdg, 1), g2(E::CX, 0, 1)}, {}},
      {"cx sdg sdg s cx past t on the control", true,
       {g2(E::CX, 0, 1), g1(E::T, 0), g1(E::Sdg, 1), g1(E::Sdg, 1), g1(E::S, 1), g2(E::CX, 0, 1)},
       {E::CZ, E::T, E::Sdg, E::Sdg}},
  };
  for (const Case& c : cases) {
    const std::vector<CancelItem> items = items_of(c.gates);
    std::vector<Elementary> now;
    const std::vector<bool> removed = cancel_gate_pairs(3, items, {}, c.join ? &now : nullptr, c.join);
    ASSERT_TRUE(!c.join || now.size() == items.size()) << c.name;
    const std::vector<PlacedGate> kept = kept_gates(items, removed, c.join ? &now : nullptr);
    std::vector<Elementary> names;
    for (const PlacedGate& g : kept) names.push_back(g.gate);
    EXPECT_EQ(names, c.left) << c.name;
    EXPECT_TRUE(same(kept, c.gates, 3)) << c.name;
  }
}

// A Toffoli's network on target w with controls a and b: w holds w^b,
// w^a^b, w^a and w at the four phase gates `at` (in that order).
std::vector<PlacedGate> network(std::uint32_t a, std::uint32_t b, std::uint32_t w,
                                const std::vector<Elementary>& at) {
  using E = Elementary;
  return {g2(E::CX, b, w), g1(at[0], w), g2(E::CX, a, w), g1(at[1], w),
          g2(E::CX, b, w), g1(at[2], w), g2(E::CX, a, w), g1(at[3], w)};
}

std::vector<PlacedGate> joined(std::vector<std::vector<PlacedGate>> parts) {
  std::vector<PlacedGate> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The pair cancellation with T gates joined and cx pairs around S powers
// made cz gates, then cz gates made phases, then (with `across_h`) the
// pairs that meet across h gates gone and those that meet agreeing on one
// qubit merged, and the phase gates that meet joined: the gates kept, as
// left.
std::vector<PlacedGate> cancelled(const std::vector<CancelItem>& items, std::span<const std::uint32_t> barrier_qubits,
                                  std::uint32_t n, std::size_t* dissolved = nullptr,
                                  std::size_t* across_h = nullptr, std::size_t* merged = nullptr) {
  std::vector<Elementary> now;
  std::vector<bool> removed = cancel_gate_pairs(n, items, barrier_qubits, &now, true);
  const std::size_t gone = cz_to_phases(n, items, barrier_qubits, removed, now);
  if (dissolved != nullptr) *dissolved = gone;
  std::vector<ItemAddition> additions;
  if (across_h != nullptr) {
    *across_h = cancel_pairs_across_h(n, items, barrier_qubits, removed, now);
    *merged = merge_pairs(n, items, barrier_qubits, removed, now, additions);
  }
  SplicedItems s = splice_items(items, removed, now, additions);
  join_phase_runs(n, s.items, barrier_qubits, s.removed, s.now);
  return kept_gates(s.items, s.removed, &s.now);
}

// Where a cz must stay at the gates RandomNetworksAndCzGatesKeepTheirMatrix
// draws, dissolving it changes the matrix, which that test checks.
TEST(PairCancellation, CzGatesBecomePhasesOnANetworkThatPassesTheirParities) {
  using E = Elementary;
  const std::vector<E> toffoli = {E::Tdg, E::T, E::Tdg, E::T};
  const std::vector<E> inverse = {E::T, E::Tdg, E::T, E::Tdg};
  struct Case {
    std::string name;
    std::vector<PlacedGate> gates;
    std::size_t two_qubit;  // two-qubit gates kept
  };
  const std::vector<Case> cases = {
      {"after the network", joined({network(0, 1, 2, toffoli), {g2(E::CZ, 0, 1)}}), 4},
      {"before it, either way round", joined({{g2(E::CZ, 1, 0)}, network(0, 1, 2, toffoli)}), 4},
      {"the inverse phases", joined({network(0, 1, 2, inverse), {g2(E::CZ, 0, 1)}}), 4},
      {"past phases and controls on its qubits",
       joined({network(0, 1, 2, toffoli), {g1(E::T, 0), g2(E::CX, 1, 3), g2(E::CZ, 0, 1)}}), 5},
      {"s, sdg and z take either sign",
       joined({network(0, 1, 2, {E::S, E::Sdg, E::Z, E::S}), {g2(E::CZ, 0, 1)}}), 4},
      {"a run after h on the target", joined({{g1(E::H, 2)}, network(0, 1, 2, toffoli), {g2(E::CZ, 0, 1)}}), 4},
      {"beside a cx from its first qubit, into s and sdg gates",
       {g1(E::S, 1), g2(E::CX, 0, 1), g1(E::Sdg, 1), g1(E::Sdg, 0), g2(E::CZ, 0, 1)}, 1},
      {"beside a cx, into t and tdg gates",
       {g1(E::T, 1), g2(E::CX, 0, 1), g1(E::Tdg, 1), g1(E::Tdg, 0), g2(E::CZ, 0, 1)}, 1},
      {"before a cx from its second qubit",
       {g1(E::Tdg, 1), g1(E::S, 0), g2(E::CZ, 0, 1), g2(E::CX, 1, 0), g1(E::Sdg, 0)}, 1},
  };
  for (const Case& c : cases) {
    const std::vector<CancelItem> items = items_of(c.gates);
    const std::vector<PlacedGate> kept = cancelled(items, {}, 4);
    EXPECT_EQ(counts(kept).two_qubit, c.two_qubit) << c.name;
    EXPECT_EQ(counts(kept).t, counts(c.gates).t) << c.name;
    EXPECT_LE(kept.size(), c.gates.size()) << c.name;
    EXPECT_TRUE(same(kept, c.gates, 4)) << c.name;
  }
  // A boundary on one of the cz's qubits between it and the network, or on
  // the target inside the network, keeps it; one elsewhere does not.
  const std::vector<std::uint32_t> qubits = {0, 2, 3};
  const std::size_t at[] = {8, 4, 4};  // where each goes among the network's gates
  for (std::uint32_t on = 0; on < 3; ++on) {
    std::vector<CancelItem> items = items_of(network(0, 1, 2, toffoli));
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at[on]), CancelItem{{}, on, 1});
    items.push_back(gate(g2(E::CZ, 0, 1)));
    std::size_t dissolved = 0;
    cancelled(items, qubits, 4, &dissolved);
    EXPECT_EQ(dissolved, on == 2 ? 1u : 0u) << "a boundary on qubit " << qubits[on];
  }
}

// The tables below hold what each pass does, and where boundaries, y and
// swap gates stop it; where it must stop at the gates that
// RandomNetworksAndCzGatesKeepTheirMatrix draws (h, phases, cx, cz, x),
// going on changes the matrix, which that test checks.

// One pass (join_phase_runs, cancel_pairs_across_h or merge_pairs) on
// `items` as given, on 3 qubits: the gates given, those kept (as left, with
// the pass's additions spliced in), and how many went (or merged) by the
// pass's own count.
struct PassRun {
  std::vector<PlacedGate> given, kept;
  std::size_t gone = 0;
};

template <class Pass>
PassRun run_pass(const Pass& pass, const std::vector<CancelItem>& items,
                 const std::vector<std::uint32_t>& barrier_qubits) {
  std::vector<bool> removed(items.size(), false);
  std::vector<Elementary> now;
  for (const CancelItem& item : items) now.push_back(item.gate.gate);
  PassRun out;
  std::vector<ItemAddition> additions;
  if constexpr (std::is_invocable_v<Pass, std::uint32_t, const std::vector<CancelItem>&,
                                    const std::vector<std::uint32_t>&, std::vector<bool>&,
                                    std::vector<Elementary>&, std::vector<ItemAddition>&>) {
    out.gone = pass(3, items, barrier_qubits, removed, now, additions);
  } else {
    out.gone = pass(3, items, barrier_qubits, removed, now);
  }
  const SplicedItems s = splice_items(items, removed, now, additions);
  out.given = kept_gates(items, std::vector<bool>(items.size(), false));
  out.kept = kept_gates(s.items, s.removed, &s.now);
  return out;
}

TEST(PairCancellation, PhaseGatesThatMeetJoinIntoTheFewest) {
  using E = Elementary;
  const CancelItem barrier{{}, 0, 1};  // on qubit 0
  struct Case {
    std::string name;
    std::vector<CancelItem> items;
    std::vector<E> kept;  // the gates kept, in order
  };
  const std::vector<Case> cases = {
      {"s and sdg go", {gate(g1(E::S, 0)), gate(g1(E::Sdg, 0))}, {}},
      {"across a cx's control", {gate(g1(E::S, 0)), gate(g2(E::CX, 0, 1)), gate(g1(E::Sdg, 0))}, {E::CX}},
      {"across cz and rz", {gate(g1(E::T, 0)), gate(g2(E::CZ, 1, 0)), gate(rotation(E::Rz, 0)), gate(g1(E::Tdg, 0))},
       {E::CZ, E::Rz}},
      {"z and sdg make s", {gate(g1(E::Z, 0)), gate(g1(E::Sdg, 0))}, {E::S}},
      {"two t make s", {gate(g1(E::T, 0)), gate(g2(E::CX, 0, 2)), gate(g1(E::T, 0))}, {E::S, E::CX}},
      {"four sdg go", std::vector<CancelItem>(4, gate(g1(E::Sdg, 0))), {}},
      {"t and s stay: already the fewest", {gate(g1(E::T, 0)), gate(g1(E::S, 0))}, {E::T, E::S}},
      {"not across a boundary", {gate(g1(E::S, 0)), barrier, gate(g1(E::Sdg, 0))}, {E::S, E::Sdg}},
      {"a boundary elsewhere", {gate(g1(E::S, 1)), barrier, gate(g1(E::Sdg, 1))}, {}},
  };
  const std::vector<std::uint32_t> barrier_qubits = {0};
  for (const Case& c : cases) {
    const PassRun r = run_pass(join_phase_runs, c.items, barrier_qubits);
    std::vector<E> kept_gates;
    for (const PlacedGate& g : r.kept) kept_gates.push_back(g.gate);
    EXPECT_EQ(kept_gates, c.kept) << c.name;
    EXPECT_EQ(r.gone, r.given.size() - r.kept.size()) << c.name;
    EXPECT_TRUE(same(r.kept, r.given, 3)) << c.name;
  }
}

// Pairs that meet across h gates go (cancel_pairs_across_h); pairs that
// meet agreeing on one qubit merge into one gate (merge_pairs).
TEST(PairCancellation, PairsMeetAcrossHOrMerge) {
  using E = Elementary;
  const CancelItem on_1{{}, 0, 1}, on_2{{}, 1, 1};  // a boundary (a measurement, a conditioned gate)
  enum Pass { AcrossH, Merge };
  struct Case {
    std::string name;
    Pass pass;
    std::vector<CancelItem> items;
    std::size_t two_qubit;  // two-qubit gates kept
  };
  const auto cx = [](std::uint32_t a, std::uint32_t b) { return gate(g2(E::CX, a, b)); };
  const auto one = [](E e, std::uint32_t q) { return gate(g1(e, q)); };
  const auto cz = gate(g2(E::CZ, 0, 1)), h0 = one(E::H, 0), h1 = one(E::H, 1);
  const std::vector<Case> cases = {
      {"a cz past sdg and h is the cx", AcrossH, {cz, one(E::Sdg, 1), h1, cx(0, 1)}, 0},
      {"h on both qubits turn a cx round", AcrossH, {h0, h1, cx(1, 0), h0, h1, cx(0, 1)}, 0},
      {"past x where the letter is X", AcrossH, {cz, h1, one(E::X, 1), cx(0, 1)}, 0},
      {"past a cx's control where the letter is Z", AcrossH, {cz, cx(0, 2), h1, cx(0, 1)}, 1},
      {"past a cx's target where the letter is X", AcrossH, {cz, h1, cx(2, 1), cx(0, 1)}, 1},
      {"not past a boundary", AcrossH, {cz, on_1, h1, cx(0, 1)}, 2},
      {"not past y", AcrossH, {cz, h1, one(E::Y, 1), cx(0, 1)}, 2},
      {"cx then cz: Z on the control", Merge, {cx(0, 1), cz}, 1},
      {"cz then cx", Merge, {cz, cx(0, 1)}, 1},
      {"cz then cx from the other qubit", Merge, {cz, cx(1, 0)}, 1},
      {"a cx turned round across h on its control", Merge, {cx(1, 0), h1, cx(0, 1)}, 1},
      {"X on the shared qubit at both places", Merge, {cx(1, 0), h1, cx(1, 0)}, 1},
      {"at the later place: h gates alone on the other qubit", Merge, {cx(1, 0), h0, h1, cz}, 1},
      {"at the earlier place: an s on the other qubit", Merge, {cx(1, 0), h0, h1, one(E::S, 1), cz}, 1},
      {"past t and x where they commute", Merge, {cx(0, 1), one(E::T, 0), h1, one(E::X, 1), cx(0, 1)}, 1},
      {"past a cx's control on a third qubit", Merge, {cz, cx(0, 2), cx(0, 1)}, 2},
      {"not past a swap on its qubits", Merge, {cz, gate(g2(E::Swap, 0, 1)), cx(0, 1)}, 3},
      {"not past y", Merge, {cz, one(E::Y, 0), cx(0, 1)}, 2},
      {"not across a boundary on one of its qubits", Merge, {cx(0, 1), on_1, cz}, 2},
      {"across one elsewhere", Merge, {cx(0, 1), on_2, cz}, 1},
      {"not with letters agreeing on both: left to the cancellation", Merge, {cx(0, 1), cx(0, 1)}, 2},
      {"not again across a merged pair", Merge, {cx(0, 1), cz, cx(0, 1)}, 2},
  };
  const std::vector<std::uint32_t> barrier_qubits = {1, 2};
  for (const Case& c : cases) {
    const PassRun r = c.pass == AcrossH ? run_pass(cancel_pairs_across_h, c.items, barrier_qubits)
                                        : run_pass(merge_pairs, c.items, barrier_qubits);
    const Counts given = counts(r.given), kept = counts(r.kept);
    EXPECT_EQ(kept.two_qubit, c.two_qubit) << c.name;
    EXPECT_EQ(r.gone, given.two_qubit - kept.two_qubit) << c.name;
    EXPECT_EQ(kept.t, given.t) << c.name;
    EXPECT_TRUE(c.pass == Merge || r.gone == r.given.size() - r.kept.size()) << c.name << ": h gates stay";
    EXPECT_TRUE(same(r.kept, r.given, 3)) << c.name;
  }
}

TEST(PairCancellation, RandomNetworksAndCzGatesKeepTheirMatrix) {
  // Toffoli-like networks with random phases and controls, cz gates and
  // other gates between: the gates kept (as left) multiply to the product of
  // those given; T gates never grow in number, nor do two-qubit gates.
  using E = Elementary;
  const E phases[] = {E::T, E::Tdg, E::S, E::Sdg, E::Z};
  const E other[] = {E::H, E::T, E::Tdg, E::S, E::X, E::CX, E::CZ};
  std::mt19937_64 rng(37);
  const std::uint32_t n = 4;
  std::size_t dissolved_in_all = 0, across_h_in_all = 0, merged_in_all = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<PlacedGate> gates;
    std::vector<std::uint32_t> controls = {0, 1};  // the last network's
    for (std::size_t k = 0, parts = 2 + rng() % 4; k < parts; ++k) {
      std::vector<std::uint32_t> q = {0, 1, 2, 3};
      std::shuffle(q.begin(), q.end(), rng);
      const unsigned kind = rng() % 4;
      if (kind == 0) {
        // Half the networks a Toffoli's phases (or their inverses), the rest
        // phases at random.
        std::vector<E> at;
        const bool toffoli = rng() % 2, up = rng() % 2;
        for (int p = 0; p < 4; ++p) {
          at.push_back(toffoli ? ((p % 2 == 0) == up ? E::Tdg : E::T)
                               : rng() % 3 ? (rng() % 2 ? E::T : E::Tdg) : phases[rng() % 5]);
        }
        const auto part = network(q[0], q[1], q[2], at);
        gates.insert(gates.end(), part.begin(), part.end());
        controls = {q[0], q[1]};
      } else if (kind == 1) {
        gates.push_back(rng() % 2 ? g2(E::CZ, controls[1], controls[0]) : g2(E::CZ, q[0], q[1]));
      } else if (kind == 2) {
        // A cx with phase gates on both sides of its target and on its
        // control, and a cz on its qubits before or after it.
        const auto phase = [&](std::uint32_t on) { return g1(phases[rng() % 5], on); };
        const bool cz_first = rng() % 2;
        if (cz_first) gates.push_back(g2(E::CZ, q[0], q[1]));
        for (const PlacedGate& g : {phase(q[1]), g2(E::CX, q[0], q[1]), phase(q[1]), phase(q[0])}) gates.push_back(g);
        if (!cz_first) gates.push_back(g2(E::CZ, q[1], q[0]));
      } else {
        const E e = other[rng() % 7];
        gates.push_back(elementary_info(e).qubits == 2 ? g2(e, q[0], q[1]) : g1(e, q[0]));
      }
    }
    const std::vector<CancelItem> items = items_of(gates);
    std::size_t dissolved = 0, across = 0, merged = 0;
    const std::vector<PlacedGate> kept = cancelled(items, {}, n, &dissolved, &across, &merged);
    dissolved_in_all += dissolved;
    across_h_in_all += across;
    merged_in_all += merged;
    EXPECT_LE(counts(kept).t, counts(gates).t) << "round " << round;
    EXPECT_LE(counts(kept).two_qubit, counts(gates).two_qubit) << "round " << round;
    ASSERT_TRUE(same(kept, gates, n)) << "round " << round;
  }
  EXPECT_GT(dissolved_in_all, 20u);  // the lists do have cz gates to make phases
  EXPECT_GT(across_h_in_all, 2u);    // and pairs that meet across h gates
  EXPECT_GT(merged_in_all, 10u);     // and pairs that merge
}

TEST(PairCancellation, BoundariesStopTheSearchOnTheirQubitsOnly) {
  using E = Elementary;
  const std::vector<std::uint32_t> qubits = {1, 2};  // a barrier on qubit 1, one on qubit 2
  const std::vector<CancelItem> on_target = {gate(g2(E::CX, 0, 1)), {{}, 0, 1}, gate(g2(E::CX, 0, 1))};
  EXPECT_EQ(kept_gates(on_target, cancel_gate_pairs(3, on_target, qubits)).size(), 2u);
  const std::vector<CancelItem> elsewhere = {gate(g2(E::CX, 0, 1)), {{}, 1, 1}, gate(g2(E::CX, 0, 1))};
  EXPECT_EQ(kept_gates(elsewhere, cancel_gate_pairs(3, elsewhere, qubits)).size(), 0u);
  EXPECT_NE(fault_of([&] { cancel_gate_pairs(2, elsewhere, qubits); }), "no fault");
  const std::vector<CancelItem> outside = {gate(g2(E::CX, 0, 5))};
  EXPECT_NE(fault_of([&] { cancel_gate_pairs(3, outside, {}); }), "no fault");
}

TEST(PairCancellation, LongNetworksMeetTheirCopiesHoweverManyPairsCancelBetween) {
  // A chain of k cx gates of which no two neighbours commute, then the same
  // k reversed and the k again: the reversed ones cancel the copies after
  // them, pair after pair, far past the reach of one search (each qubit
  // holds some 130 cancelled gates between the last pair's two gates).
  std::vector<CancelItem> items;
  const std::uint32_t n = 6;
  std::vector<PlacedGate> chain;
  for (std::uint32_t k = 0; k < 200; ++k) chain.push_back(g2(Elementary::CX, k % n, (k + 1) % n));
  for (const PlacedGate& g : chain) items.push_back(gate(g));
  for (std::size_t k = chain.size(); k-- > 0;) items.push_back(gate(chain[k]));
  for (const PlacedGate& g : chain) items.push_back(gate(g));
  const std::vector<bool> removed = cancel_gate_pairs(n, items, {});
  EXPECT_EQ(kept_gates(items, removed).size(), chain.size());
}

TEST(PairCancellation, RandomListsKeepTheirMatrix) {
  using E = Elementary;
  const E one[] = {E::H, E::S, E::Sdg, E::T, E::Tdg, E::X, E::Y, E::Z};
  const E two_qubit[] = {E::CX, E::CZ, E::Swap};
  std::mt19937_64 rng(2026);
  const std::uint32_t n = 3;
  std::size_t removed_in_all = 0, sandwiches_met = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<CancelItem> items;
    std::vector<std::uint32_t> barrier_qubits;
    const std::size_t length = 4 + rng() % 20;
    for (std::size_t k = 0; k < length; ++k) {
      const std::uint32_t a = static_cast<std::uint32_t>(rng() % n);
      const std::uint32_t b = (a + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
      const unsigned pick = rng() % 10;
      if (pick < 5) {
        // Mostly cx and cz, and often a repeat of a recent gate.
        if (!items.empty() && rng() % 2 && items.back().count == 0) {
          items.push_back(items[items.size() - 1 - rng() % std::min<std::size_t>(items.size(), 3)]);
        } else {
          items.push_back(gate(g2(rng() % 4 ? two_qubit[rng() % 2] : E::Swap, a, b)));
        }
      } else if (pick < 9) {
        items.push_back(gate(rng() % 8 ? g1(one[rng() % 8], a) : rotation(rng() % 2 ? E::Rz : E::Rx, a)));
      } else {
        items.push_back({{}, static_cast<std::uint32_t>(barrier_qubits.size()), 1});
        barrier_qubits.push_back(a);
      }
    }
    // Every other round with T gates joined, half of those with cx pairs
    // around S powers made cz gates too.
    std::vector<Elementary> now;
    const std::vector<bool> removed =
        cancel_gate_pairs(n, items, barrier_qubits, round % 2 ? &now : nullptr, round % 4 == 3);
    // Barriers are never removed; the gates kept multiply to the product
    // of those given (where barriers stop a pair is the table's test).
    std::vector<PlacedGate> given, kept;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].count != 0) {
        EXPECT_FALSE(removed[i]);
        continue;
      }
      given.push_back(items[i].gate);
      if (!removed[i]) kept.push_back(items[i].gate);
      if (!removed[i] && round % 2) kept.back().gate = now[i];  // a one-qubit gate acts on `a`
      removed_in_all += removed[i];
    }
    ASSERT_TRUE(same(kept, given, n)) << "round " << round;
    // Without a cx pair around S powers met, the call with them made cz
    // gates gives the same gates.
    std::vector<Elementary> plain_now, sandwich_now;
    bool met = true;
    const std::vector<bool> plain = cancel_gate_pairs(n, items, barrier_qubits, &plain_now, false, &met);
    sandwiches_met += met;
    if (!met) {
      EXPECT_EQ(cancel_gate_pairs(n, items, barrier_qubits, &sandwich_now, true), plain) << "round " << round;
      EXPECT_EQ(sandwich_now, plain_now) << "round " << round;
    }
  }
  EXPECT_GT(removed_in_all, 100u);  // the lists do have pairs to cancel
  EXPECT_GT(sandwiches_met, 10u);   // and cx pairs around S powers, in some
  EXPECT_LT(sandwiches_met, 390u);  // but not all
}

// Once the deadline has passed, the walk stops at its first look at the
// clock: the items before it go as they would alone, those from it on stay
// as given, and the whole still has the matrix given; the cz gates then
// stay cz gates.
TEST(PairCancellation, PastTheDeadlineTheWalkStopsWhereItIs) {
  using E = Elementary;
  std::mt19937_64 rng(11);
  const std::uint32_t n = 3;
  const E kinds[] = {E::CX, E::CZ, E::T, E::Tdg, E::S, E::H};
  std::vector<CancelItem> items;
  while (items.size() < 2 * std::size_t{kClockStride}) {
    const auto a = static_cast<std::uint32_t>(rng() % n);
    const auto b = (a + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
    const E e = kinds[rng() % 6];
    items.push_back(gate(elementary_info(e).qubits == 2 ? g2(e, a, b) : g1(e, a)));
    if (rng() % 2) items.push_back(items.back());  // a pair, or two T gates that join
  }
  const Deadline passed(std::chrono::nanoseconds(0));
  std::vector<Elementary> now, alone_now;
  std::vector<bool> removed = cancel_gate_pairs(n, items, {}, &now, true, nullptr, passed);
  const std::size_t walked = kClockStride - 1;
  const std::vector<bool> alone =
      cancel_gate_pairs(n, std::span(items).first(walked), {}, &alone_now, true);
  std::size_t gone = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i < walked) {
      EXPECT_EQ(removed[i], alone[i]) << i;
      EXPECT_EQ(now[i], alone_now[i]) << i;
    } else {
      EXPECT_FALSE(removed[i]) << i;
      EXPECT_EQ(now[i], items[i].gate.gate) << i;
    }
    gone += removed[i];
  }
  EXPECT_GT(gone, walked / 4);
  EXPECT_TRUE(same(kept_gates(items, removed, &now), kept_gates(items, std::vector<bool>(items.size(), false)), n));
  const std::vector<bool> before = removed;
  const std::vector<Elementary> before_now = now;
  EXPECT_EQ(cz_to_phases(n, items, {}, removed, now, passed), 0u);
  EXPECT_EQ(removed, before);
  EXPECT_EQ(now, before_now);
}

}  // namespace
}  // namespace kestrel
