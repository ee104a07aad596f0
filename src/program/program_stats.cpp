// The program statistics walk the statements once, in order, seeing the run
// gates through, and keep one level per bit before the edits and one after;
// every other gate statement counts what it holds (src/program/gate_counts.h).
// The working class is private to this file.
#include "src/program/program_stats.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "engine/fault.h"
#include "src/program/gate_counts.h"
#include "src/program/instance_walk.h"

namespace kestrel {
namespace {

class Counter : public InstanceVisitor {
 public:
  Counter(const QasmProgram& program, const Edits& edits)
      : program_(program), contents_(program), cursor_(edits, program.qubits) {}
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;

  ProgramStats count();

  // The walk's reports, inlined into it: they come once per statement.
  [[gnu::always_inline]] void statement(std::uint32_t s);
  [[gnu::always_inline]] void gate(PlacedGate gate, std::uint32_t s, std::uint32_t position);
  void boundary(std::uint32_t s, std::uint32_t instance, std::span<const std::uint32_t> qubits);

 private:
  void level(std::span<const std::uint32_t> bits, bool adds_level, std::size_t sides);
  void place(const Edit& edit);
  void operate(const Edit& edit);
  std::size_t level_of(std::uint32_t q) const;
  void begin_condition(const Statement& st);
  void end_condition();

  // One gate application that holds `inside`.
  static void add(CircuitStats& stats, std::uint64_t& two_qubit, const GateCounts& inside) {
    stats.gates += 1;
    stats.t = saturating_add(stats.t, inside.t);
    stats.rotations = saturating_add(stats.rotations, inside.rotations);
    two_qubit = saturating_add(two_qubit, inside.two_qubit);
  }

