// An OpenQASM 2.0 program read as statements, for the whole-program methods.
//
// Where the one-wire reader (src/text/qasm.h) looks at lines, this one reads the
// language: statements end at ';' (several may share a line, one may span
// lines), `gate` and `opaque` definitions, registers of any names, operands
// with and without an index, `measure`, `reset`, `barrier` and `if`. For
//
//   qreg q[2]; creg c[2];
//   h q[0]; cx q[0],q[1];   // entangle
//   measure q -> c;
//
// it records five statements with their byte spans (comments and blanks lie
// between spans), the registers q (qubits 0 and 1) and c (clbits 0 and 1),
// and each statement's operands: `h q[0]` is a run gate, H on (q, 0), and
// `measure q -> c` has the whole-register operands (q, all) and (c, all).
//
// Contract: `read_program` either returns a program in which every operand
// names a declared register of the right kind with an index inside it, every
// gate application names a gate defined before it with its number of
// parameters and qubits, and no application names one qubit twice; or it
// returns the first place where the text departs from that, with what was
// expected there. It never throws but `std::bad_alloc`, and it uses no
// recursion, so any text can be given to it.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "src/circuit/op.h"
#include "src/program/library.h"

namespace kestrel {

// What a statement does to the circuit.
enum class StatementKind : std::uint8_t {
  Declaration,  // the header, include, qreg, creg, gate, opaque or ';': acts on no bit
  RunGate,      // h, s, sdg, t, tdg, x or z of qelib1 on one indexed qubit, unconditioned
  Gate,         // any other gate application, once per broadcast instance
  Measure,      // measure qubit -> clbit, once per broadcast instance
  Reset,        // reset a qubit, once per broadcast instance
  Barrier,      // one barrier over all its qubits (every qubit when it names none)
};

inline constexpr std::uint32_t kWholeRegister = std::numeric_limits<std::uint32_t>::max();
inline constexpr std::uint32_t kNoCondition = std::numeric_limits<std::uint32_t>::max();

// The largest number of qubits, and of classical bits, a program may declare.
inline constexpr std::uint32_t kMaxBits = 1u << 20;

// A quantum or classical register.
struct Register {
  std::string_view name;  // as written; points into the program's text
  std::uint32_t first;    // position of its bit 0 among all qubits or all clbits
  std::uint32_t size;     // number of bits
  bool quantum;           // qreg rather than creg
};
static_assert(std::is_trivially_copyable_v<Register>);

// One operand: a bit of a register, or the whole register (broadcast).
struct Operand {
  std::uint32_t reg;    // position in `QasmProgram::registers`
  std::uint32_t index;  // the bit within the register, or kWholeRegister
};
static_assert(std::is_trivially_copyable_v<Operand>);

// One statement. A gate application tells which gate it applies twice over:
// `library` names any gate of qelib1 or the built-ins U and CX, and `gate`
// is that gate in the gate language where it has one (the seven run gates,
// and CNOT for cx and CX), so `st.kind == StatementKind::Gate &&
// st.gate == OpKind::CNOT` finds every cx, and `st.library == QasmGate::cz`
// every cz.
struct Statement {
  std::uint32_t begin;          // offset of its first byte (of `if` when conditional)
  std::uint32_t end;            // offset just past its ';' or its body's '}'
  std::uint32_t first_operand;  // its operands start here in `QasmProgram::operands`
  std::uint32_t operand_count;  // qubit operands, then for Measure the clbit operand
  std::uint32_t condition;      // the creg of `if (c==n)`, or kNoCondition
  StatementKind kind;           // what it does
  QasmGate library;             // for RunGate and Gate, the library gate applied, or None
  OpKind gate;                  // for RunGate and Gate, `library_op(library)`; else I
  std::uint32_t first_value;    // for Gate, its parameter values start here in
                                // `QasmProgram::values`
};
static_assert(std::is_trivially_copyable_v<Statement>);
static_assert(sizeof(Statement) == 32);

struct QasmProgram {
  std::vector<Register> registers;    // in order of declaration
  std::vector<Operand> operands;      // of all statements, in order
  std::vector<Statement> statements;  // in order of the text
  std::vector<double> values;         // the gate statements' parameter values, in order of
                                      // the text, each as the reader evaluated it (finite)
  std::uint32_t qubits = 0;           // qubits declared by all qregs
  std::uint32_t clbits = 0;           // bits declared by all cregs
  std::string_view text;              // the text read, which spans point into; empty for
                                      // a program given as a gate list
};

// The broadcast instances of gate, measurement or reset statement `st`:
// the size of its whole-register operands (the reader checked that they
// agree), else 1.
inline std::uint32_t statement_instances(const QasmProgram& program, const Statement& st) {
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    const Operand& op = program.operands[st.first_operand + k];
    if (op.index == kWholeRegister) return program.registers[op.reg].size;
  }
  return 1;
}

// The bit that operand `op` names in broadcast instance `i`, numbered among
// the qubits or the classical bits as its register is.
inline std::uint32_t operand_bit(const QasmProgram& program, const Operand& op, std::uint32_t i) {
  return program.registers[op.reg].first + (op.index == kWholeRegister ? i : op.index);
}

// Where and why a text is not a program this reader understands.
struct InputError {
  std::uint32_t line = 1;    // 1-based
  std::uint32_t column = 1;  // 1-based, counted in characters
  std::string message;       // what was expected there and what was found
  // A parameter whose value is no finite number: refused by every method,
  // whatever way of reading a text it would fall back on.
  bool not_finite = false;

  // "line 3, column 5: expected ';' after the statement, found 'h'"
  std::string text() const;
  bool operator==(const InputError&) const = default;
};

// Reads `text` (UTF-8) as an OpenQASM 2.0 program. A text of 4 GiB or more
// is an input error.
std::variant<QasmProgram, InputError> read_program(std::string_view text);

}  // namespace kestrel
