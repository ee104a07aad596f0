// Reading a program (with rotation merging's edits made) into steps, and
// turning the rewritten blocks back into edits of its statements.
#include "src/phase_polynomial/phase_polynomial.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/fault.h"
#include "src/cancellation/cz_to_phases.h"
#include "src/cancellation/floating_phases.h"
#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_conjugation.h"
#include "src/cancellation/pair_merging.h"
#include "src/cancellation/pairs_across_h.h"
#include "src/cancellation/phase_joining.h"
#include "src/cancellation/pair_cancellation.h"
#include "src/phase_polynomial/blocks.h"
#include "src/phase_polynomial/cost.h"
#include "src/phase_polynomial/rewrite_blocks.h"
#include "src/phase_polynomial/program_steps.h"
#include "src/program/instance_walk.h"
#include "src/rotation_merging/rotation_merging.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kNoItem = 0xffffffffu;  // a step that is not written
constexpr std::uint32_t kNoQubit = kNoItem - 1;  // a boundary on no qubit (`barrier;`): kept, met by nothing

// The steps of `program` with rotation merging's `edits` made: a statement
// it edited is its edit's gates, any other what the instance walk sees
// through, or a boundary. Keeps each statement's phase (the statement is
// e^(i phase pi/8) times its gates), which a statement written anew adds.
struct StepReader : InstanceVisitor {
  StepReader(const QasmProgram& program, const Edits& edits)
      : program(program), cursor(edits, program.qubits), phases(program.statements.size(), 0) {
    out.qubits = program.qubits;
  }

  void statement(std::uint32_t s) {
    const Statement& st = program.statements[s];
    edit = cursor.at(s, st);
    if (edit == nullptr) return;
    if (edit->kind == EditKind::Placed) {
      for (std::uint32_t k = 0; k < edit->count; ++k) step(cursor.placed(*edit, k), s, k);
      return;
    }
    const std::uint32_t q = operand_bit(program, program.operands[st.first_operand], 0);
    for (std::uint32_t k = 0; k < edit->count; ++k) {
      step({run_elementary(cursor.gate(*edit, k)), q, 0}, s, k);
    }
  }
  void gate(PlacedGate g, std::uint32_t s, std::uint32_t position) {
    if (edit == nullptr) step(g, s, position);
  }
  void boundary(std::uint32_t s, std::uint32_t, std::span<const std::uint32_t> qubits) {
    out.steps.push_back({StepKind::Boundary, {}, s, 0,
                         static_cast<std::uint32_t>(out.boundary_qubits.size()),
                         static_cast<std::uint32_t>(qubits.size())});
    out.boundary_qubits.insert(out.boundary_qubits.end(), qubits.begin(), qubits.end());
  }
  void phase(std::uint32_t s, std::uint8_t eighths) {
    if (edit == nullptr) phases[s] = eighths;
  }
  void step(PlacedGate g, std::uint32_t s, std::uint32_t position) {
    if (is_rotation(g.gate)) {
      // A rotation of any angle rotation merging wrote: a boundary on its
      // qubit, kept in place with its gate.
      out.steps.push_back({StepKind::Boundary, g, s, position,
                           static_cast<std::uint32_t>(out.boundary_qubits.size()), 1});
      out.boundary_qubits.push_back(g.a);
      return;
    }
    const StepKind kind = elementary_info(g.gate).t ? StepKind::Rotation : StepKind::Clifford;
    out.steps.push_back({kind, g, s, position, 0, 0});
  }

  const QasmProgram& program;
  EditCursor cursor;
  const Edit* edit = nullptr;        // rotation merging's edit of the statement at hand
  ProgramSteps out;
  std::vector<std::uint8_t> phases;  // per statement not edited: its phase
};

ProgramSteps read_steps(const QasmProgram& program, const Edits& edits,
                        std::vector<std::uint8_t>& phases, bool exact_angles) {
  StepReader reader(program, edits);
  InstanceWalk(program, exact_angles ? Sight::CliffordTExact : Sight::CliffordT).run(reader);
  reader.cursor.finish();
  phases = std::move(reader.phases);
  return std::move(reader.out);
}

// What a composition leaves of the gates it reads: T gates and two-qubit
// gates, for the cost rule (src/phase_polynomial/cost.h).
struct Left {
  std::uint64_t t = 0;
  std::uint64_t two_qubit = 0;
  std::uint64_t conditioned_two_qubit = 0;  // gadgets' corrections on two qubits, apart
  bool sandwich_met = false;  // a cx pair around S powers met (pair_cancellation.h)
};

