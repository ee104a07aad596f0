// Every library gate expanded, checked against its matrix by definition
// (tests/model/matrices.h), global phase included: the product of its
// elementary gates times e^(i (eighths pi/8 + radians)) must be the gate.
// Without rotations angles are taken at every multiple of pi/4 (and a few
// of pi/2 for the controlled gates), and the gates that cannot be exact
// must say so; with rotations every gate with parameters reads, with the
// fewest rotations.
#include "src/program/expansion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "tests/model/matrices.h"

namespace kestrel {
namespace {

struct Expanded {
  bool exact = false;
  std::vector<PlacedGate> gates;
  Phase phase;
};

Expanded expand(QasmGate gate, const std::vector<double>& params, bool rotations = false) {
  Expander expander(nullptr, rotations);
  Expanded e;
  const GateRef ref{static_cast<std::uint32_t>(gate), false};
  if (rotations) {
    e.exact = expander.expand(ref, params, e.gates, e.phase);
  } else {
    e.exact = expander.expand(ref, params, e.gates, e.phase.eighths);
  }
  return e;
}

// Checks gate `gate` with `params` against its matrix when it expands.
Expanded check(QasmGate gate, const std::vector<double>& params, bool exact, bool rotations = false) {
  SCOPED_TRACE(std::string(library_name(gate)) + " with " + std::to_string(params.size()) +
               " parameters, the first " + (params.empty() ? "-" : std::to_string(params[0])));
  const Expanded e = expand(gate, params, rotations);
  EXPECT_EQ(e.exact, exact);
  if (!e.exact) return e;
  const std::optional<model::Matrix> m = model::library_matrix(gate, params);
  EXPECT_TRUE(m.has_value());
  const model::Matrix read = model::scaled(std::polar(1.0, e.phase.radians),
                                           model::product(library_info(gate).qubits, e.gates));
  EXPECT_TRUE(m && model::equal_up_to(*m, read, e.phase.eighths));
  return e;
}

int count(const std::vector<PlacedGate>& gates, bool (*pick)(const PlacedGate&)) {
  int n = 0;
  for (const PlacedGate& g : gates) n += pick(g);
  return n;
}
bool is_t(const PlacedGate& g) { return elementary_info(g.gate).t; }
bool rotates(const PlacedGate& g) { return is_rotation(g.gate); }

TEST(Expansion, GatesWithoutParametersAreTheirMatrices) {
  const std::pair<QasmGate, int> exact[] = {
      {QasmGate::CX, 0},  {QasmGate::cx, 0},  {QasmGate::id, 0},  {QasmGate::x, 0},
      {QasmGate::y, 0},   {QasmGate::z, 0},   {QasmGate::h, 0},   {QasmGate::s, 0},
      {QasmGate::sdg, 0}, {QasmGate::t, 1},   {QasmGate::tdg, 1}, {QasmGate::sx, 0},
      {QasmGate::sxdg, 0}, {QasmGate::cz, 0}, {QasmGate::cy, 0},  {QasmGate::swap, 0},
      {QasmGate::ch, 2},  {QasmGate::ccx, 7}, {QasmGate::cswap, 7}, {QasmGate::csx, 3},
      {QasmGate::rccx, 4}, {QasmGate::rc3x, 8}};
  for (const auto& [gate, t] : exact) {
    EXPECT_EQ(count(check(gate, {}, true).gates, is_t), t) << library_name(gate);
  }
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
  EXPECT_EQ(t.phase.eighths, 15);
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

TEST(Expansion, WithRotationsEveryGateWithParametersReads) {
  const double pi = std::numbers::pi;
  const struct {
    QasmGate gate;
    std::vector<double> params;
    int rotations;  // rz, rx and ry gates in the expansion
  } cases[] = {
      {QasmGate::rz, {0.3}, 1},  {QasmGate::rx, {-1.1}, 1}, {QasmGate::ry, {2.5}, 1},
      {QasmGate::p, {0.3}, 1},   {QasmGate::u1, {-7.2}, 1}, {QasmGate::u3, {0.3, 0.2, 0.1}, 3},
      {QasmGate::u3, {0.3, pi / 2, -pi / 4}, 1},  // the rz by multiples of pi/4 are Clifford+T
      {QasmGate::u3, {pi / 2, 0.7, pi}, 1},       {QasmGate::U, {1.0, 2.0, 3.0}, 3},
      {QasmGate::u, {-1.0, 0.5, 0.25}, 3},        {QasmGate::u2, {0.4, 0.9}, 2},
      {QasmGate::u2, {pi / 4, 0.9}, 1},           {QasmGate::crz, {0.3}, 2},
      {QasmGate::crx, {0.3}, 2},  {QasmGate::cry, {0.3}, 2},  {QasmGate::cp, {0.3}, 3},
      {QasmGate::cu1, {-0.3}, 3}, {QasmGate::rzz, {0.3}, 1},  {QasmGate::rxx, {0.3}, 1},
      {QasmGate::cu3, {0.3, 0.2, 0.1}, 6},        {QasmGate::cu, {0.3, 0.2, 0.1, 0.4}, 7},
      {QasmGate::c3x, {}, 15},    {QasmGate::c3sqrtx, {}, 21}, {QasmGate::c4x, {}, 30 + 21},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(count(check(c.gate, c.params, true, true).gates, rotates), c.rotations) << library_name(c.gate);
    // Without rotations the same gate is no Clifford+T gate.
    EXPECT_FALSE(expand(c.gate, c.params).exact) << library_name(c.gate);
  }
  // Angles that are no finite number leave the gate unread.
  for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    EXPECT_FALSE(expand(QasmGate::rz, {bad}, true).exact);
    EXPECT_FALSE(expand(QasmGate::u3, {0.3, bad, 0.1}, true).exact);
    EXPECT_FALSE(expand(QasmGate::cp, {bad}, true).exact);
  }
}

}  // namespace
}  // namespace kestrel
