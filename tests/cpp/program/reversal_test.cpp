// reversed_program: the text it writes, checked against the dense matrices of
// the library's gates (the inverse's matrix times the program's is exactly
// the identity), and the programs it has no inverse for.
#include "src/program/reversal.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <variant>
#include <vector>

#include "tests/model/matrices.h"

namespace kestrel {
namespace {

QasmProgram read(std::string_view text) {
  auto read = read_program(text);
  EXPECT_TRUE(std::holds_alternative<QasmProgram>(read)) << text;
  return std::get<QasmProgram>(std::move(read));
}

// The program's matrix, its first statement applied first.
model::Matrix matrix_of(const QasmProgram& program) {
  model::Matrix m = model::Matrix::identity(std::size_t{1} << program.qubits);
  for (const Statement& st : program.statements) {
    if (st.kind != StatementKind::RunGate && st.kind != StatementKind::Gate) continue;
    std::vector<std::uint32_t> on;
    for (std::uint32_t k = 0; k < st.operand_count; ++k) {
      on.push_back(operand_bit(program, program.operands[st.first_operand + k], 0));
    }
    const std::optional<model::Matrix> gate = model::library_matrix(st.library, {});
    EXPECT_TRUE(gate.has_value());
    model::apply_left(m, on, *gate);
  }
  return m;
}

constexpr std::string_view kHeader = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";

TEST(ReversedProgram, WritesTheInverse) {
  const std::string text = std::string(kHeader) +
                           "qreg q[2]; qreg r[2];\n"
                           "h q[0]; t q[1]; cx q[0],q[1]; s r[0];\n"
                           "barrier q;\n"
                           "tdg q[0]; sdg r[1]; cz q[1], r[0]; ccx q[0],q[1],r[1]; x r[0];\n"
                           "y q[1]; z q[0]; swap q[0],r[0]; ch r[1],q[1]; CX r[0],q[0];\n";
  const QasmProgram program = read(text);
  const std::optional<std::string> inverse = reversed_program(program);
  ASSERT_TRUE(inverse.has_value());
  EXPECT_EQ(*inverse, std::string(kHeader) +
                          "qreg q[2];\nqreg r[2];\n"
                          "CX r[0],q[0];\nch r[1],q[1];\nswap q[0],r[0];\nz q[0];\ny q[1];\n"
                          "x r[0];\nccx q[0],q[1],r[1];\ncz q[1], r[0];\ns r[1];\nt q[0];\n"
                          "barrier q;\n"
                          "sdg r[0];\ncx q[0],q[1];\ntdg q[1];\nh q[0];\n");
  const QasmProgram back = read(*inverse);
  const model::Matrix product = model::times(matrix_of(back), matrix_of(program));
  EXPECT_TRUE(model::equal_up_to(product, model::Matrix::identity(16), 0));
  // Twice is the program again, a statement a line.
  const std::optional<std::string> twice = reversed_program(back);
  ASSERT_TRUE(twice.has_value());
  EXPECT_TRUE(model::equal_up_to(matrix_of(read(*twice)), matrix_of(program), 0));
}

TEST(ReversedProgram, HasNoInverseForWhatItCannotWrite) {
  const std::string_view bodies[] = {
      "creg c[2]; h q[0]; measure q[0] -> c[0];",
      "h q[0]; reset q[1];",
      "creg c[1]; if (c==1) x q[0];",
      "rz(0.3) q[0];",
      "u1(pi/4) q[1];",
      "sx q[0];",
      "rccx q[0],q[1],q[2];",
      "gate g a { h a; } g q[0];",
      "h q;",
      "qreg r[3]; cx q[0], r;",
  };
  for (const std::string_view body : bodies) {
    const std::string text = std::string(kHeader) + "qreg q[3];\n" + std::string(body);
    EXPECT_FALSE(reversed_program(read(text)).has_value()) << body;
  }
}

TEST(ReversedProgram, KeepsGateDefinitionsAndAnEmptyProgram) {
  const std::string text = std::string(kHeader) + "gate g a { h a; }\nqreg q[1];\nt q[0];\n";
  const std::optional<std::string> inverse = reversed_program(read(text));
  ASSERT_TRUE(inverse.has_value());
  EXPECT_EQ(*inverse, std::string(kHeader) + "gate g a { h a; }\nqreg q[1];\ntdg q[0];\n");
  EXPECT_EQ(reversed_program(read(kHeader)), std::string(kHeader));
}

}  // namespace
}  // namespace kestrel
