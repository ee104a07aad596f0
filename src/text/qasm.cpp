#include "src/text/qasm.h"

#include <algorithm>
#include <optional>

namespace kestrel {
namespace {

// Length of the Unicode White_Space character that `text` starts with, or 0.
std::size_t leading_space(std::string_view t) {
  if (t.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(t[0]);
  if ((b0 >= 9 && b0 <= 13) || b0 == 32) return 1;
  if (t.size() >= 2 && b0 == 0xC2) {
    const auto b1 = static_cast<unsigned char>(t[1]);
    if (b1 == 0x85 || b1 == 0xA0) return 2;  // U+0085, U+00A0
  }
  if (t.size() >= 3) {
    const auto b1 = static_cast<unsigned char>(t[1]);
    const auto b2 = static_cast<unsigned char>(t[2]);
    if (b0 == 0xE1 && b1 == 0x9A && b2 == 0x80) return 3;  // U+1680
    if (b0 == 0xE2 && b1 == 0x80 &&
        ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF))
      return 3;  // U+2000..U+200A, U+2028, U+2029, U+202F
    if (b0 == 0xE2 && b1 == 0x81 && b2 == 0x9F) return 3;  // U+205F
    if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) return 3;  // U+3000
  }
  return 0;
}

// Length of the Unicode White_Space character that `text` ends with, or 0.
std::size_t trailing_space(std::string_view t) {
  for (std::size_t len = 1; len <= 3 && len <= t.size(); ++len) {
    const std::string_view tail = t.substr(t.size() - len);
    if (leading_space(tail) == len) return len;
  }
  return 0;
}

// A byte that is a whole character and no white space.
constexpr bool printable(char c) { return c > ' ' && c < '\x7f'; }

std::string_view trim(std::string_view line) {
  // Almost every line starts and ends with such a byte; white space never does.
  if (!line.empty() && printable(line.front()) && printable(line.back())) return line;
  while (std::size_t n = leading_space(line)) line.remove_prefix(n);
  while (std::size_t n = trailing_space(line)) line.remove_suffix(n);
  return line;
}

// A gate line starts with the gate's name and a space, or a tab after "h".
// The header's lines ("//", "OPENQASM", "include", "qreg") start with no
// gate's name, and every other line is ignored as well.
std::optional<OpKind> classify(std::string_view line) {
  if (line.size() <= 1) return std::nullopt;
  const char next = line[1];
  switch (line[0]) {
    case 'h':
      if (next == ' ' || next == '\t') return OpKind::H;
      break;
    case 's':
      if (next == ' ') return OpKind::S;
      if (line.starts_with("sdg ")) return OpKind::Sdg;
      break;
    case 't':
      if (next == ' ') return OpKind::T;
      if (line.starts_with("tdg ")) return OpKind::Tdg;
      break;
    case 'x':
      if (next == ' ') return OpKind::X;
      break;
    case 'z':
      if (next == ' ') return OpKind::Z;
      break;
    case 'c':
      if (line.starts_with("cx ")) return OpKind::CNOT;
      break;
    default: break;
  }
  return std::nullopt;
}

constexpr std::string_view line_text(OpKind gate) {
  switch (gate) {
    case OpKind::H: return "h q[0];";
    case OpKind::S: return "s q[0];";
    case OpKind::Sdg: return "sdg q[0];";
    case OpKind::T: return "t q[0];";
    case OpKind::Tdg: return "tdg q[0];";
    case OpKind::X: return "x q[0];";
    case OpKind::Z: return "z q[0];";
    case OpKind::RZ1: return "rz(pi/2) q[0];";
    case OpKind::RZ2: return "rz(pi/4) q[0];";
    case OpKind::CNOT: return "cx q[0],q[0];";
    case OpKind::I: return "";
    case OpKind::Seq:
    case OpKind::Par: break;
  }
  fault("internal error: entered unreachable code");
}

// Calls `f` on each leaf other than I under node `id`, in circuit order:
// the whole first child before the second, for Seq and Par alike. The walk
// keeps the pending second children on a stack of its own.
template <class F>
void for_each_gate(Id id, const RecExpr<Op>& expr, F&& f) {
  std::vector<Id> todo{id};
  while (!todo.empty()) {
    Op node = expr[todo.back()];
    todo.pop_back();
    while (!node.is_leaf()) {
      todo.push_back(node.children()[1]);
      node = expr[node.children()[0]];
    }
    if (node.op() != OpKind::I) f(node);
  }
}

}  // namespace

std::optional<OpKind> read_gate_line(std::string_view line) { return classify(trim(line)); }

RecExpr<Op> parse_qasm(std::string_view text) {
  RecExpr<Op> expr;
  expr.reserve(2 * static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 2);
  std::optional<Id> root;
  for_each_gate_line(text, [&](OpKind gate) {
    const Id leaf = expr.add(Op(gate));
    root = root ? expr.add(Op::seq(*root, leaf)) : leaf;
  });
  if (!root) expr.add(Op(OpKind::I));
  return expr;
}

GateTally tally_gates(std::string_view text) {
  GateTally tally;
  tally.qasm.reserve(kQasmHeader.size() + text.size());
  tally.qasm += kQasmHeader;
  for_each_gate_line(text, [&](OpKind gate) {
    ++tally.stats.gates;
    tally.stats.t += gate == OpKind::T || gate == OpKind::Tdg;
    tally.kinds |= 1u << static_cast<unsigned>(gate);
    tally.qasm += line_text(gate);
    tally.qasm += '\n';
  });
  tally.stats.depth = tally.stats.gates;
  return tally;
}

void emit(Id id, const RecExpr<Op>& expr, std::vector<Op>& gates) {
  for_each_gate(id, expr, [&](Op gate) { gates.push_back(gate); });
}

// Both walk the gates in place rather than collecting them first: on a long
// circuit the list would cost more than the walk.
CircuitStats stats(const RecExpr<Op>& expr) {
  CircuitStats s;
  for_each_gate(expr.root(), expr, [&](Op gate) {
    s.t += gate.op() == OpKind::T || gate.op() == OpKind::Tdg;
    ++s.gates;
  });
  s.depth = s.gates;
  return s;
}

CircuitStats stats(std::span<const OpKind> gates) {
  CircuitStats s;
  for (OpKind gate : gates) {
    s.t += gate == OpKind::T || gate == OpKind::Tdg;
    s.gates += gate != OpKind::I;
  }
  s.depth = s.gates;
  return s;
}

std::string print_qasm(std::span<const OpKind> gates) {
  std::size_t size = kQasmHeader.size();
  for (OpKind gate : gates) size += gate == OpKind::I ? 0 : line_text(gate).size() + 1;
  std::string out;
  out.reserve(size);
  out += kQasmHeader;
  for (OpKind gate : gates) {
    if (gate == OpKind::I) continue;
    out += line_text(gate);
    out += '\n';
  }
  return out;
}

std::string print_qasm(const RecExpr<Op>& expr) {
  std::size_t size = kQasmHeader.size();
  for_each_gate(expr.root(), expr, [&](Op gate) { size += line_text(gate.op()).size() + 1; });
  std::string out;
  out.reserve(size);
  out += kQasmHeader;
  for_each_gate(expr.root(), expr, [&](Op gate) {
    out += line_text(gate.op());
    out += '\n';
  });
  return out;
}

}  // namespace kestrel
