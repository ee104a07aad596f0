// Reads the program's gate instances into the merger through the instance
// walk, and turns the rotations' fates into edits of their statements: a
// RunGate statement gets its phase gates, any other statement its whole
// expansion with the changed phase gates in it.
#include "src/rotation_merging/rotation_merging.h"

#include <vector>

#include "engine/fault.h"
#include "src/program/instance_walk.h"
#include "src/rotation_merging/merger.h"
#include "src/pauli/pauli.h"

namespace kestrel {

std::optional<std::string> too_large_for_rotation_merging(const QasmProgram& program) {
  // The frame's two rows per qubit, and a row per rotation and two per
  // qubit a boundary names, with the index's unions (a fifteenth more).
  struct Rows : InstanceVisitor {
    std::uint64_t rows = 0;
    void gate(PlacedGate g, std::uint32_t, std::uint32_t) { rows += elementary_info(g.gate).t; }
    void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t> qubits) {
      rows += 2 * qubits.size();
    }
  } count;
  count.rows = 2 * std::uint64_t{program.qubits};
  InstanceWalk(program, Sight::CliffordT).run(count);
  const std::uint64_t rows = count.rows;
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

RotationMergingResult merge_rotations(const QasmProgram& program, const Deadline& deadline) {
  // A rotation read: where it stands in the program, and which way it turns.
  struct Rotation {
    std::uint32_t statement;
    std::uint32_t position;  // in the statement's expansion
    bool dagger;
  };
  struct Reader : InstanceVisitor {
    RotationMerger* merger;
    const Deadline* deadline;
    std::vector<Rotation> rotations;
    void gate(PlacedGate g, std::uint32_t s, std::uint32_t position) {
      if (!elementary_info(g.gate).t) {
        merger->clifford(g.gate, g.a, g.b);
        return;
      }
      // The clock is read once per 1,024 rotations.
      if (rotations.size() % 1024 == 0 && deadline->passed()) {
        merger->stop_searching();
      }
      rotations.push_back({s, position, g.gate == Elementary::Tdg});
      merger->rotation(g.a, g.gate == Elementary::Tdg);
    }
    void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t> qubits) {
      merger->boundary(qubits);
    }
  };
  RotationMerger merger(program.qubits);
  InstanceWalk walk(program, Sight::CliffordT);
  Reader reader;
  reader.merger = &merger;
  reader.deadline = &deadline;
  walk.run(reader);
  const std::vector<Rotation>& rotations = reader.rotations;

  MergeResult merged = merger.finish();
  check(merged.written.size() == rotations.size(), "one fate per rotation");
  RotationMergingResult result;
  int phase = merged.phase;
  std::vector<PlacedGate> expansion, written;
  for (std::size_t k = 0; k < rotations.size();) {
    const std::uint32_t s = rotations[k].statement;
    // The rotations of statement s: k to end.
    std::size_t end = k;
    bool changed = false;
    for (; end < rotations.size() && rotations[end].statement == s; ++end) {
      changed = changed || merged.written[end] != (rotations[end].dagger ? -1 : 1);
    }
    if (!changed) {
      k = end;
      continue;
    }
    if (program.statements[s].kind == StatementKind::RunGate) {
      const std::int8_t r = merged.written[k];
      const auto first = static_cast<std::uint32_t>(result.edits.gates.size());
      if (r != MergeResult::kMerged) {
        const PhaseGates& gates = phase_gates(r);
        for (std::size_t g = 0; g < gates.count; ++g) {
          result.edits.gates.push_back(library_op(library_gate(gates.gates[g])));
        }
      }
      result.edits.add(s, first, static_cast<std::uint32_t>(result.edits.gates.size()) - first);
      k = end;
      continue;
    }
    // The statement's expansion with each rotation's phase gates at its place.
    expansion.clear();
    written.clear();
    const std::optional<std::uint8_t> statement_phase = walk.gates_of(s, expansion);
    check(statement_phase.has_value(), "a statement holding rotations is seen through");
    phase += *statement_phase;
    std::size_t next = k;
    for (std::uint32_t position = 0; position < expansion.size(); ++position) {
      const PlacedGate g = expansion[position];
      if (next == end || rotations[next].position != position) {
        written.push_back(g);
        continue;
      }
      const std::int8_t r = merged.written[next++];
      if (r == MergeResult::kMerged) continue;
      const PhaseGates& gates = phase_gates(r);
      for (std::size_t j = 0; j < gates.count; ++j) written.push_back({gates.gates[j], g.a, 0});
    }
    check(next == end, "every rotation lies in its statement's expansion");
    result.edits.place(s, written);
    k = end;
  }
  result.phase = static_cast<std::uint8_t>(phase % 16);
  return result;
}

}  // namespace kestrel
