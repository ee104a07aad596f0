// Rotation merging with rotations of any angle: a table of merges and
// stops, random programs mixing T gates and rotations about X, Y and Z
// checked against their written form as dense matrices with the global
// phase, and the same programs on a wide register (where searches walk the
// program first) merged alike.
#include <gtest/gtest.h>

#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "src/rotation_merging/merger.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel {
namespace {

using testing::Dense;
constexpr double kPi = std::numbers::pi;

// One operation: a Clifford gate, "t"/"tdg", a rotation "rz"/"rx"/"ry"
// with its angle, or a boundary "b".
struct Operation {
  std::string name;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  double angle = 0;
};

const std::pair<const char*, CliffordGate> kCliffords[] = {
    {"h", CliffordGate::H},   {"s", CliffordGate::S},   {"sdg", CliffordGate::Sdg},
    {"x", CliffordGate::X},   {"y", CliffordGate::Y},   {"z", CliffordGate::Z},
    {"cx", CliffordGate::CX}, {"cz", CliffordGate::CZ}, {"swap", CliffordGate::Swap}};

bool is_pair(const std::string& name) { return name == "cx" || name == "cz" || name == "swap"; }

RotationAxis axis(const std::string& name) {
  return name == "rx" ? RotationAxis::X : name == "ry" ? RotationAxis::Y : RotationAxis::Z;
}

// `stride` spreads the qubits, to put the program on a wide register.
MergeResult merge(std::uint32_t qubits, const std::vector<Operation>& program,
                  std::uint32_t stride = 1) {
  RotationMerger merger(qubits);
  for (const Operation& op : program) {
    const std::uint32_t a = op.a * stride, b = op.b * stride;
    if (op.name == "t" || op.name == "tdg") {
      merger.rotation(a, op.name == "tdg");
    } else if (op.name[0] == 'r') {
      merger.rotation(a, axis(op.name), op.angle);
    } else if (op.name == "b") {
      const std::vector<std::uint32_t> on{a};
      merger.boundary(on);
    } else {
      for (const auto& [name, gate] : kCliffords) {
        if (op.name == name) merger.clifford(gate, a, b);
      }
    }
  }
  return merger.finish();
}

TEST(MergingAngles, Cases) {
  constexpr std::int8_t M = MergeResult::kMerged, R = MergeResult::kRotation;
  struct Case {
    const char* why;
    std::vector<Operation> program;
    std::vector<std::int8_t> written;
    std::vector<double> angles;  // where written is R
  };
  const Case cases[] = {
      {"two rotations about Z add", {{"rz", 0, 0, 0.3}, {"rz", 0, 0, 0.4}}, {R, M}, {0.7, 0}},
      {"a T joins a rotation: pi/4 more", {{"rz", 0, 0, 0.3}, {"t", 0}}, {R, M}, {0.3 + kPi / 4, 0}},
      {"a rotation joins a T, written as rz at the T's place",
       {{"t", 0}, {"rz", 0, 0, 0.3}}, {R, M}, {0.3 + kPi / 4, 0}},
      {"opposite angles: nothing", {{"rz", 0, 0, 0.3}, {"rz", 0, 0, -0.3}}, {0, M}, {0, 0}},
      {"a sum of pi/4 is a T", {{"rz", 0, 0, 0.3}, {"rz", 0, 0, kPi / 4 - 0.3}}, {1, M}, {0, 0}},
      {"a sum of pi/2 about X is an S about X",
       {{"rx", 0, 0, 1.0}, {"rx", 0, 0, kPi / 2 - 1.0}}, {2, M}, {0, 0}},
      {"X flips the sign of a Z rotation", {{"rz", 0, 0, 0.3}, {"x", 0}, {"rz", 0, 0, 0.5}},
       {R, M}, {-0.2, 0}},
      {"rotations about X and Z stay apart", {{"rz", 0, 0, 0.3}, {"rx", 0, 0, 0.3}}, {R, R}, {0.3, 0.3}},
      {"H turns Z into X", {{"rx", 0, 0, 0.3}, {"h", 0}, {"rz", 0, 0, 0.2}}, {R, M}, {0.5, 0}},
      {"S turns X into -Y", {{"ry", 0, 0, 0.3}, {"s", 0}, {"rx", 0, 0, 0.2}}, {R, M}, {0.1, 0}},
      {"across a CNOT pair, past a commuting rotation",
       {{"rz", 0, 0, 0.1}, {"cx", 1, 0}, {"rz", 0, 0, 0.2}, {"cx", 1, 0}, {"rz", 0, 0, 0.3}},
       {R, R, M}, {0.4, 0.2, 0}},
      {"an anticommuting rotation of any angle is never passed",
       {{"rz", 0, 0, 0.1}, {"rx", 0, 0, 0.2}, {"rz", 0, 0, 0.3}}, {R, R, R}, {0.1, 0.2, 0.3}},
      {"a boundary on the qubit stops it", {{"rz", 0, 0, 0.1}, {"b", 0}, {"rz", 0, 0, 0.3}},
       {R, R}, {0.1, 0.3}},
      {"a Clifford group (two T gates) is passed, a group with an angle is not",
       {{"t", 0}, {"t", 0}, {"h", 0}, {"rz", 0, 0, 0.3}, {"h", 0}, {"rz", 0, 0, 0.5}},
       {2, M, R, R}, {0, 0, 0.3, 0.5}},
      {"angles summing to pi/2 are an S, passed: X becomes -Y and joins the ry",
       {{"ry", 0, 0, 0.5}, {"rz", 0, 0, 0.3}, {"rz", 0, 0, kPi / 2 - 0.3}, {"rx", 0, 0, 0.2}},
       {R, 2, M, M}, {0.3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const MergeResult result = merge(2, c.program);
    EXPECT_EQ(result.written, c.written) << c.why;
    for (std::size_t k = 0; k < c.written.size() && k < result.written.size(); ++k) {
      if (c.written[k] == R) {
        EXPECT_DOUBLE_EQ(result.angles[k], c.angles[k]) << c.why << " " << k;
      }
    }
  }
}

testing::Gate1 rotation_gate(const std::string& name, double angle) {
  const QasmGate gate = name == "rx" ? QasmGate::rx : name == "ry" ? QasmGate::ry : QasmGate::rz;
  return testing::library_gate_matrix(gate, angle);
}

void apply_clifford(Dense& d, const Operation& op) {
  const int a = static_cast<int>(op.a), b = static_cast<int>(op.b);
  if (op.name == "h") d.apply(testing::gate_h(), a);
  if (op.name == "s") d.apply(testing::phase_gate(kPi / 2), a);
  if (op.name == "sdg") d.apply(testing::phase_gate(-kPi / 2), a);
  if (op.name == "x") d.apply(testing::gate_x(), a);
  if (op.name == "y") d.apply(testing::gate_y(), a);
  if (op.name == "z") d.apply(testing::gate_z(), a);
  if (op.name == "cx") d.apply_controlled(testing::gate_x(), a, b);
  if (op.name == "cz") d.apply_controlled(testing::gate_z(), a, b);
  if (op.name == "swap") d.apply_swap(a, b);
}

// What a rotation written as `w` does about the axis of `name` on qubit a.
void apply_written(Dense& d, const std::string& name, std::int8_t w, double angle, int a) {
  if (w == MergeResult::kMerged) return;
  const std::string rotation = name[0] == 'r' ? name : "rz";
  if (w == MergeResult::kRotation) {
    d.apply(rotation_gate(rotation, angle), a);
    return;
  }
  // diag(1, e^(i w pi/4)) about the axis: h around it for X, sdg h .. h s for Y.
  if (rotation == "ry") d.apply(testing::phase_gate(-kPi / 2), a);
  if (rotation != "rz") d.apply(testing::gate_h(), a);
  d.apply(testing::phase_gate(w * kPi / 4), a);
  if (rotation != "rz") d.apply(testing::gate_h(), a);
  if (rotation == "ry") d.apply(testing::phase_gate(kPi / 2), a);
}

std::vector<Operation> random_program(std::mt19937& rng, std::uint32_t qubits, int length) {
  const char* names[] = {"h", "s", "sdg", "x", "y", "z", "cx", "cz", "swap", "t", "tdg",
                         "rz", "rz", "rx", "ry", "rz", "b"};
  // Few distinct angles, some summing to multiples of pi/4, so that groups
  // land on T, Clifford and nothing as well as on new angles.
  const double angles[] = {0.3, -0.3, kPi / 8, -kPi / 8, kPi / 4 - 0.3, 1.1, kPi / 16};
  std::vector<Operation> program;
  for (int k = 0; k < length; ++k) {
    Operation op{names[rng() % std::size(names)]};
    if (is_pair(op.name) && qubits < 2) continue;
    if (op.name == "b" && rng() % 3 != 0) continue;
    op.a = rng() % qubits;
    if (is_pair(op.name)) op.b = (op.a + 1 + rng() % (qubits - 1)) % qubits;
    if (op.name[0] == 'r') op.angle = angles[rng() % std::size(angles)];
    program.push_back(op);
  }
  return program;
}

TEST(MergingAngles, RandomProgramsEqualTheirWrittenFormTimesThePhase) {
  std::mt19937 rng(35);
  int merged = 0, landed = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint32_t qubits = 1 + rng() % 3;
    const std::vector<Operation> program = random_program(rng, qubits, 1 + static_cast<int>(rng() % 40));
    const MergeResult result = merge(qubits, program);
    Dense in(static_cast<int>(qubits)), out(static_cast<int>(qubits));
    std::size_t rotation = 0;
    for (const Operation& op : program) {
      const int a = static_cast<int>(op.a);
      if (op.name == "t" || op.name == "tdg" || op.name[0] == 'r') {
        if (op.name[0] == 'r') {
          in.apply(rotation_gate(op.name, op.angle), a);
        } else {
          in.apply(testing::phase_gate(op.name == "t" ? kPi / 4 : -kPi / 4), a);
        }
        const std::int8_t w = result.written.at(rotation);
        merged += w == MergeResult::kMerged;
        landed += op.name[0] == 'r' && w != MergeResult::kMerged && w != MergeResult::kRotation;
        apply_written(out, op.name, w, result.angles.at(rotation), a);
        ++rotation;
      } else if (op.name == "b") {
        in.apply(testing::gate_rx(0.37), a);
        out.apply(testing::gate_rx(0.37), a);
      } else {
        apply_clifford(in, op);
        apply_clifford(out, op);
      }
    }
    ASSERT_EQ(rotation, result.written.size());
    EXPECT_TRUE(in.equals(out, result.phase * kPi / 8)) << "trial " << trial;
  }
  EXPECT_GT(merged, 200);
  EXPECT_GT(landed, 5);  // some groups of rotations land on multiples of pi/4
}

TEST(MergingAngles, WideRegistersMergeAsNarrowOnes) {
  // On 300 qubits (five words a half row) searches walk the program first.
  std::mt19937 rng(36);
  for (int trial = 0; trial < 100; ++trial) {
    const std::vector<Operation> program = random_program(rng, 4, 400);
    const MergeResult narrow = merge(4, program);
    const MergeResult wide = merge(300, program, 70);
    EXPECT_EQ(wide.written, narrow.written) << trial;
    EXPECT_EQ(wide.angles, narrow.angles) << trial;
    EXPECT_EQ(wide.phase, narrow.phase) << trial;
  }
}

}  // namespace
}  // namespace kestrel
