// The program's writer and statistics with edit lists made by hand, as a
// method other than the per-qubit pass makes them: a group's gates placed at
// its first member and the other members removed, and lists that break the
// rules.
#include "src/program/edits.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>

#include "engine/fault.h"
#include "src/program/stats.h"
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

TEST(Edits, AListThatBreaksTheRulesIsAFault) {
  const std::string text = std::string(kHead) + "t q[0]; cx q[0],q[1]; t q[1];\n";
  const QasmProgram program = read(text);  // statements 3, 4, 5
  const auto edits = [](std::vector<Edit> list, std::vector<OpKind> gates) {
    Edits e;
    e.list = std::move(list);
    e.gates = std::move(gates);
    return e;
  };
  const Edits bad[] = {
      edits({{4, 0, 0}}, {}),                         // a cx is no run gate
      edits({{5, 0, 0}, {3, 0, 0}}, {}),              // out of order
      edits({{3, 0, 0}, {3, 0, 0}}, {}),              // twice
      edits({{9, 0, 0}}, {}),                         // past the last statement
      edits({{3, 0, 2}}, {OpKind::S}),                // past the gates
      edits({{3, 0, 1}}, {OpKind::CNOT}),             // not a run gate
  };
  for (const Edits& e : bad) {
    EXPECT_THROW(write_program(text, program, e), Fault);
    EXPECT_THROW(program_stats(program, e), Fault);
  }
}

}  // namespace
}  // namespace kestrel
