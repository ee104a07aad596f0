// The writer copies the text between edited statements in large pieces and
// writes each replacement through a cursor into a buffer sized ahead. A
// placed gate's qubits are named through a table of the quantum registers,
// made when the first placed edit comes.
#include "src/program/writer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/fault.h"
#include "src/circuit/angle.h"

namespace kestrel {
namespace {

constexpr std::size_t kNoLine = std::numeric_limits<std::size_t>::max();

constexpr bool is_space_or_tab(char c) { return c == ' ' || c == '\t'; }

// The start of the line of the byte at `at` when only blanks stand between
// them, else kNoLine.
std::size_t line_start_before(std::string_view text, std::size_t at) {
  while (at > 0 && is_space_or_tab(text[at - 1])) --at;
  return at == 0 || text[at - 1] == '\n' ? at : kNoLine;
}

// The offset after the line end of the byte at `at` when only blanks (and
// a '\r') stand between them, or the text's end; else kNoLine.
std::size_t line_end_after(std::string_view text, std::size_t at) {
  while (at < text.size() && (is_space_or_tab(text[at]) || text[at] == '\r')) ++at;
  if (at == text.size()) return at;
  return text[at] == '\n' ? at + 1 : kNoLine;
}

class Writer {
 public:
  Writer(std::string_view text, const QasmProgram& program, const Edits& edits)
      : text_(text), program_(program), cursor_(edits, program.qubits) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  std::string write();