// Gate g as the cancellation of pairs left it: `now` on its qubits (a cx
// may become a one-qubit gate on its control).
PlacedGate as_left(PlacedGate g, Elementary now) {
  g.gate = now;
  if (elementary_info(now).qubits == 1) g.b = 0;
  return g;
}

// Which of its writings each insertion gives: as the rewrite chose by its
// estimate, the plain one, or the one that follows the program's cx gates;
// an insertion without the one asked gives its own.
enum class Writing : std::uint8_t { Chosen, Unguided, Guided };

// The insertion's operations in `writing`.
const std::vector<PlacedOperation>& chosen(const Insertion& insertion, Writing writing) {
  if (writing == Writing::Unguided && !insertion.unguided.empty()) return insertion.unguided;
  if (writing == Writing::Guided && !insertion.guided.empty()) return insertion.guided;
  return insertion.ops;
}

// The program as written, gate by gate (each insertion before its anchor,
// each step that stays; boundaries, measurements and conditioned gates as
// barriers), as pair cancellation reads it.
struct ProgramItems {
  std::uint32_t qubits = 0;                  // the program's and the rewrite's extra ones
  std::vector<CancelItem> items;
  std::vector<std::uint32_t> barrier_qubits; // the barriers' qubits
  std::vector<std::uint32_t> step_item;      // per step: its item, kNoItem when removed, kNoQubit
  std::vector<std::uint32_t> inserted_item;  // per insertion: its first item
  std::uint64_t conditioned_two_qubit = 0;   // gadgets' corrections on two qubits
};

ProgramItems program_items(const ProgramSteps& steps, const StepsRewrite& rewrite, Writing writing) {
  const std::uint32_t n = steps.qubits;
  ProgramItems out;
  out.qubits = n + rewrite.extra_qubits;
  std::vector<CancelItem>& items = out.items;
  std::size_t inserted = 0;
  for (const Insertion& insertion : rewrite.insertions) inserted += chosen(insertion, writing).size();
  items.reserve(steps.steps.size() + inserted);
  std::vector<std::uint32_t>& barrier_qubits = out.barrier_qubits;
  barrier_qubits = steps.boundary_qubits;
  out.step_item.assign(steps.steps.size(), kNoItem);
  std::size_t next = 0;
  for (std::uint32_t s = 0; s < steps.steps.size(); ++s) {
    if (next < rewrite.insertions.size() && rewrite.insertions[next].step == s) {
      out.inserted_item.push_back(static_cast<std::uint32_t>(items.size()));
      for (const PlacedOperation& op : chosen(rewrite.insertions[next++], writing)) {
        if (op.kind == OperationKind::Gate) {
          items.push_back({op.gate, 0, 0});
          continue;
        }
        const auto at = static_cast<std::uint32_t>(barrier_qubits.size());
        out.conditioned_two_qubit +=
            op.kind == OperationKind::Conditioned && elementary_info(op.gate.gate).qubits == 2;
        barrier_qubits.push_back(n + op.extra);
        if (op.kind == OperationKind::Conditioned) {
          barrier_qubits.push_back(op.gate.a);
          if (elementary_info(op.gate.gate).qubits == 2) barrier_qubits.push_back(op.gate.b);
        }
        items.push_back({{}, at, static_cast<std::uint32_t>(barrier_qubits.size()) - at});
      }
    }
    const Step& step = steps.steps[s];
    if (rewrite.removed[s]) continue;
    out.step_item[s] = static_cast<std::uint32_t>(items.size());
    // A rotation of any angle is a gate here: gates pass it as they pass
    // a z or an x.
    const bool barrier = step.kind == StepKind::Boundary && !is_rotation(step.gate.gate);
    if (barrier && step.count == 0) {
      out.step_item[s] = kNoQubit;
      continue;
    }
    items.push_back(barrier ? CancelItem{{}, step.first, step.count} : CancelItem{step.gate, 0, 0});
  }
  return out;
}

