// The gates the whole-program methods read and write: Clifford+T gates on
// one or two qubits of a program and rotations of any angle about X, Y or Z,
// each placed on its qubits, and the one table of what each of them does.
//
// Where `Op` (src/circuit/op.h) is a node of a one-wire circuit expression,
// an `Elementary` gate names what a whole-program method sees once a
// statement is resolved to its instances: `cx q[1],q[0];` is
// {Elementary::CX, 1, 0} (control first), `t q[2];` is {Elementary::T, 2, 0}.
//
// `kElementary` says, per gate, how it is written in OpenQASM 2.0, how many
// qubits it takes, whether it is a T or T-dagger gate, and exactly what it
// does:
// - a Clifford gate G by what it makes of the Pauli operators on its qubits
//   a and b, G^-1 P G for P = X_a, Z_a, X_b, Z_b, each a Pauli product on
//   the same qubits with a power of i: for S, S^-1 X S = -i X Z; for CX,
//   X_a becomes X_a X_b and Z_b becomes Z_a Z_b. The Clifford frame
//   (src/pauli/tableau.h) and the local walk of rotation merging read these;
//   `kStepBack` extends them to every product on the two qubits.
// - a one-qubit diagonal gate by the power r of e^(i pi/4) it puts on |1>:
//   diag(1, e^(i r pi/4)) = e^(i r pi/8) exp(-i r pi/8 Z), so a T gate (r 1)
//   is the rotation exp(-i pi/8 Z) times the global phase e^(i pi/8), and
//   the methods that write phase gates for a sum of such powers find them in
//   `kPhaseGates`.
// - every gate by its matrix, exactly (each entry 0 or a power of e^(i pi/4)
//   over a power of sqrt 2), for the tests' models.
// - rz, rx and ry, the rotations exp(-i angle/2 P) about Z, X and Y, by
//   nothing more: neither Clifford nor T, they carry their angle in
//   `PlacedGate::angle`, and only the walk's `Sight::Rotations` and the
//   methods that merge rotations see them (`is_rotation`).
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
  Rz,    // exp(-i angle/2 Z), the angle in PlacedGate::angle
  Rx,    // exp(-i angle/2 X)
  Ry,    // exp(-i angle/2 Y)
};

// A Pauli product on a gate's qubits a and b with a power of i:
// i^phase X_a^(bit 0) Z_a^(bit 1) X_b^(bit 2) Z_b^(bit 3), the factors in
// that order.
struct GatePauli {
  std::uint8_t bits = 0;   // X_a 1, Z_a 2, X_b 4, Z_b 8
  std::uint8_t phase = 0;  // the power of i, 0 to 3
  constexpr bool operator==(const GatePauli&) const = default;
};

// One matrix entry, exactly: 0, or e^(i omega pi/4) / sqrt(2)^halves.
struct MatrixEntry {
  std::int8_t omega = -1;    // 0 to 7, or -1 for the entry 0
  std::uint8_t halves = 0;   // the power of sqrt 2 dividing it
};

inline constexpr std::int8_t kNotDiagonal = -128;

struct ElementaryInfo {
  std::string_view qasm_name;   // as written in OpenQASM 2.0 with qelib1.inc
  std::uint8_t qubits;          // 1 or 2
  bool t;                       // a T or T-dagger gate: its T content
  bool clifford;                // a Clifford gate: `back` holds its action
  std::int8_t diagonal;         // a one-qubit diagonal gate's r (-3 to 4), else kNotDiagonal
  std::array<GatePauli, 4> back;       // G^-1 P G for P = X_a, Z_a, X_b, Z_b
  std::array<MatrixEntry, 16> matrix;  // row-major, side 2^qubits (the rest 0); basis
                                       // bit 0 is qubit a, bit 1 qubit b
  Elementary inverse;                  // G^-1, on the same qubits in the same order
};

