// Every library gate expanded, checked against its matrix by definition
// (tests/model/matrices.h), global phase included: the product of its
// elementary gates times e^(i phase pi/8) must be the gate. Angles are
// taken at every multiple of pi/4 (and a few of pi/2 for the controlled
// gates), and the gates that cannot be exact must say so.
#include "src/program/expansion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "tests/model/matrices.h"

namespace kestrel {
namespace {

using model::product;

struct Expanded {
  bool exact = false;
  std::vector<PlacedGate> gates;
  std::uint8_t phase = 0;
};

Expanded expand(QasmGate gate, std::vector<double> params) {
  Expander expander(nullptr);
  Expanded e;
  e.exact = expander.expand({static_cast<std::uint32_t>(gate), false}, params, e.gates, e.phase);
  return e;
}

int t_count(const std::vector<PlacedGate>& gates) {
  int t = 0;
  for (const PlacedGate& g : gates) t += elementary_info(g.gate).t;
  return t;
}

// Checks gate `gate` with `params` against its matrix when it expands.
void check(QasmGate gate, const std::vector<double>& params, bool exact) {
  SCOPED_TRACE(std::string(library_name(gate)) + " with " + std::to_string(params.size()) +
               " parameters, the first " + (params.empty() ? "-" : std::to_string(params[0])));
  const Expanded e = expand(gate, params);
  ASSERT_EQ(e.exact, exact);
  if (!exact) return;
  const std::optional<model::Matrix> m = model::library_matrix(gate, params);
  ASSERT_TRUE(m.has_value());
  EXPECT_TRUE(model::equal_up_to(*m, product(library_info(gate).qubits, e.gates), e.phase));
}

TEST(Expansion, GatesWithoutParametersAreTheirMatrices) {
  const std::pair<QasmGate, int> exact[] = {
      {QasmGate::CX, 0},  {QasmGate::cx, 0},  {QasmGate::id, 0},  {QasmGate::x, 0},
      {QasmGate::y, 0},   {QasmGate::z, 0},   {QasmGate::h, 0},   {QasmGate::s, 0},
      {QasmGate::sdg, 0}, {QasmGate::t, 1},   {QasmGate::tdg, 1}, {QasmGate::sx, 0},
      {QasmGate::sxdg, 0}, {QasmGate::cz, 0}, {QasmGate::cy, 0},  {QasmGate::swap, 0},
      {QasmGate::ch, 2},  {QasmGate::ccx, 7}, {QasmGate::cswap, 7}, {QasmGate::csx, 3},
      {QasmGate::rccx, 4}, {QasmGate::rc3x, 8}};
  for (const auto& [gate, t] : exact) {
    check(gate, {}, true);
    EXPECT_EQ(t_count(expand(gate, {}).gates), t) << library_name(gate);
  }
  // Their matrices need rotations by pi/8: no Clifford+T circuit on their
  // qubits alone is exactly them.
  for (QasmGate gate : {QasmGate::c3x, QasmGate::c3sqrtx, QasmGate::c4x}) check(gate, {}, false);
}

TEST(Expansion, AngleGatesAtEveryMultipleOfAQuarterTurn) {
  const double q = std::numbers::pi / 4;
  for (int k = -17; k <= 17; ++k) {
    const double a = k * q;
    for (QasmGate gate : {QasmGate::u1, QasmGate::p, QasmGate::rz, QasmGate::rx, QasmGate::ry,
                          QasmGate::u0, QasmGate::rzz, QasmGate::rxx}) {
      check(gate, {a}, true);
    }
    check(QasmGate::u2, {a, (k + 3) * q}, true);
    for (QasmGate gate : {QasmGate::U, QasmGate::u3, QasmGate::u}) {
      check(gate, {a, (2 * k + 1) * q, -k * q}, true);
    }
    // Controlled rotations need whole quarter turns of pi/2.
    const bool half = k % 2 == 0;
    for (QasmGate gate : {QasmGate::cu1, QasmGate::cp, QasmGate::crz, QasmGate::crx, QasmGate::cry}) {
      check(gate, {a}, half);
    }
    check(QasmGate::cu3, {2 * a, 2 * q, 2 * (k + 1) * q}, true);
    check(QasmGate::cu, {2 * a, 0, 2 * q, a}, true);
  }
  // rz(pi/4) is e^(-i pi/8) T.
  const Expanded t = expand(QasmGate::rz, {q});
  ASSERT_EQ(t.gates.size(), 1u);
  EXPECT_EQ(t.gates[0].gate, Elementary::T);
  EXPECT_EQ(t.phase, 15);
}

TEST(Expansion, AnglesOffAQuarterTurnAreNoCliffordT) {
  const double q = std::numbers::pi / 4;
  for (double a : {0.3, q + 1e-6, q - 1e-8, 1e7 * q, std::nan(""), HUGE_VAL}) {
    for (QasmGate gate : {QasmGate::u1, QasmGate::rz, QasmGate::rx, QasmGate::ry, QasmGate::rzz}) {
      check(gate, {a}, false);
    }
    check(QasmGate::U, {q, 0, a}, false);
    check(QasmGate::u2, {a, 0}, false);
  }
  // u0's angle is a duration, not a rotation.
  check(QasmGate::u0, {0.3}, true);
}

}  // namespace
}  // namespace kestrel