// The program's items with the pairs of gates that cancel once the
// rotations are out, T gates joined (and, with `sandwiches`, cx pairs
// around S powers made cz gates) (src/cancellation/pair_cancellation.h),
// then the cz gates that become phases on a passing network
// (src/cancellation/cz_to_phases.h); both walks stop at the deadline,
// leaving the gates after as they are. (The cx and cz pairs that meet
// across h gates go, and the phase gates left meeting on a qubit join, in
// the chosen composition alone: finish_choice.)
struct CancelledPairs {
  std::vector<bool> cancelled;               // per item
  std::vector<Elementary> now;               // per item: its gate once pairs cancel and T gates join
  std::vector<std::uint32_t> step_item;      // per step: its item, kNoItem when removed, kNoQubit
  std::vector<std::uint32_t> inserted_item;  // per insertion: its first item
  Left left;                                 // what is left
  // Once finish_choice merged pairs: the items with the merged gates
  // spliced in (item_splice.h), which `cancelled` and `now` then follow,
  // and per item (as step_item and inserted_item count them) its place.
  std::vector<CancelItem> spliced;
  std::vector<std::uint32_t> start;
  // What finish_choice's rewriting of stretches with x gates moved into the
  // phase: the program read equals e^(i phase pi/8) times it as written.
  std::uint8_t phase = 0;
};

// Where item k of the program's items stands in `pairs.cancelled` and
// `pairs.now`.
std::uint32_t place_of(const CancelledPairs& pairs, std::uint32_t k) {
  return pairs.start.empty() ? k : pairs.start[k];
}

// The gates finish_choice wrote after item k, as left, appended to `out`;
// whether there were any.
bool write_added(const CancelledPairs& pairs, std::uint32_t k, std::vector<PlacedOperation>& out) {
  if (pairs.start.empty() || pairs.start[k + 1] == pairs.start[k] + 1) return false;
  for (std::uint32_t j = pairs.start[k] + 1; j < pairs.start[k + 1]; ++j) {
    if (!pairs.cancelled[j]) out.push_back({OperationKind::Gate, as_left(pairs.spliced[j].gate, pairs.now[j]), 0});
  }
  return true;
}

CancelledPairs cancel_pairs(const ProgramItems& program, bool sandwiches, const Deadline& deadline) {
  const std::vector<CancelItem>& items = program.items;
  CancelledPairs out;
  out.step_item = program.step_item;
  out.inserted_item = program.inserted_item;
  out.left.conditioned_two_qubit = program.conditioned_two_qubit;
  out.cancelled = cancel_gate_pairs(program.qubits, items, program.barrier_qubits, &out.now, sandwiches,
                                    &out.left.sandwich_met, deadline);
  cz_to_phases(program.qubits, items, program.barrier_qubits, out.cancelled, out.now, deadline);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (out.cancelled[i] || items[i].count != 0) continue;
    out.left.t += elementary_info(out.now[i]).t;
    out.left.two_qubit += elementary_info(out.now[i]).qubits == 2;
  }
  return out;
}

