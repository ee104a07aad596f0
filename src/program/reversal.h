// A program's inverse as text, for programs of gates whose inverses the
// library names: the gate statements in the reverse order, each the inverse
// of the one it stands for (t and tdg, s and sdg swapped; h, x, y, z, cx,
// cz, swap, ccx and the library's other self-inverse gates as written), the
// declarations first, as written. For
//
//   OPENQASM 2.0; include "qelib1.inc"; qreg q[2];
//   h q[0]; t q[1]; cx q[0],q[1];
//
// it writes the header, the qreg and then `cx q[0],q[1];`, `tdg q[1];` and
// `h q[0];`, a statement a line: the unitary of the program written is
// exactly (global phase included) the inverse of the program's. A program
// with anything else (a measurement, a reset, a condition, a gate with
// parameters or one the program defines, an operand naming a whole
// register, whose instances may not commute) has no such inverse here.
#pragma once

#include <optional>
#include <string>

#include "src/program/program.h"

namespace kestrel {

// `program`'s inverse as above, or nothing where it has a statement the
// inverse cannot be written for. Barriers are kept, in the reverse order.
std::optional<std::string> reversed_program(const QasmProgram& program);

}  // namespace kestrel
