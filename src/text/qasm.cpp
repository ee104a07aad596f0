// The line reader's matching, and the writer's lines.
#include "src/text/qasm.h"

#include <algorithm>
#include <array>
#include <optional>

#include "engine/fault.h"
#include "src/circuit/chain.h"

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

// The gates a line may stand for, the seven run gates and cx, per first
// byte of their OpenQASM names: at most two share one (s and sdg, t and
// tdg), the shorter first; I fills the rest.
constexpr std::array<std::array<OpKind, 2>, 256> kByFirstByte = [] {
  std::array<std::array<OpKind, 2>, 256> table{};
  for (std::size_t k = 0; k < Op::kNumKinds; ++k) {
    if (!kKinds[k].run_gate && static_cast<OpKind>(k) != OpKind::CNOT) continue;
    auto& slot = table[static_cast<unsigned char>(kKinds[k].qasm_name[0])];
    slot[slot[0] == OpKind::I ? 0 : 1] = static_cast<OpKind>(k);
  }
  return table;
}();

// A gate line starts with the gate's name and a space, or a tab after "h".
// The header's lines ("//", "OPENQASM", "include", "qreg") start with no
// gate's name, and every other line is ignored as well.
OpKind classify(std::string_view line) {
  if (line.size() <= 1) return OpKind::I;
  for (OpKind gate : kByFirstByte[static_cast<unsigned char>(line[0])]) {
    if (gate == OpKind::I) break;
    const std::string_view name = kind_info(gate).qasm_name;
    if (line.size() <= name.size() || !line.starts_with(name)) continue;
    const char after = line[name.size()];
    if (after == ' ' || (after == '\t' && gate == OpKind::H)) return gate;
  }
  return OpKind::I;
}

// Each leaf's line on the one qubit q[0], from its OpenQASM name; I has none.
struct LineText {
  std::array<char, 16> text{};  // the first `size` bytes are used
  std::size_t size = 0;
  constexpr std::string_view view() const { return {text.data(), size}; }
};
constexpr std::array<LineText, Op::kNumKinds> kLines = [] {
  std::array<LineText, Op::kNumKinds> lines{};
  for (std::size_t k = 0; k < Op::kNumKinds; ++k) {
    const std::string_view name = kKinds[k].qasm_name;
    if (name.empty()) continue;
    const std::string_view operands =
        static_cast<OpKind>(k) == OpKind::CNOT ? " q[0],q[0];" : " q[0];";
    LineText& line = lines[k];
    for (char c : name) line.text[line.size++] = c;
    for (char c : operands) line.text[line.size++] = c;
  }
  return lines;
}();

std::string_view line_text(OpKind gate) {
  if (gate == OpKind::Seq || gate == OpKind::Par) fault("internal error: entered unreachable code");
  return kLines[static_cast<std::size_t>(gate)].view();
}

}  // namespace

std::string_view trim_spaces(std::string_view line) {
  while (std::size_t n = leading_space(line)) line.remove_prefix(n);
  while (std::size_t n = trailing_space(line)) line.remove_suffix(n);
  return line;
}

OpKind read_trimmed_line(std::string_view trimmed) { return classify(trimmed); }

OpKind read_checked_line(std::string_view trimmed, std::size_t number, WireCheck& check) {
  if (!trimmed.empty()) {
    for (OpKind gate : kByFirstByte[static_cast<unsigned char>(trimmed[0])]) {
      if (gate == OpKind::I) break;
      if (check.usual(gate, trimmed)) return gate;
    }
  }
  const OpKind gate = classify(trimmed);
  check.line(number, trimmed, gate);
  return gate;
}

RecExpr<Op> parse_qasm(std::string_view text, WireFinding* wire) {
  Chain chain(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  WireCheck check;
  for_each_gate_line(text, [&](OpKind gate) { chain.add(gate); },
                     wire != nullptr ? &check : nullptr);
  if (wire != nullptr) *wire = std::move(check).finish();
  return std::move(chain).take();
}

WireGates read_wire(std::string_view text) {
  WireGates read;
  // A usual gate line takes eight bytes or more ("h q[0];\n"), so most
  // texts need no second allocation.
  read.gates.reserve(text.size() / 8 + 1);
  WireCheck check;
  for_each_gate_line(text, [&](OpKind gate) {
    read.gates.push_back(gate);
    read.stats.add(gate);
    read.kinds |= 1u << static_cast<unsigned>(gate);
  }, &check);
  read.stats.depth = read.stats.gates;
  read.wire = std::move(check).finish();
  return read;
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