  const QasmProgram& program_;            // the program counted
  GateCounter contents_;                  // what each of its gate statements holds
  EditCursor cursor_;                     // its edits, walked with it
  const Edit* edit_ = nullptr;            // the edit of the statement at hand, or null
  std::array<std::vector<std::uint64_t>, 2> levels_;  // per side (before, after), per qubit
                                                      // then per clbit: its depth so far
  std::vector<std::uint32_t> touched_;    // a measurement's qubit and clbit
  struct Condition {
    std::uint32_t first = 0;                // the condition register's bits: [first, end)
    std::uint32_t end = 0;                  // equal to `first` when there is none
    std::array<std::uint64_t, 2> level{};   // where they all stand, before and after
  } condition_;                             // of the conditional statement at hand
  ProgramStats stats_;                      // counted as the statements are read
};

ProgramStats Counter::count() {
  // Extra qubits, and a bit each for their measurements, come after the
  // program's bits.
  const std::size_t bits =
      std::size_t{program_.qubits} + program_.clbits + 2 * std::size_t{cursor_.extra_qubits()};
  levels_[0].assign(bits, 0);
  levels_[1].assign(bits, 0);
  InstanceWalk(program_, Sight::RunGates).run(*this);
  end_condition();
  cursor_.finish();
  for (std::size_t side = 0; side < 2; ++side) {
    const std::vector<std::uint64_t>& levels = levels_[side];
    (side == 0 ? stats_.before : stats_.after).depth =
        levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
  }
  return stats_;
}

// Closes the statement before (its condition's bits take their level) and
// opens statement `s`: its edit, and its condition. A placed edit's gates
// are counted on the after side at once, the statement itself on the
// before side as the walk reports it.
inline void Counter::statement(std::uint32_t s) {
  if (condition_.first != condition_.end) end_condition();
  const Statement& st = program_.statements[s];
  edit_ = cursor_.at(s, st);
  if (edit_ != nullptr && edit_->kind == EditKind::Placed) place(*edit_);
  if (edit_ != nullptr && edit_->kind == EditKind::Operations) operate(*edit_);
  if (st.condition != kNoCondition) begin_condition(st);
}

// A run gate: one level on its qubit, on the after side as its edit says.
inline void Counter::gate(PlacedGate gate, std::uint32_t, std::uint32_t) {
  const std::uint32_t q = checked_index(program_.qubits, gate.a);
  levels_[0][q] += 1;
  stats_.before.add(gate.gate);
  if (edit_ == nullptr) {
    levels_[1][q] += 1;
    stats_.after.add(gate.gate);
  } else if (edit_->kind == EditKind::RunGates) {
    levels_[1][q] += edit_->count;
    for (std::uint32_t k = 0; k < edit_->count; ++k) stats_.after.add(cursor_.gate(*edit_, k));
  }
}

// One instance of a gate, measurement or reset (and its clbit), or a
// barrier over its qubits.
void Counter::boundary(std::uint32_t s, std::uint32_t instance,
                       std::span<const std::uint32_t> qubits) {
  const Statement& st = program_.statements[s];
  if (st.kind == StatementKind::Barrier) {
    level(qubits, false, 2);
    return;
  }
  if (st.kind == StatementKind::Measure) {
    touched_.assign(qubits.begin(), qubits.end());
    const Operand& clbit = program_.operands[st.first_operand + 1];
    touched_.push_back(program_.qubits + operand_bit(program_, clbit, instance));
    qubits = touched_;
  }
  // A placed edit replaces the statement on the after side only.
  const std::size_t sides = edit_ == nullptr ? 2 : 1;
  level(qubits, true, sides);
  if (st.kind == StatementKind::Gate) {
    const GateCounts inside = contents_.statement(s);
    add(stats_.before, stats_.two_qubit_before, inside);
    if (sides == 2) add(stats_.after, stats_.two_qubit_after, inside);
  }
}

// The gates of a placed edit, each a level on its qubits after the edits.
void Counter::place(const Edit& edit) {
  std::vector<std::uint64_t>& levels = levels_[1];
  for (std::uint32_t k = 0; k < edit.count; ++k) {
    const PlacedGate g = cursor_.placed(edit, k);
    if (elementary_info(g.gate).qubits == 2) {
      levels[g.a] = levels[g.b] = std::max(levels[g.a], levels[g.b]) + 1;
    } else {
      levels[g.a] += 1;
    }
    stats_.after.add(g);
    stats_.two_qubit_after += elementary_info(g.gate).qubits == 2;
  }
}

// Where qubit `q` of a placed operation keeps its level: a program qubit
// at its own place, an extra qubit past the program's bits.
std::size_t Counter::level_of(std::uint32_t q) const {
  if (q < program_.qubits) return q;
  return std::size_t{program_.qubits} + program_.clbits + (q - program_.qubits);
}

// The operations of an edit, on the after side: a gate a level on its
// qubits, a measurement on its extra qubit and bit, a conditioned gate on
// its qubits and its condition's bit (counted as a gate, as Qiskit does).
void Counter::operate(const Edit& edit) {
  std::vector<std::uint64_t>& levels = levels_[1];
  const std::size_t extra_bits =
      std::size_t{program_.qubits} + program_.clbits + cursor_.extra_qubits();
  for (std::uint32_t k = 0; k < edit.count; ++k) {
    const PlacedOperation op = cursor_.operation(edit, k);
    std::uint64_t level = 0;
    touched_.clear();
    if (op.kind == OperationKind::Measure) {
      touched_.push_back(static_cast<std::uint32_t>(level_of(program_.qubits + op.extra)));
    } else {
      touched_.push_back(static_cast<std::uint32_t>(level_of(op.gate.a)));
      if (elementary_info(op.gate.gate).qubits == 2) {
        touched_.push_back(static_cast<std::uint32_t>(level_of(op.gate.b)));
      }
      stats_.after.add(op.gate);
      stats_.two_qubit_after += elementary_info(op.gate.gate).qubits == 2;
    }
    if (op.kind != OperationKind::Gate) touched_.push_back(static_cast<std::uint32_t>(extra_bits + op.extra));
    for (std::uint32_t b : touched_) level = std::max(level, levels[b]);
    for (std::uint32_t b : touched_) levels[b] = level + 1;
    stats_.measurements_after += op.kind == OperationKind::Measure;
  }
}

// An `if (c==n)` takes every bit of c in each broadcast instance, so between
// instances all of them stand at one level: that level is kept as one
// number per side while the instances go, and written to the bits at the
// end. An instance then costs its operands, not the register's size.
void Counter::begin_condition(const Statement& st) {
  condition_ = {};
  const Register& reg = program_.registers[checked_index(program_.registers.size(), st.condition)];
  if (reg.size == 0) return;
  condition_.first = program_.qubits + reg.first;
  condition_.end = condition_.first + reg.size;
  for (std::size_t side = 0; side < 2; ++side) {
    const std::vector<std::uint64_t>& levels = levels_[side];
    condition_.level[side] = *std::max_element(levels.begin() + condition_.first,
                                               levels.begin() + condition_.end);
  }
}

void Counter::end_condition() {
  if (condition_.first == condition_.end) return;
  for (std::size_t side = 0; side < 2; ++side) {
    std::fill(levels_[side].begin() + condition_.first, levels_[side].begin() + condition_.end,
              condition_.level[side]);
  }
  condition_ = {};
}

// Moves every bit of `bits` (and the condition's register) to one level past
// the deepest of them (to the deepest, for a barrier), on the first `sides`
// sides.
void Counter::level(std::span<const std::uint32_t> bits, bool adds_level, std::size_t sides) {
  const bool conditioned = condition_.first != condition_.end;
  const auto in_condition = [&](std::uint32_t b) {
    return b >= condition_.first && b < condition_.end;
  };
  for (std::size_t side = 0; side < sides; ++side) {
    std::vector<std::uint64_t>& levels = levels_[side];
    std::uint64_t level = conditioned ? condition_.level[side] : 0;
    for (std::uint32_t b : bits) {
      if (!in_condition(b)) level = std::max(level, levels[checked_index(levels.size(), b)]);
    }
    level += adds_level;
    for (std::uint32_t b : bits) levels[b] = level;
    if (conditioned) condition_.level[side] = level;
  }
}

}  // namespace

ProgramStats program_stats(const QasmProgram& program, const Edits& edits) {
  return Counter(program, edits).count();
}

}  // namespace kestrel
