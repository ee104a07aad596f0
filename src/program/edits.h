// Edits of a program: statements replaced or removed.
//
// An edit replaces one statement with a list of gates; an empty list removes
// it. Two kinds of list exist. A run-gate edit replaces a RunGate statement
// (h, s, sdg, t, tdg, x or z on one indexed qubit) with run gates on that
// statement's own qubit: for "t q[0]; t q[0];" (statements 0 and 1) the
// per-qubit pass gives {0 -> []} and {1 -> [S]}: the first T goes, the S
// stands where the second T stood. A placed edit replaces any gate statement
// applied without a condition (a broadcast one too) with elementary gates
// each on its own program qubits: `ccx q[0],q[1],anc[0];` can become the
// fifteen gates of its expansion with one T turned into an S. The gates of
// edit e are `gates[e.first, e.first + e.count)` for a run-gate edit and
// `placed[e.first, e.first + e.count)` for a placed one; a list found once
// may serve many statements. A third kind, for methods that add qubits,
// replaces a statement with operations (src/circuit/operation.h): gates on
// the program's qubits or on `extra_qubits` extra ones (numbered from the
// program's qubits), measurements of extra qubits, and gates conditioned on
// them; the writer declares the extra qubits and their bits.
//
// `write_program` (src/program/writer.h) writes the edited text and
// `program_stats` (src/program/program_stats.h) counts the program before and after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/circuit/operation.h"
#include "src/circuit/op.h"
#include "src/program/program.h"

namespace kestrel {

enum class EditKind : std::uint8_t {
  RunGates,  // run gates of `Edits::gates` on the statement's one qubit
  Placed,    // gates of `Edits::placed`, each on its own qubits
  Operations,  // operations of `Edits::operations`, extra qubits allowed
};

struct Edit {
  std::uint32_t statement;  // the statement's position in QasmProgram::statements
  std::uint32_t first;      // its replacement starts here in `Edits::gates` or `Edits::placed`
  std::uint32_t count;      // gates in its replacement; 0 removes the statement
  EditKind kind = EditKind::RunGates;  // which list the replacement is in
};
static_assert(std::is_trivially_copyable_v<Edit>);

// Statements not named keep their text. The list is in increasing order of
// statement, at most one edit each. Readers of an edit list check it and
// fault otherwise: a run-gate edit must name a RunGate statement and hold
// run gates; a placed edit must name a gate statement without a condition
// and hold gates on distinct qubits of the program.
struct Edits {
  std::vector<Edit> list;            // by increasing statement
  std::vector<OpKind> gates;         // the run-gate replacements, shared between edits
  std::vector<PlacedGate> placed;    // the placed replacements, shared between edits
  std::vector<PlacedOperation> operations;  // the operation replacements
  std::uint32_t extra_qubits = 0;    // extra qubits the operations use, each measured once

  // Appends `count` gates of `gates` from `first` as the replacement of
  // `statement`, which must come after every statement edited so far.
  void add(std::uint32_t statement, std::uint32_t first, std::uint32_t count) {
    list.push_back({statement, first, count});
  }
  // Appends `replacement` to `placed` as the replacement of `statement`,
  // which must come after every statement edited so far.
  void place(std::uint32_t statement, std::span<const PlacedGate> replacement) {
    list.push_back({statement, static_cast<std::uint32_t>(placed.size()),
                    static_cast<std::uint32_t>(replacement.size()), EditKind::Placed});
    placed.insert(placed.end(), replacement.begin(), replacement.end());
  }
  // Appends `replacement` to `operations` as the replacement of `statement`,
  // which must come after every statement edited so far.
  void operate(std::uint32_t statement, std::span<const PlacedOperation> replacement) {
    list.push_back({statement, static_cast<std::uint32_t>(operations.size()),
                    static_cast<std::uint32_t>(replacement.size()), EditKind::Operations});
    operations.insert(operations.end(), replacement.begin(), replacement.end());
  }
};

// Walks an edit list beside the statements of a program of `qubits` qubits,
// first to last, and checks it on the way: an edit that names a statement of
// the wrong kind, comes out of order, reaches past its list, or holds a gate
// its kind does not allow is a fault.
class EditCursor {
 public:
  EditCursor(const Edits& edits, std::uint32_t qubits) : edits_(edits), qubits_(qubits) {}

