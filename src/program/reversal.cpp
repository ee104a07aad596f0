// A program's inverse as text: the declarations, then the gate statements
// in the reverse order, each its inverse (see reversal.h).
#include "src/program/reversal.h"

#include <string_view>

namespace kestrel {
namespace {

// A library gate without parameters that is its own inverse.
bool self_inverse(QasmGate gate) {
  switch (gate) {
    case QasmGate::CX: case QasmGate::cx: case QasmGate::id: case QasmGate::x: case QasmGate::y:
    case QasmGate::z: case QasmGate::h: case QasmGate::cz: case QasmGate::cy: case QasmGate::swap:
    case QasmGate::ch: case QasmGate::ccx: case QasmGate::cswap: case QasmGate::c3x: case QasmGate::c4x:
      return true;
    default:
      return false;
  }
}

// The name of the inverse of gate `gate` (s for sdg, ...), or empty where
// it is written as it is.
std::string_view inverse_name(QasmGate gate) {
  switch (gate) {
    case QasmGate::s: return "sdg";
    case QasmGate::sdg: return "s";
    case QasmGate::t: return "tdg";
    case QasmGate::tdg: return "t";
    default: return {};
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
    if (gate && !self_inverse(st.library)) {
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
