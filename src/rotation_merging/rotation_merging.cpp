// Reads the statements into the merger, one broadcast instance at a time,
// and turns the rotations' fates into edits of their statements.
#include "src/rotation_merging/rotation_merging.h"

#include <array>
#include <vector>

#include "engine/fault.h"
#include "src/rotation_merging/merger.h"
#include "src/pauli/pauli.h"

namespace kestrel {
namespace {

// How the frame reads a library gate applied without a condition.
enum class Reading : std::uint8_t {
  Boundary,  // no Clifford gate the frame follows
  Nothing,   // id
  Gates,     // one to three Clifford gates
  Rotation,  // t or tdg
};

struct CliffordWord {
  Reading reading = Reading::Boundary;
  std::uint8_t size = 0;                // gates, for Reading::Gates
  std::array<CliffordGate, 3> gates{};  // in circuit order, on the operands below
  std::array<std::uint8_t, 3> on{};     // per gate: 0 the first operand, 1 the second, 2 both
};

// sx = H S H and sxdg = H Sdg H up to a phase; cy = Sdg on the target, CX,
// S on the target.
CliffordWord reading(QasmGate gate) {
  using G = CliffordGate;
  const auto one = [](G g) { return CliffordWord{Reading::Gates, 1, {g}, {0}}; };
  switch (gate) {
    case QasmGate::h: return one(G::H);
    case QasmGate::s: return one(G::S);
    case QasmGate::sdg: return one(G::Sdg);
    case QasmGate::x: return one(G::X);
    case QasmGate::y: return one(G::Y);
    case QasmGate::z: return one(G::Z);
    case QasmGate::sx: return {Reading::Gates, 3, {G::H, G::S, G::H}, {0, 0, 0}};
    case QasmGate::sxdg: return {Reading::Gates, 3, {G::H, G::Sdg, G::H}, {0, 0, 0}};
    case QasmGate::cx:
    case QasmGate::CX: return {Reading::Gates, 1, {G::CX}, {2}};
    case QasmGate::cz: return {Reading::Gates, 1, {G::CZ}, {2}};
    case QasmGate::swap: return {Reading::Gates, 1, {G::Swap}, {2}};
    case QasmGate::cy: return {Reading::Gates, 3, {G::Sdg, G::CX, G::S}, {1, 2, 1}};
    case QasmGate::id: return {Reading::Nothing, 0, {}, {}};
    case QasmGate::t:
    case QasmGate::tdg: return {Reading::Rotation, 0, {}, {}};  // broadcast: see word_of
    default: return {};
  }
}

// The statement's qubit operand `k` in broadcast instance `i`.
std::uint32_t qubit(const QasmProgram& program, const Statement& st, std::uint32_t k,
                    std::uint32_t i) {
  const Operand& op = program.operands[checked_index(program.operands.size(), st.first_operand + k)];
  const Register& reg = program.registers[checked_index(program.registers.size(), op.reg)];
  return reg.first + (op.index == kWholeRegister ? i : op.index);
}

// The broadcast instances of statement `st`: the size of its whole-register
// operands (the reader checked that they agree), else 1.
std::uint32_t instances(const QasmProgram& program, const Statement& st, std::uint32_t operands) {
  for (std::uint32_t k = 0; k < operands; ++k) {
    const Operand& op = program.operands[st.first_operand + k];
    if (op.index == kWholeRegister) return program.registers[op.reg].size;
  }
  return 1;
}

// The qubit operands of a statement: all but a measurement's clbit.
std::uint32_t qubit_operands(const Statement& st) {
  return st.kind == StatementKind::Measure ? 1 : st.operand_count;
}

// Calls f(qubits) with the qubits of each broadcast instance of a boundary
// statement; a barrier is one boundary over all of them.
template <class F>
void for_each_boundary(const QasmProgram& program, const Statement& st,
                       std::vector<std::uint32_t>& qubits, F&& f) {
  const std::uint32_t operands = qubit_operands(st);
  qubits.clear();
  if (st.kind == StatementKind::Barrier) {
    for (std::uint32_t k = 0; k < operands; ++k) {
      const Operand& op = program.operands[st.first_operand + k];
      const std::uint32_t count = op.index == kWholeRegister ? program.registers[op.reg].size : 1;
      for (std::uint32_t i = 0; i < count; ++i) qubits.push_back(qubit(program, st, k, i));
    }
    f(qubits);
    return;
  }
  const std::uint32_t n = instances(program, st, operands);
  for (std::uint32_t i = 0; i < n; ++i) {
    qubits.clear();
    for (std::uint32_t k = 0; k < operands; ++k) qubits.push_back(qubit(program, st, k, i));
    f(qubits);
  }
}

// How the method reads a statement that acts on qubits.
CliffordWord word_of(const Statement& st) {
  if (st.kind == StatementKind::RunGate && (st.gate == OpKind::T || st.gate == OpKind::Tdg)) {
    return {Reading::Rotation, 0, {}, {}};
  }
  const bool plain = st.kind == StatementKind::RunGate ||
                     (st.kind == StatementKind::Gate && st.condition == kNoCondition);
  if (!plain) return {};
  CliffordWord word = reading(st.library);
  // t or tdg on a whole register: a boundary, its statement kept whole.
  return word.reading == Reading::Rotation ? CliffordWord{} : word;
}

// The phase gates diag(1, e^(i r pi/4)) for r from -3 to 4.
constexpr std::array<std::array<OpKind, 2>, 8> kPhaseGates = {{
    {OpKind::Sdg, OpKind::Tdg},  // -3
    {OpKind::Sdg, OpKind::I},    // -2
    {OpKind::Tdg, OpKind::I},    // -1
    {OpKind::I, OpKind::I},      // 0
    {OpKind::T, OpKind::I},      // 1
    {OpKind::S, OpKind::I},      // 2
    {OpKind::S, OpKind::T},      // 3
    {OpKind::Z, OpKind::I},      // 4
}};

}  // namespace

std::optional<std::string> too_large_for_rotation_merging(const QasmProgram& program) {
  // The frame's two rows per qubit, and a row per rotation and two per
  // qubit a boundary names, with the index's unions (a fifteenth more).
  std::uint64_t rows = 2 * std::uint64_t{program.qubits};
  std::vector<std::uint32_t> qubits;
  for (const Statement& st : program.statements) {
    if (st.kind == StatementKind::Declaration) continue;
    const Reading r = word_of(st).reading;
    if (r == Reading::Rotation) rows += 1;
    if (r != Reading::Boundary) continue;
    for_each_boundary(program, st, qubits,
                      [&](const std::vector<std::uint32_t>& q) { rows += 2 * q.size(); });
  }
  const std::uint64_t row_bytes = 16 * pauli_words(program.qubits);
  const std::uint64_t bytes = rows * (row_bytes + row_bytes / 15 + 48);
  if (bytes <= kRotationMergingBytes) return std::nullopt;
  const auto gib = [](std::uint64_t b) {
    return std::to_string(b >> 30) + "." + std::to_string(((b >> 20) & 1023) * 10 / 1024);
  };
  return "expected a program whose Pauli products fit in " + gib(kRotationMergingBytes) +
         " GiB: its " + std::to_string(program.qubits) + " qubits need rows of " +
         std::to_string(row_bytes) + " bytes, " + std::to_string(rows) + " of them, about " +
         gib(bytes) + " GiB";
}

RotationMergingResult merge_rotations(
    const QasmProgram& program, std::optional<std::chrono::steady_clock::time_point> deadline) {
  RotationMerger merger(program.qubits);
  std::vector<std::uint32_t> rotations;  // per rotation read: its statement
  std::vector<std::uint32_t> qubits;
  const auto& statements = program.statements;
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    const Statement& st = statements[s];
    if (st.kind == StatementKind::Declaration) continue;
    const CliffordWord word = word_of(st);
    if (word.reading == Reading::Rotation) {
      // The clock is read once per 1,024 rotations.
      if (deadline && rotations.size() % 1024 == 0 &&
          std::chrono::steady_clock::now() >= *deadline) {
        merger.stop_searching();
      }
      rotations.push_back(s);
      merger.rotation(qubit(program, st, 0, 0), st.gate == OpKind::Tdg);
      continue;
    }
    if (word.reading == Reading::Nothing) continue;
    if (word.reading != Reading::Gates) {
      for_each_boundary(program, st, qubits,
                        [&](const std::vector<std::uint32_t>& q) { merger.boundary(q); });
      continue;
    }
    const std::uint32_t n = instances(program, st, st.operand_count);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t a = qubit(program, st, 0, i);
      const std::uint32_t b = st.operand_count > 1 ? qubit(program, st, 1, i) : a;
      for (std::uint8_t g = 0; g < word.size; ++g) {
        if (word.on[g] == 2) {
          merger.clifford(word.gates[g], a, b);
        } else {
          merger.clifford(word.gates[g], word.on[g] == 0 ? a : b);
        }
      }
    }
  }

  MergeResult merged = merger.finish();
  check(merged.written.size() == rotations.size(), "one fate per rotation");
  RotationMergingResult result;
  result.phase = merged.phase;
  for (std::size_t k = 0; k < rotations.size(); ++k) {
    const std::int8_t r = merged.written[k];
    const OpKind own = statements[rotations[k]].gate;
    if (r == (own == OpKind::T ? 1 : -1)) continue;  // stays as written
    const auto first = static_cast<std::uint32_t>(result.edits.gates.size());
    if (r != MergeResult::kMerged) {
      for (OpKind g : kPhaseGates[static_cast<std::size_t>(r + 3)]) {
        if (g != OpKind::I) result.edits.gates.push_back(g);
      }
    }
    result.edits.add(rotations[k], first,
                     static_cast<std::uint32_t>(result.edits.gates.size()) - first);
  }
  return result;
}

}  // namespace kestrel
