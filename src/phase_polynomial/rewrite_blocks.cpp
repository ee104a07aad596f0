// A second walk over the steps with the frame read backwards: at a block's
// anchor its products are moved there, diagonalised, summed into a
// polynomial, reduced and, when that pays, written anew.
#include "src/phase_polynomial/rewrite_blocks.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <span>
#include <utility>

#include "engine/fault.h"
#include "src/pauli/inverse_tableau.h"
#include "src/pauli/pauli.h"
#include "src/pauli/span.h"
#include "src/phase_polynomial/block_guide.h"
#include "src/phase_polynomial/blocks.h"
#include "src/phase_polynomial/cost.h"
#include "src/phase_polynomial/diagonalise.h"
#include "src/phase_polynomial/gadgets.h"
#include "src/phase_polynomial/polynomial_mod8.h"
#include "src/phase_polynomial/reduce_and_write.h"

namespace kestrel {
namespace {

// Up to this many gadgets, a region that gains nothing is tried again with
// one fewer; past it, with half as many.
constexpr std::uint32_t kFewGadgets = 8;

class Rewriter {
 public:
  Rewriter(const ProgramSteps& program, const Blocks& blocks, const RewriteOptions& options)
      : program_(program), blocks_(blocks), options_(options) {}

  StepsRewrite run();

 private:
  // What a block, or a region starting at it, would write.
  struct Written {
    std::optional<std::vector<PlacedOperation>> ops;  // written anew; nothing: cannot be
    std::vector<PlacedOperation> unguided;     // when `ops` follow the program's cx gates: without
    std::vector<PlacedOperation> guided;       // when `ops` are plain though a guided writing exists: it
    std::uint64_t t = 0;                       // T gates then written
    std::uint64_t two_qubit = 0;               // two-qubit gates it adds to the program
    std::uint8_t phase = 0;                    // as StepsRewrite::phase, for its rotations
    bool gains = false;                        // fewer T gates than its rotations
    // Pays by the rule when every two-qubit gate between its anchor and its
    // last rotation cancels once its rotations go (the best case).
    bool hopeful = false;
  };
  // A block, or a region of blocks, with what it writes and whether it is
  // written anew or keeps its rotations in place.
  struct Unit {
    std::size_t first = 0;        // its first block
    std::size_t end = 0;          // the block past its last
    const Written* written = nullptr;
    bool anew = false;            // written anew at its first block's anchor
    bool pinned = false;          // kept in place for good: it cannot be written anew
  };

  void rewrite(std::size_t b, InverseTableau& frame);
  // A block's diagonalisation and its variables: the qubits its diagonal
  // products touch (`used`), renumbered (`variable_of`, `qubit_of`).
  struct BlockVariables {
    const Diagonalisation& diagonal;
    const std::vector<std::uint64_t>& used;
    const std::vector<std::uint32_t>& variable_of;
    const std::vector<std::uint32_t>& qubit_of;
  };
  void write_block(std::size_t b, const PhasePolynomial& f, const BlockVariables& v,
                   std::size_t count, int phase);
  void regions();
  bool region(std::size_t first, std::size_t end, InverseTableau& frame);
  void know_bound();
  bool within_bound(std::uint64_t added);
  void settle(std::vector<Unit>& units) const;
  StepsRewrite assemble(bool hopeful);
  StepsRewrite with_alternatives();
  StepsRewrite bound_regions(std::uint64_t bound);

