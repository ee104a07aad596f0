// A program given as a gate list rather than text: one gate code per
// operation and the qubits each acts on, as a circuit library hands over its
// operations without writing OpenQASM.
//
// A code is a `QasmGate` value (src/program/library.h) of a library gate
// without parameters, applied to as many qubits as that gate takes, or
// `QasmGate::None` for a boundary: an operation the methods do not model (a
// measurement, a reset, a barrier, a parameterised or custom gate, control
// flow), given as its number of qubits followed by the qubits. For
//
//   gates  = {h, cx, None, t}
//   qubits = {0,  0, 1,  2, 0, 1,  1}
//
// the program is h on qubit 0, cx from 0 to 1, a boundary on qubits 0 and 1,
// and t on qubit 1. `program_from_gates` makes the statement list of it that
// the text reader would have made (no declarations, so statement k is
// operation k; no text, so no byte spans), for the methods of
// src/pipeline/pipeline.h, whose edits then name operations by position.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "src/program/program.h"

namespace kestrel {

struct GateList {
  std::span<const std::uint8_t> gates;    // per operation: a QasmGate value
  std::span<const std::uint32_t> qubits;  // per operation its qubits, a boundary's after their count
  std::uint32_t width = 0;                // qubits of the circuit, at most kMaxBits
};

// The program of `list`, or why it is not one: a code that names no library
// gate without parameters, a qubit outside the width or named twice by one
// operation, a boundary on no qubit, qubits missing or left over, more
// qubits than kMaxBits or more operations than 32 bits count.
std::variant<QasmProgram, std::string> program_from_gates(const GateList& list);

}  // namespace kestrel