namespace elementary_detail {

// The Pauli product with one factor `bits` and phase `phase`.
constexpr GatePauli p(std::uint8_t bits, std::uint8_t phase = 0) { return {bits, phase}; }
constexpr std::array<GatePauli, 4> kUnmoved = {{p(1), p(2), p(4), p(8)}};

// The entries of a 4x4 matrix given as omega powers (-1 for 0).
constexpr std::array<MatrixEntry, 16> entries(std::array<std::int8_t, 16> omega) {
  std::array<MatrixEntry, 16> m{};
  for (std::size_t k = 0; k < 16; ++k) m[k] = {omega[k], 0};
  return m;
}
// The same for a 2x2 matrix, all divided by sqrt(2)^halves; the entries
// past the fourth are 0.
constexpr std::array<MatrixEntry, 16> entries(std::array<std::int8_t, 4> omega,
                                              std::uint8_t halves = 0) {
  std::array<MatrixEntry, 16> m{};
  for (std::size_t k = 0; k < 4; ++k) m[k] = {omega[k], omega[k] < 0 ? std::uint8_t{0} : halves};
  return m;
}
constexpr std::array<MatrixEntry, 16> diagonal_gate(std::int8_t r) {
  return entries(std::array<std::int8_t, 4>{0, -1, -1, static_cast<std::int8_t>((r + 8) % 8)});
}
using Two = std::array<std::int8_t, 4>;
constexpr std::array<GatePauli, 4> phase_back(std::uint8_t phase) {
  return {{p(3, phase), p(2), p(4), p(8)}};
}

}  // namespace elementary_detail

inline constexpr std::array<ElementaryInfo, 14> kElementary = [] {
  using namespace elementary_detail;
  constexpr std::int8_t o = -1;  // a zero entry
  return std::array<ElementaryInfo, 14>{{
      {"h", 1, false, true, kNotDiagonal, {{p(2), p(1), p(4), p(8)}}, entries(Two{0, 0, 0, 4}, 1),
       Elementary::H},
      {"s", 1, false, true, 2, phase_back(3), diagonal_gate(2), Elementary::Sdg},   // S^-1 X S = -i X Z
      {"sdg", 1, false, true, -2, phase_back(1), diagonal_gate(-2), Elementary::S},
      {"t", 1, true, false, 1, kUnmoved, diagonal_gate(1), Elementary::Tdg},
      {"tdg", 1, true, false, -1, kUnmoved, diagonal_gate(-1), Elementary::T},
      {"x", 1, false, true, kNotDiagonal, {{p(1), p(2, 2), p(4), p(8)}}, entries(Two{o, 0, 0, o}),
       Elementary::X},
      {"y", 1, false, true, kNotDiagonal, {{p(1, 2), p(2, 2), p(4), p(8)}},
       entries(Two{o, 6, 2, o}), Elementary::Y},
      {"z", 1, false, true, 4, {{p(1, 2), p(2), p(4), p(8)}}, diagonal_gate(4), Elementary::Z},
      // Basis index a + 2b: CX takes |a=1, b=0> (1) to |1, 1> (3).
      {"cx", 2, false, true, kNotDiagonal, {{p(5), p(2), p(4), p(10)}},
       entries(std::array<std::int8_t, 16>{0, o, o, o, o, o, o, 0, o, o, 0, o, o, 0, o, o}),
       Elementary::CX},
      {"cz", 2, false, true, kNotDiagonal, {{p(9), p(2), p(6), p(8)}},
       entries(std::array<std::int8_t, 16>{0, o, o, o, o, 0, o, o, o, o, 0, o, o, o, o, 4}),
       Elementary::CZ},
      {"swap", 2, false, true, kNotDiagonal, {{p(4), p(8), p(1), p(2)}},
       entries(std::array<std::int8_t, 16>{0, o, o, o, o, o, 0, o, o, 0, o, o, o, o, o, 0}),
       Elementary::Swap},
      // The rotations: no exact matrix, no action on the frame; the inverse of
      // each is itself with the angle negated.
      {"rz", 1, false, false, kNotDiagonal, kUnmoved, {}, Elementary::Rz},
      {"rx", 1, false, false, kNotDiagonal, kUnmoved, {}, Elementary::Rx},
      {"ry", 1, false, false, kNotDiagonal, kUnmoved, {}, Elementary::Ry},
  }};
}();

constexpr const ElementaryInfo& elementary_info(Elementary gate) {
  return kElementary[static_cast<std::size_t>(gate)];
}

