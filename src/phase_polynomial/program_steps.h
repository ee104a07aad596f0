// A whole program as the phase-polynomial method reads it: a sequence of
// steps, each a Clifford gate, a T or T-dagger gate (a rotation), or a
// boundary (a statement the method does not see through, on the qubits it
// names), each remembering the statement it came from.
//
// For `t q[0]; cx q[0],q[1]; measure q[1] -> c[0]; tdg q[1];` the steps are
// Rotation T on 0 (statement 0), Clifford CX 0 1 (statement 1), Boundary
// on {1} (statement 2) and Rotation Tdg on 1 (statement 3). A statement
// that stands for several gates (a broadcast, or a replacement some earlier
// pass wrote) gives one step per gate, numbered by `position`.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "src/circuit/elementary.h"

namespace kestrel {

enum class StepKind : std::uint8_t {
  Clifford,  // a Clifford gate: `gate`
  Rotation,  // a T or T-dagger gate: `gate`
  Boundary,  // a statement not seen through, on `qubit_count` qubits
};

struct Step {
  StepKind kind;            // what it is
  PlacedGate gate;          // for a Clifford gate or a rotation
  std::uint32_t statement;  // the statement it comes from
  std::uint32_t position;   // its place among that statement's gates; 0 for a boundary
  std::uint32_t first;      // a boundary's qubits start here in `ProgramSteps::boundary_qubits`
  std::uint32_t count;      // a boundary's number of qubits
};
static_assert(std::is_trivially_copyable_v<Step>);

struct ProgramSteps {
  std::uint32_t qubits = 0;                    // qubits of the program
  std::vector<Step> steps;                     // in program order
  std::vector<std::uint32_t> boundary_qubits;  // the boundaries' qubits, in order

  std::span<const std::uint32_t> qubits_of(const Step& step) const {
    return {boundary_qubits.data() + step.first, step.count};
  }
};

}  // namespace kestrel
