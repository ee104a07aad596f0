// The one-wire readers (the term and the gate list) and writer, and the
// one-wire statistics.
#include "src/text/qasm.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "src/circuit/chain.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// The gates read from `text`, a letter each. The gate list read in place of
// the term past the node limit must hold the same gates, with the same
// statistics.
std::string gates_read(std::string_view text) {
  const RecExpr<Op> expr = parse_qasm(text);
  const WireGates listed = read_wire(text);
  EXPECT_EQ(print_qasm(listed.gates), print_qasm(expr)) << text;
  EXPECT_EQ(listed.stats, wire_stats(expr)) << text;
  EXPECT_EQ(listed.stats, wire_stats(listed.gates)) << text;
  return gate_letters(expr);
}

TEST(QasmReader, GateLines) {
  EXPECT_EQ(show(parse_qasm(std::string(kQasmHeader) + "h q[0];\nt q[0];\nt q[0];\n")),
            "[H, T, Seq([0, 1]), T, Seq([2, 3])]");
  const struct {
    std::string_view text;
    const char* gates;
  } cases[] = {
      {"", ""},
      {"OPENQASM 2.0;\ncreg c[1];\nmeasure q[0] -> c[0];\nrz(pi/2) q[0];\n// h q[0];\ny q[0];\n", ""},
      {"s q[0];\nsdg q[0];\ntdg q[0];\nx q[0];\nz q[0];\ncx q[0],q[1];", "sSTxzc"},
      // Line feeds end lines, with or without a carriage return before them.
      {"h q[0];\r\n\n\r\nt q[0];\n\n t q[0]", "htt"},
      {"h q[0];\rt q[0];\fx q[0];\vz q[0];", "h"},
      {"x\r\nz q[0];", "z"},
      // The name and a blank, then anything: only h takes a tab.
      {"h\tq[0];\nh  q[7]\nt anything\ns \x01\nh ;\ncx q[0],q[0];", "hhtshc"},
      {"s\tq[0];\nt\tq[0];\ncx\tq[0],q[1];\nh\t\nh\vq[0];\nx  \n   z   ", ""},
      {"hq[0];\nsx q[0];\ntdag q[0];\ncz q[0],q[1];\nsdg\ncx\nH q[0];\nCX q[0],q[1];", ""},
      {"s\u00A0q[0];", ""},
      {"h q[0]; t q[0];\nt q[0];h q[0];\nt q[0]; // a comment", "htt"},
      // Characters outside White_Space are not trimmed.
      {"\u200Bh q[0];\n\uFEFFh q[0];\n\u180Eh q[0];\n\x1Ch q[0];", ""},
      {"h \u200B\nx \uFEFF\nh \x1C\nx \u200C", "hxhx"},
      {std::string_view("\0x q[0];\nx \0", 12), "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(gates_read(c.text), c.gates) << c.text;

  // Every White_Space character but the line feed is trimmed at both ends.
  for (std::string_view space : {" ", "\t", "\v", "\f", "\r", "\u0085", "\u00A0", "\u1680", "\u2000",
                                 "\u2005", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"}) {
    const std::string s(space);
    EXPECT_EQ(gates_read(s + s + "x q[0];" + s + "\n" + "h " + s), "x") << space;
  }
}

TEST(QasmWriter, ALineForEachGateInCircuitOrder) {
  const RecExpr<Op> all = read("(seq (seq (seq (seq (seq H S) (seq Sdg T)) (seq (seq Tdg I) X)) "
                               "(seq (seq Z RZ1) RZ2)) CNOT)");
  EXPECT_EQ(print_qasm(all), std::string(kQasmHeader) +
                                 "h q[0];\ns q[0];\nsdg q[0];\nt q[0];\ntdg q[0];\nx q[0];\nz q[0];\n"
                                 "rz(pi/2) q[0];\nrz(pi/4) q[0];\ncx q[0],q[0];\n");
  EXPECT_EQ(wire_stats(all), (CircuitStats{.t = 2, .gates = 10, .depth = 10}));
  // Par too is written first child first; a shared node at each use.
  const RecExpr<Op> par = read("(par (seq T (seq X Z)) (seq T (seq X Z)))");
  EXPECT_EQ(show(compact(par)), "[T, X, Z, Seq([1, 2]), Seq([0, 3]), Par([4, 4])]");
  EXPECT_EQ(print_qasm(compact(par)), std::string(kQasmHeader) + "t q[0];\nx q[0];\nz q[0];\nt q[0];\nx q[0];\nz q[0];\n");
  EXPECT_EQ(wire_stats(compact(par)), (CircuitStats{.t = 2, .gates = 6, .depth = 6}));
}

}  // namespace
}  // namespace kestrel
