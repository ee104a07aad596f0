// The gates a program may apply without defining them: the built-ins U and
// CX, and the 42 gates that `include "qelib1.inc";` defines, in that file's
// order, with their numbers of parameters and qubits.
//
// `QasmGate` names each of them; its values are spelled as the gates are in
// OpenQASM, so that `QasmGate::cz` reads as the text it stands for.
// `library_op` gives the gate-language variant of a gate where it has one:
// `library_op(QasmGate::t)` is OpKind::T, `library_op(QasmGate::cx)` and
// `library_op(QasmGate::CX)` are OpKind::CNOT, and every other gate is I;
// `library_gate` goes back from a run gate or an elementary gate to its
// library gate.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "src/circuit/elementary.h"
#include "src/circuit/op.h"

namespace kestrel {

enum class QasmGate : std::uint8_t {
  None,  // no gate of the library: a gate the program defines, or no gate at all
  U, CX,  // the built-ins
  u3, u2, u1, cx, id, u0, u, p, x, y, z, h, s, sdg, t, tdg, rx, ry, rz, sx, sxdg, cz, cy,
  swap, ch, ccx, cswap, crx, cry, crz, cu1, cp, cu3, csx, cu, rxx, rzz, rccx, rc3x, c3x,
  c3sqrtx, c4x,
};

struct LibraryGate {
  std::string_view name;  // as applied
  std::uint32_t params;   // parameters
  std::uint32_t qubits;   // qubit arguments
  QasmGate id;            // its name as a value
};

inline constexpr std::array<LibraryGate, 2> kBuiltins = {{
    {"U", 3, 1, QasmGate::U}, {"CX", 0, 2, QasmGate::CX}}};

inline constexpr std::array<LibraryGate, 42> kQelib1 = {{
    {"u3", 3, 1, QasmGate::u3},     {"u2", 2, 1, QasmGate::u2},
    {"u1", 1, 1, QasmGate::u1},     {"cx", 0, 2, QasmGate::cx},
    {"id", 0, 1, QasmGate::id},     {"u0", 1, 1, QasmGate::u0},
    {"u", 3, 1, QasmGate::u},       {"p", 1, 1, QasmGate::p},
    {"x", 0, 1, QasmGate::x},       {"y", 0, 1, QasmGate::y},
    {"z", 0, 1, QasmGate::z},       {"h", 0, 1, QasmGate::h},
    {"s", 0, 1, QasmGate::s},       {"sdg", 0, 1, QasmGate::sdg},
    {"t", 0, 1, QasmGate::t},       {"tdg", 0, 1, QasmGate::tdg},
    {"rx", 1, 1, QasmGate::rx},     {"ry", 1, 1, QasmGate::ry},
    {"rz", 1, 1, QasmGate::rz},     {"sx", 0, 1, QasmGate::sx},
    {"sxdg", 0, 1, QasmGate::sxdg}, {"cz", 0, 2, QasmGate::cz},
    {"cy", 0, 2, QasmGate::cy},     {"swap", 0, 2, QasmGate::swap},
    {"ch", 0, 2, QasmGate::ch},     {"ccx", 0, 3, QasmGate::ccx},
    {"cswap", 0, 3, QasmGate::cswap}, {"crx", 1, 2, QasmGate::crx},
    {"cry", 1, 2, QasmGate::cry},   {"crz", 1, 2, QasmGate::crz},
    {"cu1", 1, 2, QasmGate::cu1},   {"cp", 1, 2, QasmGate::cp},
    {"cu3", 3, 2, QasmGate::cu3},   {"csx", 0, 2, QasmGate::csx},
    {"cu", 4, 2, QasmGate::cu},     {"rxx", 1, 2, QasmGate::rxx},
    {"rzz", 1, 2, QasmGate::rzz},   {"rccx", 0, 3, QasmGate::rccx},
    {"rc3x", 0, 4, QasmGate::rc3x}, {"c3x", 0, 4, QasmGate::c3x},
    {"c3sqrtx", 0, 4, QasmGate::c3sqrtx}, {"c4x", 0, 5, QasmGate::c4x},
}};

constexpr bool ids_follow_the_file() {
  for (std::size_t k = 0; k < kQelib1.size(); ++k) {
    if (static_cast<std::size_t>(kQelib1[k].id) != static_cast<std::size_t>(QasmGate::u3) + k) {
      return false;
    }
  }
  return kBuiltins[0].id == QasmGate::U && kBuiltins[1].id == QasmGate::CX;
}
static_assert(ids_follow_the_file());

// The entry of library gate `gate`, which must not be None.
constexpr const LibraryGate& library_info(QasmGate gate) {
  if (gate < QasmGate::u3) return kBuiltins[static_cast<std::size_t>(gate) - 1];
  return kQelib1[static_cast<std::size_t>(gate) - static_cast<std::size_t>(QasmGate::u3)];
}

// The name of library gate `gate` as applied; "" for None.
constexpr std::string_view library_name(QasmGate gate) {
  if (gate == QasmGate::None) return "";
  return library_info(gate).name;
}

// The gate-language variant of library gate `gate`: a run gate by its
// OpenQASM name (src/circuit/op.h), CNOT for cx and CX, else I.
constexpr OpKind library_op(QasmGate gate) {
  if (gate == QasmGate::cx || gate == QasmGate::CX) return OpKind::CNOT;
  if (gate < QasmGate::u3) return OpKind::I;
  const std::string_view name = library_name(gate);
  for (std::size_t k = 0; k < kKinds.size(); ++k) {
    if (kKinds[k].run_gate && kKinds[k].qasm_name == name) return static_cast<OpKind>(k);
  }
  return OpKind::I;
}

// The library gate that run gate `kind` is written as (QasmGate::t for
// OpKind::T), or None for a variant that is no run gate.
constexpr QasmGate library_gate(OpKind kind) {
  if (!is_run_gate(kind)) return QasmGate::None;
  for (const LibraryGate& gate : kQelib1) {
    if (library_op(gate.id) == kind) return gate.id;
  }
  return QasmGate::None;
}

static_assert(library_gate(OpKind::Tdg) == QasmGate::tdg && library_gate(OpKind::CNOT) == QasmGate::None);

// The library gate that elementary gate `gate` is written as (QasmGate::cx
// for Elementary::CX).
constexpr QasmGate library_gate(Elementary gate) {
  for (const LibraryGate& g : kQelib1) {
    if (g.name == elementary_info(gate).qasm_name) return g.id;
  }
  return QasmGate::None;
}

static_assert(library_gate(Elementary::Swap) == QasmGate::swap &&
              library_gate(Elementary::Sdg) == QasmGate::sdg);

static_assert(library_op(QasmGate::sdg) == OpKind::Sdg && library_op(QasmGate::y) == OpKind::I &&
              library_op(QasmGate::rz) == OpKind::I && library_op(QasmGate::CX) == OpKind::CNOT);

}  // namespace kestrel
