// Every library gate with parameters read with rotations of any angle,
// checked against its matrix by definition (tests/model/matrices.h) with
// the exact global phase: the product of its gates, rz, rx and ry among
// them, times e^(i (eighths pi/8 + radians)) must be the gate.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "src/program/expansion.h"
#include "tests/model/matrices.h"

namespace kestrel {
namespace {

using model::product;

struct Case {
  QasmGate gate;
  std::vector<double> params;
  int rotations;  // rz, rx and ry gates in the expansion
};

TEST(RotationReading, EveryGateWithParametersIsItsRotationsWithItsPhase) {
  const double pi = std::numbers::pi;
  const std::vector<Case> cases = {
      {QasmGate::rz, {0.3}, 1},
      {QasmGate::rx, {-1.1}, 1},
      {QasmGate::ry, {2.5}, 1},
      {QasmGate::p, {0.3}, 1},
      {QasmGate::u1, {-7.2}, 1},
      {QasmGate::u3, {0.3, 0.2, 0.1}, 3},
      {QasmGate::u3, {0.3, pi / 2, -pi / 4}, 1},  // the rz by multiples of pi/4 are Clifford+T
      {QasmGate::u3, {pi / 2, 0.7, pi}, 1},
      {QasmGate::U, {1.0, 2.0, 3.0}, 3},
      {QasmGate::u, {-1.0, 0.5, 0.25}, 3},
      {QasmGate::u2, {0.4, 0.9}, 2},
      {QasmGate::u2, {pi / 4, 0.9}, 1},
      {QasmGate::crz, {0.3}, 2},
      {QasmGate::crx, {0.3}, 2},
      {QasmGate::cry, {0.3}, 2},
      {QasmGate::cp, {0.3}, 3},
      {QasmGate::cu1, {-0.3}, 3},
      {QasmGate::rzz, {0.3}, 1},
      {QasmGate::rxx, {0.3}, 1},
      {QasmGate::cu3, {0.3, 0.2, 0.1}, 6},
      {QasmGate::cu, {0.3, 0.2, 0.1, 0.4}, 7},
      {QasmGate::c3x, {}, 15},
      {QasmGate::c3sqrtx, {}, 21},
      {QasmGate::c4x, {}, 30 + 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(library_name(c.gate)) + " first angle " +
                 (c.params.empty() ? "-" : std::to_string(c.params[0])));
    Expander expander(nullptr, true);
    std::vector<PlacedGate> gates;
    Phase phase;
    ASSERT_TRUE(expander.expand({static_cast<std::uint32_t>(c.gate), false}, c.params, gates, phase));
    int rotations = 0;
    for (const PlacedGate& g : gates) rotations += is_rotation(g.gate);
    EXPECT_EQ(rotations, c.rotations);
    const std::optional<model::Matrix> m = model::library_matrix(c.gate, c.params);
    ASSERT_TRUE(m.has_value());
    const model::Matrix read = model::scaled(std::polar(1.0, phase.radians),
                                             product(library_info(c.gate).qubits, gates));
    EXPECT_TRUE(model::equal_up_to(*m, read, phase.eighths));
    // Without rotations the same gate is no Clifford+T gate.
    Expander exact(nullptr);
    std::vector<PlacedGate> none;
    std::uint8_t eighths = 0;
    EXPECT_FALSE(exact.expand({static_cast<std::uint32_t>(c.gate), false}, c.params, none, eighths));
  }
}

TEST(RotationReading, AnglesThatAreNoFiniteNumberLeaveTheGateUnread) {
  for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    Expander expander(nullptr, true);
    std::vector<PlacedGate> gates;
    Phase phase;
    const std::vector<double> one = {bad}, three = {0.3, bad, 0.1};
    EXPECT_FALSE(expander.expand({static_cast<std::uint32_t>(QasmGate::rz), false}, one, gates, phase));
    EXPECT_FALSE(expander.expand({static_cast<std::uint32_t>(QasmGate::u3), false}, three, gates, phase));
    EXPECT_FALSE(expander.expand({static_cast<std::uint32_t>(QasmGate::cp), false}, one, gates, phase));
  }
}

}  // namespace
}  // namespace kestrel