// Whether `gate` is a rotation of any angle (rz, rx or ry).
constexpr bool is_rotation(Elementary gate) { return gate >= Elementary::Rz; }

// Every gate's inverse undoes it: the inverse of the inverse is the gate, on
// as many qubits, with the negated power on |1> of a diagonal gate.
constexpr bool inverses_match_the_table() {
  for (const ElementaryInfo& g : kElementary) {
    const ElementaryInfo& h = elementary_info(g.inverse);
    if (elementary_info(h.inverse).qasm_name != g.qasm_name) return false;
    if (h.qubits != g.qubits || h.t != g.t || h.clifford != g.clifford) return false;
    if (g.diagonal != kNotDiagonal && (h.diagonal - -g.diagonal) % 8 != 0) return false;
  }
  return true;
}
static_assert(inverses_match_the_table());

// The product a * b of two Pauli products on a gate's qubits: moving Z past
// X on one qubit costs -1.
constexpr GatePauli pauli_product(GatePauli a, GatePauli b) {
  const unsigned z_a = (a.bits >> 1) & 5u;   // a's Z bits, moved onto the X bits' places
  const unsigned x_b = b.bits & 5u;
  const unsigned swaps = (z_a & x_b & 1u) + ((z_a & x_b) >> 2);
  return {static_cast<std::uint8_t>(a.bits ^ b.bits),
          static_cast<std::uint8_t>((a.phase + b.phase + 2 * swaps) & 3u)};
}

// Per Clifford gate G and product P on its qubits (P's bits as the index,
// phase 0), G^-1 P G: the product of the images of P's factors, in order.
inline constexpr std::array<std::array<GatePauli, 16>, kElementary.size()> kStepBack = [] {
  std::array<std::array<GatePauli, 16>, kElementary.size()> table{};
  for (std::size_t g = 0; g < kElementary.size(); ++g) {
    for (unsigned bits = 0; bits < 16; ++bits) {
      GatePauli image{};
      for (unsigned k = 0; k < 4; ++k) {
        if ((bits >> k) & 1) image = pauli_product(image, kElementary[g].back[k]);
      }
      table[g][bits] = image;
    }
  }
  return table;
}();

// The phase gates for diag(1, e^(i r pi/4)), r from -3 to 4, first first:
// 1 t, 2 s, 3 s then t, 4 z, -1 tdg, -2 sdg, -3 sdg then tdg, 0 none.
struct PhaseGates {
  std::uint8_t count;                  // 0 to 2
  std::array<Elementary, 2> gates;     // the first `count`
};
inline constexpr std::array<PhaseGates, 8> kPhaseGates = {{
    {2, {Elementary::Sdg, Elementary::Tdg}},  // -3
    {1, {Elementary::Sdg}},                   // -2
    {1, {Elementary::Tdg}},                   // -1
    {0, {}},                                  // 0
    {1, {Elementary::T}},                     // 1
    {1, {Elementary::S}},                     // 2
    {2, {Elementary::S, Elementary::T}},      // 3
    {1, {Elementary::Z}},                     // 4
}};
constexpr const PhaseGates& phase_gates(int r) {
  return kPhaseGates[static_cast<std::size_t>(((r + 3) % 8 + 8) % 8)];
}

constexpr bool phase_gates_match_the_table() {
  for (int r = -3; r <= 4; ++r) {
    const PhaseGates& w = phase_gates(r);
    int sum = 0;
    for (std::size_t k = 0; k < w.count; ++k) sum += elementary_info(w.gates[k]).diagonal;
    if (sum != r) return false;
  }
  return true;
}
static_assert(phase_gates_match_the_table());

// One gate on qubits of a whole program (numbered across its quantum
// registers in order of declaration). `b` is 0 for a one-qubit gate.
struct PlacedGate {
  Elementary gate;  // what it is
  std::uint32_t a;  // its qubit, or a two-qubit gate's first qubit (cx's control)
  std::uint32_t b;  // a two-qubit gate's second qubit (cx's target)
  double angle = 0; // a rotation's angle in radians (finite); 0 for every other gate

  bool operator==(const PlacedGate&) const = default;
};
static_assert(std::is_trivially_copyable_v<PlacedGate>);

}  // namespace kestrel