 private:
  // Inlined: they run a few times per statement.
  [[gnu::always_inline]] char* room(std::size_t n) {
    if (used_ + n > out_.size()) out_.resize(std::max(2 * out_.size(), used_ + n));
    return out_.data() + used_;
  }
  [[gnu::always_inline]] void copy(std::string_view piece) {
    if (piece.empty()) return;  // an empty view may have no data pointer
    std::memcpy(room(piece.size()), piece.data(), piece.size());
    used_ += piece.size();
  }
  void decimal(std::uint32_t value) {
    char buffer[16];  // an index has at most 7 digits
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    copy(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
  }
  std::uint32_t removed_line(std::uint32_t s, std::size_t start);
  void replace(const Statement& st, const Edit& edit, std::string_view newline);
  void placed_gate(PlacedGate gate);
  void operation(PlacedOperation op);
  void qubit(std::uint32_t q);
  void declare_extras(const Statement& first, std::string_view newline);

  std::string_view text_;        // the program's text
  const QasmProgram& program_;   // its statements
  EditCursor cursor_;            // the edits, walked with the statements
  std::string out_;              // the output, valid up to `used_`
  std::size_t used_ = 0;         // bytes written
  std::size_t copied_ = 0;       // the text before this offset is written or dropped
  std::string operand_;          // " q[3];" for the statement at hand
  std::vector<const Register*> quantum_;  // the quantum registers with bits, by first qubit
  std::string extra_;            // the extra qubits' register, when there are any
};

bool identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A name for the extra qubits' register that no identifier of `text`
// starts with, so that neither it nor the bits named after it ("anc_m0")
// can meet a register or gate of the program: "anc", else "anc1", ...
std::string extra_register_name(std::string_view text) {
  for (std::uint64_t k = 0;; ++k) {
    const std::string name = k == 0 ? "anc" : "anc" + std::to_string(k);
    bool taken = false;
    for (std::size_t at = text.find(name); at != std::string_view::npos && !taken;
         at = text.find(name, at + 1)) {
      taken = at == 0 || !identifier_char(text[at - 1]);
    }
    if (!taken) return name;
  }
}

// When removed statement `s` starts the line that begins at `start`, and
// that line holds nothing but it and further removed statements, drops the
// line whole and returns the last statement on it; else returns kNoStatement.
constexpr std::uint32_t kNoStatement = std::numeric_limits<std::uint32_t>::max();

std::uint32_t Writer::removed_line(std::uint32_t s, std::size_t start) {
  const auto& statements = program_.statements;
  std::uint32_t last = s;
  for (std::size_t ahead = 0;; ++ahead) {
    const std::size_t end = line_end_after(text_, statements[last].end);
    if (end != kNoLine) {
      copy(text_.substr(copied_, start - copied_));
      copied_ = end;
      for (std::uint32_t k = s + 1; k <= last; ++k) cursor_.at(k, statements[k]);
      return last;
    }
    // The next statement must follow on the line after blanks only, and go too.
    if (last + 1 == statements.size()) return kNoStatement;
    const Statement& next = statements[last + 1];
    std::size_t at = statements[last].end;
    while (at < next.begin && is_space_or_tab(text_[at])) ++at;
    const Edit* edit = cursor_.peek(ahead, last + 1);
    if (at != next.begin || edit == nullptr || edit->count != 0) return kNoStatement;
    ++last;
  }
}

// Writes program qubit `q` as its register's name and index: "anc[0]";
// past the program's qubits, an extra qubit.
void Writer::qubit(std::uint32_t q) {
  if (q >= program_.qubits) {
    copy(extra_);
    copy("[");
    decimal(q - program_.qubits);
    copy("]");
    return;
  }
  if (quantum_.empty()) {
    for (const Register& reg : program_.registers) {
      if (reg.quantum && reg.size > 0) quantum_.push_back(&reg);
    }
  }
  // The last register that starts at or before q holds it (the cursor
  // checked that q is below the program's qubits).
  const auto after = std::upper_bound(quantum_.begin(), quantum_.end(), q,
                                      [](std::uint32_t v, const Register* r) { return v < r->first; });
  check(after != quantum_.begin(), "a placed gate's qubit lies in a register");
  const Register& reg = **(after - 1);
  copy(reg.name);
  copy("[");
  decimal(q - reg.first);
  copy("]");
}

// Writes a placed gate as one statement: "cx q[1],anc[0];", "rz(pi/8) q[0];".
void Writer::placed_gate(PlacedGate gate) {
  const ElementaryInfo& info = elementary_info(gate.gate);
  copy(info.qasm_name);
  if (is_rotation(gate.gate)) {
    copy("(");
    copy(angle_text(gate.angle));
    copy(")");
  }
  copy(" ");
  qubit(gate.a);
  if (info.qubits == 2) {
    copy(",");
    qubit(gate.b);
  }
  copy(";");
}

// Writes an operation as one statement: a gate, "measure anc[0] -> anc_m0[0];"
// or "if(anc_m0==1) x q[3];".
void Writer::operation(PlacedOperation op) {
  if (op.kind == OperationKind::Gate) {
    placed_gate(op.gate);
    return;
  }
  if (op.kind == OperationKind::Measure) {
    copy("measure ");
    qubit(program_.qubits + op.extra);
    copy(" -> ");
  } else {
    copy("if(");
  }
  copy(extra_);
  copy("_m");
  decimal(op.extra);
  if (op.kind == OperationKind::Measure) {
    copy("[0];");
    return;
  }
  copy("==1) ");
  placed_gate(op.gate);
}

// Declares the extra qubits and a bit for each one's measurement, on lines
// of their own before statement `first`, the program's first operation.
void Writer::declare_extras(const Statement& first, std::string_view newline) {
  const std::size_t start = line_start_before(text_, first.begin);
  const std::size_t at = start != kNoLine ? start : first.begin;
  copy(text_.substr(copied_, at - copied_));
  copied_ = at;
  const std::uint32_t extras = cursor_.extra_qubits();
  copy("qreg ");
  copy(extra_);
  copy("[");
  decimal(extras);
  copy("];");
  copy(newline);
  for (std::uint32_t i = 0; i < extras; ++i) {
    copy("creg ");
    copy(extra_);
    copy("_m");
    decimal(i);
    copy("[1];");
    copy(newline);
  }
  if (start == kNoLine) copy(" ");
}

// Writes `edit`'s gates in the place of statement `st`.
void Writer::replace(const Statement& st, const Edit& edit, std::string_view newline) {
  copy(text_.substr(copied_, st.begin - copied_));
  copied_ = st.end;
  const std::size_t start = line_start_before(text_, st.begin);
  const bool own_line = start != kNoLine && line_end_after(text_, st.end) != kNoLine;
  const std::string_view indent = own_line ? text_.substr(start, st.begin - start) : "";
  if (edit.kind == EditKind::Placed || edit.kind == EditKind::Operations) {
    for (std::uint32_t k = 0; k < edit.count; ++k) {
      if (k > 0) {
        copy(newline);
        copy(indent);
      }
      if (edit.kind == EditKind::Placed) {
        placed_gate(cursor_.placed(edit, k));
      } else {
        operation(cursor_.operation(edit, k));
      }
    }
    return;
  }
  const Operand& op = program_.operands[st.first_operand];
  char digits[16];  // the index in decimal; an index has at most 7 digits
  const auto digits_end = std::to_chars(digits, digits + sizeof digits, op.index).ptr;
  operand_.assign(" ");
  operand_ += program_.registers[op.reg].name;
  operand_ += '[';
  operand_.append(digits, digits_end);
  operand_ += "];";
  for (std::uint32_t k = 0; k < edit.count; ++k) {
    if (k > 0) {
      copy(newline);
      copy(indent);
    }
    const std::string_view name = kind_info(cursor_.gate(edit, k)).qasm_name;
    char* at = room(name.size() + operand_.size());
    for (char c : name) *at++ = c;  // one to three bytes: no call
    std::memcpy(at, operand_.data(), operand_.size());
    used_ += name.size() + operand_.size();
  }
}

std::string Writer::write() {
  const std::size_t first_line_end = text_.find('\n');
  const std::string_view newline = first_line_end != std::string_view::npos &&
                                           first_line_end > 0 && text_[first_line_end - 1] == '\r'
                                       ? "\r\n"
                                       : "\n";
  // Pieces are a few bytes each, and a million appends with their checks
  // would cost more than the copying itself.
  out_.assign(text_.size() + 64, '\0');
  const auto& statements = program_.statements;
  bool declared = cursor_.extra_qubits() == 0;
  if (!declared) extra_ = extra_register_name(text_);
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    const Statement& st = statements[s];
    if (!declared && st.kind != StatementKind::Declaration) {
      declare_extras(st, newline);
      declared = true;
    }
    const Edit* edit = cursor_.at(s, st);
    if (edit == nullptr) continue;
    if (edit->count > 0) {
      replace(st, *edit, newline);
      continue;
    }
    if (const std::size_t start = line_start_before(text_, st.begin); start != kNoLine) {
      if (const std::uint32_t last = removed_line(s, start); last != kNoStatement) {
        s = last;
        continue;
      }
    }
    copy(text_.substr(copied_, st.begin - copied_));
    copied_ = st.end;
  }
  cursor_.finish();
  copy(text_.substr(copied_));
  out_.resize(used_);
  return std::move(out_);
}

}  // namespace

std::string write_program(std::string_view text, const QasmProgram& program, const Edits& edits) {
  return Writer(text, program, edits).write();
}

}  // namespace kestrel
