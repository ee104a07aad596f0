// One walk over a program's gate instances, in program order, for every
// method that reads a whole program and for the statistics.
//
// Each statement is resolved to its broadcast instances once, here: `h q;`
// on a register of three qubits is three instances. What the walk sees
// through depends on its sight. With `Sight::RunGates` a RunGate statement
// (h, s, sdg, t, tdg, x or z on one indexed qubit, unconditioned) is its
// gate and every other statement a boundary. With `Sight::CliffordT` every
// gate statement applied without a condition whose effect is exactly
// Clifford+T (src/program/expansion.h) is its elementary gates, instance by
// instance, and the rest are boundaries. `Sight::Rotations` sees as much,
// and every such statement whose angles are finite besides, its angles that
// are no multiple of pi/4 as rz, rx and ry gates (`rz(0.3) q[0];` is one Rz
// gate, `cp(0.3) q[0],q[1];` three Rz gates and two cx). A visitor is told,
// in order:
//
// - `statement(s)` before each statement s (declarations too);
// - `gate(gate, s, position)` for each elementary gate of a seen-through
//   statement s, on program qubits, `position` counting the gates of the
//   statement's expansion over all its instances from 0;
// - `boundary(s, instance, qubits)` for each instance of a statement not
//   seen through, with the qubits it names (a measurement's qubit only); a
//   barrier is one boundary over all its qubits;
// - `phase(s, eighths)` after the gates of a seen-through gate statement:
//   the statement equals e^(i eighths pi/8) times its gates; and then,
//   under Sight::Rotations where the statement's phase is no multiple of
//   pi/8, `radians(s, r)`: it equals e^(i (eighths pi/8 + r)) times them.
//
// For `qreg q[3]; h q; ccx q[0],q[1],q[2];` under CliffordT the visitor
// sees h on 0, 1 and 2 (positions 0 to 2), phase 0, then the fifteen gates of
// the Toffoli (positions 0 to 14), phase 0. A program without text (a gate
// list) cannot take its statements' gates back as placed edits, so there a
// statement whose expansion holds a T gate is a boundary, unless it is a
// RunGate statement. Statements whose expansions would take the walk past
// kMaxWalkGates gates from multi-gate expansions are boundaries too, and so
// are statements with parameters once kMaxWalkGates gates have been
// expanded for such statements: no input makes the walk's work unbounded.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/fault.h"
#include "src/circuit/angle.h"
#include "src/circuit/elementary.h"
#include "src/program/library.h"
#include "src/program/program.h"