  const ProgramSteps& program_;
  const Blocks& blocks_;
  const RewriteOptions& options_;
  std::vector<Written> written_;             // per block, from the first pass
  std::vector<bool> anchor_;                 // per step: the anchor of a block of rotations
  std::vector<std::uint64_t> two_qubit_steps_;  // per step s: the two-qubit gates of the steps before s
  std::vector<std::optional<Written>> regions_;  // per block: the region with gadgets it starts
  std::vector<std::size_t> region_end_;      // per block starting a region: the block past it
  // Per block starting a region: what its blocks wrote in the first pass
  // (T and two-qubit gates), and its extra qubits' first number.
  struct RegionBefore {
    std::uint64_t t = 0;
    std::uint64_t two_qubit = 0;
    std::uint32_t first_extra = 0;
  };
  std::vector<RegionBefore> region_before_;
  std::vector<bool> region_kept_;            // per block starting a region: kept with its gadgets
  std::uint32_t extra_qubits_ = 0;           // gadgets' extra qubits used so far
  // The bound of cost.h on the whole result's two-qubit gates, and what
  // regions with gadgets may still add by their own count (their gates
  // before any cancels) before the result passes it.
  std::uint64_t bound_ = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t slack_ = std::numeric_limits<std::uint64_t>::max();
  bool bound_known_ = false;                 // set once the first region pays
  ReductionAllowance allowance_;             // what the reductions may still spend
  WrittenCache cache_;                       // the blocks' networks written so far
};

StepsRewrite Rewriter::run() {
  allowance_ = {options_.deadline, options_.effort, options_.cap};
  written_.assign(blocks_.blocks.size(), Written{});
  regions_.assign(blocks_.blocks.size(), std::nullopt);
  region_end_.assign(blocks_.blocks.size(), 0);
  region_before_.assign(blocks_.blocks.size(), RegionBefore{});
  region_kept_.assign(blocks_.blocks.size(), true);
  anchor_.assign(program_.steps.size(), false);
  two_qubit_steps_.assign(program_.steps.size() + 1, 0);
  for (std::size_t s = 0; s < program_.steps.size(); ++s) {
    const Step& step = program_.steps[s];
    two_qubit_steps_[s + 1] = two_qubit_steps_[s] + (step.kind == StepKind::Clifford &&
                                                     elementary_info(step.gate.gate).qubits == 2);
  }
  for (const Block& block : blocks_.blocks) {
    if (!block.boundary) anchor_[block.anchor] = true;
  }
  InverseTableau frame(program_.qubits);
  std::size_t next = 0;  // the next block by anchor
  for (std::uint32_t s = 0; s < program_.steps.size(); ++s) {
    while (next < blocks_.blocks.size() && blocks_.blocks[next].anchor == s) {
      const std::size_t b = next++;
      const Block& block = blocks_.blocks[b];
      written_[b].t = block.members.size();
      if (block.boundary || block.members.empty() || options_.deadline.passed() || allowance_.exhausted()) continue;
      rewrite(b, frame);
    }
    const Step& step = program_.steps[s];
    if (step.kind == StepKind::Clifford) frame.apply(step.gate.gate, step.gate.a, step.gate.b);
  }
  if (options_.ancillas == 0) return with_alternatives();
  const bool bounded = options_.result_two_qubit && !options_.every_block;
  regions();
  const bool any_region = std::any_of(regions_.begin(), regions_.end(),
                                      [](const std::optional<Written>& r) { return r.has_value(); });
  if (!any_region) return with_alternatives();
  StepsRewrite out = bounded ? bound_regions(bound_) : with_alternatives();
  if (options_.every_block) return out;
  // The result without gadgets, for the caller to weigh as well: a region
  // that pays by its blocks' own counts may still leave more T gates once
  // the pairs of the whole program cancel (its blocks' T gates no longer
  // meet those around them).
  const std::vector<bool> kept = std::exchange(region_kept_, std::vector<bool>(region_kept_.size(), false));
  StepsRewrite plain = with_alternatives();
  region_kept_ = kept;
  for (StepsRewrite& r : plain.alternatives) out.alternatives.push_back(std::move(r));
  plain.alternatives.clear();
  out.alternatives.push_back(std::move(plain));
  return out;
}

// The rewrite with the blocks that pay, and, where some pay only in the
// best case, the choice with those too.
StepsRewrite Rewriter::with_alternatives() {
  StepsRewrite out = assemble(false);
  const bool hope = std::any_of(written_.begin(), written_.end(),
                                [](const Written& w) { return w.hopeful && !w.gains; });
  if (hope) out.alternatives.push_back(assemble(true));
  return out;
}

// The regions with gadgets kept, those that add the fewest two-qubit gates
// per T gate saved first, as many as keep the whole result within the
// bound of cost.h: all of them when that fits, else the most a bisection
// finds (none always fits: it is the result without gadgets). Each trial is
// one composition of the whole program, so about log2(regions) of them.
StepsRewrite Rewriter::bound_regions(std::uint64_t bound) {
  std::vector<std::size_t> order;
  for (std::size_t b = 0; b < regions_.size(); ++b) {
    if (regions_[b]) order.push_back(b);
  }
  // Two-qubit gates added per T gate saved; a region saving none goes last.
  const auto price = [&](std::size_t b) {
    const RegionBefore& before = region_before_[b];
    const double added = static_cast<double>(regions_[b]->two_qubit) - static_cast<double>(before.two_qubit);
    const std::uint64_t saved = before.t - std::min(before.t, regions_[b]->t);
    return saved == 0 ? std::numeric_limits<double>::infinity() : added / static_cast<double>(saved);
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return price(x) < price(y); });
  const auto keep = [&](std::size_t k) {
    for (std::size_t i = 0; i < order.size(); ++i) region_kept_[order[i]] = i < k;
    return with_alternatives();
  };
  StepsRewrite all = keep(order.size());
  if (options_.result_two_qubit(all) <= bound) return all;
  std::size_t within = 0, beyond = order.size();
  while (beyond - within > 1) {
    const std::size_t middle = within + (beyond - within) / 2;
    (options_.result_two_qubit(keep(middle)) <= bound ? within : beyond) = middle;
  }
  return keep(within);
}

// The units (regions kept with their gadgets, else single blocks), settled,
// as a rewrite: with `hopeful`, the blocks that pay in the best case too.
StepsRewrite Rewriter::assemble(bool hopeful) {
  // The units: regions kept with their gadgets, else single blocks.
  std::vector<Unit> units;
  for (std::size_t b = 0; b < blocks_.blocks.size();) {
    Unit unit;
    unit.first = b;
    if (regions_[b] && region_kept_[b]) {
      unit.end = region_end_[b];
      unit.written = &*regions_[b];
    } else {
      unit.end = b + 1;
      unit.written = &written_[b];
    }
    unit.anew = unit.written->ops.has_value() &&
                (unit.written->gains || (hopeful && unit.written->hopeful));
    unit.pinned = !unit.written->ops.has_value();
    units.push_back(unit);
    b = unit.end;
  }
  settle(units);

  StepsRewrite out;
  out.removed.assign(program_.steps.size(), false);
  out.t_before = blocks_.rotations.size();
  out.t_after = 0;
  out.extra_qubits = 0;
  for (const Unit& unit : units) {
    if (!unit.anew) {
      for (std::size_t b = unit.first; b < unit.end; ++b) out.t_after += blocks_.blocks[b].members.size();
      continue;
    }
    out.t_after += unit.written->t;
    out.phase = static_cast<std::uint8_t>((out.phase + unit.written->phase) & 15);
    for (std::size_t b = unit.first; b < unit.end; ++b) {
      for (std::uint32_t r : blocks_.blocks[b].members) out.removed[blocks_.rotations[r]] = true;
    }
    out.insertions.push_back(
        {blocks_.blocks[unit.first].anchor, *unit.written->ops, unit.written->unguided,
         unit.written->guided});
    if (regions_[unit.first] && region_kept_[unit.first]) {
      // A region's extra qubits, numbered on from those of the regions
      // written before it (those between that are not written leave none).
      const std::uint32_t from = region_before_[unit.first].first_extra;
      const std::uint32_t n = program_.qubits;
      const std::uint32_t shift = from - out.extra_qubits;
      std::uint32_t used = 0;
      for (PlacedOperation& op : out.insertions.back().ops) {
        if (op.kind != OperationKind::Gate) {
          op.extra -= shift;
          used = std::max(used, op.extra + 1);
        }
        if (op.kind == OperationKind::Measure) continue;
        if (op.gate.a >= n) op.gate.a -= shift;
        if (elementary_info(op.gate.gate).qubits == 2 && op.gate.b >= n) op.gate.b -= shift;
      }
      out.extra_qubits = std::max(out.extra_qubits, used);
    }
  }
  return out;
}

// A unit written anew at its anchor moves its later rotations there, past
// every rotation between: fine for those of blocks at or after its own
// (each passed them, or they passed it, when the blocks were cut), but a
// rotation of an earlier block kept in place, read after the anchor, may
// not commute with them. Such a block is written anew as well (at its own
// anchor, before, as the blocks' order wants), or, when it cannot be, the
// unit keeps its rotations in place. Settled from the last unit back, until
// nothing changes.
void Rewriter::settle(std::vector<Unit>& units) const {
  std::vector<std::size_t> unit_of(blocks_.blocks.size(), 0);
  for (std::size_t u = 0; u < units.size(); ++u) {
    for (std::size_t b = units[u].first; b < units[u].end; ++b) unit_of[b] = u;
  }
  std::vector<std::size_t> block_of(blocks_.rotations.size(), 0);
  for (std::size_t b = 0; b < blocks_.blocks.size(); ++b) {
    for (std::uint32_t r : blocks_.blocks[b].members) block_of[r] = b;
  }
  const std::size_t words = blocks_.words;
  const auto product = [&](std::uint32_t r) { return blocks_.products.data() + std::size_t{r} * 2 * words; };
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t u = units.size(); u-- > 0;) {
      Unit& unit = units[u];
      if (!unit.anew) continue;
      // The unit's rotations span [first, last] in the order they were read.
      std::uint32_t first = ~0u, last = 0;
      for (std::size_t b = unit.first; b < unit.end; ++b) {
        for (std::uint32_t r : blocks_.blocks[b].members) {
          first = std::min(first, r);
          last = std::max(last, r);
        }
      }
      std::optional<PauliSpan> span;
      std::vector<std::size_t> conflicts;
      for (std::uint32_t r = first + 1; r < last; ++r) {
        const std::size_t other = unit_of[block_of[r]];
        if (block_of[r] >= unit.first || units[other].anew) continue;
        if (!span) {
          span.emplace(words);
          for (std::size_t b = unit.first; b < unit.end; ++b) {
            for (std::uint32_t m : blocks_.blocks[b].members) span->add(product(m));
          }
        }
        if (span->anticommutes(product(r))) conflicts.push_back(other);
      }
      if (conflicts.empty()) continue;
      changed = true;
      const bool movable = std::all_of(conflicts.begin(), conflicts.end(),
                                       [&](std::size_t c) { return !units[c].pinned; });
      if (movable) {
        for (std::size_t c : conflicts) units[c].anew = true;
      } else {
        unit.anew = false;
        unit.pinned = true;
      }
    }
  }
}

