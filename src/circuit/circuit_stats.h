// The statistics of a circuit: T count, gate count, depth, and for whole
// programs the rotations of any angle.
//
// `CircuitStats::add` counts gate applications, so that every reader and
// method counts gates the same way: `add(OpKind::T)` adds one gate and one T
// gate; `add(OpKind::I)` one gate that is not a T gate (a statement of a gate
// outside the language). Depth is the caller's: a wire read as
// one gate list has depth equal to its gate count (`wire_stats`), a whole
// program counts levels per bit (src/program/program_stats.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/language.h"
#include "src/circuit/angle.h"
#include "src/circuit/elementary.h"
#include "src/circuit/op.h"

namespace kestrel {

struct CircuitStats {
  std::uint64_t t = 0;      // T and Tdg gates
  std::uint64_t gates = 0;  // gates other than I
  std::uint64_t depth = 0;  // levels of gates (for one wire, its gate count)
  std::uint64_t rotations = 0;  // rotations whose angle is no multiple of pi/4 (whole programs)

  // Counts one application of `gate`.
  constexpr void add(OpKind gate) {
    gates += 1;
    t += is_t(gate);
  }
  constexpr void add(Elementary gate) {
    gates += 1;
    t += elementary_info(gate).t;
  }
  // A placed gate: a rotation by an odd multiple of pi/4 (within
  // kAngleTolerance) is a T gate, by no multiple of pi/4 a rotation.
  void add(const PlacedGate& gate) {
    add(gate.gate);
    if (!is_rotation(gate.gate)) return;
    const std::optional<std::uint8_t> k = quarter_turns(gate.angle);
    t += k && *k % 2 == 1;
    rotations += !k;
  }
  bool operator==(const CircuitStats&) const = default;
};

// The statistics of a gate list on one wire: `depth` is its gate count, for
// `Par` too. `I` entries are no gates.
CircuitStats wire_stats(const RecExpr<Op>& expr);
CircuitStats wire_stats(std::span<const OpKind> gates);

}  // namespace kestrel
