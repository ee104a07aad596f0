// Regions written with Hadamard gadgets, checked by deferring the
// measurements: each measurement's conditioned corrections become gates
// controlled by its extra qubit, the whole circuit runs on a state vector of
// the program's qubits and the extra ones (starting in |0>), and for random
// input states the program's qubits must end in exactly the state the
// program read gives (up to the phase reported), the extra qubits in a state
// that does not depend on the input.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "src/phase_polynomial/rewrite_blocks.h"
#include "tests/cpp/phase_polynomial/random_steps.h"
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

// The program read, on the program's qubits of a state of `total` qubits.
void run_read(State& psi, const ProgramSteps& program) {
  for (const Step& step : program.steps) {
    if (step.kind == StepKind::Boundary) {
      for (std::uint32_t q : program.qubits_of(step)) apply(psi, {Elementary::Rx, q, 0, 0.6});
    } else {
      apply(psi, step.gate);
    }
  }
}

// The program written, with its measurements deferred.
void run_written(State& psi, const ProgramSteps& program, const StepsRewrite& rewrite) {
  std::size_t next = 0;
  for (std::uint32_t s = 0; s < program.steps.size(); ++s) {
    if (next < rewrite.insertions.size() && rewrite.insertions[next].step == s) {
      for (const PlacedOperation& op : rewrite.insertions[next++].ops) {
        if (op.kind == OperationKind::Gate) apply(psi, op.gate);
        if (op.kind == OperationKind::Conditioned) apply(psi, op.gate, {program.qubits + op.extra});
      }
    }
    const Step& step = program.steps[s];
    if (step.kind == StepKind::Boundary) {
      for (std::uint32_t q : program.qubits_of(step)) apply(psi, {Elementary::Rx, q, 0, 0.6});
    } else if (!rewrite.removed[s]) {
      apply(psi, step.gate);
    }
  }
}

State random_state(std::mt19937& rng, std::size_t size) {
  std::normal_distribution<double> normal;
  State psi(size);
  double norm = 0;
  for (Complex& a : psi) {
    a = {normal(rng), normal(rng)};
    norm += std::norm(a);
  }
  for (Complex& a : psi) a /= std::sqrt(norm);
  return psi;
}

struct Shape {
  std::uint32_t qubits;
  int length;
  int boundaries;
  std::uint32_t ancillas;
};

class GadgetsTest : public ::testing::TestWithParam<Shape> {};

TEST_P(GadgetsTest, TheProgramsQubitsEndAsTheProgramLeavesThem) {
  const Shape shape = GetParam();
  std::mt19937 rng(shape.qubits * 100 + shape.length + shape.ancillas);
  int with_gadgets = 0;
  for (int trial = 0; trial < 90; ++trial) {
    const ProgramSteps program = testing::random_program(rng, shape.qubits, shape.length, 45, shape.boundaries);
    RewriteOptions options;
    options.ancillas = shape.ancillas;
    options.every_block = trial % 2 == 0;
    const StepsRewrite rewrite = rewrite_blocks(program, options);
    ASSERT_LE(rewrite.extra_qubits, shape.ancillas);
    if (rewrite.extra_qubits == 0) continue;
    ++with_gadgets;
    if (shape.qubits + rewrite.extra_qubits > 12) continue;
    const std::size_t inputs = std::size_t{1} << shape.qubits;
    const std::size_t total = inputs << rewrite.extra_qubits;
    const Complex phase = std::polar(1.0, -rewrite.phase * std::numbers::pi / 8);
    State extras_seen;
    for (int input = 0; input < 2; ++input) {
      const State in = random_state(rng, inputs);
      State expected = in, written(total, 0);
      run_read(expected, program);
      for (std::size_t i = 0; i < inputs; ++i) written[i] = in[i];
      run_written(written, program, rewrite);
      // written = phase * expected (x) extras, for one state of the extras.
      State extras(total / inputs, 0);
      for (std::size_t k = 0; k < extras.size(); ++k) {
        for (std::size_t i = 0; i < inputs; ++i) extras[k] += std::conj(phase * expected[i]) * written[i + k * inputs];
      }
      double error = 0;
      for (std::size_t k = 0; k < extras.size(); ++k) {
        for (std::size_t i = 0; i < inputs; ++i) {
          error += std::norm(written[i + k * inputs] - phase * expected[i] * extras[k]);
        }
      }
      ASSERT_LT(error, 1e-9) << "trial " << trial << ", input " << input;
      if (input == 0) {
        extras_seen = extras;
      } else {
        for (std::size_t k = 0; k < extras.size(); ++k) {
          ASSERT_LT(std::abs(extras[k] - extras_seen[k]), 1e-6) << "trial " << trial;
        }
      }
    }
  }
  EXPECT_GT(with_gadgets, 0);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GadgetsTest,
                         ::testing::Values(Shape{2, 24, 0, 6}, Shape{3, 30, 0, 8},
                                           Shape{3, 40, 6, 8}, Shape{4, 40, 0, 2},
                                           Shape{4, 50, 4, 1}));

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
TEST(GadgetsEffortTest, ARegionsReductionsChargeTheSharedEffort) {
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
}

// Past the deadline a region is given up whole, with no gate written; with
// no deadline the same region is written with its gadgets.
TEST(GadgetsEffortTest, PastTheDeadlineARegionIsGivenUp) {
  const std::vector<RegionBlock> blocks = z_then_x_region();
  ReductionAllowance late, open;
  late.deadline = Deadline(std::chrono::nanoseconds(0));
  const RegionCircuit given_up = write_region(kRegionQubits, blocks, kRegionQubits, 0, late);
  EXPECT_EQ(given_up.gadgets, 0u);
  EXPECT_TRUE(given_up.ops.empty());
  EXPECT_EQ(late.work, 0u);
  const RegionCircuit written = write_region(kRegionQubits, blocks, kRegionQubits, 0, open);
  EXPECT_GT(written.gadgets, 0u);
  EXPECT_FALSE(written.ops.empty());
}

}  // namespace
}  // namespace kestrel
