// Reading a program (with rotation merging's edits made) into steps, and
// turning the rewritten blocks back into edits of its statements.
#include "src/phase_polynomial/phase_polynomial.h"

#include <array>
#include <vector>

#include "engine/fault.h"
#include "src/circuit/cancellation.h"
#include "src/phase_polynomial/blocks.h"
#include "src/phase_polynomial/rewrite.h"
#include "src/phase_polynomial/steps.h"
#include "src/rotation_merging/rotation_merging.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kNoItem = 0xffffffffu;  // a step that is not written

// The Clifford gates a library gate applied without a condition stands for,
// on its operands 0 and 1; none for a gate the method does not follow.
struct Reading {
  std::uint8_t size = 0;                 // gates
  std::array<Elementary, 3> gates{};     // in time order
  std::array<std::uint8_t, 3> on{};      // per gate: 0 the first operand, 1 the second, 2 both
  bool known = false;                    // a gate the method follows (id: no gate)
};

// sx = H S H and sxdg = H Sdg H up to a phase; cy = Sdg on the target, CX,
// S on the target.
Reading reading(QasmGate gate) {
  using E = Elementary;
  const auto one = [](E g) { return Reading{1, {g}, {0}, true}; };
  switch (gate) {
    case QasmGate::h: return one(E::H);
    case QasmGate::s: return one(E::S);
    case QasmGate::sdg: return one(E::Sdg);
    case QasmGate::x: return one(E::X);
    case QasmGate::y: return one(E::Y);
    case QasmGate::z: return one(E::Z);
    case QasmGate::sx: return {3, {E::H, E::S, E::H}, {0, 0, 0}, true};
    case QasmGate::sxdg: return {3, {E::H, E::Sdg, E::H}, {0, 0, 0}, true};
    case QasmGate::cx:
    case QasmGate::CX: return {1, {E::CX}, {2}, true};
    case QasmGate::cz: return {1, {E::CZ}, {2}, true};
    case QasmGate::swap: return {1, {E::Swap}, {2}, true};
    case QasmGate::cy: return {3, {E::Sdg, E::CX, E::S}, {1, 2, 1}, true};
    case QasmGate::id: return {0, {}, {}, true};
    default: return {};
  }
}

Elementary elementary_of(OpKind kind) {
  switch (kind) {
    case OpKind::H: return Elementary::H;
    case OpKind::S: return Elementary::S;
    case OpKind::Sdg: return Elementary::Sdg;
    case OpKind::T: return Elementary::T;
    case OpKind::Tdg: return Elementary::Tdg;
    case OpKind::X: return Elementary::X;
    case OpKind::Z: return Elementary::Z;
    default: fault("internal error: entered unreachable code");
  }
}

// The steps of `program` with rotation merging's `edits` made.
class StepReader {
 public:
  StepReader(const QasmProgram& program, const Edits& edits)
      : program_(program), cursor_(edits, program.qubits) {}

  ProgramSteps read() {
    out_.qubits = program_.qubits;
    const auto& statements = program_.statements;
    for (std::uint32_t s = 0; s < statements.size(); ++s) {
      const Statement& st = statements[s];
      const Edit* edit = cursor_.at(s, st);
      if (st.kind == StatementKind::Declaration) continue;
      if (st.kind == StatementKind::RunGate) {
        const std::uint32_t q = qubit(st, 0, 0);
        if (edit == nullptr) {
          gate({elementary_of(st.gate), q, 0}, s, 0);
        } else {
          check(edit->kind == EditKind::RunGates, "rotation merging edits run gates");
          for (std::uint32_t k = 0; k < edit->count; ++k) {
            gate({elementary_of(cursor_.gate(*edit, k)), q, 0}, s, k);
          }
        }
        continue;
      }
      check(edit == nullptr, "rotation merging edits run gates");
      const Reading r = st.kind == StatementKind::Gate && st.condition == kNoCondition
                            ? reading(st.library)
                            : Reading{};
      if (!r.known) {
        boundary(st, s);
        continue;
      }
      const std::uint32_t n = instances(st);
      std::uint32_t position = 0;
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = qubit(st, 0, i);
        const std::uint32_t b = st.operand_count > 1 ? qubit(st, 1, i) : 0;
        for (std::uint8_t g = 0; g < r.size; ++g) {
          const PlacedGate placed = r.on[g] == 2   ? PlacedGate{r.gates[g], a, b}
                                    : r.on[g] == 0 ? PlacedGate{r.gates[g], a, 0}
                                                   : PlacedGate{r.gates[g], b, 0};
          gate(placed, s, position++);
        }
      }
    }
    cursor_.finish();
    return std::move(out_);
  }

 private:
  void gate(PlacedGate g, std::uint32_t statement, std::uint32_t position) {
    const StepKind kind = elementary_info(g.gate).t ? StepKind::Rotation : StepKind::Clifford;
    out_.steps.push_back({kind, g, statement, position, 0, 0});
  }

  // One boundary per broadcast instance; a barrier is one over all its qubits.
  void boundary(const Statement& st, std::uint32_t s) {
    const std::uint32_t operands = st.kind == StatementKind::Measure ? 1 : st.operand_count;
    const auto open = [&] {
      out_.steps.push_back({StepKind::Boundary, {}, s, 0,
                            static_cast<std::uint32_t>(out_.boundary_qubits.size()), 0});
    };
    const auto add = [&](std::uint32_t q) {
      out_.boundary_qubits.push_back(q);
      out_.steps.back().count += 1;
    };
    if (st.kind == StatementKind::Barrier) {
      open();
      for (std::uint32_t k = 0; k < operands; ++k) {
        const Operand& op = operand(st, k);
        const std::uint32_t count =
            op.index == kWholeRegister ? program_.registers[op.reg].size : 1;
        for (std::uint32_t i = 0; i < count; ++i) add(qubit(st, k, i));
      }
      return;
    }
    const std::uint32_t n = instances(st);
    for (std::uint32_t i = 0; i < n; ++i) {
      open();
      for (std::uint32_t k = 0; k < operands; ++k) add(qubit(st, k, i));
    }
  }

  const Operand& operand(const Statement& st, std::uint32_t k) const {
    return program_.operands[checked_index(program_.operands.size(), st.first_operand + k)];
  }
  std::uint32_t qubit(const Statement& st, std::uint32_t k, std::uint32_t i) const {
    const Operand& op = operand(st, k);
    const Register& reg = program_.registers[checked_index(program_.registers.size(), op.reg)];
    return reg.first + (op.index == kWholeRegister ? i : op.index);
  }
  // The broadcast instances: the size of its whole-register qubit operands, else 1.
  std::uint32_t instances(const Statement& st) const {
    const std::uint32_t operands = st.kind == StatementKind::Measure ? 1 : st.operand_count;
    for (std::uint32_t k = 0; k < operands; ++k) {
      const Operand& op = operand(st, k);
      if (op.index == kWholeRegister) return program_.registers[op.reg].size;
    }
    return 1;
  }

  const QasmProgram& program_;
  EditCursor cursor_;
  ProgramSteps out_;
};

