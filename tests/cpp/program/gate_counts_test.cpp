// What a gate application holds: a table of statements and their counts
// (each exact library gate's T gates are those of its expansion, which
// expansion_test holds to its matrix), and counts that nesting would carry
// past 64 bits.
#include "src/program/gate_counts.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace kestrel {
namespace {

constexpr std::string_view kHead = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[5];\ncreg c[1];\n";

// The counts of the last statement of `body` after the header.
GateCounts last_counts(const std::string& body) {
  const std::string text = std::string(kHead) + body;
  auto read = read_program(text);
  const auto* error = std::get_if<InputError>(&read);
  EXPECT_EQ(error, nullptr) << (error != nullptr ? error->text() : "") << "\n" << body;
  if (error != nullptr) return {};
  const QasmProgram& program = std::get<QasmProgram>(read);
  GateCounter counter(program);
  return counter.statement(static_cast<std::uint32_t>(program.statements.size() - 1));
}

TEST(GateCounts, WhatAStatementHolds) {
  const struct {
    std::string body;
    GateCounts counts;  // T gates, two-qubit gates
  } cases[] = {
      {"t q;", {1, 0}},  // per instance
      {"cx q[0],q[1];", {0, 1}},
      {"ccx q[0],q[1],q[2];", {7, 6}},
      {"cswap q[0],q[1],q[2];", {7, 8}},
      {"cu1(pi/2) q[0],q[1];", {3, 2}},
      {"rxx(pi/4) q[0],q[1];", {1, 2}},
      {"if (c==1) ccx q[0],q[1],q[2];", {7, 6}},
      // Angles: an odd multiple of pi/4 is a T gate, any other angle none.
      {"rz(pi/4) q[0];", {1, 0}},
      {"rz(0.3) q[0];", {0, 0}},
      {"U(pi/4,0,0) q[0];", {1, 0}},
      {"u3(0,pi/4,pi/4) q[0];", {0, 0}},    // S exactly
      {"u3(0.3,pi/4,pi/4) q[0];", {2, 0}},  // not Clifford+T: per angle
      {"u2(pi/4,0) q[0];", {1, 0}},
      {"crz(0.3) q[0],q[1];", {0, 2}},
      // c3x's rotations are by pi/8: no T gate.
      {"c3x q[0],q[1],q[2],q[3];", {0, 14}},
      // Defined gates: their bodies, parameters put in, at any depth.
      {"gate g a, b { h a; t b; cx a, b; }\ng q[0],q[1];", {1, 1}},
      {"gate r(x) a { rz(x) a; }\ngate rr(x) a, b { r(x) a; r(x/2) b; cx a, b; }\nrr(pi/2) q[0],q[1];", {1, 1}},
      {"gate m a, b, c { cx c, b; cx c, a; ccx a, b, c; }\nif (c==0) m q[2],q[0],q[1];", {7, 8}},
      {"gate e a, b { }\ne q[0],q[1];", {0, 0}},
      {"opaque o a, b;\no q[0],q[1];", {0, 1}},
      {"gate b a, b { t a; barrier a, b; t b; }\nb q[0],q[1];", {2, 0}},
  };
  for (const auto& c : cases) {
    const GateCounts counts = last_counts(c.body);
    EXPECT_EQ(counts.t, c.counts.t) << c.body;
    EXPECT_EQ(counts.two_qubit, c.counts.two_qubit) << c.body;
  }
}

TEST(GateCounts, NestingSaturatesAndIsWalkedOnce) {
  // g_k applies g_(k-1) twice: g_80 holds 2^81 T gates, more than 64 bits
  // hold, and each body is walked once.
  std::string body = "gate g0 a, b { t a; cx a, b; }\n";
  for (int k = 1; k <= 80; ++k) {
    body += "gate g" + std::to_string(k) + " a, b { g" + std::to_string(k - 1) + " a, b; g" +
            std::to_string(k - 1) + " b, a; }\n";
  }
  const GateCounts counts = last_counts(body + "g80 q[0],q[1];");
  EXPECT_EQ(counts.t, ~std::uint64_t{0});
  EXPECT_EQ(counts.two_qubit, ~std::uint64_t{0});
  EXPECT_EQ(last_counts(body + "g10 q[0],q[1];"), (GateCounts{1024, 1024}));
}

}  // namespace
}  // namespace kestrel
