// Tests of the statement reader: golden dumps of what programs read as (one
// line per statement: its kind, its text and its operands), and a table of
// texts that are not programs, each with the position and message it gives
// (those of an undeclared register, a qubit named twice and a wrong number
// of qubits are read end to end by test_program.py and test_one_wire.py).
// (The parameter values each statement reads: instance_walk_test.cpp and
// expansion_test.cpp, and end to end test_angles.py.)
#include "src/program/program.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel {
namespace {

constexpr std::string_view kHead = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";

std::string_view kind_name(StatementKind kind) {
  switch (kind) {
    case StatementKind::Declaration: return "decl";
    case StatementKind::RunGate: return "run";
    case StatementKind::Gate: return "gate";
    case StatementKind::Measure: return "measure";
    case StatementKind::Reset: return "reset";
    case StatementKind::Barrier: return "barrier";
  }
  return "?";
}

// What `text` reads as, the header's two statements left out; or the error.
std::string dump(std::string_view text) {
  auto read = read_program(text);
  if (const auto* error = std::get_if<InputError>(&read)) return "error " + error->text();
  const QasmProgram& program = std::get<QasmProgram>(read);
  std::string out;
  for (const Statement& st : program.statements) {
    const std::string_view body = text.substr(st.begin, st.end - st.begin);
    if (body.starts_with("OPENQASM") || body.starts_with("include")) continue;
    out += kind_name(st.kind);
    if (st.library != QasmGate::None) out += "(" + std::string(library_name(st.library)) + ")";
    EXPECT_EQ(st.gate, library_op(st.library)) << body;
    out += " '" + std::string(body) + "'";
    for (std::uint32_t k = 0; k < st.operand_count; ++k) {
      const Operand& op = program.operands[st.first_operand + k];
      out += " " + std::string(program.registers[op.reg].name);
      if (op.index != kWholeRegister) out += "[" + std::to_string(op.index) + "]";
    }
    if (st.condition != kNoCondition) {
      out += " if " + std::string(program.registers[st.condition].name);
    }
    out += "\n";
  }
  return out;
}

struct Case {
  std::string_view text;  // after kHead
  std::string_view dump;  // expected
};

TEST(StatementReader, WhatProgramsReadAs) {
  const Case cases[] = {
      // Several statements on a line, one over two lines, comments between.
      {"qreg q[2]; creg c[2];\nh q[0]; cx q[0],\n  q[1]; // entangle\nmeasure q -> c;\n",
       "decl 'qreg q[2];'\ndecl 'creg c[2];'\nrun(h) 'h q[0];' q[0]\ngate(cx) 'cx q[0],\n  q[1];' q[0] q[1]\n"
       "measure 'measure q -> c;' q c\n"},
      // Blanks inside operands and several registers.
      {"qreg a[1];qreg b [ 3 ] ;\ntdg b [ 2 ] ;\ncx a[0] , b[1];\n",
       "decl 'qreg a[1];'\ndecl 'qreg b [ 3 ] ;'\nrun(tdg) 'tdg b [ 2 ] ;' b[2]\n"
       "gate(cx) 'cx a[0] , b[1];' a[0] b[1]\n"},
      // A whole register, a condition and parameters make a run gate a plain gate.
      {"qreg q[2]; creg c[1];\nt q; if (c==1) t q[1]; rz(pi/4) q[0]; sdg q[1];\n",
       "decl 'qreg q[2];'\ndecl 'creg c[1];'\ngate(t) 't q;' q\ngate(t) 'if (c==1) t q[1];' q[1] if c\n"
       "gate(rz) 'rz(pi/4) q[0];' q[0]\nrun(sdg) 'sdg q[1];' q[1]\n"},
      // Definitions are declarations; their gates are plain gates.
      {"gate g(theta) a, b { cx a, b; rz(-theta*2^sin(pi)) b; barrier a, b; }\nopaque o a;\nqreg q[2];\n"
       "g(0.5e-1) q[1], q[0]; o q[0];\n",
       "decl 'gate g(theta) a, b { cx a, b; rz(-theta*2^sin(pi)) b; barrier a, b; }'\ndecl 'opaque o a;'\n"
       "decl 'qreg q[2];'\ngate 'g(0.5e-1) q[1], q[0];' q[1] q[0]\ngate 'o q[0];' q[0]\n"},
      // Every library gate is told apart, the seven run gates' variants as well.
      {"qreg q[2];\ny q[0]; cz q[0],q[1]; swap q[1],q[0]; id q[1]; x q; cu(1,2,3,4) q[0],q[1];\n",
       "decl 'qreg q[2];'\ngate(y) 'y q[0];' q[0]\ngate(cz) 'cz q[0],q[1];' q[0] q[1]\n"
       "gate(swap) 'swap q[1],q[0];' q[1] q[0]\ngate(id) 'id q[1];' q[1]\ngate(x) 'x q;' q\n"
       "gate(cu) 'cu(1,2,3,4) q[0],q[1];' q[0] q[1]\n"},
      // `barrier;` spans the quantum registers declared before it.
      {"qreg a[1]; creg c[1]; barrier; qreg b[1]; barrier a, b[0]; reset a; ;\n",
       "decl 'qreg a[1];'\ndecl 'creg c[1];'\nbarrier 'barrier;' a\ndecl 'qreg b[1];'\n"
       "barrier 'barrier a, b[0];' a b[0]\nreset 'reset a;' a\ndecl ';'\n"},
      // Conditional measurement and reset; U and CX are built in.
      {"qreg q[2]; creg c[2];\nif(c==3) measure q[0] -> c[1];\nif (c == 0) reset q[1];\n"
       "U(0,0,pi) q[0]; CX q[0],q[1];\n",
       "decl 'qreg q[2];'\ndecl 'creg c[2];'\nmeasure 'if(c==3) measure q[0] -> c[1];' q[0] c[1] if c\n"
       "reset 'if (c == 0) reset q[1];' q[1] if c\ngate(U) 'U(0,0,pi) q[0];' q[0]\n"
       "gate(CX) 'CX q[0],q[1];' q[0] q[1]\n"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string(kHead) + std::string(c.text);
    SCOPED_TRACE(text);
    EXPECT_EQ(dump(text), c.dump);
  }
}

TEST(StatementReader, TextsThatAreNoPrograms) {
  const Case cases[] = {
      // Braces.
      {"gate g a { h a;\n",
       "line 4, column 1: expected '}' closing the body opened at line 3, column 10, found the end of the text"},
      {"}\n", "line 3, column 1: expected a statement (no gate body is open), found '}'"},
      {"gate g a { gate f b { } }", "line 3, column 12: expected a gate application, 'barrier' or '}', found 'gate'"},
      {"gate g a { h a; { }", "line 3, column 17: expected a gate application, 'barrier' or '}', found '{'"},
      // Operands.
      {"qreg q[2];\nh q[2];", "line 4, column 5: expected an index below 2, the size of 'q', found '2'"},
      {"qreg q[2]; creg c[2];\nh c[0];",
       "line 4, column 3: expected a quantum register declared before this statement, found 'c'"},
      {"qreg q[2];\nh q[01];", "line 4, column 5: expected an integer without leading zeros, found '01'"},
      {"qreg q[2];\nh q[-1];", "line 4, column 5: expected an index, found '-'"},
      {"qreg q[2];\ncx q[1],q;", "line 4, column 1: expected distinct qubits in each application of 'cx'"},
      {"qreg q[2]; qreg r[3];\ncx q,r;",
       "line 4, column 6: expected a register of size 2, like the register before it, found 'r' of size 3"},
      {"qreg q[2]; creg c[2];\nmeasure q[0] -> c;",
       "line 4, column 17: expected one classical bit, as the qubit is one"},
      {"qreg q[2]; creg c[3];\nmeasure q -> c;",
       "line 4, column 14: expected a classical register of size 2, the size of the quantum register"},
      {"qreg q[2]; creg c[2];\nmeasure q -> c[0];",
       "line 4, column 14: expected a whole classical register, as the qubits are one"},
      // Statements that do not end.
      {"qreg q[2];\nh q[0]", "line 4, column 7: expected ',' or ';', found the end of the text"},
      {"qreg q[2]\nh q[0];", "line 4, column 1: expected ';', found 'h'"},
      // Gates.
      {"qreg q[2];\nfoo q[0];", "line 4, column 1: expected a gate defined before this statement, found 'foo'"},
      {"qreg q[2];\nq q[0];", "line 4, column 1: expected a gate name, not a register, found 'q'"},
      {"qreg q[2];\nrz(pi/) q[0];",
       "line 4, column 7: expected a number, 'pi', a parameter, a function or '(', found ')'"},
      {"qreg q[2];\nrz(pi q[0];", "line 4, column 7: expected an operator, ',' or ')', found 'q'"},
      {"qreg q[2];\nrz(sin pi) q[0];", "line 4, column 8: expected '(' after the function, found 'pi'"},
      {"qreg q[2];\nrz(theta) q[0];",
       "line 4, column 4: expected a number, 'pi', a parameter, a function or '(', found 'theta'"},
      // A definition's parameters and qubit arguments end with it.
      {"gate g(theta) a { rz(theta) a; }\nqreg q[1];\nrz(theta) q[0];",
       "line 5, column 4: expected a number, 'pi', a parameter, a function or '(', found 'theta'"},
      {"opaque o(theta) a;\nqreg q[1];\nrz(theta) q[0];",
       "line 5, column 4: expected a number, 'pi', a parameter, a function or '(', found 'theta'"},
      {"gate g(theta) a { }\ngate f b { rz(theta) b; }",
       "line 4, column 15: expected a number, 'pi', a parameter, a function or '(', found 'theta'"},
      {"gate g a { }\nqreg q[1];\nh a;",
       "line 5, column 3: expected a quantum register declared before this statement, found 'a'"},
      {"gate g(x) a { h x; }", "line 3, column 17: expected a qubit argument of 'g', found 'x'"},
      {"gate g a, a { }", "line 3, column 11: expected a name not used before in this definition, found 'a'"},
      {"gate g a { g a; }", "line 3, column 12: expected a gate defined before this statement, found 'g'"},
      {"gate h a { }", "line 3, column 6: expected a name not defined before, found 'h'"},
      {"qreg q[1]; creg q[1];", "line 3, column 17: expected a name not defined before, found 'q'"},
      {"qreg Q[1];", "line 3, column 6: expected a register name, found 'Q'"},
      {"qreg measure[1];", "line 3, column 6: expected a register name, found 'measure'"},
      {"qreg q[1048577];", "line 3, column 8: expected at most 1048576 qubits in all, found '1048577'"},
      // Conditions.
      {"qreg q[1]; creg c[1];\nif (q==1) x q[0];", "line 4, column 5: expected a classical register, found 'q'"},
      {"qreg q[1]; creg c[1];\nif (c==1) barrier q;",
       "line 4, column 11: expected a gate application, 'measure' or 'reset', found 'barrier'"},
      {"qreg q[1]; creg c[1];\nif (c[0]==1) x q[0];", "line 4, column 6: expected '==', found '['"},
      // The header.
      {"include \"qelib1.inc\";", "line 3, column 9: expected \"qelib1.inc\" only once, found '\"qelib1.inc\"'"},
      {"include \"qelib1.inc;\n", "line 3, column 9: expected a closing \" on the line of the string"},
      // Bytes that start no token.
      {"qreg q[1];\x0ch q[0];", "line 3, column 11: expected a token of OpenQASM 2.0, found the byte 0x0C"},
      {"qreg q[1]; // é\nh\xc2\xa0q[0];", "line 4, column 2: expected a token of OpenQASM 2.0, found the byte 0xC2"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string(kHead) + std::string(c.text);
    SCOPED_TRACE(text);
    EXPECT_EQ(dump(text), "error " + std::string(c.dump));
  }
}

// Texts read whole: the header's place and version, a gate named like a
// library gate without the library, and another file included, its long
// name cut at a character.
TEST(StatementReader, WholeTexts) {
  const std::string file = "\"" + std::string(38, 'a') + "é.inc\"";  // 40 bytes end inside é
  const std::pair<std::string, std::string> cases[] = {
      {"OPENQASM 3.0;", "error line 1, column 10: expected the version 2.0, found '3.0'"},
      {"// a comment first\nOPENQASM 2;\nqreg q[1];", "decl 'qreg q[1];'\n"},
      {"qreg q[1];\nOPENQASM 2.0;", "error line 2, column 1: expected the version only as the "
                                   "first statement, found 'OPENQASM'"},
      {"OPENQASM 2.0;\ngate t a { U(0,0,pi/4) a; }\nqreg q[1];\nt q[0];\n",
       "decl 'gate t a { U(0,0,pi/4) a; }'\ndecl 'qreg q[1];'\ngate 't q[0];' q[0]\n"},
      {"OPENQASM 2.0;\nqreg q[1];\nh q[0];",
       "error line 3, column 1: expected a gate defined before this statement, found 'h'"},
      {"include " + file + ";", "error line 1, column 9: expected \"qelib1.inc\", the only file "
                                "this reader knows, found '\"" + std::string(38, 'a') + "...'"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(dump(text), expected) << text;
}

}  // namespace
}  // namespace kestrel
