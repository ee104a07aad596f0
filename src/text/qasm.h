// One wire's OpenQASM 2.0 text in and out: the line reader and the writer.
//
// The reader is a line-oriented prefix matcher, not a parser of the grammar:
// "h q[0];" is H, "cx q[0],q[1];" is CNOT, and every line it does not
// recognise (measurements, registers, rz, unknown gates) is ignored. Beside
// it a WireCheck (src/text/wire_check.h) may see the same lines and say
// where that reading differs from the program: "cx q[0],q[1];" names a
// second qubit. The writer prints the gate list under a one-qubit header.
// Both walk circuits with explicit stacks, so a chain of a million gates
// needs no call stack. A whole program is read by src/program/program.h
// instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/language.h"
#include "src/circuit/op.h"
#include "src/circuit/circuit_stats.h"
#include "src/text/wire_check.h"

namespace kestrel {

// The header every written program starts with.
inline constexpr std::string_view kQasmHeader =
    "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\n";

// A line without the Unicode White_Space at either end (the reader's trim).
// Almost every line starts and ends with a printable ASCII byte, which is no
// white space: that case is decided here, the rest in `trim_spaces`.
std::string_view trim_spaces(std::string_view line);
inline std::string_view trim_line(std::string_view line) {
  const auto printable = [](char c) { return c > ' ' && c < '\x7f'; };
  if (!line.empty() && printable(line.front()) && printable(line.back())) return line;
  return trim_spaces(line);
}

// The gate that one trimmed line stands for; I for a line the reader ignores.
OpKind read_trimmed_line(std::string_view trimmed);
// The same, with `check` seeing the line as line `number`.
OpKind read_checked_line(std::string_view trimmed, std::size_t number, WireCheck& check);

// Calls `f(OpKind)` for each gate line of `text`, in order, and shows every
// line to `check` when given.
template <class F>
void for_each_gate_line(std::string_view text, F&& f, WireCheck* check = nullptr) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trim_line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    const OpKind gate = check == nullptr || check->done() ? read_trimmed_line(line)
                                                          : read_checked_line(line, number, *check);
    if (gate != OpKind::I) f(gate);
  }
}

// Reads the gate lines of `text` into the left-leaning chain of `Seq` nodes,
// root last. Never fails; a text without a recognised gate reads as `I`.
// With `wire` given, it receives what a WireCheck found in the text.
RecExpr<Op> parse_qasm(std::string_view text, WireFinding* wire = nullptr);

// The gates `parse_qasm` reads from a text, read in one pass into a plain
// list (one byte a gate) rather than the chain, with what the pipeline needs
// to know before it builds the chain or writes the gates straight back.
struct WireGates {
  std::vector<OpKind> gates;  // in order, I left out
  CircuitStats stats;         // of the circuit read (its depth the gate count)
  std::uint32_t kinds = 0;    // bit k set when a gate of OpKind k was read
  WireFinding wire;           // where the one-wire reading differs from the program
};
WireGates read_wire(std::string_view text);

// The circuit as OpenQASM 2.0 text: the header, then one line per gate.
std::string print_qasm(const RecExpr<Op>& expr);
// The same for a gate list, which must hold leaves only.
std::string print_qasm(std::span<const OpKind> gates);

}  // namespace kestrel
