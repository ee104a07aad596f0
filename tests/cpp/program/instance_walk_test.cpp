// The instance walk as golden dumps: what a visitor is told of a program,
// one line per report, under each sight; defined gates nested with
// parameters, boundaries inside bodies, budgets that no input can pass, and
// the per-statement expansion against the walk's own reports.
#include "src/program/instance_walk.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <variant>

#include "src/program/gate_list.h"

namespace kestrel {
namespace {

constexpr std::string_view kHead = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";

// "s4 t 2" for T on qubit 2 from statement 4 (positions shown past 0 as
// "@k"), "s5 | 0 1" for a boundary, "s5 ~3" for a nonzero phase.
struct Dump : InstanceVisitor {
  std::string out;
  void gate(PlacedGate g, std::uint32_t s, std::uint32_t position) {
    out += "s" + std::to_string(s) + " " + std::string(elementary_info(g.gate).qasm_name) + " " + std::to_string(g.a);
    if (elementary_info(g.gate).qubits == 2) out += "," + std::to_string(g.b);
    if (position > 0) out += " @" + std::to_string(position);
    out += "\n";
  }
  void boundary(std::uint32_t s, std::uint32_t, std::span<const std::uint32_t> qubits) {
    out += "s" + std::to_string(s) + " |";
    for (std::uint32_t q : qubits) out += " " + std::to_string(q);
    out += "\n";
  }
  void phase(std::uint32_t s, std::uint8_t eighths) {
    if (eighths != 0) out += "s" + std::to_string(s) + " ~" + std::to_string(eighths) + "\n";
  }
};

// The program read from kHead and `body`; its text lives as long as the
// test program, as the program points into it.
QasmProgram read(std::string_view body) {
  static std::list<std::string> texts;
  texts.push_back(std::string(kHead) + std::string(body));
  auto read = read_program(texts.back());
  EXPECT_TRUE(std::holds_alternative<QasmProgram>(read)) << std::get<InputError>(read).text();
  return std::get<QasmProgram>(std::move(read));
}

std::string dump(const QasmProgram& program, Sight sight) {
  Dump d;
  InstanceWalk(program, sight).run(d);
  return d.out;
}

struct Case {
  std::string_view body;      // after kHead: statements are numbered from 2
  std::string_view run_gates;  // the dump with Sight::RunGates, or "" when it is not checked
  std::string_view clifford_t; // the dump with Sight::CliffordT
};

TEST(InstanceWalk, WhatAVisitorIsTold) {
  const Case cases[] = {
      // Broadcasts, measurements (their qubit only), barriers over all qubits.
      {"qreg q[2]; qreg r[2]; creg c[2];\nh q; cx q,r; measure r -> c; barrier; reset q[1];\n",
       "s5 | 0\ns5 | 1\ns6 | 0 2\ns6 | 1 3\ns7 | 2\ns7 | 3\ns8 | 0 1 2 3\ns9 | 1\n",
       "s5 h 0\ns5 h 1 @1\ns6 cx 0,2\ns6 cx 1,3 @1\ns7 | 2\ns7 | 3\ns8 | 0 1 2 3\ns9 | 1\n"},
      // A run gate is a gate in both sights; a condition makes a boundary.
      {"qreg q[2]; creg c[1];\nt q[1]; if (c==1) t q[0]; t q;\n",
       "s4 t 1\ns5 | 0\ns6 | 0\ns6 | 1\n", "s4 t 1\ns5 | 0\ns6 t 0\ns6 t 1 @1\n"},
      // Angles: rz(pi/4) is T up to e^(-i pi/8); u3(pi/2,0,pi) is H; near
      // misses, opaque gates and c3x are boundaries.
      {"qreg q[4];\nrz(pi/4) q[0]; u3(pi/2,0,pi) q[1]; rz(pi/4+1e-6) q[2]; c3x q[0],q[1],q[2],q[3];\n",
       "", "s3 t 0\ns3 ~15\ns4 h 1\ns5 | 2\ns6 | 0 1 2 3\n"},
      // Defined gates nested three deep, their parameters substituted: g1(a)
      // is rz(a) then h; g3(pi/2) applies g2(pi/2, pi) to x,y and then g1.
      {"gate g1(a) x { rz(a) x; h x; }\ngate g2(a, b) x, y { g1(a/2) x; cx x, y; g1(b/4) y; }\n"
       "gate g3(c) x, y, z { g2(c, 2*c) z, x; g1(-c/2) y; }\nqreg q[3];\ng3(pi/2) q[0], q[1], q[2];\n",
       "s6 | 0 1 2\n",
       "s6 t 2\ns6 h 2 @1\ns6 cx 2,0 @2\ns6 t 0 @3\ns6 h 0 @4\ns6 tdg 1 @5\ns6 h 1 @6\ns6 ~15\n"},
      // A body holding a barrier or a boundary gate is a boundary, and so is
      // every gate that applies it.
      {"gate b1 x, y { t x; barrier x, y; t y; }\ngate b2 x { rz(0.3) x; }\ngate b3 x, y { b1 x, y; }\n"
       "opaque o x;\nqreg q[2];\nb1 q[0], q[1]; b2 q[1]; b3 q[1], q[0]; o q[0];\n",
       "", "s7 | 0 1\ns8 | 1\ns9 | 1 0\ns10 | 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const QasmProgram program = read(c.body);
    if (!c.run_gates.empty()) {
      EXPECT_EQ(dump(program, Sight::RunGates), c.run_gates);
    }
    EXPECT_EQ(dump(program, Sight::CliffordT), c.clifford_t);
  }
}

// What gates_of gives for each statement is what run reported of it: the
// dump without its boundaries.
TEST(InstanceWalk, GatesOfAStatementAreThoseTheWalkReports) {
  const QasmProgram program = read(
      "gate g(a) x, y, z { cu1(a) x, y; ccx x, y, z; }\nqreg q[3]; qreg r[3]; creg c[3];\n"
      "g(pi) q[0], q[1], r[1]; t r; ch q, r; rx(-3*pi/4) q[2]; measure q -> c; cswap q[2], r[0], q[0];\n");
  InstanceWalk walk(program, Sight::CliffordT);
  Dump from_gates_of;
  int phases = 0;
  for (std::uint32_t s = 0; s < program.statements.size(); ++s) {
    std::vector<PlacedGate> gates;
    const std::optional<Phase> phase = walk.gates_of(s, gates);
    for (std::uint32_t k = 0; k < gates.size(); ++k) from_gates_of.gate(gates[k], s, k);
    if (phase) from_gates_of.phase(s, phase->eighths);
    phases += phase.has_value();
  }
  std::string walked = dump(program, Sight::CliffordT), gates;
  for (std::size_t at = 0, end; at < walked.size(); at = end + 1) {
    end = walked.find('\n', at);
    if (walked.find('|', at) > end) gates += walked.substr(at, end + 1 - at);
  }
  EXPECT_EQ(from_gates_of.out, gates);
  EXPECT_NE(gates.find("~"), std::string::npos);  // a phase among them
  EXPECT_EQ(phases, 5);  // g, t r, ch q,r, rx and cswap; not the measurement
}

TEST(InstanceWalk, ExpansionsBeyondTheirBudgetAreBoundaries) {
  // Each definition applies the one before it twice: g17 is 2^17 gates.
  std::string body = "gate g0 x { h x; }\n";
  for (int k = 1; k <= 17; ++k) {
    body += "gate g" + std::to_string(k) + " x { g" + std::to_string(k - 1) + " x; g" +
            std::to_string(k - 1) + " x; }\n";
  }
  body += "qreg q[1];\ng16 q[0];\ng17 q[0];\n";
  const QasmProgram program = read(body);
  struct Count : InstanceVisitor {
    std::size_t gates = 0, boundaries = 0;
    void gate(PlacedGate, std::uint32_t, std::uint32_t) { ++gates; }
    void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t>) { ++boundaries; }
  } count;
  InstanceWalk(program, Sight::CliffordT).run(count);
  EXPECT_EQ(count.gates, std::size_t{1} << 16);
  EXPECT_EQ(count.boundaries, 1u);
}

TEST(InstanceWalk, DeepDefinitionsCostNoStack) {
  std::string body = "gate g0 x { t x; }\n";
  constexpr int kDepth = 20000;
  for (int k = 1; k <= kDepth; ++k) {
    body += "gate g" + std::to_string(k) + " x { g" + std::to_string(k - 1) + " x; }\n";
  }
  body += "qreg q[1];\ng" + std::to_string(kDepth) + " q[0];\n";
  const QasmProgram program = read(body);
  EXPECT_EQ(dump(program, Sight::CliffordT), "s" + std::to_string(kDepth + 4) + " t 0\n");
}

TEST(InstanceWalk, AGateListHasNoTextForTGatesToGoBackTo) {
  // h, ccx, a boundary on qubit 1, t: the Toffoli is a boundary.
  const std::uint8_t gates[] = {static_cast<std::uint8_t>(QasmGate::h),
                                static_cast<std::uint8_t>(QasmGate::ccx), 0,
                                static_cast<std::uint8_t>(QasmGate::cy)};
  const std::uint32_t qubits[] = {0, 0, 1, 2, 1, 1, 2, 0};
  auto listed = program_from_gates({gates, qubits, 3});
  ASSERT_TRUE(std::holds_alternative<QasmProgram>(listed));
  EXPECT_EQ(dump(std::get<QasmProgram>(listed), Sight::CliffordT),
            "s0 h 0\ns1 | 0 1 2\ns2 | 1\ns3 sdg 0\ns3 cx 2,0 @1\ns3 s 0 @2\n");
}

}  // namespace
}  // namespace kestrel
