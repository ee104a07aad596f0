// Small programs for the rotation merger's tests: operations named as in
// OpenQASM ("h", "cx", "t", "rz", ...) plus "b" for a boundary, fed to a
// RotationMerger, and replayed on dense matrices beside their written form.
//
// parse("t 0; cx 1 0; b 0 1") gives a T on qubit 0, a CNOT with control 1,
// and a boundary on qubits 0 and 1; a rotation's angle is set in code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/rotation_merging/merger.h"
#include "tests/cpp/pauli/dense.h"

namespace kestrel::testing {

struct Operation {
  std::string name;                  // an elementary gate's name, or "b"
  std::vector<std::uint32_t> qubits;  // its operands
  double angle = 0;                  // a rotation's angle
};

inline std::vector<Operation> parse(const std::string& text) {
  std::vector<Operation> out;
  std::istringstream statements(text);
  std::string statement;
  while (std::getline(statements, statement, ';')) {
    std::istringstream words(statement);
    Operation op;
    if (!(words >> op.name)) continue;
    for (std::uint32_t q; words >> q;) op.qubits.push_back(q);
    out.push_back(op);
  }
  return out;
}

// The gate table's row named `name`; a test failure when there is none.
inline Elementary gate_named(const std::string& name) {
  for (std::size_t k = 0; k < kElementary.size(); ++k) {
    if (kElementary[k].qasm_name == name) return static_cast<Elementary>(k);
  }
  ADD_FAILURE() << "no gate " << name;
  return Elementary::H;
}

inline bool is_rotation(const std::string& name) {
  return name == "t" || name == "tdg" || name[0] == 'r';
}

// `stride` spreads the qubits, to put the program on a wide register.
inline MergeResult merge(std::uint32_t qubits, const std::vector<Operation>& program,
                         std::uint32_t stride = 1) {
  RotationMerger merger(qubits);
  for (const Operation& op : program) {
    std::vector<std::uint32_t> on;
    for (std::uint32_t q : op.qubits) on.push_back(q * stride);
    if (op.name == "t" || op.name == "tdg") {
      merger.rotation(on[0], op.name == "tdg");
    } else if (op.name[0] == 'r') {
      const Elementary g = gate_named(op.name);
      merger.rotation(on[0], g == Elementary::Rx   ? RotationAxis::X
                             : g == Elementary::Ry ? RotationAxis::Y
                                                   : RotationAxis::Z, op.angle);
    } else if (op.name == "b") {
      merger.boundary(on);
    } else {
      merger.clifford(gate_named(op.name), on[0], on.size() > 1 ? on[1] : 0);
    }
  }
  return merger.finish();
}

// A boundary on `qubits`: gates no Clifford frame follows.
inline void apply_boundary(Dense& d, const std::vector<std::uint32_t>& qubits) {
  if (qubits.size() >= 2) d.apply(model::controlled(1, gate_rx(0.9)), std::vector{qubits[0], qubits[1]});
  for (std::uint32_t q : qubits) d.apply(gate_rx(0.37 + q), q);
}

// What a rotation written as `w` does about the axis of `name` on qubit q:
// the phase gate diag(1, e^(i w pi/4)), one rotation by `angle`
// (kRotation), or nothing (kMerged).
inline void apply_written(Dense& d, const std::string& name, std::int8_t w, double angle, int q) {
  constexpr double kPi = std::numbers::pi;
  if (w == MergeResult::kMerged) return;
  const std::string axis = name[0] == 'r' ? name : "rz";
  if (w == MergeResult::kRotation) {
    apply_elementary(d, gate_named(axis), q, 0, angle);
    return;
  }
  // diag(1, e^(i w pi/4)) about the axis: h around it for X, sdg h .. h s for Y.
  if (axis == "ry") d.apply(phase_gate(-kPi / 2), q);
  if (axis != "rz") d.apply(gate_h(), q);
  d.apply(phase_gate(w * kPi / 4), q);
  if (axis != "rz") d.apply(gate_h(), q);
  if (axis == "ry") d.apply(phase_gate(kPi / 2), q);
}

// What random programs draw from: T gates among Clifford gates and
// boundaries, and the same with rotations of any angle about X, Y and Z.
inline constexpr const char* kTGateDraws[] = {"h", "s", "sdg", "x", "y", "z", "cx", "cz",
                                              "swap", "t", "t", "tdg", "t", "tdg", "b"};
inline constexpr const char* kAngleDraws[] = {"h", "s", "sdg", "x", "y", "z", "cx", "cz", "swap",
                                              "t", "tdg", "rz", "rz", "rx", "ry", "rz", "b"};

// A seeded program of `length` draws from `names` on `qubits` qubits: a
// boundary is kept one draw in `boundary_odds` and takes a second qubit half
// the time when `pair_boundaries`; rotations take an angle from a few, some
// summing to multiples of pi/4, so that groups land on T, Clifford and
// nothing as well as on new angles.
inline std::vector<Operation> random_program(std::mt19937& rng, std::uint32_t qubits, int length,
                                             std::span<const char* const> names,
                                             unsigned boundary_odds, bool pair_boundaries) {
  constexpr double kPi = std::numbers::pi;
  const double angles[] = {0.3, -0.3, kPi / 8, -kPi / 8, kPi / 4 - 0.3, 1.1, kPi / 16};
  std::vector<Operation> program;
  for (int k = 0; k < length; ++k) {
    Operation op{names[rng() % names.size()], {}};
    const bool pair = op.name == "cx" || op.name == "cz" || op.name == "swap";
    if (pair && qubits < 2) continue;
    if (op.name == "b" && rng() % boundary_odds != 0) continue;
    const std::uint32_t a = rng() % qubits;
    op.qubits.push_back(a);
    if (pair) op.qubits.push_back((a + 1 + rng() % (qubits - 1)) % qubits);
    if (op.name == "b" && pair_boundaries && qubits > 1 && rng() % 2) {
      op.qubits.push_back((a + 1) % qubits);
    }
    if (op.name[0] == 'r') op.angle = angles[rng() % std::size(angles)];
    program.push_back(op);
  }
  return program;
}

// Whether `program` equals its written form `result` times the phase, as
// dense matrices; counts the merged rotations, and the rotations of any
// angle written as phase gates, into `merged` and `landed`.
inline bool equals_its_written_form(std::uint32_t qubits, const std::vector<Operation>& program,
                                    const MergeResult& result, int& merged, int& landed) {
  Dense in(static_cast<int>(qubits)), out(static_cast<int>(qubits));
  std::size_t rotation = 0;
  for (const Operation& op : program) {
    const int a = static_cast<int>(op.qubits[0]);
    const int b = op.qubits.size() > 1 ? static_cast<int>(op.qubits[1]) : 0;
    if (op.name == "b") {
      apply_boundary(in, op.qubits);
      apply_boundary(out, op.qubits);
      continue;
    }
    apply_elementary(in, gate_named(op.name), a, b, op.angle);
    if (!is_rotation(op.name)) {
      apply_elementary(out, gate_named(op.name), a, b);
      continue;
    }
    if (rotation >= result.written.size()) return false;
    const std::int8_t w = result.written[rotation];
    merged += w == MergeResult::kMerged;
    landed += op.name[0] == 'r' && w != MergeResult::kMerged && w != MergeResult::kRotation;
    apply_written(out, op.name, w, result.angles.at(rotation), a);
    ++rotation;
  }
  return rotation == result.written.size() && result.phase < 16 &&
         in.equals(out, result.phase * std::numbers::pi / 8);
}

}  // namespace kestrel::testing
