// Tests of the global phase between gate sequences: a table of identities
// whose phases are known exactly, a long product checked against the same
// identities appended, and the faults for sequences that differ by more.
#include "src/circuit/global_phase.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
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

struct PhaseCase {
  std::string_view name;
  std::vector<OpKind> before;
  std::vector<OpKind> after;
  int phase;  // before = e^(i phase pi/8) after
};

TEST(GlobalPhase, KnownIdentities) {
  const PhaseCase cases[] = {
      {"T T = S exactly", {T, T}, {S}, 0},
      {"H Z H = X exactly", {H, Z, H}, {X}, 0},
      {"S S = Z exactly", {S, S}, {Z}, 0},
      {"Z X = -X Z", {X, Z}, {Z, X}, 8},
      {"(S H)^3 = e^(i pi/4)", {H, S, H, S, H, S}, {}, 2},
      {"Sdg Tdg = T^5 exactly", {Sdg, Tdg}, {T, T, T, T, T}, 0},
      {"X Z X Z = -I", {X, Z, X, Z}, {}, 8},
      {"H S Sdg H = I, identity gates ignored", {H, I, S, Sdg, H}, {I}, 0},
  };
  for (const PhaseCase& c : cases) {
    EXPECT_EQ(phase_between(product(c.before), product(c.after)), c.phase) << c.name;
    // And back the other way: the opposite phase.
    EXPECT_EQ(phase_between(product(c.after), product(c.before)), (16 - c.phase) % 16) << c.name;
  }
}

// A long random product against itself followed by identities of known
// phase: the rounding stays exact however long the product.
TEST(GlobalPhase, LongProducts) {
  std::mt19937 random(7);
  const OpKind gates[] = {H, S, Sdg, T, Tdg, X, Z};
  std::vector<OpKind> run;
  for (int k = 0; k < 1'000'000; ++k) run.push_back(gates[random() % std::size(gates)]);
  std::vector<OpKind> longer = run;
  // Three times (S H)^3 (e^(3 i pi/4)) and X Z X Z (-1).
  for (int k = 0; k < 3; ++k) longer.insert(longer.end(), {H, S, H, S, H, S});
  longer.insert(longer.end(), {X, Z, X, Z});
  EXPECT_EQ(phase_between(product(longer), product(run)), 14);
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