void Rewriter::rewrite(std::size_t b, InverseTableau& frame) {
  const Block& block = blocks_.blocks[b];
  const std::size_t words = blocks_.words;
  const std::uint32_t n = program_.qubits;
  const std::size_t count = block.members.size();
  std::vector<std::uint64_t> rows(count * 2 * words);
  std::vector<std::uint8_t> phases(count);
  for (std::size_t j = 0; j < count; ++j) {
    const std::uint32_t r = block.members[j];
    phases[j] = frame.image(blocks_.products.data() + std::size_t{r} * 2 * words,
                             blocks_.phases[r], rows.data() + j * 2 * words);
  }
  const Diagonalisation diagonal = diagonalise(n, rows, phases);
  // On a wide block each of these steps is long: the deadline is read
  // between them, and past it the block keeps its rotations.
  if (options_.deadline.passed()) return;

  // The variables: the qubits the diagonal products touch, renumbered.
  std::vector<std::uint64_t> used(words, 0);
  for (std::size_t j = 0; j < count; ++j) {
    for (std::size_t w = 0; w < words; ++w) used[w] |= diagonal.z_bits[j * words + w];
  }
  std::vector<std::uint32_t> qubit_of, variable_of(n, 0);
  std::size_t variables = 0;
  for (const std::uint64_t w : used) variables += static_cast<std::size_t>(std::popcount(w));
  qubit_of.reserve(variables);
  for (std::uint32_t q = 0; q < n; ++q) {
    if ((used[q / 64] >> (q % 64)) & 1) {
      variable_of[q] = static_cast<std::uint32_t>(qubit_of.size());
      qubit_of.push_back(q);
    }
  }
  PhasePolynomial f(static_cast<std::uint32_t>(qubit_of.size()));
  std::vector<std::uint64_t> parity(f.words());
  int phase = 0;  // eighths of pi
  for (std::size_t j = 0; j < count; ++j) {
    std::fill(parity.begin(), parity.end(), 0);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t b = diagonal.z_bits[j * words + w]; b != 0; b &= b - 1) {
        const std::uint32_t v = variable_of[64 * w + static_cast<std::size_t>(std::countr_zero(b))];
        parity[v / 64] |= std::uint64_t{1} << (v % 64);
      }
    }
    const bool negative = diagonal.signs[j] < 0;
    const Step& step = program_.steps[blocks_.rotations[block.members[j]]];
    const int d = elementary_info(step.gate.gate).diagonal;  // T 1, T-dagger -1
    // T = e^(i pi/8) exp(-i pi/8 Z) and exp(-i pi/8 s Z^a) = e^(-i s pi/8) w^(s a.x).
    const int c = negative ? -d : d;
    if (negative) phase += 2 * d;
    f.add(parity.data(), static_cast<std::uint8_t>(c & 7));
  }
  if (options_.deadline.passed()) return;

  write_block(b, f, {diagonal, used, variable_of, qubit_of}, count, phase);
}