// Rotation merging's edits with the rewritten statements replaced: the
// blocks written at their anchors (each in `writing`), their rotations gone,
// and then the pairs of gates that cancel once the rotations are out, as
// `pairs` (cancel_pairs of the program_items of the same rewrite and
// `writing`) has them.
Edits compose(const QasmProgram& program, const Edits& merged, const ProgramSteps& steps,
              const StepsRewrite& rewrite, const std::vector<std::uint8_t>& phases,
              Writing writing, const CancelledPairs& pairs, int& phase) {
  const std::uint32_t n = steps.qubits;
  const std::vector<bool>& cancelled = pairs.cancelled;
  const std::vector<Elementary>& now = pairs.now;
  const std::vector<std::uint32_t>& step_item = pairs.step_item;
  const std::vector<std::uint32_t>& inserted_item = pairs.inserted_item;

  Edits out;
  out.extra_qubits = rewrite.extra_qubits;
  EditCursor cursor(merged, program.qubits);
  std::uint32_t step = 0;  // the first step of the statement at hand
  std::size_t next = 0;
  std::vector<PlacedGate> gates;
  std::vector<PlacedOperation> operations;
  for (std::uint32_t s = 0; s < program.statements.size(); ++s) {
    const Edit* edit = cursor.at(s, program.statements[s]);
    const std::uint32_t first = step;
    while (step < steps.steps.size() && steps.steps[step].statement == s) ++step;
    bool touched = false;
    operations.clear();
    for (std::uint32_t k = first; k < step; ++k) {
      if (next < rewrite.insertions.size() && rewrite.insertions[next].step == k) {
        touched = true;
        const auto& block = chosen(rewrite.insertions[next], writing);
        for (std::uint32_t g = 0; g < block.size(); ++g) {
          const std::uint32_t item = place_of(pairs, inserted_item[next] + g);
          if (!cancelled[item]) {
            operations.push_back(block[g]);
            if (block[g].kind == OperationKind::Gate) operations.back().gate = as_left(block[g].gate, now[item]);
          }
          write_added(pairs, inserted_item[next] + g, operations);
        }
        ++next;
      }
      if (step_item[k] == kNoQubit) continue;
      const std::uint32_t item = step_item[k] == kNoItem ? kNoItem : place_of(pairs, step_item[k]);
      if (item == kNoItem || cancelled[item]) {
        touched = true;
      } else if (steps.steps[k].kind != StepKind::Boundary || is_rotation(steps.steps[k].gate.gate)) {
        operations.push_back({OperationKind::Gate, as_left(steps.steps[k].gate, now[item]), 0});
        touched |= now[item] != steps.steps[k].gate.gate;
      }
      if (item != kNoItem) touched |= write_added(pairs, step_item[k], operations);
    }
    if (touched) {
      // A statement rotation merging left as it was now becomes its gates.
      if (edit == nullptr) phase += phases[s];
      const bool plain = std::all_of(operations.begin(), operations.end(), [&](const PlacedOperation& op) {
        return op.kind == OperationKind::Gate && op.gate.a < n &&
               (elementary_info(op.gate.gate).qubits == 1 || op.gate.b < n);
      });
      if (plain) {
        gates.clear();
        for (const PlacedOperation& op : operations) gates.push_back(op.gate);
        out.place(s, gates);
      } else {
        out.operate(s, operations);
      }
      continue;
    }
    if (edit != nullptr && edit->kind == EditKind::Placed) {
      gates.clear();
      for (std::uint32_t k = 0; k < edit->count; ++k) gates.push_back(cursor.placed(*edit, k));
      out.place(s, gates);
    } else if (edit != nullptr) {
      const auto at = static_cast<std::uint32_t>(out.gates.size());
      for (std::uint32_t k = 0; k < edit->count; ++k) out.gates.push_back(cursor.gate(*edit, k));
      out.add(s, at, edit->count);
    }
  }
  cursor.finish();
  check(next == rewrite.insertions.size(), "every rewrite is placed");
  return out;
}

// One choice of how to compose the program: the rewrite it writes (none:
// rotation merging's result, its pairs cancelled), the writing of its blocks, and
// the pairs that then cancel, with what is left. Only the chosen one is
// composed into edits.
struct Choice {
  CancelledPairs pairs;
  const StepsRewrite* rewrite = nullptr;
  Writing writing = Writing::Chosen;  // which writing of each block
};

// `pairs` with the pairs that meet agreeing on one qubit merged
// (src/cancellation/pair_merging.h; with `carry_on`, those met going on
// too) and the merged gates spliced in. Returns how many merged only going
// on.
std::size_t merge_and_splice(const ProgramItems& program, CancelledPairs& pairs, bool carry_on) {
  std::vector<ItemAddition> additions;
  std::size_t carried_on = 0;
  pairs.left.two_qubit -= merge_pairs(program.qubits, program.items, program.barrier_qubits, pairs.cancelled,
                                      pairs.now, additions, carry_on, &carried_on);
  if (!additions.empty()) {
    SplicedItems spliced = splice_items(program.items, pairs.cancelled, pairs.now, additions);
    pairs.cancelled = std::move(spliced.removed);
    pairs.now = std::move(spliced.now);
    pairs.spliced = std::move(spliced.items);
    pairs.start = std::move(spliced.start);
  }
  return carried_on;
}

// The items `pairs` follows: the program's, or those with gates spliced in.
std::span<const CancelItem> items_of(const ProgramItems& program, const CancelledPairs& pairs) {
  return pairs.start.empty() ? std::span<const CancelItem>(program.items) : std::span<const CancelItem>(pairs.spliced);
}

// `added` spliced into the items `pairs` follows (none: as they are).
void splice_into(const ProgramItems& program, CancelledPairs& pairs, std::span<const ItemAddition> added) {
  if (added.empty()) return;
  SplicedItems spliced = splice_items(items_of(program, pairs), pairs.cancelled, pairs.now, added);
  if (pairs.start.empty()) {
    pairs.start = std::move(spliced.start);
  } else {
    for (std::uint32_t& at : pairs.start) at = spliced.start[at];
  }
  pairs.cancelled = std::move(spliced.removed);
  pairs.now = std::move(spliced.now);
  pairs.spliced = std::move(spliced.items);
}

