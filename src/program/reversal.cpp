// A program's inverse as text: the declarations, then the gate statements
// in the reverse order, each its inverse (see reversal.h).
#include "src/program/reversal.h"

#include <string_view>

#include "src/circuit/elementary.h"
#include "src/program/library.h"

namespace kestrel {
namespace {

// The name the inverse of library gate `gate` is written with: an
// elementary gate's from its table (tdg for t, h for h, ...; not the
// rotations, which take parameters), the library's other gates that are
// their own inverses as they are named; else empty.
std::string_view inverse_name(QasmGate gate) {
  for (std::size_t k = 0; k < kElementary.size(); ++k) {
    const auto e = static_cast<Elementary>(k);
    if (!is_rotation(e) && library_gate(e) == gate) return elementary_info(kElementary[k].inverse).qasm_name;
  }
  switch (gate) {
    case QasmGate::CX: case QasmGate::id: case QasmGate::cy: case QasmGate::ch: case QasmGate::ccx:
    case QasmGate::cswap: case QasmGate::c3x: case QasmGate::c4x:
      return library_info(gate).name;
    default:
      return {};
  }
}

bool names_a_register(const QasmProgram& program, const Statement& st) {
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    if (program.operands[st.first_operand + k].index == kWholeRegister) return true;
  }
  return false;
}

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::optional<std::string> reversed_program(const QasmProgram& program) {
  const std::string_view text = program.text;
  if (text.empty() && !program.statements.empty()) return std::nullopt;  // a gate list
  std::string out;
  out.reserve(text.size() + 16);
  for (const Statement& st : program.statements) {
    if (st.kind != StatementKind::Declaration) continue;
    out.append(text.substr(st.begin, st.end - st.begin));
    out.push_back('\n');
  }
  for (auto it = program.statements.rbegin(); it != program.statements.rend(); ++it) {
    const Statement& st = *it;
    if (st.kind == StatementKind::Declaration) continue;
    const bool gate = st.kind == StatementKind::RunGate || st.kind == StatementKind::Gate;
    if (st.kind != StatementKind::Barrier &&
        (!gate || st.condition != kNoCondition || names_a_register(program, st))) {
      return std::nullopt;
    }
    std::string_view written = text.substr(st.begin, st.end - st.begin);
    if (gate) {
      const std::string_view name = inverse_name(st.library);
      if (name.empty()) return std::nullopt;  // parameters, or a gate the program defines
      std::size_t at = 0;
      while (at < written.size() && is_name_char(written[at])) ++at;
      out.append(name);
      written.remove_prefix(at);
    }
    out.append(written);
    out.push_back('\n');
  }
  return out;
}

}  // namespace kestrel