// Block b's polynomial `f` (its `count` rotations, `phase` eighths of pi
// taken out) reduced and written on the block's variables `v`, with what
// the choice of blocks needs to know of it (written_[b]).
void Rewriter::write_block(std::size_t b, const PhasePolynomial& f, const BlockVariables& v,
                           std::size_t count, int phase) {
  const Block& block = blocks_.blocks[b];
  const Diagonalisation& diagonal = v.diagonal;
  // The reduced polynomial with its Clifford difference, two ways: the
  // difference's S powers and CZ gates, then a parity network for the new
  // parities' T gates; or one network for both (a CZ on x_i, x_k is the
  // terms 2 x_i + 2 x_k + 6 (x_i + x_k)) that follows the program's own cx
  // gates after the anchor, whose copies then cancel its last gates. The
  // one that adds fewer two-qubit gates by the estimate is written, and the
  // other kept beside it: the composition weighs both by what cancels.
  // Past the deadline the block keeps its rotations, as blocks never reached do.
  const std::optional<WrittenPolynomial> reduced_or_late = reduce_and_write(f, allowance_, false, &cache_, true);
  if (!reduced_or_late) return;
  const WrittenPolynomial& reduced = *reduced_or_late;
  const std::size_t kept = reduced.t;
  written_[b].t = kept;
  std::vector<PlacedGate> middle;
  middle.reserve(reduced.clifford.size() + reduced.network.gates.size());
  middle.insert(middle.end(), reduced.clifford.begin(), reduced.clifford.end());
  middle.insert(middle.end(), reduced.network.gates.begin(), reduced.network.gates.end());
  std::uint64_t middle_two_qubit = 0;
  for (const PlacedGate& g : middle) middle_two_qubit += elementary_info(g.gate).qubits == 2;
  std::uint64_t network_two_qubit = middle_two_qubit;  // the network's own, the program's aside
  const std::vector<PlacedGate> guide = block_guide(program_, blocks_, anchor_, b, diagonal.gates, v.used, v.variable_of);
  std::vector<PlacedGate> unguided_middle;  // the middle without the guide, when it follows one
  std::vector<PlacedGate> guided_middle;    // the guided middle, when the plain one is written
  if (!guide.empty()) {
    // Past the deadline there is no guided network: the plain one is written.
    std::optional<GuidedNetwork> guided_or_late = guided_network(f, reduced, guide, options_.deadline, &cache_);
    // Both ways with the guide's gates after them, as they cancel.
    const std::size_t plain = middle_two_qubit + guided_alone(guide);
    if (guided_or_late && guided_or_late->cx_left < plain) {
      GuidedNetwork& guided = *guided_or_late;
      unguided_middle = std::move(middle);
      network_two_qubit = guided.cx - guided.followed;  // its copies replace the program's
      middle = std::move(guided.gates);
      middle_two_qubit = guided.cx_left;
    } else {
      middle_two_qubit = plain;
      if (guided_or_late) guided_middle = std::move(guided_or_late->gates);
    }
  }
  const auto written = [&](const std::vector<PlacedGate>& gates) {
    std::vector<PlacedOperation> ops;
    ops.reserve(2 * diagonal.gates.size() + gates.size());
    const auto gate = [&](const PlacedGate& g) { ops.push_back({OperationKind::Gate, g, 0}); };
    for (const PlacedGate& g : diagonal.gates) gate(g);
    for (const PlacedGate& g : gates) {
      const bool two = elementary_info(g.gate).qubits == 2;
      gate({g.gate, v.qubit_of[g.a], two ? v.qubit_of[g.b] : 0});
    }
    for (const PlacedGate& g : inverse_gates(diagonal.gates)) gate(g);
    return ops;
  };
  std::vector<PlacedOperation> ops = written(middle);
  if (!unguided_middle.empty()) written_[b].unguided = written(unguided_middle);
  if (!guided_middle.empty()) written_[b].guided = written(guided_middle);
  // The rule, on the program's two-qubit gates between the block's anchor
  // and its last rotation: as the guide's estimate has them (only those
  // copied, or cancelling among themselves, go), and in the best case (all
  // of them go once the rotations do: many do, a Toffoli's cx gates meet
  // their copies); the caller composes both choices of blocks and keeps the
  // cheaper, which must also pay against rotation merging's result.
  const std::uint64_t diagonaliser = 2 * two_qubit_gates({ops.data(), diagonal.gates.size()});
  const std::uint64_t after = diagonaliser + middle_two_qubit;
  written_[b].two_qubit = after - std::min<std::uint64_t>(after, guide.size());
  written_[b].gains =
      options_.choose ? options_.choose(static_cast<std::uint32_t>(b))
                      : options_.every_block ||
                            rewrite_pays(count, guide.size(), kept, after, options_.two_qubit_cost);
  const std::uint32_t last =
      blocks_.rotations[*std::max_element(block.members.begin(), block.members.end())];
  const std::uint64_t span = two_qubit_steps_[last + 1] - two_qubit_steps_[block.anchor];
  written_[b].hopeful = !options_.choose &&
                        rewrite_pays(count, span, kept, diagonaliser + network_two_qubit,
                                     options_.two_qubit_cost);
  written_[b].ops = std::move(ops);
  written_[b].phase = static_cast<std::uint8_t>(phase & 15);
}