// Rotation merging's edits with the rewritten statements replaced: the
// blocks written at their anchors, their rotations gone, and then the pairs
// of gates that cancel once the rotations are out (src/circuit/cancellation.h).
Edits compose(const QasmProgram& program, const Edits& merged, const ProgramSteps& steps,
              const StepsRewrite& rewrite) {
  // The program as written, gate by gate: each insertion before its
  // anchor, each step that stays; boundaries as barriers.
  std::vector<CancelItem> items;
  std::vector<std::uint32_t> step_item(steps.steps.size(), kNoItem);
  std::vector<std::uint32_t> inserted_item;  // per insertion: its first item
  std::size_t next = 0;
  for (std::uint32_t s = 0; s < steps.steps.size(); ++s) {
    if (next < rewrite.insertions.size() && rewrite.insertions[next].step == s) {
      inserted_item.push_back(static_cast<std::uint32_t>(items.size()));
      for (const PlacedOperation& op : rewrite.insertions[next++].ops) {
        check(op.kind == OperationKind::Gate, "an insertion of gates");
        items.push_back({op.gate, 0, 0});
      }
    }
    const Step& step = steps.steps[s];
    if (rewrite.removed[s]) continue;
    step_item[s] = static_cast<std::uint32_t>(items.size());
    items.push_back(step.kind == StepKind::Boundary ? CancelItem{{}, step.first, step.count}
                                                    : CancelItem{step.gate, 0, 0});
  }
  const std::vector<bool> cancelled = cancel_pairs(steps.qubits, items, steps.boundary_qubits);

  Edits out;
  EditCursor cursor(merged, program.qubits);
  std::uint32_t step = 0;  // the first step of the statement at hand
  next = 0;
  std::vector<PlacedGate> gates;
  for (std::uint32_t s = 0; s < program.statements.size(); ++s) {
    const Edit* edit = cursor.at(s, program.statements[s]);
    const std::uint32_t first = step;
    while (step < steps.steps.size() && steps.steps[step].statement == s) ++step;
    bool touched = false;
    gates.clear();
    for (std::uint32_t k = first; k < step; ++k) {
      if (next < rewrite.insertions.size() && rewrite.insertions[next].step == k) {
        touched = true;
        const auto& block = rewrite.insertions[next].ops;
        for (std::uint32_t g = 0; g < block.size(); ++g) {
          if (!cancelled[inserted_item[next] + g]) gates.push_back(block[g].gate);
        }
        ++next;
      }
      const std::uint32_t item = step_item[k];
      if (item == kNoItem || cancelled[item]) {
        touched = true;
      } else if (steps.steps[k].kind != StepKind::Boundary) {
        gates.push_back(steps.steps[k].gate);
      }
    }
    if (touched) {
      out.place(s, gates);
      continue;
    }
    if (edit != nullptr) {
      const auto at = static_cast<std::uint32_t>(out.gates.size());
      for (std::uint32_t k = 0; k < edit->count; ++k) out.gates.push_back(cursor.gate(*edit, k));
      out.add(s, at, edit->count);
    }
  }
  cursor.finish();
  check(next == rewrite.insertions.size(), "every rewrite is placed");
  return out;
}

}  // namespace

std::optional<std::string> too_large_for_phase_polynomial(const QasmProgram& program) {
  return too_large_for_rotation_merging(program);
}

PhasePolynomialResult reduce_phase_polynomials(const QasmProgram& program,
                                               const PhasePolynomialOptions& options) {
  RotationMergingResult merged = merge_rotations(program, options.deadline);
  const ProgramSteps steps = StepReader(program, merged.edits).read();
  RewriteOptions rewrite_options;
  rewrite_options.deadline = options.deadline;
  rewrite_options.every_block = options.every_block;
  rewrite_options.ancillas = options.ancillas;
  rewrite_options.effort = options.effort;
  const StepsRewrite rewrite = rewrite_blocks(steps, rewrite_options);
  PhasePolynomialResult out;
  if (rewrite.t_after >= rewrite.t_before && !options.every_block) {
    out.edits = std::move(merged.edits);
    out.phase = merged.phase;
    return out;
  }
  out.edits = compose(program, merged.edits, steps, rewrite);
  out.phase = static_cast<std::uint8_t>((merged.phase + rewrite.phase) & 15);
  out.extra_qubits = rewrite.extra_qubits;
  return out;
}

}  // namespace kestrel
