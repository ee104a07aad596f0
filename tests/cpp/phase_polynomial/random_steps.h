// Random programs as the phase-polynomial method's steps see them: Clifford
// gates, T gates and boundaries on one or two qubits, for the tests that
// replay a rewrite of their blocks.
#pragma once

#include <cstdint>
#include <iterator>
#include <random>

#include "src/phase_polynomial/program_steps.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel::testing {

// `length` steps on `qubits` qubits (at least two): a T gate (or T-dagger)
// `t_percent` of the time, a boundary `boundary_percent`, else a Clifford.
inline ProgramSteps random_program(std::mt19937& rng, std::uint32_t qubits, int length, int t_percent,
                            int boundary_percent) {
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
      const Elementary g = kCliffordGates[rng() % std::size(kCliffordGates)];
      step.gate = {g, a, elementary_info(g).qubits == 2 ? b : 0};
    }
    program.steps.push_back(step);
  }
  return program;
}

}  // namespace kestrel::testing