// `pairs` with the stretches of cx, x and phase gates rid of the cx pairs
// whose phase gates can move (src/cancellation/floating_phases.h).
void float_phases(const ProgramItems& program, CancelledPairs& pairs, const Deadline& deadline,
                  FloatingSearches& searches) {
  std::vector<ItemAddition> moved;
  pairs.left.two_qubit -= cancel_floating_pairs(program.qubits, items_of(program, pairs), program.barrier_qubits,
                                                pairs.cancelled, pairs.now, moved, deadline, &pairs.phase, &searches);
  splice_into(program, pairs, moved);
}

// Programs of more than kBothFinishesItems items (those the rounds of the
// pipeline do not take) are finished once, with the merges going on, and
// without the rounds of conjugate pairs below: finishing twice took a
// third longer on a million random Clifford gates, for the same gates
// there and on hwb10, and one round of conjugate pairs a quarter longer.
constexpr std::size_t kBothFinishesItems = 8192;
// Programs of at most kFinishEachSteps steps, without extra qubits, have
// every composition the choice weighs finished before it is weighed
// (cheapest, `finish_each`): qcla_mod_7 296 -> 283 two-qubit gates, tof_10
// 70 -> 68, grover_5 200 -> 197. gf2^16_mult (3,438 gates) took 1.7 times
// as long, and qcla_mod_7 with gadgets 2.4 s (the regions' choices are
// many), so those weigh them unfinished.
constexpr std::size_t kFinishEachSteps = 2048;
// The finishes that weigh the compositions search for the fewest cx gates
// on a stretch within this many states a search (2^17 in the one finish of
// the chosen composition), and within kWeighingStates in all, a sixteenth
// of that on more than six wires. Weighed so, every T-count program keeps
// its counts but qcla_mod_7, whose rounds take another path (289 -> 283
// two-qubit gates), and the choice takes about a third of the time that
// full finishes took on qcla_mod_7 and adder_8.
constexpr std::uint64_t kWeighingStatesPerSearch = std::uint64_t{1} << 10;
constexpr std::uint64_t kWeighingStates = std::uint64_t{1} << 14;

// Searches for the weighing finishes, with kWeighingStates' bounds.
FloatingSearches weighing_searches() {
  FloatingSearches searches;
  for (FewestCxSearch* search : {&searches.whole.given, &searches.whole.odd, &searches.windows.given,
                                 &searches.windows.odd}) {
    search->states_left = kWeighingStates;
    search->wide_states_left = kWeighingStates / 16;
    search->states_per_search = std::min(search->states_per_search, kWeighingStatesPerSearch);
  }
  return searches;
}
// How many rounds of conjugate pairs and stretches at most: on the T-count
// programs none gains in a fourth.
constexpr int kConjugationRounds = 3;

// `pairs` (merged) with the stretches of cx, x and phase gates rid of the
// cx pairs whose phase gates can move and, on up to eight wires, written
// with the fewest cx gates (float_phases); on programs of at most
// kBothFinishesItems items, then rounds where three two-qubit gates become
// two (src/cancellation/pair_conjugation.h) and the stretches are written
// again, while the first changes any; and then the phase gates left
// meeting on a qubit joined into the fewest (src/cancellation/phase_joining.h).
void finish_stretches(const ProgramItems& program, CancelledPairs& pairs, const Deadline& deadline,
                      FloatingSearches* shared) {
  // The rounds' searches answer the stretches they left as they were from
  // the first's answers (and from those of the searches `shared`, if given).
  FloatingSearches own;
  FloatingSearches& searches = shared != nullptr ? *shared : own;
  float_phases(program, pairs, deadline, searches);
  for (int round = 0; round < kConjugationRounds && program.items.size() <= kBothFinishesItems; ++round) {
    if (deadline.passed()) break;
    std::vector<ItemAddition> added;
    const std::size_t gone = conjugate_pairs(program.qubits, items_of(program, pairs), program.barrier_qubits,
                                             pairs.cancelled, pairs.now, added);
    if (gone == 0) break;
    pairs.left.two_qubit -= gone;
    splice_into(program, pairs, added);
    float_phases(program, pairs, deadline, searches);
  }
  join_phase_runs(program.qubits, items_of(program, pairs), program.barrier_qubits, pairs.cancelled, pairs.now);
}

