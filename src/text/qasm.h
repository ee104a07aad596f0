// One wire's OpenQASM 2.0 text in and out: the line reader and the writer.
//
// The reader is a line-oriented prefix matcher, not a parser of the grammar:
// "h q[0];" is H, "cx q[0],q[1];" is CNOT, and every line it does not
// recognise (measurements, registers, rz, unknown gates) is ignored. The
// writer prints the gate list under a one-qubit header. Both walk circuits
// with explicit stacks, so a chain of a million gates needs no call stack.
// A whole program is read by src/program/program.h instead.
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
#include "src/circuit/stats.h"

namespace kestrel {

// The header every written program starts with.
inline constexpr std::string_view kQasmHeader =
    "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\n";

// The gate that one line (without its line feed) stands for, or nothing for
// a line the reader ignores.
std::optional<OpKind> read_gate_line(std::string_view line);

// Calls `f(OpKind)` for each gate line of `text`, in order.
template <class F>
void for_each_gate_line(std::string_view text, F&& f) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (const std::optional<OpKind> gate = read_gate_line(line)) f(*gate);
  }
}

// Reads the gate lines of `text` into the left-leaning chain of `Seq` nodes,
// root last. Never fails; a text without a recognised gate reads as `I`.
RecExpr<Op> parse_qasm(std::string_view text);

// The gates `parse_qasm` reads from a text, counted in one pass without
// building the chain, and the circuit written on the way as `print_qasm`
// writes that chain.
struct GateTally {
  CircuitStats stats;       // of the circuit read (its depth the gate count)
  std::uint32_t kinds = 0;  // bit k set when a gate of OpKind k was read
  std::string qasm;         // print_qasm(parse_qasm(text))
};
GateTally tally_gates(std::string_view text);

// The circuit as OpenQASM 2.0 text: the header, then one line per gate.
std::string print_qasm(const RecExpr<Op>& expr);
// The same for a gate list, which must hold leaves only.
std::string print_qasm(std::span<const OpKind> gates);

}  // namespace kestrel
