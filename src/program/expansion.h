// A gate application expanded into elementary gates, exactly, or found not
// to be Clifford+T.
//
// Library gates come in three kinds. The elementary ones (h, s, sdg, t,
// tdg, x, y, z, cx, CX, cz, swap, and id, which is no gate) are themselves.
// The angle gates are exactly Clifford+T when every angle is a multiple
// k pi/4 of pi/4 (within kAngleTolerance, 1e-9 rad, for |k| up to 2^20;
// src/circuit/angle.h):
//
//   p(k pi/4) = u1(k pi/4) = the phase gates for r = k (t, s, s t, z, ...)
//   rz(t)     = e^(-i t/2) p(t)               rx(t) = H rz(t) H
//   ry(t)     = S H rz(t) H S^-1, or for even k the shorter H Z, X Z, Z H
//               (times -1 past a whole turn)
//   U(t, f, l) = u3 = u = p(f) ry(t) p(l), the phase gates at the ends of
//               ry's form merged into p(f) and p(l)    u2(f, l) = U(pi/2, f, l)
//
// and u0 is no gate whatever its angle. Every other gate, the library's
// composite ones (src/program/definitions.h) and the program's own, is its
// body with the parameters substituted, times the body's phase, expanded
// again down to the first two kinds with an explicit stack.
//
// For `ccx` on operands 0, 1, 2 the expansion is the fifteen gates of its
// body on those operands with phase 0; for `rz(pi/4)` it is [T] with phase
// 15 (rz(pi/4) = e^(-i pi/8) T); `rz(pi/4+1e-6)`, `c3x`, an opaque gate or a
// definition whose body holds a barrier is not Clifford+T.
//
// An expander made `with_rotations` reads every finite angle besides: an
// angle gate whose angle is no multiple of pi/4 becomes the rotations of its
// form, with its phase in radians:
//
//   p(t) = u1(t) = e^(i t/2) rz(t)      rz(t), rx(t), ry(t) themselves
//   U(t, f, l) = u3 = u = e^(i (f + l)/2) rz(f) ry(t) rz(l)    (rz(l) first)
//
// each angle among them that is a multiple of pi/4 still written as its
// Clifford+T gates, so `c3x` is the rotations by pi/8 of its body and
// `u3(0.3, pi/2, 0)` is ry(0.3), s with phase e^(i pi/4) overall. An angle
// that is not finite leaves the gate unread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/angle.h"
#include "src/circuit/elementary.h"
#include "src/program/definitions.h"

namespace kestrel {

// Most gates one application may expand to; a larger one is read as not
// Clifford+T.
inline constexpr std::size_t kMaxExpansion = std::size_t{1} << 16;

class Expander {
 public:
  // `program` holds the program's own definitions (null for none); it must
  // outlive the expander. With `exact_angles`, an angle is a multiple of
  // pi/4 only to a double's precision (exact_quarter_turns), as with
  // rotations: nothing within kAngleTolerance of one is rounded to it.
  explicit Expander(const Definitions* program, bool with_rotations = false,
                    bool exact_angles = false)
      : program_(program), rotations_(with_rotations), exact_(exact_angles) {}
  Expander(const Expander&) = delete;
  Expander& operator=(const Expander&) = delete;

  // Appends the gates of `gate` applied with parameter values `params` to
  // `out`, each on operand positions (a and b count the gate's qubit
  // arguments from 0), adds the global phase e^(i phase pi/8) by which the
  // gate differs from them to `phase` (mod 16), and returns true. Returns
  // false when the gate is not exactly Clifford+T; `out` and `phase` then
  // hold what was expanded so far.
  bool expand(GateRef gate, std::span<const double> params, std::vector<PlacedGate>& out,
              std::uint8_t& phase);
  // The same, the phase added to `phase` with its part in radians; the
  // expansion of an expander made with rotations.
  bool expand(GateRef gate, std::span<const double> params, std::vector<PlacedGate>& out,
              Phase& phase);

 private:
  // A body being expanded: its definitions, its gate there, the next of
  // its calls, and where its parameter values and qubit operands start.
  struct Frame {
    const Definitions* definitions;
    std::uint32_t gate;
    std::uint32_t next_call;
    std::uint32_t values_at;
    std::uint32_t operands_at;
  };

  bool enter(const Definitions* definitions, GateRef gate, std::uint32_t values_at,
             std::uint32_t operands_at, std::vector<PlacedGate>& out, int& phase);
  bool leaf(QasmGate gate, std::uint32_t values_at, std::uint32_t operands_at,
            std::vector<PlacedGate>& out, int& phase);

  const Definitions* program_;         // the program's definitions, or null
  bool rotations_;                     // whether angles of any size are read
  bool exact_;                         // whether a multiple of pi/4 must be one exactly
  double radians_ = 0;                 // the phase in radians of the expansion at hand
  std::vector<Frame> frames_;          // the bodies being expanded, outermost first
  std::vector<double> values_;         // the frames' parameter values
  std::vector<std::uint32_t> operands_;  // the frames' qubit operands, as the outer gate's
  std::vector<double> stack_;          // expression evaluation
};

}  // namespace kestrel