  // The replacement of statement `s`, which is `st`, or null when it keeps
  // its text. Statements must be asked for in increasing order.
  const Edit* at(std::uint32_t s, const Statement& st) {
    if (next_ == edits_.list.size() || edits_.list[next_].statement != s) return nullptr;
    const Edit& edit = edits_.list[next_++];
    if (edit.kind == EditKind::RunGates) {
      if (st.kind != StatementKind::RunGate || edit.first > edits_.gates.size() ||
          edit.count > edits_.gates.size() - edit.first) {
        bad_edit();
      }
    } else {
      const std::size_t size =
          edit.kind == EditKind::Placed ? edits_.placed.size() : edits_.operations.size();
      if ((edit.kind != EditKind::Placed && edit.kind != EditKind::Operations) ||
          edit.first > size || edit.count > size - edit.first ||
          !(st.kind == StatementKind::RunGate ||
            (st.kind == StatementKind::Gate && st.condition == kNoCondition))) {
        bad_edit();
      }
    }
    return &edit;
  }
  // The edit `ahead` places after the next one, when it names statement
  // `s` (unchecked until `at` reaches it), or null.
  const Edit* peek(std::size_t ahead, std::uint32_t s) const {
    const std::size_t e = next_ + ahead;
    return e < edits_.list.size() && edits_.list[e].statement == s ? &edits_.list[e] : nullptr;
  }
  // Gate `k` of run-gate edit `edit`'s replacement.
  OpKind gate(const Edit& edit, std::uint32_t k) const {
    if (edit.kind != EditKind::RunGates || k >= edit.count) bad_edit();
    const OpKind g = edits_.gates[edit.first + k];
    if (!is_run_gate(g)) bad_edit();
    return g;
  }
  // Gate `k` of placed edit `edit`'s replacement.
  PlacedGate placed(const Edit& edit, std::uint32_t k) const {
    if (edit.kind != EditKind::Placed || k >= edit.count) bad_edit();
    return checked(edits_.placed[edit.first + k], qubits_);
  }
  // Operation `k` of operations edit `edit`'s replacement.
  PlacedOperation operation(const Edit& edit, std::uint32_t k) const {
    if (edit.kind != EditKind::Operations || k >= edit.count) bad_edit();
    const PlacedOperation op = edits_.operations[edit.first + k];
    const std::uint64_t all = std::uint64_t{qubits_} + edits_.extra_qubits;
    switch (op.kind) {
      case OperationKind::Gate:
        checked(op.gate, all);
        break;
      case OperationKind::Conditioned:
        checked(op.gate, all);
        if (op.extra >= edits_.extra_qubits) bad_edit();
        break;
      case OperationKind::Measure:
        if (op.extra >= edits_.extra_qubits) bad_edit();
        break;
      default: bad_edit();
    }
    return op;
  }
  // The extra qubits the operations may use.
  std::uint32_t extra_qubits() const noexcept { return edits_.extra_qubits; }
  // Faults when an edit was never reached: it came out of order or named a
  // statement past the last.
  void finish() const {
    if (next_ != edits_.list.size()) bad_edit();
  }

 private:
  [[noreturn]] static void bad_edit();
  // `g`, when it is a gate on distinct qubits below `qubits`.
  static PlacedGate checked(PlacedGate g, std::uint64_t qubits) {
    if (static_cast<std::size_t>(g.gate) >= kElementary.size() || g.a >= qubits ||
        (elementary_info(g.gate).qubits == 2 ? g.b >= qubits || g.b == g.a : g.b != 0)) {
      bad_edit();
    }
    return g;
  }

  const Edits& edits_;     // the list walked
  std::uint32_t qubits_;   // the program's qubits, which placed gates must name
  std::size_t next_ = 0;   // the first edit not reached yet
};

}  // namespace kestrel
