// Tests of programs given as gate lists: the lists refused with their
// messages, and random lists whose edits and phase under every method are
// those of the same program read from text (the statements made are shown
// as the instance walk reads them in instance_walk_test.cpp, where a list's
// Toffoli is a boundary, as it is to rotation merging).
#include "src/program/gate_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>
#include <vector>

#include "src/pipeline/pipeline.h"

namespace kestrel {
namespace {

constexpr auto code(QasmGate g) { return static_cast<std::uint8_t>(g); }
constexpr std::uint8_t kBoundary = 0;

struct Refused {
  std::vector<std::uint8_t> gates;
  std::vector<std::uint32_t> qubits;
  std::uint32_t width;
  std::string message;
};

TEST(GateList, Refusals) {
  const Refused cases[] = {
      {{code(QasmGate::rz)}, {0}, 1, "operation 0: expected the code of a library gate without parameters, not 21"},
      {{200}, {0}, 1, "operation 0: expected the code of a library gate without parameters, not 200"},
      {{code(QasmGate::h), code(QasmGate::h)}, {0, 1}, 1, "operation 1: expected a qubit below 1, not 1"},
      {{code(QasmGate::cx)}, {1, 1}, 2, "operation 0: qubit 1 is named twice"},
      {{kBoundary}, {3, 0, 1, 0}, 2, "operation 0: qubit 0 is named twice"},
      {{kBoundary}, {0}, 2, "operation 0: expected a boundary on at least one qubit"},
      {{kBoundary}, {}, 2, "operation 0: expected its number of qubits"},
      {{kBoundary}, {4, 0, 1}, 2, "operation 0: expected 4 qubits, found the list's end"},
      {{code(QasmGate::cx)}, {0}, 2, "operation 0: expected 2 qubits, found the list's end"},
      {{code(QasmGate::t)}, {0, 0}, 1, "1 qubit entries follow the last operation"},
      {{}, {}, kMaxBits + 1, "expected at most 1048576 qubits, not 1048577"},
  };
  for (const Refused& c : cases) {
    const auto made = program_from_gates({c.gates, c.qubits, c.width});
    ASSERT_TRUE(std::holds_alternative<std::string>(made)) << c.message;
    EXPECT_EQ(std::get<std::string>(made), c.message);
  }
  EXPECT_TRUE(std::holds_alternative<QasmProgram>(program_from_gates({{}, {}, 0})));
}

// A random circuit as a gate list and as the text the reader would take,
// with boundaries as barriers and measurements.
struct Pair {
  std::vector<std::uint8_t> gates;
  std::vector<std::uint32_t> qubits;
  std::string text;
};

// Toffolis are drawn only when `toffolis`.
Pair random_pair(std::mt19937& random, std::uint32_t width, int length, bool toffolis) {
  const QasmGate gates[] = {QasmGate::h, QasmGate::s, QasmGate::sdg, QasmGate::t,  QasmGate::tdg,
                            QasmGate::x, QasmGate::z, QasmGate::y,   QasmGate::sx, QasmGate::cx,
                            QasmGate::cz, QasmGate::swap, QasmGate::cy, QasmGate::ccx};
  Pair pair;
  pair.text = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[" + std::to_string(width) + "];\ncreg c[1];\n";
  const auto name = [](std::uint32_t q) { return "q[" + std::to_string(q) + "]"; };
  for (int k = 0; k < length; ++k) {
    const std::uint32_t a = random() % width;
    std::uint32_t b = random() % (width - 1);
    b += b >= a;
    std::uint32_t c = random() % (width - 2);
    c += c >= std::min(a, b);
    c += c >= std::max(a, b);
    if (random() % 10 == 0) {
      pair.gates.push_back(kBoundary);
      if (random() % 2 == 0) {
        pair.qubits.insert(pair.qubits.end(), {2, a, b});
        pair.text += "barrier " + name(a) + "," + name(b) + ";\n";
      } else {
        pair.qubits.insert(pair.qubits.end(), {1, a});
        pair.text += "measure " + name(a) + " -> c[0];\n";
      }
      continue;
    }
    const QasmGate g = gates[random() % (std::size(gates) - (toffolis ? 0 : 1))];
    const std::uint32_t operands[] = {a, b, c};
    const LibraryGate& info = kQelib1[code(g) - code(QasmGate::u3)];
    pair.gates.push_back(code(g));
    pair.text += std::string(info.name) + " ";
    for (std::uint32_t i = 0; i < info.qubits; ++i) {
      pair.qubits.push_back(operands[i]);
      pair.text += (i ? "," : "") + name(operands[i]);
    }
    pair.text += ";\n";
  }
  return pair;
}

TEST(GateList, SameEditsAsTheText) {
  std::mt19937 random(11);
  constexpr std::uint32_t kDeclarations = 4;  // header, include, qreg, creg
  for (Method method : {Method::RotationMerging, Method::NormalForm, Method::Saturation}) {
    PipelineOptions options;
    options.method = method;
    options.phase = true;
    for (int trial = 0; trial < 40; ++trial) {
      // Rotation merging sees a text's Toffoli through but not a list's.
      const std::uint32_t width = 3 + trial % 4;
      const Pair pair = random_pair(random, width, 60, method != Method::RotationMerging);
      const auto listed = program_from_gates({pair.gates, pair.qubits, width});
      const auto read = read_program(pair.text);
      ASSERT_TRUE(std::holds_alternative<QasmProgram>(listed));
      ASSERT_TRUE(std::holds_alternative<QasmProgram>(read)) << pair.text;
      EXPECT_EQ(std::get<QasmProgram>(listed).qubits, std::get<QasmProgram>(read).qubits);
      const ProgramEdits a = optimize_program(std::get<QasmProgram>(listed), options);
      const ProgramEdits b = optimize_program(std::get<QasmProgram>(read), options);
      ASSERT_EQ(a.edits.list.size(), b.edits.list.size()) << pair.text;
      for (std::size_t e = 0; e < a.edits.list.size(); ++e) {
        const Edit& x = a.edits.list[e];
        const Edit& y = b.edits.list[e];
        EXPECT_EQ(x.statement + kDeclarations, y.statement);
        ASSERT_EQ(x.count, y.count);
        for (std::uint32_t k = 0; k < x.count; ++k) {
          EXPECT_EQ(a.edits.gates[x.first + k], b.edits.gates[y.first + k]);
        }
      }
      EXPECT_EQ(a.phase, b.phase);
      EXPECT_TRUE(a.phase.has_value());
    }
  }
}

}  // namespace
}  // namespace kestrel
