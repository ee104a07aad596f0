// The gates the whole-program methods read and write: Clifford+T gates on
// one or two qubits of a program, each placed on its qubits.
//
// Where `Op` (src/circuit/op.h) is a node of a one-wire circuit expression,
// an `Elementary` gate names what a whole-program method sees once a
// statement is resolved to its instances: `cx q[1],q[0];` is
// {Elementary::CX, 1, 0} (control first), `t q[2];` is {Elementary::T, 2, 0}.
// `kElementary` says, per gate, how it is written in OpenQASM 2.0, how many
// qubits it takes and whether it is a T or T-dagger gate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace kestrel {

enum class Elementary : std::uint8_t {
  H,     // Hadamard
  S,     // phase gate, diag(1, i)
  Sdg,   // S-dagger
  T,     // diag(1, e^(i pi/4))
  Tdg,   // T-dagger
  X,     // Pauli X
  Y,     // Pauli Y
  Z,     // Pauli Z
  CX,    // controlled NOT, first qubit the control
  CZ,    // controlled Z
  Swap,  // exchanges two qubits
};

struct ElementaryInfo {
  std::string_view qasm_name;  // as written in OpenQASM 2.0 with qelib1.inc
  std::uint8_t qubits;         // 1 or 2
  bool t;                      // a T or T-dagger gate
};

inline constexpr std::array<ElementaryInfo, 11> kElementary = {{
    {"h", 1, false},
    {"s", 1, false},
    {"sdg", 1, false},
    {"t", 1, true},
    {"tdg", 1, true},
    {"x", 1, false},
    {"y", 1, false},
    {"z", 1, false},
    {"cx", 2, false},
    {"cz", 2, false},
    {"swap", 2, false},
}};

constexpr const ElementaryInfo& elementary_info(Elementary gate) {
  return kElementary[static_cast<std::size_t>(gate)];
}

// One gate on qubits of a whole program (numbered across its quantum
// registers in order of declaration). `b` is 0 for a one-qubit gate.
struct PlacedGate {
  Elementary gate;  // what it is
  std::uint32_t a;  // its qubit, or a two-qubit gate's first qubit (cx's control)
  std::uint32_t b;  // a two-qubit gate's second qubit (cx's target)

  bool operator==(const PlacedGate&) const = default;
};
static_assert(std::is_trivially_copyable_v<PlacedGate>);

}  // namespace kestrel
