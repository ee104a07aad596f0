// The program's writer and statistics with edit lists made by hand, as a
// method other than the per-qubit pass makes them: a group's gates placed at
// its first member and the other members removed, statements replaced by
// placed gates, and lists that break the rules.
#include "src/program/edits.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/fault.h"
#include "src/program/program_stats.h"
#include "src/program/writer.h"

namespace kestrel {
namespace {

constexpr std::string_view kHead = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\n";

QasmProgram read(const std::string& text) {
  auto read = read_program(text);
  EXPECT_TRUE(std::holds_alternative<QasmProgram>(read)) << std::get<InputError>(read).text();
  return std::get<QasmProgram>(std::move(read));
}

TEST(Edits, AGroupWrittenAtItsFirstMember) {
  // Statements 3..7: t q[0]; h q[1]; t q[0]; cx q[0],q[1]; tdg q[0];
  const std::string text = std::string(kHead) + "t q[0]; h q[1];\n  t q[0];\ncx q[0],q[1];\ntdg q[0];\n";
  const QasmProgram program = read(text);
  Edits edits;
  edits.gates = {OpKind::S, OpKind::Z};
  edits.add(3, 0, 2);  // S, Z where the first T stood
  edits.add(5, 0, 0);  // the second T goes, and its line with it
  EXPECT_EQ(write_program(text, program, edits),
            std::string(kHead) + "s q[0];\nz q[0]; h q[1];\ncx q[0],q[1];\ntdg q[0];\n");
  const ProgramStats stats = program_stats(program, edits);
  EXPECT_EQ(stats.before, (CircuitStats{3, 5, 4}));
  EXPECT_EQ(stats.after, (CircuitStats{1, 5, 4}));
  // No edits: the text as it is and the same statistics on both sides.
  EXPECT_EQ(write_program(text, program, Edits{}), text);
  EXPECT_EQ(program_stats(program, Edits{}).after, stats.before);
}

struct PlacedCase {
  std::string_view body;                 // after a head declaring q[2] and anc[1]
  std::uint32_t statement;               // the statement replaced, counted in the body
  std::vector<PlacedGate> gates;         // its replacement
  std::string_view written;              // the body as written
  CircuitStats after;                    // the statistics after the edit
};

TEST(Edits, PlacedGatesAreWrittenOneALineWithTheProgramsRegisters) {
  constexpr std::string_view head = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\nqreg anc[1];\n";
  using E = Elementary;
  const PlacedCase cases[] = {
      // A gate on three qubits of two registers, on its own indented line.
      {"  ccx q[0],q[1],anc[0];\nh q[0];\n", 0,
       {{E::H, 2, 0}, {E::CX, 1, 2}, {E::Tdg, 2, 0}, {E::Swap, 0, 2}},
       "  h anc[0];\n  cx q[1],anc[0];\n  tdg anc[0];\n  swap q[0],anc[0];\nh q[0];\n",
       {1, 5, 5}},
      // A broadcast statement sharing its line: the first gate where it
      // stood, the others on lines of their own without an indent.
      {"x anc[0]; h q; t q[1];\n", 1, {{E::H, 0, 0}, {E::S, 1, 0}}, "x anc[0]; h q[0];\ns q[1]; t q[1];\n", {1, 4, 2}},
      // A run gate replaced by placed gates on other qubits too.
      {"t q[0];\n  t q[1];\n", 1, {{E::CZ, 1, 0}, {E::T, 1, 0}}, "t q[0];\n  cz q[1],q[0];\n  t q[1];\n", {2, 3, 3}},
      // No gates: the statement goes, and its line with it.
      {"h q[0];\n   cswap anc[0],q[0],q[1];  \nh q[1];\n", 1, {}, "h q[0];\nh q[1];\n", {0, 2, 1}},
  };
  for (const PlacedCase& c : cases) {
    const std::string text = std::string(head) + std::string(c.body);
    SCOPED_TRACE(text);
    const QasmProgram program = read(text);
    Edits edits;
    edits.place(4 + c.statement, c.gates);
    EXPECT_EQ(write_program(text, program, edits), std::string(head) + std::string(c.written));
    EXPECT_EQ(program_stats(program, edits).after, c.after);
    // The statistics after are those of the text written.
    const std::string written = write_program(text, program, edits);
    EXPECT_EQ(program_stats(read(written), Edits{}).before, c.after);
  }
}

TEST(Edits, AListThatBreaksTheRulesIsAFault) {
  const std::string text = std::string(kHead) + "creg c[1];\nt q[0]; cx q[0],q[1]; t q[1];\n"
                           "h q[0];\nif (c==1) h q[1];\nmeasure q[0] -> c[0];\n";
  const QasmProgram program = read(text);  // creg 3, t 4, cx 5, t 6, h 7, if 8, measure 9
  using E = Elementary;
  const auto edits = [](std::vector<Edit> list, std::vector<OpKind> gates) {
    Edits e;
    e.list = std::move(list);
    e.gates = std::move(gates);
    return e;
  };
  const auto placed = [](std::uint32_t statement, std::vector<PlacedGate> gates) {
    Edits e;
    e.place(statement, gates);
    return e;
  };
  const Edits bad[] = {
      edits({{5, 0, 0}}, {}),                         // a cx is no run gate
      edits({{6, 0, 0}, {4, 0, 0}}, {}),              // out of order
      edits({{4, 0, 0}, {4, 0, 0}}, {}),              // twice
      edits({{12, 0, 0}}, {}),                        // past the last statement
      edits({{4, 0, 2}}, {OpKind::S}),                // past the gates
      edits({{4, 0, 1}}, {OpKind::CNOT}),             // not a run gate
      edits({{7, 0, 1, EditKind::Placed}}, {}),       // no placed gates at all
      placed(3, {}),                                  // a declaration
      placed(8, {{E::H, 1, 0}}),                      // a conditioned gate
      placed(9, {}),                                  // a measurement
      placed(7, {{E::H, 2, 0}}),                      // past the program's qubits
      placed(7, {{E::CX, 1, 1}}),                     // one qubit twice
      placed(7, {{E::CX, 0, 2}}),                     // a second qubit past the last
      placed(7, {{E::H, 0, 1}}),                      // a second qubit on a one-qubit gate
      placed(7, {{static_cast<E>(kElementary.size()), 0, 0}}),  // no gate
  };
  for (const Edits& e : bad) {
    EXPECT_THROW(write_program(text, program, e), Fault);
    EXPECT_THROW(program_stats(program, e), Fault);
  }
}

}  // namespace
}  // namespace kestrel
