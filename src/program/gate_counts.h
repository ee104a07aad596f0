// What one gate application holds once every gate in it is seen through:
// the T gates and two-qubit gates the statistics of whole programs count
// (src/program/program_stats.h), for every method alike.
//
// A gate counts by the gates of its expansion (src/program/expansion.h): a
// ccx is the seven T gates and six cx of its body, a gate the program defines
// is its body with its parameter values put in, at any depth. A T gate is t,
// tdg, or a rotation by an odd multiple of pi/4 (as `quarter_turns` reads an
// angle); an angle gate whose angles are all multiples of pi/4 counts as its
// exact expansion (U(0,pi/4,pi/4) is S, no T gate), any other per angle, each
// odd multiple of pi/4 one T gate and every other angle a rotation (a
// rotation of any angle, counted in `rotations`). A two-qubit gate is cx,
// CX, cz or swap; an opaque gate on two or more qubits is one. So
//
//   ccx q[0],q[1],q[2];  rz(pi/4) q[0];  rz(0.3) q[1];  c3x q[0],q[1],q[2],q[3];
//
// count 7, 1, 0 and 0 T gates, 0, 0, 1 and 15 rotations (c3x's are by
// pi/8) and 6, 0, 0 and 14 two-qubit gates, and a program written with ccx
// counts as its expanded text does. This is the one place where a gate's content is counted: a new
// figure (rotations, say) is a field of `GateCounts` and a line where the
// leaves are counted.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "src/program/definitions.h"
#include "src/program/program.h"

namespace kestrel {

// a + b, or the largest count where that passes 64 bits: nested definitions
// can multiply counts past them.
constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > ~std::uint64_t{0} - b ? ~std::uint64_t{0} : a + b;
}

struct GateCounts {
  std::uint64_t t = 0;          // T gates
  std::uint64_t two_qubit = 0;  // gates on two qubits
  std::uint64_t rotations = 0;  // rotations by angles that are no multiple of pi/4

  // Adds `other`, saturating.
  GateCounts& operator+=(const GateCounts& other) {
    t = saturating_add(t, other.t);
    two_qubit = saturating_add(two_qubit, other.two_qubit);
    rotations = saturating_add(rotations, other.rotations);
    return *this;
  }
  bool operator==(const GateCounts&) const = default;
};

// Most body calls one program's counting walks: past them a statement
// counts as the gate it names alone, so no input makes the work unbounded.
inline constexpr std::uint64_t kMaxCountedCalls = std::uint64_t{1} << 24;

class GateCounter {
 public:
  // `program` must outlive the counter.
  explicit GateCounter(const QasmProgram& program);
  ~GateCounter();
  GateCounter(const GateCounter&) = delete;
  GateCounter& operator=(const GateCounter&) = delete;

  // One instance of gate statement `s` (StatementKind::Gate or RunGate),
  // whatever its condition.
  GateCounts statement(std::uint32_t s);

  // One application of `gate` with parameter values `params`, the gates
  // the program defines in `program` (null for none).
  GateCounts gate(const Definitions* program, GateRef gate, std::span<const double> params);

 private:
  class Walk;
  std::unique_ptr<Walk> walk_;
};

}  // namespace kestrel
