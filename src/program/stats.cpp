// The program statistics read the statements once, in order, keeping one
// level per bit before the edits and one after. The working class is
// private to this file.
#include "src/program/stats.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

class Counter {
 public:
  explicit Counter(const QasmProgram& program) : program_(program) {}
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;

  ProgramStats count(const Edits& edits);

 private:
  void instance(const Statement& st, std::uint32_t i, std::size_t sides);
  void barrier(const Statement& st);
  void boundary(bool adds_level, std::size_t sides);
  void place(const EditCursor& cursor, const Edit& edit);
  void begin_condition(const Statement& st);
  void end_condition();
  std::uint32_t bit(const Operand& op, std::uint32_t i) const;

  const QasmProgram& program_;            // the program counted
  std::array<std::vector<std::uint64_t>, 2> levels_;  // per side (before, after), per qubit
                                                      // then per clbit: its depth so far
  std::vector<std::uint32_t> touched_;    // the bits of the operation at hand
  struct Condition {
    std::uint32_t first = 0;                // the condition register's bits: [first, end)
    std::uint32_t end = 0;                  // equal to `first` when there is none
    std::array<std::uint64_t, 2> level{};   // where they all stand, before and after
  } condition_;                             // of the conditional statement at hand
  ProgramStats stats_;                      // counted as the statements are read
};

std::uint32_t Counter::bit(const Operand& op, std::uint32_t i) const {
  const Register& reg = program_.registers[checked_index(program_.registers.size(), op.reg)];
  const std::uint32_t index = op.index == kWholeRegister ? i : op.index;
  return (reg.quantum ? 0 : program_.qubits) + reg.first + index;
}

ProgramStats Counter::count(const Edits& edits) {
  const std::size_t bits = std::size_t{program_.qubits} + program_.clbits;
  levels_[0].assign(bits, 0);
  levels_[1].assign(bits, 0);
  EditCursor cursor(edits, program_.qubits);
  const auto& statements = program_.statements;
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    const Statement& st = statements[s];
    const Edit* edit = cursor.at(s, st);
    if (st.kind == StatementKind::RunGate) {
      // One indexed qubit: its register's first qubit plus the index.
      const Operand& op = program_.operands[st.first_operand];
      const std::uint32_t q =
          program_.registers[checked_index(program_.registers.size(), op.reg)].first + op.index;
      levels_[0][checked_index(bits, q)] += 1;
      stats_.before.add(st.gate);
      if (edit == nullptr) {
        levels_[1][q] += 1;
        stats_.after.add(st.gate);
        continue;
      }
      if (edit->kind == EditKind::Placed) {
        place(cursor, *edit);
        continue;
      }
      levels_[1][q] += edit->count;
      for (std::uint32_t k = 0; k < edit->count; ++k) stats_.after.add(cursor.gate(*edit, k));
      continue;
    }
    switch (st.kind) {
      case StatementKind::RunGate:
      case StatementKind::Declaration: break;
      case StatementKind::Barrier: barrier(st); break;
      case StatementKind::Gate:
      case StatementKind::Measure:
      case StatementKind::Reset: {
        // Every whole-register operand has the same size (the reader checked).
        std::uint32_t instances = 1;
        for (std::uint32_t k = 0; k < st.operand_count; ++k) {
          const Operand& op = program_.operands[st.first_operand + k];
          if (op.index == kWholeRegister) instances = program_.registers[op.reg].size;
        }
        // A placed edit replaces the statement on the after side only.
        const std::size_t sides = edit == nullptr ? 2 : 1;
        begin_condition(st);
        for (std::uint32_t i = 0; i < instances; ++i) instance(st, i, sides);
        end_condition();
        if (edit != nullptr) place(cursor, *edit);
        break;
      }
    }
  }
  cursor.finish();
  for (std::size_t side = 0; side < 2; ++side) {
    const std::vector<std::uint64_t>& levels = levels_[side];
    (side == 0 ? stats_.before : stats_.after).depth =
        levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
  }
  return stats_;
}

// One broadcast instance `i` of a gate, measurement or reset, counted on
// the first `sides` sides (before, after).
void Counter::instance(const Statement& st, std::uint32_t i, std::size_t sides) {
  touched_.clear();
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    touched_.push_back(bit(program_.operands[st.first_operand + k], i));
  }
  boundary(true, sides);
  if (st.kind == StatementKind::Gate) {
    const bool wide = st.operand_count >= 2;
    stats_.before.add(st.gate);
    stats_.two_qubit_before += wide;
    if (sides == 2) {
      stats_.after.add(st.gate);
      stats_.two_qubit_after += wide;
    }
  }
}

// The gates of a placed edit, each a level on its qubits after the edits.
void Counter::place(const EditCursor& cursor, const Edit& edit) {
  std::vector<std::uint64_t>& levels = levels_[1];
  for (std::uint32_t k = 0; k < edit.count; ++k) {
    const PlacedGate g = cursor.placed(edit, k);
    if (elementary_info(g.gate).qubits == 2) {
      levels[g.a] = levels[g.b] = std::max(levels[g.a], levels[g.b]) + 1;
    } else {
      levels[g.a] += 1;
    }
    stats_.after.add(g.gate);
    stats_.two_qubit_after += elementary_info(g.gate).qubits == 2;
  }
}

// A barrier over its operands (the reader gives `barrier;` every quantum
// register declared before it).
void Counter::barrier(const Statement& st) {
  touched_.clear();
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    const Operand& op = program_.operands[st.first_operand + k];
    const std::uint32_t count = op.index == kWholeRegister ? program_.registers[op.reg].size : 1;
    for (std::uint32_t i = 0; i < count; ++i) touched_.push_back(bit(op, i));
  }
  boundary(false, 2);
}

// An `if (c==n)` takes every bit of c in each broadcast instance, so between
// instances all of them stand at one level: that level is kept as one
// number per side while the instances go, and written to the bits at the
// end. An instance then costs its operands, not the register's size.
void Counter::begin_condition(const Statement& st) {
  condition_ = {};
  if (st.condition == kNoCondition) return;
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

// Moves every touched bit (and the condition's register) to one level past
// the deepest of them (to the deepest, for a barrier), on the first `sides`
// sides.
void Counter::boundary(bool adds_level, std::size_t sides) {
  const bool conditioned = condition_.first != condition_.end;
  const auto in_condition = [&](std::uint32_t b) {
    return b >= condition_.first && b < condition_.end;
  };
  for (std::size_t side = 0; side < sides; ++side) {
    std::vector<std::uint64_t>& levels = levels_[side];
    std::uint64_t level = conditioned ? condition_.level[side] : 0;
    for (std::uint32_t b : touched_) {
      if (!in_condition(b)) level = std::max(level, levels[checked_index(levels.size(), b)]);
    }
    level += adds_level;
    for (std::uint32_t b : touched_) levels[b] = level;
    if (conditioned) condition_.level[side] = level;
  }
}

}  // namespace

ProgramStats program_stats(const QasmProgram& program, const Edits& edits) {
  return Counter(program).count(edits);
}

}  // namespace kestrel
