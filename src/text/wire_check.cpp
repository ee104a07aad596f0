// The check of a text read as one wire: the lines that differ from the usual
// one, statement by statement.
#include "src/text/wire_check.h"

#include <array>
#include <charconv>
#include <limits>
#include <optional>

#include "src/circuit/op.h"
#include "src/text/qasm.h"

namespace kestrel {
namespace {

constexpr bool identifier_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
constexpr bool identifier_part(char c) { return identifier_start(c) || (c >= '0' && c <= '9'); }

// The identifier `text` starts with, or "".
std::string_view identifier(std::string_view text) {
  if (text.empty() || !identifier_start(text[0])) return {};
  std::size_t n = 1;
  while (n < text.size() && identifier_part(text[n])) ++n;
  return text.substr(0, n);
}

// "[ digits ]" as the whole of `text` (blanks allowed inside): the number,
// saturated at the largest uint64; nothing when `text` is something else.
std::optional<std::uint64_t> bracketed_number(std::string_view text) {
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
  const std::string_view digits = trim_line(text.substr(1, text.size() - 2));
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (end != digits.data() + digits.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) return std::numeric_limits<std::uint64_t>::max();
  if (error != std::errc()) return std::nullopt;
  return value;
}

// A qubit operand: a register with an index, or a whole register.
struct Operand {
  std::string_view name;
  std::optional<std::uint64_t> index;  // absent for a whole register
};

std::optional<Operand> operand(std::string_view text) {
  text = trim_line(text);
  const std::string_view name = identifier(text);
  if (name.empty()) return std::nullopt;
  const std::string_view rest = trim_line(text.substr(name.size()));
  if (rest.empty()) return Operand{name, std::nullopt};
  const std::optional<std::uint64_t> index = bracketed_number(rest);
  if (!index) return std::nullopt;
  return Operand{name, index};
}

// The statements that change no gate of the wire (with `qreg`, counted apart).
constexpr std::array<std::string_view, 6> kNoGate = {"OPENQASM", "include", "creg",
                                                     "barrier",  "gate",    "opaque"};

// The line as a finding quotes it: at most kQuotedBytes bytes, cut at a
// character's start, control characters as \xNN.
std::string quoted(std::string_view line) {
  std::size_t size = line.size();
  if (size > kQuotedBytes) {
    size = kQuotedBytes;
    while (size > 0 && (static_cast<unsigned char>(line[size]) & 0xC0) == 0x80) --size;
  }
  std::string out;
  for (char c : line.substr(0, size)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  if (size < line.size()) out += "...";
  return out;
}

}  // namespace

std::string quoted_line(std::string_view text, std::size_t number) {
  for (std::size_t k = 1; k < number; ++k) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return {};
    text.remove_prefix(end + 1);
  }
  return quoted(trim_line(text.substr(0, text.find('\n'))));
}

void WireCheck::line(std::size_t number, std::string_view trimmed, OpKind gate) {
  any_gate_ = any_gate_ || gate != OpKind::I;
  if (!settled_) examine(number, trimmed, gate == OpKind::I ? 0 : kind_info(gate).qasm_name.size());
  usual_ready_ = !settled_ && wire_known_ && depth_ == 0;
}

void WireCheck::examine(std::size_t number, std::string_view line, std::size_t name_size) {
  number_ = number;
  current_ = line;
  bool read = name_size != 0;  // the line's first statement is the gate read
  std::size_t start = 0;
  while (!settled_) {
    // The statement up to the next ';', brace or comment.
    std::size_t end = start;
    while (end < line.size() && line[end] != ';' && line[end] != '{' && line[end] != '}' &&
           !(line[end] == '/' && end + 1 < line.size() && line[end + 1] == '/')) {
      ++end;
    }
    const std::string_view statement = trim_line(line.substr(start, end - start));
    if (read) {
      if (depth_ > 0) return found(WireFinding::Kind::InDefinition);
      check_operands(statement.substr(name_size));
      read = false;
    } else if (depth_ == 0 && !statement.empty()) {
      check_statement(statement);
    }
    if (end == line.size() || line[end] == '/') return;
    if (line[end] == '{') ++depth_;
    if (line[end] == '}' && depth_ > 0) --depth_;
    start = end + 1;
  }
}

void WireCheck::check_operands(std::string_view operands) {
  while (!settled_) {
    const std::size_t comma = operands.find(',');
    const std::optional<Operand> qubit = operand(operands.substr(0, comma));
    if (!qubit || (!wire_known_ && !qubit->index)) return found(WireFinding::Kind::OtherQubit);
    if (!wire_known_) set_wire(qubit->name, *qubit->index);
    const bool on_wire = qubit->name == register_ &&
                         (qubit->index ? *qubit->index == index_ : register_size_ == 1);
    if (!on_wire) return found(WireFinding::Kind::OtherQubit);
    if (comma == std::string_view::npos) return;
    operands.remove_prefix(comma + 1);
  }
}

void WireCheck::check_statement(std::string_view statement) {
  using Kind = WireFinding::Kind;
  const std::string_view word = identifier(statement);
  if (word.empty()) return found(Kind::UnknownStatement);
  for (std::string_view harmless : kNoGate) {
    if (word == harmless) return;
  }
  const std::string_view rest = trim_line(statement.substr(word.size()));
  if (word == "qreg") {
    const std::string_view name = identifier(rest);
    const std::optional<std::uint64_t> size =
        name.empty() ? std::nullopt : bracketed_number(trim_line(rest.substr(name.size())));
    if (size) declare(name, *size);
    return;
  }
  if (word == "measure") return found(Kind::Measurement);
  if (word == "reset") return found(Kind::Reset);
  if (word == "if") return found(Kind::Condition);
  if (!rest.empty() && rest.front() == '(') return found(Kind::Parameters);
  for (std::size_t k = 0; k < Op::kNumKinds; ++k) {
    if (!kKinds[k].run_gate && static_cast<OpKind>(k) != OpKind::CNOT) continue;
    if (word == kKinds[k].qasm_name) return found(Kind::DroppedGate);
  }
  found(Kind::UnknownStatement);
}

void WireCheck::declare(std::string_view name, std::uint64_t size) {
  declared_ = size > std::numeric_limits<std::uint64_t>::max() - declared_
                  ? std::numeric_limits<std::uint64_t>::max()
                  : declared_ + size;
  if (!wire_known_) {
    set_wire(name, 0);
    register_size_ = size;
  } else if (name == register_ && register_size_ == 0) {
    register_size_ = size;
  }
  if (declared_ > 1) found(WireFinding::Kind::Qubits);
}

void WireCheck::set_wire(std::string_view name, std::uint64_t index) {
  wire_known_ = true;
  register_ = name;
  index_ = index;
  const std::string qubit = register_ + "[" + std::to_string(index) + "]";
  for (std::size_t k = 0; k < Op::kNumKinds; ++k) {
    const auto gate = static_cast<OpKind>(k);
    if (!is_run_gate(gate) && gate != OpKind::CNOT) continue;
    Usual& usual = usual_[k];
    usual.text = std::string(kKinds[k].qasm_name) + " " + qubit +
                 (gate == OpKind::CNOT ? "," + qubit : "") + ";";
    usual.size = usual.text.size();
    usual.word = usual.size >= 8 ? 8 : 4;  // at least 6: "h a[0];"
    usual.head = Usual::load(usual.text.data(), usual.word);
    usual.tail = Usual::load(usual.text.data() + usual.size - usual.word, usual.word);
  }
}

void WireCheck::found(WireFinding::Kind kind) {
  settled_ = true;
  finding_.kind = kind;
  finding_.line = number_;
  finding_.text = quoted(current_);
  if (kind == WireFinding::Kind::Qubits) finding_.qubits = declared_;
  if (kind == WireFinding::Kind::OtherQubit && wire_known_) {
    finding_.wire = register_ + "[" + std::to_string(index_) + "]";
  }
}

WireFinding WireCheck::finish() && {
  if (!settled_ && !any_gate_) finding_.kind = WireFinding::Kind::NoGate;
  finding_.no_gate = !any_gate_;
  return std::move(finding_);
}

}  // namespace kestrel