// The second pass: each run of rotation blocks between boundaries as one
// region with gadgets, kept where it writes fewer T gates than its blocks
// did in the first pass. A region that pays but takes the result past the
// bound of cost.h is cut in two halves by its blocks, each tried at its own
// anchor: a few of a program's Toffoli gates may take gadgets where all of
// them cannot.
void Rewriter::regions() {
  // Per block: the block past the run of blocks to try as a region from it
  // (0: none starts there).
  std::vector<std::size_t> pending(blocks_.blocks.size(), 0);
  for (std::size_t b = 0; b < blocks_.blocks.size();) {
    std::size_t end = b;
    while (end < blocks_.blocks.size() && !blocks_.blocks[end].boundary) ++end;
    if (end > b) pending[b] = end;
    b = std::max(end, b + 1);
  }
  InverseTableau frame(program_.qubits);
  std::size_t b = 0;
  for (std::uint32_t s = 0; s < program_.steps.size(); ++s) {
    for (; b < blocks_.blocks.size() && blocks_.blocks[b].anchor == s; ++b) {
      while (pending[b] != 0) {
        const std::size_t end = std::exchange(pending[b], 0);
        if (options_.deadline.passed() || allowance_.exhausted() || extra_qubits_ >= options_.ancillas) break;
        if (region(b, end, frame) && end - b >= 2) {
          const std::size_t middle = b + (end - b) / 2;
          pending[b] = middle;
          pending[middle] = end;
        }
      }
    }
    const Step& step = program_.steps[s];
    if (step.kind == StepKind::Clifford) frame.apply(step.gate.gate, step.gate.a, step.gate.b);
  }
}

