// Edits of a program: statements of one-qubit gates replaced or removed.
//
// An edit replaces one RunGate statement (h, s, sdg, t, tdg, x or z on one
// indexed qubit) with a list of run gates on that statement's own qubit; an
// empty list removes it. For "t q[0]; t q[0];" (statements 0 and 1) the
// per-qubit pass gives {0 -> []} and {1 -> [S]}: the first T goes, the S
// stands where the second T stood. Edits share their lists: the gates of
// edit e are `gates[e.first, e.first + e.count)`, and a list found once may
// serve many statements.
//
// `write_program` (src/program/writer.h) writes the edited text and
// `program_stats` (src/program/stats.h) counts the program before and after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "src/circuit/op.h"
#include "src/program/program.h"

namespace kestrel {

struct Edit {
  std::uint32_t statement;  // a RunGate statement's position in QasmProgram::statements
  std::uint32_t first;      // its replacement starts here in `Edits::gates`
  std::uint32_t count;      // gates in its replacement; 0 removes the statement
};
static_assert(std::is_trivially_copyable_v<Edit>);

// Statements not named keep their text. The list is in increasing order of
// statement, at most one edit each; the gates are run gates. Readers of an
// edit list check both and fault otherwise.
struct Edits {
  std::vector<Edit> list;       // by increasing statement
  std::vector<OpKind> gates;    // the replacements, shared between edits

  // Appends `count` gates of `gates` from `first` as the replacement of
  // `statement`, which must come after every statement edited so far.
  void add(std::uint32_t statement, std::uint32_t first, std::uint32_t count) {
    list.push_back({statement, first, count});
  }
};

// Walks an edit list beside the statements of a program, first to last,
// and checks it on the way: an edit that names no RunGate statement, comes
// out of order, or reaches past `gates` or to a gate other than a run gate
// is a fault.
class EditCursor {
 public:
  explicit EditCursor(const Edits& edits) : edits_(edits) {}

  // The replacement of statement `s` of kind `kind`, or null when it keeps
  // its text. Statements must be asked for in increasing order.
  const Edit* at(std::uint32_t s, StatementKind kind) {
    if (next_ == edits_.list.size() || edits_.list[next_].statement != s) return nullptr;
    const Edit& edit = edits_.list[next_++];
    if (kind != StatementKind::RunGate || edit.first > edits_.gates.size() ||
        edit.count > edits_.gates.size() - edit.first) {
      bad_edit();
    }
    return &edit;
  }
  // The edit `ahead` places after the next one, when it names statement
  // `s` (unchecked until `at` reaches it), or null.
  const Edit* peek(std::size_t ahead, std::uint32_t s) const {
    const std::size_t e = next_ + ahead;
    return e < edits_.list.size() && edits_.list[e].statement == s ? &edits_.list[e] : nullptr;
  }
  // Gate `k` of `edit`'s replacement.
  OpKind gate(const Edit& edit, std::uint32_t k) const {
    const OpKind g = edits_.gates[edit.first + k];
    if (!is_run_gate(g)) bad_edit();
    return g;
  }
  // Faults when an edit was never reached: it came out of order or named a
  // statement past the last.
  void finish() const {
    if (next_ != edits_.list.size()) bad_edit();
  }

 private:
  [[noreturn]] static void bad_edit();

  const Edits& edits_;     // the list walked
  std::size_t next_ = 0;   // the first edit not reached yet
};

}  // namespace kestrel
