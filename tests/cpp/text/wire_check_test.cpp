// The check beside the one-wire reader: where the reading of a text as one
// wire first differs from the program, by both readings that carry it.
#include "src/text/wire_check.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "src/text/qasm.h"

namespace kestrel {
namespace {

using Kind = WireFinding::Kind;

const std::string kHeader = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\n";

struct Case {
  std::string text;
  Kind kind;
  std::size_t line = 0;  // 0: not checked (None, NoGate)
};

TEST(WireCheck, FirstFinding) {
  const Case cases[] = {
      // One wire, read whole.
      {kHeader + "h q[0];\nt q[0];\ncx q[0],q[0];\ns q[0];\nsdg q[0];\ntdg q[0];\nx q[0];\nz q[0];\n",
       Kind::None},  // as bench/circuits.py writes
      {"t q[3];\ntdg q[3];\n", Kind::None},  // no declaration: the wire is the first qubit named
      {kHeader + "creg c[2];\nbarrier q;\n// t q[1];\n\n  h q[0] ;  // comment\nh q;\n",
       Kind::None},
      {kHeader + "h\tq[0];\r\nt  q [ 0 ] ;\nx q[0]\n", Kind::None},
      {"OPENQASM 2.0; include \"qelib1.inc\";\nqreg q[1];\ngate g a { h a; t a; }\nh q[0];\n", Kind::None},
      {"opaque o a;\ns q[0];\n", Kind::None},
      // No gate at all.
      {"", Kind::NoGate},
      {"circuits/grover.qasm", Kind::UnknownStatement, 1},  // a file name given for its text
      {kHeader + "creg c[1];\nbarrier q[0];\n", Kind::NoGate},
      // More than one qubit.
      {"OPENQASM 2.0;\nqreg q[3];\nt q[0];\n", Kind::Qubits, 2},
      {kHeader + "qreg r[1];\nh q[0];\n", Kind::Qubits, 4},
      {kHeader + "h q[0];\ncx q[0],q[1];\n", Kind::OtherQubit, 5},
      {"t q[0];\nt r[0];\n", Kind::OtherQubit, 2},
      {"h q;\n", Kind::OtherQubit, 1},  // a whole register never declared
      {kHeader + "h ;\n", Kind::OtherQubit, 4},
      {kHeader + "gate g a\n{\n  h a;\n}\ng q[0];\n", Kind::InDefinition, 6},
      // Lines the reader drops.
      {kHeader + "creg c[1];\nh q[0];\nmeasure q[0] -> c[0];\n", Kind::Measurement, 6},
      {kHeader + "h q[0];\nreset q[0];\n", Kind::Reset, 5},
      {kHeader + "h q[0];\nif(c==1) x q[0];\n", Kind::Condition, 5},
      {kHeader + "h q[0];\nrz(0.3) q[0];\n", Kind::Parameters, 5},
      {kHeader + "h q[0];\nU (0,0,0) q[0];\n", Kind::Parameters, 5},
      {kHeader + "h q[0];\ny q[0];\n", Kind::UnknownStatement, 5},
      {kHeader + "h q[0];\nCX q[0],q[0];\n", Kind::UnknownStatement, 5},
      {kHeader + "gate g a { h a; }\nh q[0];\ng q[0];\n", Kind::UnknownStatement, 6},
      {kHeader + "h q[0]; t q[0];\n", Kind::DroppedGate, 4},
      {"qreg q[1]; t q[0];\nt q[0];\n", Kind::DroppedGate, 1},
      {kHeader + "h q[0];\ns\tq[0];\n", Kind::DroppedGate, 5},
      {std::string("t q[0];\0\nt q[0];\n", 16), Kind::UnknownStatement, 1},
      // The first line that differs is the one found.
      {kHeader + "t q[0];\nt q[1];\nmeasure q[0] -> c[0];\n", Kind::OtherQubit, 5},
      {kHeader + "measure q[0] -> c[0];\nt q[1];\n", Kind::Measurement, 4},
      // A finding wins over a text without any gate the reader reads.
      {kHeader + "measure q[0] -> c[0];\n", Kind::Measurement, 4},
      {"OPENQASM 2.0;\nqreg q[3];\nmeasure q[0] -> c[0];\n", Kind::Qubits, 2},
      {kHeader + "ccx q[0],q[1];\n", Kind::UnknownStatement, 4},
  };
  for (const Case& c : cases) {
    const WireFinding listed = read_wire(c.text).wire;
    WireFinding parsed;
    parse_qasm(c.text, &parsed);
    EXPECT_EQ(listed.kind, c.kind) << c.text;
    EXPECT_EQ(parsed.kind, c.kind) << c.text;
    EXPECT_EQ(parsed.line, listed.line) << c.text;
    if (c.line != 0) {
      EXPECT_EQ(listed.line, c.line) << c.text;
    }
  }
}

// (The qubit count, the quoted text of a finding and whether a gate was
// read show in the warnings of test_one_wire.py.)
TEST(WireCheck, WhatAFindingHolds) {
  EXPECT_EQ(quoted_line("h q[0];\n\t ccx a[0],a[1];  \r\nt q[0];", 2), "ccx a[0],a[1];");
  EXPECT_EQ(quoted_line("h q[0];\n", 3), "");

  const WireFinding other = read_wire("qreg anc[1];\n  cx anc[0], q[1];  \n").wire;
  EXPECT_EQ(other.kind, Kind::OtherQubit);
  EXPECT_EQ(other.wire, "anc[0]");
  EXPECT_EQ(other.text, "cx anc[0], q[1];");

  // Long lines are cut at a character's start; control characters escaped.
  EXPECT_EQ(read_wire("h q[0];\n\x01rz(1) q[0];\n").wire.text, "\\x01rz(1) q[0];");
  const WireFinding cut = read_wire("h q[0]; t q[0]; " + std::string(100, 'z') + "\n").wire;
  EXPECT_EQ(cut.text.size(), kQuotedBytes + 3);
  EXPECT_TRUE(cut.text.ends_with("zz..."));
  const WireFinding accents =
      read_wire("h q[0];\nreset q[0]; // " + std::string(64, 'x') + "\u00e9\u00e9\u00e9\u00e9").wire;
  EXPECT_EQ(accents.text, "reset q[0]; // " + std::string(64, 'x') + "...");  // not half an é
}

}  // namespace
}  // namespace kestrel