// The T gates among the items `pairs` leaves.
std::uint64_t t_left(const ProgramItems& program, const CancelledPairs& pairs) {
  const std::span<const CancelItem> items = items_of(program, pairs);
  std::uint64_t t = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!pairs.cancelled[i] && items[i].count == 0) t += elementary_info(pairs.now[i]).t;
  }
  return t;
}

// The chosen composition with the cx and cz pairs that meet across h gates
// gone (src/cancellation/pairs_across_h.h), those that meet agreeing on one
// qubit merged, and its stretches and phase gates written anew
// (finish_stretches): T never grows, and two-qubit gates only go, so the
// choice by the cost rule stands. Done once, for the chosen composition;
// and, where pairs merge that are met only going on, again with those
// merged too, which is kept where it is cheaper by the cost rule, or as
// cheap with fewer two-qubit gates (a merge can take a pair that the
// stretches after would have cancelled whole: with it always kept,
// fprenorm's rounds ended at 111 two-qubit gates, where they end at 110
// without it and 109 so). Programs of more than kBothFinishesItems items
// (those the rounds do not take) are finished once.
void finish_choice(const ProgramSteps& steps, Choice& choice, const PhasePolynomialOptions& options,
                   FloatingSearches* shared = nullptr) {
  const ProgramItems program = program_items(steps, *choice.rewrite, choice.writing);
  CancelledPairs& pairs = choice.pairs;
  pairs.left.two_qubit -= cancel_pairs_across_h(program.qubits, program.items, program.barrier_qubits,
                                                pairs.cancelled, pairs.now);
  if (program.items.size() > kBothFinishesItems) {
    merge_and_splice(program, pairs, true);
    finish_stretches(program, pairs, options.deadline, shared);
    return;
  }
  CancelledPairs on = pairs;
  merge_and_splice(program, pairs, false);
  const bool both = merge_and_splice(program, on, true) > 0;
  finish_stretches(program, pairs, options.deadline, shared);
  if (!both || options.deadline.passed()) return;
  finish_stretches(program, on, options.deadline, shared);
  const std::uint64_t t_back = t_left(program, pairs), t_on = t_left(program, on);
  const std::uint64_t q_back = pairs.left.two_qubit, q_on = on.left.two_qubit;
  if (rewrite_pays(t_back, q_back, t_on, q_on, options.two_qubit_cost) || (t_on == t_back && q_on < q_back)) {
    pairs = std::move(on);
  }
}

// Each choice of blocks of `rewrite` with its pairs cancelled, with the
// blocks written as their estimates chose, all plainly, and all following
// the program's cx gates where they can (the estimates are off by tens of
// gates on wide blocks, and any may leave more once the pairs cancel: one
// composition more each way beats keeping a worse writing); the cheapest by the
// cost rule wins. The first choice, `none`, writes no block anew: rotation
// merging's result with its pairs cancelled, which every rewrite must beat.
// With `finish_each`, each is weighed finished (finish_choice, with the
// small searches of weighing_searches, shared among them: a stretch that
// two compositions share is searched once): a composition that leaves
// more before its finish may leave fewer after it. The one returned is
// unfinished either way: the caller finishes it in full.
Choice cheapest(const ProgramSteps& steps, const StepsRewrite& none, const StepsRewrite& rewrite,
                const PhasePolynomialOptions& options, bool finish_each = false) {
  std::optional<Choice> best;
  Left best_left;  // what `best` leaves as weighed
  FloatingSearches searches = weighing_searches();  // shared by the weighing finishes
  // Each with cx pairs around S powers made cz gates and without
  // (a cz may stop a later pair); without such pairs, once.
  const auto consider = [&](const StepsRewrite& r, Writing writing) {
    const ProgramItems program = program_items(steps, r, writing);
    bool met = true;  // the composition without met such a pair
    for (bool sandwiches : {false, true}) {
      if (sandwiches && (!met || options.deadline.passed())) return;  // the same again, or late
      Choice c{cancel_pairs(program, sandwiches, options.deadline), &r, writing};
      Left left = c.pairs.left;
      met = left.sandwich_met;
      if (finish_each) {
        Choice weighed = c;
        finish_choice(steps, weighed, options, &searches);
        left = weighed.pairs.left;
        left.t = t_left(program, weighed.pairs);
      }
      if (!best || (options.every_block && best->rewrite == &none) ||
          rewrite_pays(best_left.t, best_left.two_qubit, left.t, left.two_qubit, options.two_qubit_cost)) {
        best = std::move(c);
        best_left = left;
      }
    }
  };
  // Past the deadline only the rewrite itself, as written, is weighed
  // against the first composition, each with the pairs cancelled by then.
  const auto both = [&](const StepsRewrite& r, bool alternative) {
    if (alternative && options.deadline.passed()) return;
    consider(r, Writing::Chosen);
    if (!options.deadline.passed() &&
        std::any_of(r.insertions.begin(), r.insertions.end(),
                    [](const Insertion& i) { return !i.unguided.empty(); })) {
      consider(r, Writing::Unguided);
    }
    if (!options.deadline.passed() &&
        std::any_of(r.insertions.begin(), r.insertions.end(),
                    [](const Insertion& i) { return !i.guided.empty(); })) {
      consider(r, Writing::Guided);
    }
  };
  consider(none, Writing::Chosen);
  if (options.every_block || !rewrite.insertions.empty()) both(rewrite, false);
  for (const StepsRewrite& r : rewrite.alternatives) both(r, true);
  return std::move(*best);
}

}  // namespace