namespace kestrel {

enum class Sight : std::uint8_t {
  RunGates,   // RunGate statements as their gates, everything else a boundary
  CliffordT,  // every statement that is exactly Clifford+T as its gates
  CliffordTExact,  // the same, its angles multiples of pi/4 to a double's precision
                   // only (nothing within kAngleTolerance rounded)
  Rotations,  // the same, and rotations of any finite angle as rz, rx, ry gates
};

// Most gates a walk takes from statements that expand to more than one gate.
inline constexpr std::uint64_t kMaxWalkGates = std::uint64_t{1} << 26;

// What a walk tells; a visitor derives from it and hides what it needs.
struct InstanceVisitor {
  void statement(std::uint32_t /*s*/) {}
  void gate(PlacedGate /*gate*/, std::uint32_t /*s*/, std::uint32_t /*position*/) {}
  void boundary(std::uint32_t /*s*/, std::uint32_t /*instance*/,
                std::span<const std::uint32_t> /*qubits*/) {}
  void phase(std::uint32_t /*s*/, std::uint8_t /*eighths*/) {}
  void radians(std::uint32_t /*s*/, double /*r*/) {}
};

// The elementary gate of each run gate (OpKind::H to OpKind::Z), and back;
// tables, as the walk looks them up once per statement.
inline constexpr std::array<Elementary, Op::kNumKinds> kRunElementary = [] {
  std::array<Elementary, Op::kNumKinds> table{};
  for (std::size_t k = 0; k < kElementary.size(); ++k) {
    for (std::size_t op = 0; op < Op::kNumKinds; ++op) {
      if (kKinds[op].run_gate && kKinds[op].qasm_name == kElementary[k].qasm_name) {
        table[op] = static_cast<Elementary>(k);
      }
    }
  }
  return table;
}();
constexpr Elementary run_elementary(OpKind gate) {
  return kRunElementary[static_cast<std::size_t>(gate)];
}
inline constexpr std::array<OpKind, kElementary.size()> kRunOp = [] {
  std::array<OpKind, kElementary.size()> table{};
  for (std::size_t op = 0; op < Op::kNumKinds; ++op) {
    if (kKinds[op].run_gate) table[static_cast<std::size_t>(kRunElementary[op])] = static_cast<OpKind>(op);
  }
  return table;
}();
constexpr OpKind run_op(Elementary gate) { return kRunOp[static_cast<std::size_t>(gate)]; }
static_assert(run_elementary(OpKind::Sdg) == Elementary::Sdg && run_op(Elementary::Z) == OpKind::Z &&
              run_op(Elementary::CX) == OpKind::I);

class InstanceWalk {
  // Per library gate, the elementary gate it is plus one, or 0 (t and tdg
  // left out: applied as a Gate statement they are broadcast or conditioned).
  static constexpr std::array<std::uint8_t, 256> kDirect = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t k = 0; k < kElementary.size(); ++k) {
      const auto e = static_cast<Elementary>(k);
      if (!elementary_info(e).t && !is_rotation(e)) table[static_cast<std::size_t>(library_gate(e))] = static_cast<std::uint8_t>(k + 1);
    }
    table[static_cast<std::size_t>(QasmGate::CX)] = static_cast<std::uint8_t>(Elementary::CX) + 1;
    return table;
  }();

 public:
  InstanceWalk(const QasmProgram& program, Sight sight);
  ~InstanceWalk();
  InstanceWalk(const InstanceWalk&) = delete;
  InstanceWalk& operator=(const InstanceWalk&) = delete;

  // Walks the program once, telling `visitor` (see above).
  template <class Visitor>
  void run(Visitor& visitor);

  // The gates of statement `s`, every instance in order and on program
  // qubits, appended to `out`, and the phase of the whole statement; or
  // nothing when the walk does not see through it. A statement seen through
  // in `run` is seen through here, with the same gates.
  std::optional<Phase> gates_of(std::uint32_t s, std::vector<PlacedGate>& out);

 private:
  class Expansions;

  // A seen-through statement's gates for one instance, on operand positions.
  struct Word {
    std::span<const PlacedGate> gates;  // valid until the next call of `word`
    Phase phase;                        // per instance
  };
  // The word of gate statement `s` under CliffordT, or nothing for a
  // boundary; with `limited`, statements with parameters past the work
  // bound are boundaries.
  std::optional<Word> word(std::uint32_t s, bool limited = true);
  // Whether statement `s`'s `instances` instances of `size` gates stay
  // within the walk's budget, which they then take.
  bool within_budget(std::uint64_t instances, std::size_t size);

  template <class Visitor>
  void gates(std::uint32_t s, const Statement& st, const Word& w, Visitor& visitor);
  template <class Visitor>
  void boundaries(std::uint32_t s, const Statement& st, Visitor& visitor);
  template <class Visitor>
  void barrier(std::uint32_t s, const Statement& st, Visitor& visitor);

  const QasmProgram& program_;            // the program walked
  Sight sight_;                           // what it sees through
  std::unique_ptr<Expansions> expansions_;  // words found so far, made when first needed
  std::uint64_t budget_ = kMaxWalkGates;  // gates multi-gate expansions may still give
  std::vector<std::uint32_t> qubits_;     // an instance's qubits
};

