// Blocks written anew against dense matrices: random programs of Clifford
// gates, T gates and boundaries on up to five qubits, every block rewritten,
// must equal the program read up to exactly the phase reported.
#include "src/phase_polynomial/rewrite_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <random>

#include "src/phase_polynomial/blocks.h"
#include "tests/cpp/pauli/dense.h"
#include "tests/cpp/phase_polynomial/random_steps.h"

namespace kestrel {
namespace {

using testing::Dense;
using testing::random_program;

void apply(Dense& d, const PlacedGate& g) {
  testing::apply_elementary(d, g.gate, static_cast<int>(g.a), static_cast<int>(g.b), g.angle);
}

// A boundary: a rotation no frame follows, on each qubit it names.
void apply_boundary(Dense& d, const ProgramSteps& program, const Step& step) {
  for (std::uint32_t q : program.qubits_of(step)) d.apply(testing::gate_rx(0.3), static_cast<int>(q));
}

struct Shape {
  std::uint32_t qubits;
  int length;
  int t_percent;
  int boundary_percent;
};

class RewriteTest : public ::testing::TestWithParam<Shape> {};

TEST_P(RewriteTest, EveryBlockWrittenAnewEqualsTheProgramUpToItsPhase) {
  const Shape shape = GetParam();
  std::mt19937 rng(shape.qubits * 1000 + shape.length);
  for (int trial = 0; trial < 40; ++trial) {
    const ProgramSteps program =
        random_program(rng, shape.qubits, shape.length, shape.t_percent, shape.boundary_percent);
    // Every block written anew, or a random choice of them, the others
    // kept in place where the order allows.
    RewriteOptions options;
    std::vector<bool> chosen(program.steps.size() + 1);
    for (std::size_t k = 0; k < chosen.size(); ++k) chosen[k] = rng() % 2;
    if (trial % 2 == 0) {
      options.every_block = true;
    } else {
      options.choose = [&](std::uint32_t block) { return chosen[block]; };
    }
    const StepsRewrite rewrite = rewrite_blocks(program, options);
    Dense read(static_cast<int>(shape.qubits)), written(static_cast<int>(shape.qubits));
    std::size_t next = 0;
    for (std::uint32_t s = 0; s < program.steps.size(); ++s) {
      const Step& step = program.steps[s];
      if (next < rewrite.insertions.size() && rewrite.insertions[next].step == s) {
        for (const PlacedOperation& op : rewrite.insertions[next++].ops) apply(written, op.gate);
      }
      if (step.kind == StepKind::Boundary) {
        apply_boundary(read, program, step);
        apply_boundary(written, program, step);
        continue;
      }
      apply(read, step.gate);
      if (!rewrite.removed[s]) apply(written, step.gate);
    }
    ASSERT_EQ(next, rewrite.insertions.size());
    EXPECT_TRUE(read.equals(written, rewrite.phase * std::numbers::pi / 8))
        << "trial " << trial << ", phase " << int(rewrite.phase);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RewriteTest,
                         ::testing::Values(Shape{2, 12, 40, 0}, Shape{3, 30, 30, 0},
                                           Shape{4, 40, 35, 5}, Shape{5, 60, 30, 8},
                                           Shape{5, 40, 60, 0}));

TEST(BlocksTest, TheWorkedExampleOfTheHeader) {
  // t q[0]; h q[0]; t q[0]; h q[0]; t q[1]; t q[0];
  ProgramSteps program;
  program.qubits = 2;
  const auto gate = [&](StepKind kind, Elementary g, std::uint32_t a) {
    program.steps.push_back({kind, {g, a, 0}, static_cast<std::uint32_t>(program.steps.size()), 0, 0, 0});
  };
  gate(StepKind::Rotation, Elementary::T, 0);
  gate(StepKind::Clifford, Elementary::H, 0);
  gate(StepKind::Rotation, Elementary::T, 0);
  gate(StepKind::Clifford, Elementary::H, 0);
  gate(StepKind::Rotation, Elementary::T, 1);
  gate(StepKind::Rotation, Elementary::T, 0);
  const Blocks blocks = cut_into_blocks(program);
  ASSERT_EQ(blocks.blocks.size(), 3u);
  EXPECT_EQ(blocks.blocks[0].members, (std::vector<std::uint32_t>{0, 2}));
  EXPECT_EQ(blocks.blocks[1].members, (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(blocks.blocks[2].members, (std::vector<std::uint32_t>{3}));
  EXPECT_EQ(blocks.blocks[2].anchor, 5u);
}

// Past the deadline the cut gives no block and the rewrite writes nothing:
// the program stays as it was read. The program holds enough rotations for
// the cut to look at the clock.
TEST(BlocksTest, PastTheDeadlineNothingIsCutOrWritten) {
  std::mt19937 rng(7);
  const ProgramSteps program = random_program(rng, 5, 2000, 50, 2);
  const Deadline passed(std::chrono::nanoseconds(0));
  EXPECT_FALSE(cut_into_blocks(program).blocks.empty());
  const Blocks none = cut_into_blocks(program, passed);
  EXPECT_TRUE(none.blocks.empty());
  EXPECT_TRUE(none.rotations.empty());
  RewriteOptions options;
  options.every_block = true;
  EXPECT_FALSE(rewrite_blocks(program, options).insertions.empty());
  options.deadline = passed;
  const StepsRewrite late = rewrite_blocks(program, options);
  EXPECT_TRUE(late.insertions.empty());
  EXPECT_EQ(std::count(late.removed.begin(), late.removed.end(), true), 0);
  EXPECT_EQ(late.t_after, late.t_before);
}

}  // namespace
}  // namespace kestrel
