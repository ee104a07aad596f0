// Blocks written anew, with and without Hadamard gadgets, checked on state
// vectors: random programs of Clifford gates, T gates and boundaries are
// rewritten, each gadget's measurement deferred (its conditioned
// corrections become gates controlled by its extra qubit, the extra qubits
// starting in |0>), and for random input states the program's qubits must
// end in exactly the state the program read gives, the extra qubits in a
// state that does not depend on the input; with no extra qubit, up to
// exactly the phase reported. Then the cut into blocks, and the regions'
// shared effort and deadline.
#include "src/phase_polynomial/rewrite_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <iterator>
#include <numbers>
#include <random>
#include <vector>

#include "src/phase_polynomial/blocks.h"
#include "src/phase_polynomial/program_steps.h"
#include "tests/cpp/pauli/dense.h"
#include "tests/model/matrices.h"

namespace kestrel {
namespace {

using model::Complex;
using model::State;

// g applied to `psi` where every qubit of `controls` is 1 (the shared model,
// tests/model/matrices.h).
void apply(State& psi, const PlacedGate& g, std::vector<std::uint32_t> controls = {}) {
  const std::size_t c = controls.size();
  controls.push_back(g.a);
  if (elementary_info(g.gate).qubits == 2) controls.push_back(g.b);
  model::apply(psi, controls, model::controlled(c, model::placed_matrix(g)));
}

// The program read, or (given `rewrite`) written with its measurements
// deferred; a boundary is a rotation no frame follows on each qubit it names.
void run(State& psi, const ProgramSteps& program, const StepsRewrite* rewrite = nullptr) {
  std::size_t next = 0;
  for (std::uint32_t s = 0; s < program.steps.size(); ++s) {
    if (rewrite != nullptr && next < rewrite->insertions.size() && rewrite->insertions[next].step == s) {
      for (const PlacedOperation& op : rewrite->insertions[next++].ops) {
        if (op.kind == OperationKind::Gate) apply(psi, op.gate);
        if (op.kind == OperationKind::Conditioned) apply(psi, op.gate, {program.qubits + op.extra});
      }
    }
    const Step& step = program.steps[s];
    if (step.kind == StepKind::Boundary) {
      for (std::uint32_t q : program.qubits_of(step)) apply(psi, {Elementary::Rx, q, 0, 0.6});
    } else if (rewrite == nullptr || !rewrite->removed[s]) {
      apply(psi, step.gate);
    }
  }
  if (rewrite != nullptr) {
    EXPECT_EQ(next, rewrite->insertions.size()) << "an insertion after the last step";
  }
}

// A random program as the method's steps see them: `length` steps on
// `qubits` qubits (at least two): a T gate (or T-dagger) `t_percent` of the
// time, a boundary (on one or two qubits) `boundary_percent`, else a Clifford.
ProgramSteps random_program(std::mt19937& rng, std::uint32_t qubits, int length, int t_percent, int boundary_percent) {
  ProgramSteps program;
  program.qubits = qubits;
  for (int k = 0; k < length; ++k) {
    Step step{};
    step.statement = static_cast<std::uint32_t>(k);
    const int roll = static_cast<int>(rng() % 100);
    const std::uint32_t a = rng() % qubits;
    const std::uint32_t b = (a + 1 + rng() % (qubits - 1)) % qubits;
    if (roll < boundary_percent) {
      step.kind = StepKind::Boundary;
      step.first = static_cast<std::uint32_t>(program.boundary_qubits.size());
      step.count = 1 + rng() % 2;
      program.boundary_qubits.push_back(a);
      if (step.count == 2) program.boundary_qubits.push_back(b);
    } else if (roll < boundary_percent + t_percent) {
      step.kind = StepKind::Rotation;
      step.gate = {rng() % 2 ? Elementary::T : Elementary::Tdg, a, 0};
    } else {
      step.kind = StepKind::Clifford;
      const Elementary g = testing::kCliffordGates[rng() % std::size(testing::kCliffordGates)];
      step.gate = {g, a, elementary_info(g).qubits == 2 ? b : 0};
    }
    program.steps.push_back(step);
  }
  return program;
}

State random_state(std::mt19937& rng, std::size_t size) {
  std::normal_distribution<double> normal;
  State psi(size);
  double norm = 0;
  for (Complex& a : psi) norm += std::norm(a = {normal(rng), normal(rng)});
  for (Complex& a : psi) a /= std::sqrt(norm);
  return psi;
}

struct Shape {
  std::uint32_t qubits;
  int length;
  int t_percent;
  int boundaries;
  std::uint32_t ancillas;
};

class RewriteTest : public ::testing::TestWithParam<Shape> {};

TEST_P(RewriteTest, TheProgramsQubitsEndAsTheProgramLeavesThem) {
  const Shape shape = GetParam();
  std::mt19937 rng(shape.qubits * 100 + shape.length + shape.ancillas);
  int with_gadgets = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const ProgramSteps program = random_program(rng, shape.qubits, shape.length, shape.t_percent, shape.boundaries);
    // Every block written anew, or (without gadgets) a random choice of
    // them, the others kept in place where the order allows.
    RewriteOptions options;
    options.ancillas = shape.ancillas;
    std::vector<bool> chosen(program.steps.size() + 1);
    for (std::size_t k = 0; k < chosen.size(); ++k) chosen[k] = rng() % 2;
    options.every_block = trial % 2 == 0;
    if (trial % 2 == 1 && shape.ancillas == 0) options.choose = [&](std::uint32_t block) { return chosen[block]; };
    const StepsRewrite rewrite = rewrite_blocks(program, options);
    ASSERT_LE(rewrite.extra_qubits, shape.ancillas);
    with_gadgets += rewrite.extra_qubits > 0;
    if (shape.qubits + rewrite.extra_qubits > 12) continue;
    const std::size_t inputs = std::size_t{1} << shape.qubits;
    const std::size_t total = inputs << rewrite.extra_qubits;
    const Complex phase = std::polar(1.0, -rewrite.phase * std::numbers::pi / 8);
    State extras_seen;
    for (int input = 0; input < 2; ++input) {
      const State in = random_state(rng, inputs);
      State expected = in, written(total, 0);
      run(expected, program);
      std::copy(in.begin(), in.end(), written.begin());
      run(written, program, &rewrite);
      // written = phase * expected (x) extras, for one state of the extras.
      State extras(total / inputs, 0);
      double error = 0;
      for (std::size_t k = 0; k < extras.size(); ++k) {
        for (std::size_t i = 0; i < inputs; ++i) extras[k] += std::conj(phase * expected[i]) * written[i + k * inputs];
        for (std::size_t i = 0; i < inputs; ++i) error += std::norm(written[i + k * inputs] - phase * expected[i] * extras[k]);
      }
      ASSERT_LT(error, 1e-9) << "trial " << trial << ", input " << input;
      if (rewrite.extra_qubits == 0) {
        ASSERT_LT(std::abs(extras[0] - 1.0), 1e-6) << "trial " << trial << ": the phase reported";
      }
      if (input == 0) extras_seen = extras;
      for (std::size_t k = 0; k < extras.size(); ++k) {
        ASSERT_LT(std::abs(extras[k] - extras_seen[k]), 1e-6) << "trial " << trial;
      }
    }
  }
  EXPECT_TRUE(shape.ancillas == 0 || with_gadgets > 0);
}

INSTANTIATE_TEST_SUITE_P(Shapes, RewriteTest,
                         ::testing::Values(Shape{2, 12, 40, 0, 0}, Shape{3, 30, 30, 0, 0}, Shape{4, 40, 35, 5, 0},
                                           Shape{5, 60, 30, 8, 0}, Shape{5, 40, 60, 0, 0}, Shape{2, 24, 45, 0, 6},
                                           Shape{3, 30, 45, 0, 8}, Shape{3, 40, 45, 6, 8}, Shape{4, 40, 45, 0, 2},
                                           Shape{4, 50, 45, 4, 1}));

TEST(BlocksTest, TheWorkedExampleOfTheHeader) {
  // t q[0]; h q[0]; t q[0]; h q[0]; t q[1]; t q[0];
  ProgramSteps program;
  program.qubits = 2;
  for (const auto& [g, a] : {std::pair{Elementary::T, 0u}, {Elementary::H, 0u}, {Elementary::T, 0u},
                              {Elementary::H, 0u}, {Elementary::T, 1u}, {Elementary::T, 0u}}) {
    const StepKind kind = g == Elementary::T ? StepKind::Rotation : StepKind::Clifford;
    program.steps.push_back({kind, {g, a, 0}, static_cast<std::uint32_t>(program.steps.size()), 0, 0, 0});
  }
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

// A region of 24 rotations about random Z products, then 24 about random X
// products (one Hadamard gate per qubit between, each a gadget), on
// kRegionQubits qubits.
constexpr std::uint32_t kRegionQubits = 6;

std::vector<RegionBlock> z_then_x_region() {
  std::mt19937 rng(39);
  std::vector<RegionBlock> blocks(2);
  for (std::size_t k = 0; k < 2; ++k) {
    for (int j = 0; j < 24; ++j) {
      const std::uint64_t bits = 1 + rng() % ((1u << kRegionQubits) - 1);
      blocks[k].rows.push_back(k == 0 ? 0 : bits);  // X bits
      blocks[k].rows.push_back(k == 0 ? bits : 0);  // Z bits
      blocks[k].phases.push_back(0);
      blocks[k].degrees.push_back(rng() % 2 == 0 ? 1 : -1);
    }
  }
  return blocks;
}

// A region's reductions charge their work to the allowance it is given, as
// the blocks' do: with no effort past the first kernel moves they do less
// work than with a large one, spend the effort they are given, and the
// region with more effort writes no more T gates.
TEST(GadgetsEffortTest, ARegionsReductionsChargeTheSharedEffortAndStopAtTheDeadline) {
  constexpr std::uint32_t kQubits = kRegionQubits;
  const std::vector<RegionBlock> blocks = z_then_x_region();
  constexpr std::uint64_t kLarge = std::uint64_t{1} << 40;
  ReductionAllowance none, large;
  none.effort = 0;
  large.effort = kLarge;
  const RegionCircuit lean = write_region(kQubits, blocks, kQubits, 0, none);
  const RegionCircuit full = write_region(kQubits, blocks, kQubits, 0, large);
  ASSERT_GT(lean.gadgets, 0u);
  EXPECT_EQ(*none.effort, 0u);
  EXPECT_LT(none.work, large.work);
  EXPECT_EQ(*large.effort, kLarge - large.work);
  EXPECT_LE(full.t, lean.t);
  // Past the deadline the region is given up whole, with no gate written.
  ReductionAllowance late;
  late.deadline = Deadline(std::chrono::nanoseconds(0));
  const RegionCircuit given_up = write_region(kQubits, blocks, kQubits, 0, late);
  EXPECT_EQ(given_up.gadgets, 0u);
  EXPECT_TRUE(given_up.ops.empty());
  EXPECT_EQ(late.work, 0u);
}

// A region the caller turns down once it is reduced is not written, but its
// reductions are the same, and charged the same; what the caller is asked
// is the region's T count and no more two-qubit gates than it would have.
TEST(GadgetsEffortTest, ARegionTurnedDownIsReducedAsOneWrittenAndNotWritten) {
  const std::vector<RegionBlock> blocks = z_then_x_region();
  ReductionAllowance plain, declined, accepted;
  const RegionCircuit written = write_region(kRegionQubits, blocks, kRegionQubits, 0, plain);
  ASSERT_TRUE(written.written);
  ASSERT_GT(written.gadgets, 0u);
  std::uint64_t asked_t = 0, asked_two_qubit = 0;
  const RegionCircuit turned_down = write_region(kRegionQubits, blocks, kRegionQubits, 0, declined,
                                                 [&](std::uint64_t t, std::uint64_t two_qubit) {
                                                   asked_t = t;
                                                   asked_two_qubit = two_qubit;
                                                   return false;
                                                 });
  EXPECT_FALSE(turned_down.written);
  EXPECT_TRUE(turned_down.ops.empty());
  EXPECT_EQ(declined.work, plain.work);
  EXPECT_EQ(turned_down.t, written.t);
  EXPECT_EQ(turned_down.gadgets, written.gadgets);
  EXPECT_EQ(turned_down.phase, written.phase);
  EXPECT_EQ(asked_t, written.t);
  EXPECT_GT(asked_two_qubit, 0u);
  EXPECT_LE(asked_two_qubit, two_qubit_gates(written.ops));
  const RegionCircuit kept = write_region(kRegionQubits, blocks, kRegionQubits, 0, accepted,
                                          [](std::uint64_t, std::uint64_t) { return true; });
  EXPECT_TRUE(kept.written);
  EXPECT_EQ(kept.ops, written.ops);
}

}  // namespace
}  // namespace kestrel