template <class Visitor>
void InstanceWalk::run(Visitor& visitor) {
  budget_ = kMaxWalkGates;
  // Held here, as the visitor's writes could otherwise make the compiler
  // load them again at every statement.
  const Statement* const statements = program_.statements.data();
  const std::uint32_t count = static_cast<std::uint32_t>(program_.statements.size());
  const Operand* const operands = program_.operands.data();
  const Register* const registers = program_.registers.data();
  const std::size_t operand_count = program_.operands.size();
  const auto bit = [&](const Operand& op) { return registers[op.reg].first + op.index; };
  for (std::uint32_t s = 0; s < count; ++s) {
    const Statement& st = statements[s];
    visitor.statement(s);
    if (st.kind == StatementKind::RunGate) {  // the most common statement, first
      const Operand& op = operands[checked_index(operand_count, st.first_operand)];
      visitor.gate(PlacedGate{run_elementary(st.gate), bit(op), 0}, s, 0);
      continue;
    }
    switch (st.kind) {
      case StatementKind::Declaration:
      case StatementKind::RunGate: break;
      case StatementKind::Gate:
        if (sight_ != Sight::RunGates && st.condition == kNoCondition) {
          // The common `cx q[0],q[1];`: one elementary gate on indexed operands.
          if (const std::uint8_t e = kDirect[static_cast<std::size_t>(st.library)]; e != 0) {
            const Operand* ops = operands + st.first_operand;
            const bool two = st.operand_count == 2;
            if (ops[0].index != kWholeRegister && (!two || ops[1].index != kWholeRegister)) {
              visitor.gate(PlacedGate{static_cast<Elementary>(e - 1), bit(ops[0]), two ? bit(ops[1]) : 0},
                           s, 0);
              visitor.phase(s, 0);
              break;
            }
          }
          if (const std::optional<Word> w = word(s);
              w && within_budget(statement_instances(program_, st), w->gates.size())) {
            gates(s, st, *w, visitor);
            break;
          }
        }
        boundaries(s, st, visitor);
        break;
      case StatementKind::Measure:
      case StatementKind::Reset: boundaries(s, st, visitor); break;
      case StatementKind::Barrier: barrier(s, st, visitor); break;
    }
  }
}

template <class Visitor>
void InstanceWalk::gates(std::uint32_t s, const Statement& st, const Word& w, Visitor& visitor) {
  const std::uint32_t n = statement_instances(program_, st);
  const auto size = static_cast<std::uint32_t>(w.gates.size());
  qubits_.resize(st.operand_count);
  for (std::uint32_t i = 0; i < n; ++i) {
    for (std::uint32_t k = 0; k < st.operand_count; ++k) {
      qubits_[k] = operand_bit(program_, program_.operands[st.first_operand + k], i);
    }
    for (std::uint32_t k = 0; k < size; ++k) {
      const PlacedGate g = w.gates[k];
      const std::uint32_t b = elementary_info(g.gate).qubits == 2 ? qubits_[g.b] : 0;
      visitor.gate(PlacedGate{g.gate, qubits_[g.a], b, g.angle}, s, i * size + k);
    }
  }
  visitor.phase(s, static_cast<std::uint8_t>((std::uint64_t{w.phase.eighths} * n) % 16));
  if (!w.phase.exact()) visitor.radians(s, w.phase.radians * n);
}

template <class Visitor>
void InstanceWalk::boundaries(std::uint32_t s, const Statement& st, Visitor& visitor) {
  const std::uint32_t n = statement_instances(program_, st);
  const std::uint32_t operands = st.kind == StatementKind::Measure ? 1 : st.operand_count;
  qubits_.resize(operands);
  for (std::uint32_t i = 0; i < n; ++i) {
    for (std::uint32_t k = 0; k < operands; ++k) {
      qubits_[k] = operand_bit(program_, program_.operands[st.first_operand + k], i);
    }
    visitor.boundary(s, i, std::span<const std::uint32_t>(qubits_));
  }
}

template <class Visitor>
void InstanceWalk::barrier(std::uint32_t s, const Statement& st, Visitor& visitor) {
  qubits_.clear();
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    const Operand& op = program_.operands[st.first_operand + k];
    const std::uint32_t count = op.index == kWholeRegister ? program_.registers[op.reg].size : 1;
    for (std::uint32_t i = 0; i < count; ++i) qubits_.push_back(operand_bit(program_, op, i));
  }
  visitor.boundary(s, 0, std::span<const std::uint32_t>(qubits_));
}

}  // namespace kestrel