std::optional<std::string> too_large_for_phase_polynomial(const QasmProgram& program) {
  return too_large_for_rotation_merging(program);
}

PhasePolynomialResult reduce_phase_polynomials(const QasmProgram& program,
                                               const PhasePolynomialOptions& options) {
  // A deadline passed before any work (the reading took the limit) leaves
  // the program as written: rotation merging would still walk all of it.
  if (options.deadline.passed()) return {};
  RotationMergingResult merged = merge_rotations(program, options.deadline, options.tolerance);
  if (options.deadline.passed()) {
    return {std::move(merged.edits), merged.phase, 0, merged.rounded};
  }
  std::vector<std::uint8_t> phases;
  // Below the default tolerance no angle is rounded in reading either.
  const ProgramSteps steps =
      read_steps(program, merged.edits, phases, options.tolerance < kAngleTolerance);
  StepsRewrite none;
  none.removed.assign(steps.steps.size(), false);
  RewriteOptions rewrite_options;
  static_cast<PhasePolynomialOptions&>(rewrite_options) = options;
  if (options.ancillas > 0 && options.two_qubit_cost > 0) {
    // Regions with gadgets are bounded by the whole result's two-qubit
    // gates, as the choice below would make it (cost.h); at cost 0 the
    // choice is by T alone.
    rewrite_options.result_two_qubit = [&](const StepsRewrite& r) {
      const Left left = cheapest(steps, none, r, options).pairs.left;
      return left.two_qubit + left.conditioned_two_qubit;
    };
  }
  const StepsRewrite rewrite = rewrite_blocks(steps, rewrite_options);
  none.t_before = none.t_after = rewrite.t_before;
  const bool finish_each = options.ancillas == 0 && steps.steps.size() <= kFinishEachSteps;
  Choice best = cheapest(steps, none, rewrite, options, finish_each);
  // Where the compositions were weighed finished, the chosen one's finishes
  // (with the merges going back, and going on) share their searches, as
  // the weighing finishes do: on qcla_mod_7 the rounds then reach 283
  // two-qubit gates, where with searches of their own they reach 296.
  FloatingSearches shared;
  finish_choice(steps, best, options, finish_each ? &shared : nullptr);
  PhasePolynomialResult out;
  out.rounded = merged.rounded;
  // Where nothing is rewritten and nothing cancels, rotation merging's
  // edits as they are.
  std::uint64_t merged_two_qubit = 0;
  for (const Step& step : steps.steps) {
    merged_two_qubit += step.kind == StepKind::Clifford && elementary_info(step.gate.gate).qubits == 2;
  }
  if (best.rewrite == &none && best.pairs.left.two_qubit == merged_two_qubit) {
    out.edits = std::move(merged.edits);
    out.phase = merged.phase;
    return out;
  }
  int phase = merged.phase.eighths + best.rewrite->phase + best.pairs.phase;
  out.edits = compose(program, merged.edits, steps, *best.rewrite, phases, best.writing, best.pairs, phase);
  out.phase = {static_cast<std::uint8_t>(phase & 15), merged.phase.radians};
  out.extra_qubits = best.rewrite->extra_qubits;
  return out;
}

}  // namespace kestrel
