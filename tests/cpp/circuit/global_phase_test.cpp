// Tests of the global phase between gate sequences: a long product checked
// against identities of known phase appended, and the faults for sequences
// that differ by more. (The phase the pipeline reports from it is held to
// Qiskit's Operator on random runs and programs by test_qiskit.py.)
#include "src/circuit/global_phase.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

using enum OpKind;

GateProduct product(const std::vector<OpKind>& gates) {
  GateProduct p;
  for (OpKind g : gates) p.add(g);
  return p;
}

// A long random product against itself followed by identities of known
// phase, both ways: the rounding stays exact however long the product, and
// identity gates count for nothing.
TEST(GlobalPhase, LongProducts) {
  std::mt19937 random(7);
  const OpKind gates[] = {H, S, Sdg, T, Tdg, X, Z, I};
  std::vector<OpKind> run;
  for (int k = 0; k < 1'000'000; ++k) run.push_back(gates[random() % std::size(gates)]);
  std::vector<OpKind> longer = run;
  // Three times (S H)^3 (e^(3 i pi/4)) and X Z X Z (-1).
  for (int k = 0; k < 3; ++k) longer.insert(longer.end(), {H, S, H, S, H, S});
  longer.insert(longer.end(), {X, Z, X, Z});
  EXPECT_EQ(phase_between(product(longer), product(run)), 14);
  EXPECT_EQ(phase_between(product(run), product(longer)), 2);
  EXPECT_EQ(phase_between(product(run), product(run)), 0);
}

TEST(GlobalPhase, FaultsOnMoreThanAPhase) {
  const std::vector<OpKind> pairs[][2] = {
      {{T}, {S}}, {{H}, {X}}, {{X}, {Z}}, {{T}, {Tdg}}, {{H, T, H}, {T}},
  };
  for (const auto& pair : pairs) {
    EXPECT_THROW(phase_between(product(pair[0]), product(pair[1])), Fault);
  }
  GateProduct p;
  EXPECT_THROW(p.add(CNOT), Fault);
  EXPECT_THROW(p.add(Seq), Fault);
  EXPECT_THROW(p.add(RZ1), Fault);
}

}  // namespace
}  // namespace kestrel
