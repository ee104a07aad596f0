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
    void gate(PlacedGate g, std::uint32_t, std::uint32_t) {
      rows += elementary_info(g.gate).t || is_rotation(g.gate);
    }
    void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t> qubits) {
      rows += 2 * qubits.size();
    }
  } count;
  count.rows = 2 * std::uint64_t{program.qubits};
  InstanceWalk(program, Sight::Rotations).run(count);
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

namespace {

RotationAxis axis_of(Elementary gate) {
  if (gate == Elementary::Rx) return RotationAxis::X;
  if (gate == Elementary::Ry) return RotationAxis::Y;
  return RotationAxis::Z;
}

// Appends the gates of diag(1, e^(i r pi/4)) turned to `axis` on qubit `q`:
// rx(k pi/4) = H rz(k pi/4) H and ry(k pi/4) = S H rz(k pi/4) H S^-1, with
// the phase of rz's form.
void put_phase_gates(std::vector<PlacedGate>& out, int r, RotationAxis axis, std::uint32_t q) {
  const PhaseGates& gates = phase_gates(r);
  if (gates.count == 0) return;
  if (axis == RotationAxis::Y) out.push_back({Elementary::Sdg, q, 0});
  if (axis != RotationAxis::Z) out.push_back({Elementary::H, q, 0});
  for (std::size_t j = 0; j < gates.count; ++j) out.push_back({gates.gates[j], q, 0});
  if (axis != RotationAxis::Z) out.push_back({Elementary::H, q, 0});
  if (axis == RotationAxis::Y) out.push_back({Elementary::S, q, 0});
}

// A rotation read: where it stands in the program, and what it was.
struct Rotation {
  std::uint32_t statement;
  std::uint32_t position;  // in the statement's expansion
  Elementary gate;         // T, Tdg, or a rotation of any angle
  double angle;            // for a rotation of any angle
};

// Feeds the instances walked to the merger and lists the rotations read.
struct RotationReader : InstanceVisitor {
  RotationMerger* merger = nullptr;
  const Deadline* deadline = nullptr;
  std::vector<Rotation> rotations;
  void gate(PlacedGate g, std::uint32_t s, std::uint32_t position) {
    const bool rotation = is_rotation(g.gate);
    if (!elementary_info(g.gate).t && !rotation) {
      merger->clifford(g.gate, g.a, g.b);
      return;
    }
    // The clock is read once per 1,024 rotations.
    if (rotations.size() % 1024 == 0 && deadline->passed()) {
      merger->stop_searching();
    }
    rotations.push_back({s, position, g.gate, g.angle});
    if (rotation) {
      merger->rotation(g.a, axis_of(g.gate), g.angle);
    } else {
      merger->rotation(g.a, g.gate == Elementary::Tdg);
    }
  }
  void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t> qubits) {
    merger->boundary(qubits);
  }
};

// The rotations read and their fates, written into edits of their statements.
class FateWriter {
 public:
  FateWriter(const QasmProgram& program, InstanceWalk& walk, const std::vector<Rotation>& rotations,
             const MergeResult& merged, RotationMergingResult& result)
      : program_(program), walk_(walk), rotations_(rotations), merged_(merged), result_(result) {}

  // Edits every statement where a rotation changed; returns the phase of
  // the expansions written, in eighths.
  int write() {
    int phase = 0;
    for (std::size_t k = 0; k < rotations_.size();) {
      const std::uint32_t s = rotations_[k].statement;
      // The rotations of statement s: k to end.
      std::size_t end = k;
      bool changed = false;
      for (; end < rotations_.size() && rotations_[end].statement == s; ++end) {
        changed = changed || !unchanged(end);
      }
      if (changed) phase += edit(s, k, end);
      k = end;
    }
    return phase;
  }

 private:
  // Whether rotation k is written as it was read.
  bool unchanged(std::size_t k) const {
    const Rotation& r = rotations_[k];
    if (is_rotation(r.gate)) {
      return merged_.written[k] == MergeResult::kRotation && merged_.angles[k] == r.angle;
    }
    return merged_.written[k] == (r.gate == Elementary::Tdg ? -1 : 1);
  }

  // Appends what rotation k becomes, on qubit q.
  void put(std::vector<PlacedGate>& out, std::size_t k, std::uint32_t q) const {
    const std::int8_t r = merged_.written[k];
    if (r == MergeResult::kMerged) return;
    const Elementary gate = rotations_[k].gate;
    if (r == MergeResult::kRotation) {
      out.push_back({is_rotation(gate) ? gate : Elementary::Rz, q, 0, merged_.angles[k]});
      return;
    }
    put_phase_gates(out, r, axis_of(gate), q);
  }

  // Edits statement s, whose rotations are k to end: a RunGate statement
  // gets its phase gates, any other its expansion with each rotation's gates
  // at its place (whose phase, in eighths, is returned).
  int edit(std::uint32_t s, std::size_t k, std::size_t end) {
    const Statement& st = program_.statements[s];
    if (st.kind == StatementKind::RunGate && merged_.written[k] != MergeResult::kRotation) {
      const std::int8_t r = merged_.written[k];
      const auto first = static_cast<std::uint32_t>(result_.edits.gates.size());
      if (r != MergeResult::kMerged) {
        const PhaseGates& gates = phase_gates(r);
        for (std::size_t g = 0; g < gates.count; ++g) {
          result_.edits.gates.push_back(library_op(library_gate(gates.gates[g])));
        }
      }
      result_.edits.add(s, first, static_cast<std::uint32_t>(result_.edits.gates.size()) - first);
      return 0;
    }
    expansion_.clear();
    written_.clear();
    const std::optional<Phase> statement_phase = walk_.gates_of(s, expansion_);
    check(statement_phase.has_value(), "a statement holding rotations is seen through");
    result_.phase.radians += large_angle_reduced(statement_phase->radians);
    std::size_t next = k;
    for (std::uint32_t position = 0; position < expansion_.size(); ++position) {
      const PlacedGate g = expansion_[position];
      if (next == end || rotations_[next].position != position) {
        written_.push_back(g);
        continue;
      }
      put(written_, next++, g.a);
    }
    check(next == end, "every rotation lies in its statement's expansion");
    result_.edits.place(s, written_);
    return statement_phase->eighths;
  }

  const QasmProgram& program_;
  InstanceWalk& walk_;
  const std::vector<Rotation>& rotations_;
  const MergeResult& merged_;
  RotationMergingResult& result_;
  std::vector<PlacedGate> expansion_, written_;
};

}  // namespace

RotationMergingResult merge_rotations(const QasmProgram& program, const Deadline& deadline,
                                      double tolerance) {
  RotationMerger merger(program.qubits, tolerance);
  InstanceWalk walk(program, Sight::Rotations);
  RotationReader reader;
  reader.merger = &merger;
  reader.deadline = &deadline;
  walk.run(reader);

  const MergeResult merged = merger.finish();
  check(merged.written.size() == reader.rotations.size(), "one fate per rotation");
  RotationMergingResult result;
  result.rounded = merged.rounded;
  const int phase = merged.phase + FateWriter(program, walk, reader.rotations, merged, result).write();
  result.phase.add_eighths(phase);
  return result;
}

}  // namespace kestrel