// The bound, from the result without gadgets (composed once, when a first
// region pays: a program no region pays on composes nothing more).
void Rewriter::know_bound() {
  if (bound_known_ || !options_.result_two_qubit || options_.every_block) return;
  bound_known_ = true;
  const std::uint64_t ancilla_free = options_.result_two_qubit(with_alternatives());
  bound_ = gadget_two_qubit_bound(two_qubit_steps_.back(), ancilla_free);
  slack_ = bound_ - ancilla_free;
}

// Whether the regions kept so far, with the one just written adding
// `added` two-qubit gates by its own count, keep the result within the
// bound: surely when that fits the slack, else as the whole result,
// composed, has it (pairs of its gates and the program's may cancel).
bool Rewriter::within_bound(std::uint64_t added) {
  if (options_.every_block || added <= slack_) {
    slack_ -= std::min(slack_, added);
    return true;
  }
  const std::uint64_t total = options_.result_two_qubit(with_alternatives());
  if (total > bound_) return false;
  slack_ = bound_ - total;
  return true;
}

// Tries blocks [first, end) as a region with gadgets; whether it paid but
// took the result past the bound.
bool Rewriter::region(std::size_t first, std::size_t end, InverseTableau& frame) {
  const std::size_t words = blocks_.words;
  std::vector<RegionBlock> blocks;
  std::uint64_t before = 0, before_two_qubit = 0;  // what its blocks write in the first pass
  for (std::size_t b = first; b < end; ++b) {
    const Block& block = blocks_.blocks[b];
    before += written_[b].gains ? written_[b].t : block.members.size();
    before_two_qubit += written_[b].gains ? written_[b].two_qubit : 0;
    if (block.members.empty()) continue;
    RegionBlock& region_block = blocks.emplace_back();
    region_block.rows.resize(block.members.size() * 2 * words);
    for (std::size_t j = 0; j < block.members.size(); ++j) {
      const std::uint32_t r = block.members[j];
      region_block.phases.push_back(
          frame.image(blocks_.products.data() + std::size_t{r} * 2 * words, blocks_.phases[r],
                      region_block.rows.data() + j * 2 * words));
      const Step& step = program_.steps[blocks_.rotations[r]];
      region_block.degrees.push_back(elementary_info(step.gate.gate).diagonal);
    }
  }
  if (blocks.size() < 2) return false;  // no internal Hadamard gate to make a gadget of
  // A region that gains nothing with its gadgets may gain with fewer: one
  // fewer while they are few, half as many past that.
  std::uint32_t budget = options_.ancillas - extra_qubits_;
  // A region that cannot pay by its T gates and the two-qubit gates it
  // surely has is not written (its reductions still run, and are charged).
  const auto may_pay = [&](std::uint64_t t, std::uint64_t two_qubit) {
    return options_.every_block || rewrite_pays(before, before_two_qubit, t, two_qubit, options_.two_qubit_cost);
  };
  while (true) {
    RegionCircuit circuit =
        write_region(program_.qubits, blocks, budget, extra_qubits_, allowance_, may_pay);
    if (circuit.gadgets == 0) return false;
    const std::uint64_t two_qubit = two_qubit_gates(circuit.ops);
    const bool pays = circuit.written && may_pay(circuit.t, two_qubit);
    if (pays) {
      know_bound();
      region_before_[first] = {before, before_two_qubit, extra_qubits_};
      regions_[first] = Written{std::move(circuit.ops), {}, {}, circuit.t, two_qubit, circuit.phase, true};
      region_end_[first] = end;
      if (within_bound(two_qubit - std::min(two_qubit, before_two_qubit))) {
        extra_qubits_ += circuit.gadgets;
        return false;
      }
      regions_[first].reset();
      return true;
    }
    // A region that saves T gates but not enough for its two-qubit gates is
    // not tried again: fewer gadgets save fewer, and each try costs a
    // reduction of the whole region.
    if (circuit.t < before) return false;
    if (circuit.gadgets == 1 || options_.deadline.passed() || allowance_.exhausted()) return false;
    budget = circuit.gadgets <= kFewGadgets ? circuit.gadgets - 1 : circuit.gadgets / 2;
  }
}

}  // namespace

StepsRewrite rewrite_blocks(const ProgramSteps& program, const RewriteOptions& options) {
  const Blocks blocks = cut_into_blocks(program, options.deadline);
  return Rewriter(program, blocks, options).run();
}

}  // namespace kestrel
