// The pair cancellation on tables of gates that commute or do not, with and
// without boundaries, and on random gate lists against a dense model: the
// gates kept must multiply to the same 2^n x 2^n matrix as those given
// (global phase included) in the shared model (tests/model/matrices.h);
// with T gates joined, the gates as left; then with cz gates made phases on
// a passing network (src/cancellation/cz_to_phases.h); then with the pairs
// that meet across h gates gone (src/cancellation/pairs_across_h.h), those
// that meet agreeing on one qubit merged (src/cancellation/pair_merging.h)
// and the phase gates that meet joined (src/cancellation/phase_joining.h),
// and three two-qubit gates around one they do not commute with written as
// two (src/cancellation/pair_conjugation.h).
#include "src/cancellation/pair_cancellation.h"
#include "src/cancellation/cz_to_phases.h"
#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_conjugation.h"
#include "src/cancellation/pair_merging.h"
#include "src/cancellation/pairs_across_h.h"
#include "src/cancellation/phase_joining.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <vector>

#include "tests/cpp/helpers.h"
#include "tests/model/matrices.h"

namespace kestrel {
namespace {

PlacedGate g1(Elementary e, std::uint32_t q) { return {e, q, 0}; }
PlacedGate g2(Elementary e, std::uint32_t a, std::uint32_t b) { return {e, a, b}; }
CancelItem gate(PlacedGate g) { return {g, 0, 0}; }
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

// A Toffoli's network on target w with controls a and b: w holds w^b,
// w^a^b, w^a and w at the four phase gates `at` (in that order).
std::vector<PlacedGate> network(std::uint32_t a, std::uint32_t b, std::uint32_t w, const std::vector<Elementary>& at) {
  using E = Elementary;
  return {g2(E::CX, b, w), g1(at[0], w), g2(E::CX, a, w), g1(at[1], w),
          g2(E::CX, b, w), g1(at[2], w), g2(E::CX, a, w), g1(at[3], w)};
}

// The pair cancellation with T gates joined and cx pairs around S powers
// made cz gates, then cz gates made phases, then (with `across_h`) the
// pairs that meet across h gates gone and those that meet agreeing on one
// qubit merged (with `carry_on`, those met going on too), then (with
// `conjugated`) three two-qubit gates written as two, and the phase gates
// that meet joined: the gates kept, as left.
std::vector<PlacedGate> cancelled(const std::vector<CancelItem>& items, std::span<const std::uint32_t> barrier_qubits,
                                  std::uint32_t n, std::size_t* dissolved = nullptr,
                                  std::size_t* across_h = nullptr, std::size_t* merged = nullptr,
                                  bool carry_on = false, std::size_t* conjugated = nullptr) {
  std::vector<Elementary> now;
  std::vector<bool> removed = cancel_gate_pairs(n, items, barrier_qubits, &now, true);
  const std::size_t gone = cz_to_phases(n, items, barrier_qubits, removed, now);
  if (dissolved != nullptr) *dissolved = gone;
  std::vector<ItemAddition> additions;
  if (across_h != nullptr) {
    *across_h = cancel_pairs_across_h(n, items, barrier_qubits, removed, now);
    *merged = merge_pairs(n, items, barrier_qubits, removed, now, additions, carry_on);
  }
  SplicedItems s = splice_items(items, removed, now, additions);
  if (conjugated != nullptr) {
    std::vector<ItemAddition> written;
    *conjugated = conjugate_pairs(n, s.items, barrier_qubits, s.removed, s.now, written);
    const std::vector<CancelItem> merged_items = s.items;
    s = splice_items(merged_items, s.removed, s.now, written);
  }
  join_phase_runs(n, s.items, barrier_qubits, s.removed, s.now);
  return kept_gates(s.items, s.removed, &s.now);
}

// Items written as "cx 0 1; t 0; b 1 2; rz 0": gates by their OpenQASM
// names (a rotation by 0.3), "b" a boundary (a measurement, a conditioned
// gate) on the qubits listed, whose qubits go to `barrier_qubits`.
struct Items {
  std::vector<CancelItem> items;
  std::vector<std::uint32_t> barrier_qubits;
};
Items parse(const std::string& text) {
  Items out;
  for (const GateText& op : parse_gates(text)) {
    const std::vector<std::uint32_t>& q = op.qubits;
    if (op.name == "b") {
      out.items.push_back({{}, static_cast<std::uint32_t>(out.barrier_qubits.size()), static_cast<std::uint32_t>(q.size())});
      out.barrier_qubits.insert(out.barrier_qubits.end(), q.begin(), q.end());
      continue;
    }
    const Elementary e = gate_named(op.name);
    out.items.push_back(gate({e, q.at(0), q.size() > 1 ? q[1] : 0, is_rotation(e) ? 0.3 : 0}));
  }
  return out;
}

std::string names(const std::vector<PlacedGate>& gates) {
  std::string out;
  for (const PlacedGate& g : gates) out += (out.empty() ? "" : " ") + std::string(elementary_info(g.gate).qasm_name);
  return out;
}

// The steps tested one by one: the pair cancellation alone, and with T gates
// joined and cx pairs around S powers made cz gates; that then with cz gates
// made phases and phase gates joined (`cancelled`); and, on the items as
// given, joining phase gates, cancelling pairs that meet across h gates, and
// merging pairs that meet agreeing on one qubit (going back, or on too).
enum class Step { Pairs, Joined, Phases, Join, AcrossH, Merge, MergeOn, Conjugate };

struct StepRun {
  std::vector<PlacedGate> kept;  // as left, the step's additions spliced in
  std::size_t gone = 0;          // how many went (or merged) by the step's own count
};

StepRun run_step(Step step, const Items& in, std::uint32_t n) {
  const std::vector<CancelItem>& items = in.items;
  std::vector<Elementary> now;
  if (step == Step::Pairs) return {kept_gates(items, cancel_gate_pairs(n, items, in.barrier_qubits))};
  if (step == Step::Joined) {
    const std::vector<bool> removed = cancel_gate_pairs(n, items, in.barrier_qubits, &now, true);
    EXPECT_EQ(now.size(), items.size());
    return {kept_gates(items, removed, &now)};
  }
  if (step == Step::Phases) return {cancelled(items, in.barrier_qubits, n)};
  std::vector<bool> removed(items.size(), false);
  for (const CancelItem& item : items) now.push_back(item.gate.gate);
  std::vector<ItemAddition> additions;
  StepRun out;
  if (step == Step::Join) out.gone = join_phase_runs(n, items, in.barrier_qubits, removed, now);
  if (step == Step::AcrossH) out.gone = cancel_pairs_across_h(n, items, in.barrier_qubits, removed, now);
  if (step == Step::Merge || step == Step::MergeOn) {
    out.gone = merge_pairs(n, items, in.barrier_qubits, removed, now, additions, step == Step::MergeOn);
  }
  if (step == Step::Conjugate) out.gone = conjugate_pairs(n, items, in.barrier_qubits, removed, now, additions);
  const SplicedItems s = splice_items(items, removed, now, additions);
  out.kept = kept_gates(s.items, s.removed, &s.now);
  return out;
}

// What each step does, and where boundaries, y and swap gates stop it. A
// step taken where it should not be changes the matrix, which each row
// checks, and which the random lists below check on the same gates.
using enum Step;
const std::string toffoli = "cx 1 2; tdg 2; cx 0 2; t 2; cx 1 2; tdg 2; cx 0 2; t 2; ";
struct StepCase {
  std::string name;
  Step step;
  std::string given;
  const char* kept;  // the names of the gates kept, in order
};
const StepCase kStepCases[] = {
    {"adjacent cx", Pairs, "cx 0 1; cx 0 1", ""},
    {"through a shared control", Pairs, "cx 0 1; cx 0 2; cx 0 1", "cx"},
    {"through a shared target", Pairs, "cx 0 2; cx 1 2; cx 0 2", "cx"},
    {"through t on the control", Pairs, "cx 0 1; t 0; cx 0 1", "t"},
    {"through x on the target", Pairs, "cx 0 1; x 1; cx 0 1", "x"},
    {"cz either way round, through s", Pairs, "cz 0 1; s 1; cz 1 0", "s"},
    {"nested pairs", Pairs, "cx 0 1; cx 1 2; cx 1 2; cx 0 1", ""},
    {"one-qubit inverses", Pairs, "t 0; tdg 0; s 1; sdg 1; h 2; h 2", ""},
    {"swap either way round", Pairs, "swap 0 1; swap 1 0", ""},
    {"through rz on the control", Pairs, "cx 0 1; rz 0; cx 0 1", "rz"},
    {"through rx on the target", Pairs, "cx 0 1; rx 1; cx 0 1", "rx"},
    {"not across a boundary on a qubit of the pair, its second", Pairs, "cx 0 1; b 2 1; cx 0 1", "cx cx"},
    {"across one elsewhere", Pairs, "cx 0 1; b 2; cx 0 1", ""},
    {"tdg tdg through a control is sdg", Joined, "tdg 0; cx 0 1; tdg 0", "sdg cx"},
    {"t tdg still cancel", Joined, "t 0; s 0; tdg 0", "s"},
    {"t t t: s then t", Joined, "t 0; t 0; t 0", "s t"},
    {"cx s cx is cz, s, s", Joined, "cx 0 1; s 1; cx 0 1", "cz s s"},
    {"cx z cx is z z", Joined, "cx 0 1; z 1; cx 0 1", "z z"},
    {"cx s sdg cx: the s pair goes first, then the cx pair", Joined, "cx 0 1; s 1; sdg 1; cx 0 1", ""},
    {"cx sdg sdg s cx past t on the control", Joined, "cx 0 1; t 0; sdg 1; sdg 1; s 1; cx 0 1", "cz t sdg sdg"},
    // A cz on a network that passes its parities becomes phases.
    {"a cz after the network", Phases, toffoli + "cz 0 1", "cx t cx tdg cx t cx tdg"},
    {"before it, either way round", Phases, "cz 1 0; " + toffoli, "cx t cx tdg cx t cx tdg"},
    {"the inverse phases", Phases, "cx 1 2; t 2; cx 0 2; tdg 2; cx 1 2; t 2; cx 0 2; tdg 2; cz 0 1", "cx tdg cx t cx tdg cx t"},
    {"past phases and controls on its qubits", Phases, toffoli + "t 0; cx 1 3; cz 0 1", "cx t cx tdg cx t cx tdg t cx"},
    {"s, sdg and z take either sign", Phases, "cx 1 2; s 2; cx 0 2; sdg 2; cx 1 2; z 2; cx 0 2; s 2; cz 0 1", "cx z cx z cx sdg cx"},
    {"a run after h on the target", Phases, "h 2; " + toffoli + "cz 0 1", "h cx t cx tdg cx t cx tdg"},
    {"beside a cx from its first qubit, into s and sdg gates", Phases, "s 1; cx 0 1; sdg 1; sdg 0; cz 0 1", "cx"},
    {"beside a cx, into t and tdg gates", Phases, "t 1; cx 0 1; tdg 1; tdg 0; cz 0 1", "tdg cx t t"},
    {"before a cx from its second qubit", Phases, "tdg 1; s 0; cz 0 1; cx 1 0; sdg 0", "t z cx z"},
    {"not past a boundary on its qubit", Phases, toffoli + "b 0; cz 0 1", "cx tdg cx t cx tdg cx t cz"},
    {"nor past one on the target inside the network", Phases,
     "cx 1 2; tdg 2; cx 0 2; t 2; b 2; cx 1 2; tdg 2; cx 0 2; t 2; cz 0 1", "cx tdg cx t cx tdg cx t cz"},
    {"past one elsewhere", Phases, "cx 1 2; tdg 2; cx 0 2; t 2; b 3; cx 1 2; tdg 2; cx 0 2; t 2; cz 0 1", "cx t cx tdg cx t cx tdg"},
    // Phase gates that meet join into the fewest.
    {"s and sdg go", Join, "s 0; sdg 0", ""},
    {"across a cx's control", Join, "s 0; cx 0 1; sdg 0", "cx"},
    {"across cz and rz", Join, "t 0; cz 1 0; rz 0; tdg 0", "cz rz"},
    {"z and sdg make s", Join, "z 0; sdg 0", "s"},
    {"two t make s", Join, "t 0; cx 0 2; t 0", "s cx"},
    {"four sdg go", Join, "sdg 0; sdg 0; sdg 0; sdg 0", ""},
    {"t and s stay: already the fewest", Join, "t 0; s 0", "t s"},
    {"not across a boundary", Join, "s 0; b 0; sdg 0", "s sdg"},
    {"a boundary elsewhere", Join, "s 1; b 0; sdg 1", ""},
    // Pairs that meet across h gates go.
    {"a cz past sdg and h is the cx", AcrossH, "cz 0 1; sdg 1; h 1; cx 0 1", "sdg h"},
    {"h on both qubits turn a cx round", AcrossH, "h 0; h 1; cx 1 0; h 0; h 1; cx 0 1", "h h h h"},
    {"past x where the letter is X", AcrossH, "cz 0 1; h 1; x 1; cx 0 1", "h x"},
    {"past a cx's control where the letter is Z", AcrossH, "cz 0 1; cx 0 2; h 1; cx 0 1", "cx h"},
    {"past a cx's target where the letter is X", AcrossH, "cz 0 1; h 1; cx 2 1; cx 0 1", "h cx"},
    {"not past a boundary", AcrossH, "cz 0 1; b 1; h 1; cx 0 1", "cz h cx"},
    {"not past y", AcrossH, "cz 0 1; h 1; y 1; cx 0 1", "cz h y cx"},
    // Pairs that meet agreeing on one qubit merge into one gate.
    {"cx then cz: Z on the control", Merge, "cx 0 1; cz 0 1", "sdg cx s s"},
    {"cz then cx", Merge, "cz 0 1; cx 0 1", "sdg cx s sdg"},
    {"cz then cx from the other qubit", Merge, "cz 0 1; cx 1 0", "sdg cx s sdg"},
    {"a cx turned round across h on its control", Merge, "cx 1 0; h 1; cx 0 1", "sdg cx s s h"},
    {"X on the shared qubit at both places", Merge, "cx 1 0; h 1; cx 1 0", "h sdg cx s sdg h h"},
    {"at the later place: h gates alone on the other qubit", Merge, "cx 1 0; h 0; h 1; cz 0 1", "h h sdg cx s s"},
    {"at the earlier place: an s on the other qubit", Merge, "cx 1 0; h 0; h 1; s 1; cz 0 1", "h sdg cx s sdg h h h s"},
    {"past t and x where they commute", Merge, "cx 0 1; t 0; h 1; x 1; cx 0 1", "sdg cx s s t h x"},
    {"past a cx's control on a third qubit", Merge, "cz 0 1; cx 0 2; cx 0 1", "sdg cx s sdg cx"},
    {"not past a swap on its qubits", Merge, "cz 0 1; swap 0 1; cx 0 1", "cz swap cx"},
    {"not past y", Merge, "cz 0 1; y 0; cx 0 1", "cz y cx"},
    {"not across a boundary on one of its qubits", Merge, "cx 0 1; b 1; cz 0 1", "cx cz"},
    {"across one elsewhere", Merge, "cx 0 1; b 2; cz 0 1", "sdg cx s s"},
    {"not with letters agreeing on both: left to the cancellation", Merge, "cx 0 1; cx 0 1", "cx cx"},
    {"not again across a merged pair", Merge, "cx 0 1; cz 0 1; cx 0 1", "sdg cx s s cx"},
    // Carried on too: going back a gate may stop where the other, going on,
    // passes (a cx's target stops Z, not X).
    {"a cz going back stops at a cx's target", Merge, "cx 0 1; cx 2 1; cz 0 1", "cx cx cz"},
    {"the cx going on passes it: merged at the later place", MergeOn, "cx 0 1; cx 2 1; cz 0 1", "cx sdg cx s s"},
    {"on across h on its target, which a cx going back meets with Z", MergeOn, "cx 0 1; cx 2 1; h 1; cx 0 1",
     "cx h sdg cx s sdg"},
    {"a pair met going back too is merged so, at the earlier place", MergeOn, "cz 0 1; cx 0 2; cx 0 1",
     "sdg cx s sdg cx"},
    {"not on past a boundary", MergeOn, "cx 0 1; cx 2 1; b 1; cz 0 1", "cx cx cz"},
    // A cx met across a run of s, sdg and z gates on its target, once h
    // gates turned its letter there back to X: phase gates and a cz.
    {"across h, t, h and s: cz and s on the control", MergeOn, "cx 0 1; h 1; t 1; h 1; s 1; cx 0 1",
     "h t h s cz s"},
    {"a run of power two: z on both, no cz", MergeOn, "cx 0 1; h 1; t 1; h 1; s 1; s 1; cx 0 1", "h t h s s z"},
    {"going back, the run right after the earlier gate", MergeOn, "cx 0 1; sdg 1; h 1; t 1; h 1; cx 0 1",
     "cz sdg sdg h t h"},
    {"not with another gate on the target after the run", MergeOn, "cx 0 1; h 1; s 1; t 1; h 1; cx 0 1",
     "cx h s t h cx"},
    {"not where the letters at the meeting differ", MergeOn, "cx 0 1; h 0; s 1; cx 0 1", "cx h s cx"},
    {"not without carry_on", Merge, "cx 0 1; h 1; t 1; h 1; s 1; cx 0 1", "cx h t h s cx"},
    {"not on past y", MergeOn, "cx 0 1; y 1; cz 0 1", "cx y cz"},
    // Three two-qubit gates around one they do not commute with: two.
    {"copies around a cx from their target", Conjugate, "cx 0 1; cx 1 2; cx 0 1", "cx cx"},
    {"around a cz on their target", Conjugate, "cx 0 1; cz 1 2; cx 0 1", "cz cz"},
    {"around a cx onto their control", Conjugate, "cx 0 1; cx 2 0; cx 0 1", "cx cx"},
    {"cz copies around a cx onto one of their qubits", Conjugate, "cz 0 1; cx 2 1; cz 1 0", "cx cz"},
    {"past commuting gates, the copies' letters turned by h", Conjugate, "cx 0 1; t 0; h 0; cx 1 2; h 0; cx 0 1",
     "t h cx h cx h h"},
    {"a gate carried on past one leaves the gate met after it", Conjugate, "cx 0 1; cx 1 2; cx 0 2", "cx cx"},
    {"the same carried back", Conjugate, "cx 0 2; cx 1 2; cx 0 1", "cx cx"},
    {"carried on past x where it commutes", Conjugate, "cx 0 1; cx 1 2; x 2; cx 0 2", "cx cx x"},
    {"not across two gates it does not commute with", Conjugate, "cx 0 1; cx 1 2; cx 1 3; cx 0 1",
     "cx cx cx cx"},
    {"not past a t on the qubit they share", Conjugate, "cx 0 1; t 1; cx 1 2; cx 0 1", "cx t cx cx"},
    {"not across a boundary", Conjugate, "cx 0 1; cx 1 2; b 0; cx 0 1", "cx cx cx"},
    {"not where the gate met is not a copy", Conjugate, "cx 0 1; cx 1 2; cz 0 1", "cx cx cz"},
    // Two copies around a Pauli gate they do not commute with: none.
    {"cz copies around x on one qubit: z on the other", Conjugate, "cz 0 1; x 0; cz 0 1", "x z"},
    {"cx copies around z on their target: z on the control", Conjugate, "cx 0 1; t 0; z 1; cx 0 1", "t z z"},
    {"around y on their control, past h on the target", Conjugate, "cx 0 1; h 1; y 0; h 1; cx 0 1", "h y h x"},
    {"not around two of them", Conjugate, "cz 0 1; x 0; x 1; cz 0 1", "cz x x cz"},
};

TEST(PairCancellation, EachStep) {
  for (const StepCase& c : kStepCases) {
    const Items in = parse(c.given);
    const std::vector<PlacedGate> given = kept_gates(in.items, std::vector<bool>(in.items.size(), false));
    const StepRun r = run_step(c.step, in, 4);
    EXPECT_EQ(names(r.kept), c.kept) << c.name;
    EXPECT_TRUE(same(r.kept, given, 4)) << c.name;
    const std::size_t went = c.step >= Merge ? counts(given).two_qubit - counts(r.kept).two_qubit
                                             : given.size() - r.kept.size();
    EXPECT_TRUE(c.step < Join || r.gone == went) << c.name << ": the step's own count";
  }
  // A boundary's qubits must be the register's, and so must a gate's.
  const Items beyond = parse("cx 0 1; b 2; cx 0 1");
  EXPECT_NE(fault_of([&] { cancel_gate_pairs(2, beyond.items, beyond.barrier_qubits); }), "no fault");
  EXPECT_NE(fault_of([&] { cancel_gate_pairs(3, parse("cx 0 5").items, {}); }), "no fault");
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

// A random list on n qubits (3 or 4): Toffoli-like networks with random
// phases and controls, cz gates, cx gates with phases around them, and
// other gates, repeats and boundaries between.
Items random_items(std::mt19937_64& rng, std::uint32_t n) {
  using E = Elementary;
  const E phases[] = {E::T, E::Tdg, E::S, E::Sdg, E::Z};
  const E one[] = {E::H, E::S, E::Sdg, E::T, E::Tdg, E::X, E::Y, E::Z, E::Rz, E::Rx};
  Items out;
  std::vector<CancelItem>& items = out.items;
  std::vector<std::uint32_t>& barrier_qubits = out.barrier_qubits;
  std::vector<std::uint32_t> controls = {0, 1};  // the last network's
  for (std::size_t k = 0, parts = 2 + rng() % 10; k < parts; ++k) {
    std::vector<std::uint32_t> q = {0, 1, 2, 3};
    std::shuffle(q.begin(), q.begin() + n, rng);
    const auto add = [&](const std::vector<PlacedGate>& gates) {
      for (const PlacedGate& g : gates) items.push_back(gate(g));
    };
    const auto phase = [&](std::uint32_t on) { return g1(phases[rng() % 5], on); };
    const unsigned kind = rng() % 8;
    if (kind == 0) {
      // Half the networks a Toffoli's phases (or their inverses), the rest
      // phases at random.
      std::vector<E> at;
      const bool toffoli = rng() % 2, up = rng() % 2;
      for (int p = 0; p < 4; ++p) {
        at.push_back(toffoli ? ((p % 2 == 0) == up ? E::Tdg : E::T) : rng() % 3 ? (rng() % 2 ? E::T : E::Tdg) : phases[rng() % 5]);
      }
      add(network(q[0], q[1], q[2], at));
      controls = {q[0], q[1]};
    } else if (kind == 1) {
      add({rng() % 2 ? g2(E::CZ, controls[1], controls[0]) : g2(E::CZ, q[0], q[1])});
    } else if (kind == 2) {
      // A cx with phase gates on both sides of its target and on its
      // control, and a cz on its qubits before or after it.
      const bool cz_first = rng() % 2;
      if (cz_first) add({g2(E::CZ, q[0], q[1])});
      add({phase(q[1]), g2(E::CX, q[0], q[1]), phase(q[1]), phase(q[0])});
      if (!cz_first) add({g2(E::CZ, q[1], q[0])});
    } else if (kind < 5) {
      // Two-qubit gates, often a repeat of a recent one.
      if (!items.empty() && rng() % 2 && items.back().count == 0) {
        items.push_back(items[items.size() - 1 - rng() % std::min<std::size_t>(items.size(), 3)]);
      } else {
        add({g2(rng() % 4 ? (rng() % 2 ? E::CX : E::CZ) : E::Swap, q[0], q[1])});
      }
    } else if (kind < 7) {
      const E e = one[rng() % 10];
      add({is_rotation(e) ? rotation(e, q[0]) : g1(e, q[0])});
    } else {
      items.push_back({{}, static_cast<std::uint32_t>(barrier_qubits.size()), 1});
      barrier_qubits.push_back(q[0]);
    }
  }
  return out;
}

TEST(PairCancellation, RandomListsKeepTheirMatrix) {
  // The gates kept by the pair cancellation, and by every step after it,
  // multiply to the product of those given (where a boundary stops a step is
  // the table's test); T gates never grow in number, nor do two-qubit gates.
  std::mt19937_64 rng(37);
  std::size_t removed_in_all = 0, sandwiches_met = 0, dissolved_in_all = 0, across_h_in_all = 0, merged_in_all = 0;
  std::size_t conjugated_in_all = 0;
  std::size_t carried_on_more = 0;  // rounds where going on merged more
  for (int round = 0; round < 400; ++round) {
    const std::uint32_t n = 3 + round % 2;
    const auto& [items, barrier_qubits] = random_items(rng, n);
    const std::vector<PlacedGate> given = kept_gates(items, std::vector<bool>(items.size(), false));
    // Every other round with T gates joined, half of those with cx pairs
    // around S powers made cz gates too; barriers are never removed.
    std::vector<Elementary> now;
    const std::vector<bool> removed = cancel_gate_pairs(n, items, barrier_qubits, round % 2 ? &now : nullptr, round % 4 == 3);
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_FALSE(items[i].count != 0 && removed[i]);
    for (bool r : removed) removed_in_all += r;
    ASSERT_TRUE(same(kept_gates(items, removed, round % 2 ? &now : nullptr), given, n)) << "round " << round;
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
    std::size_t dissolved = 0, across = 0, merged = 0, conjugated = 0;
    // Every third round merges pairs met going on too.
    const bool carry_on = round % 3 == 1;
    const std::vector<PlacedGate> kept =
        cancelled(items, barrier_qubits, n, &dissolved, &across, &merged, carry_on, &conjugated);
    if (carry_on) {
      std::size_t back_only = 0, unused = 0;
      cancelled(items, barrier_qubits, n, &unused, &unused, &back_only);
      carried_on_more += merged > back_only;
    }
    dissolved_in_all += dissolved;
    across_h_in_all += across;
    merged_in_all += merged;
    conjugated_in_all += conjugated;
    EXPECT_LE(counts(kept).t, counts(given).t) << "round " << round;
    EXPECT_LE(counts(kept).two_qubit, counts(given).two_qubit) << "round " << round;
    ASSERT_TRUE(same(kept, given, n)) << "round " << round;
  }
  EXPECT_GT(removed_in_all, 100u);  // the lists do have pairs to cancel
  EXPECT_GT(sandwiches_met, 10u);   // and cx pairs around S powers, in some
  EXPECT_LT(sandwiches_met, 390u);  // but not all
  EXPECT_GT(dissolved_in_all, 20u);  // and cz gates to make phases
  EXPECT_GT(across_h_in_all, 2u);    // and pairs that meet across h gates
  EXPECT_GT(merged_in_all, 10u);     // and pairs that merge
  EXPECT_GT(carried_on_more, 2u);    // some only when carried on
  EXPECT_GT(conjugated_in_all, 4u);   // and three gates to write as two
}

// Dense random networks of cx and cz gates with h, phase and x gates and
// boundaries between: every change of the pass that writes three two-qubit
// gates as two keeps the matrix, however many it makes in one walk over
// the list (a gate written makes the walks after it end at its place), and
// takes one two-qubit gate each.
TEST(PairConjugation, DenseRandomNetworksKeepTheirMatrix) {
  using E = Elementary;
  std::mt19937_64 rng(5);
  std::size_t changes_in_all = 0, several = 0;
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t n = 3 + round % 2;
    Items in;
    for (std::size_t k = 0, size = 6 + rng() % 24; k < size; ++k) {
      const std::uint32_t a = rng() % n, b = (a + 1 + rng() % (n - 1)) % n;
      const unsigned kind = rng() % 20;
      if (kind < 12) {
        in.items.push_back(gate(g2(kind % 3 ? E::CX : E::CZ, a, b)));
      } else if (kind < 19) {
        const E one[] = {E::H, E::H, E::T, E::S, E::X, E::Y, E::Z};
        in.items.push_back(gate(g1(one[kind - 12], a)));
      } else {
        in.items.push_back({{}, static_cast<std::uint32_t>(in.barrier_qubits.size()), 1});
        in.barrier_qubits.push_back(a);
      }
    }
    const std::vector<PlacedGate> given = kept_gates(in.items, std::vector<bool>(in.items.size(), false));
    const StepRun r = run_step(Step::Conjugate, in, n);
    ASSERT_TRUE(same(r.kept, given, n)) << "round " << round;
    EXPECT_EQ(counts(given).two_qubit - counts(r.kept).two_qubit, r.gone) << "round " << round;
    changes_in_all += r.gone;
    several += r.gone > 1;
  }
  EXPECT_GT(changes_in_all, 100u);
  EXPECT_GT(several, 20u);
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
  const std::vector<bool> alone = cancel_gate_pairs(n, std::span(items).first(walked), {}, &alone_now, true);
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
