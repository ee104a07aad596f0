// A gate application expanded into elementary gates, exactly, or found not
// to be Clifford+T.
//
// Library gates come in three kinds. The elementary ones (h, s, sdg, t,
// tdg, x, y, z, cx, CX, cz, swap, and id, which is no gate) are themselves.
// The angle gates are exactly Clifford+T when every angle is a multiple
// k pi/4 of pi/4 (within 1e-9 of k, for |k| up to 2^20):
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
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/program/definitions.h"

namespace kestrel {

// Most gates one application may expand to; a larger one is read as not
// Clifford+T.
inline constexpr std::size_t kMaxExpansion = std::size_t{1} << 16;

// The k in 0..15 with `angle` = k pi/4 modulo 4 pi, within the tolerance
// above; nothing for any other angle (NaN and infinities too).
std::optional<std::uint8_t> quarter_turns(double angle);

class Expander {
 public:
  // `program` holds the program's own definitions (null for none); it must
  // outlive the expander.
  explicit Expander(const Definitions* program) : program_(program) {}
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
  std::vector<Frame> frames_;          // the bodies being expanded, outermost first
  std::vector<double> values_;         // the frames' parameter values
  std::vector<std::uint32_t> operands_;  // the frames' qubit operands, as the outer gate's
  std::vector<double> stack_;          // expression evaluation
};

}  // namespace kestrel
