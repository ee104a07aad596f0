// Gate definitions compiled for expansion into elementary gates: the gates a
// program defines, and the library gates that are defined by a body.
//
// `gate g(theta) a,b { rz(theta/2) a; cx a,b; }` compiles to a gate of one
// parameter and two qubits with two calls: rz with the expression
// [theta, 2, /] on qubit 0, then cx on qubits 0 and 1. A call names its gate
// by a `GateRef`, a library gate or an earlier definition, so the calls form
// no cycle. A definition whose body holds a barrier, and an opaque one, is
// marked a boundary: what it does is not known gate by gate.
//
// `kLibraryBodies` gives the library gates that are neither elementary nor
// angle gates (src/program/expansion.h) as definitions, each exactly equal
// to the gate's matrix times e^(i phase pi/8): the decompositions of
// qelib1.inc, except where noted.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "engine/hashing.h"
#include "src/program/expressions.h"
#include "src/program/library.h"
#include "src/program/scopes.h"

namespace kestrel {

// A gate a body or a statement applies.
struct GateRef {
  std::uint32_t index;  // a QasmGate value, or a position in the program's definitions
  bool defined;         // defined by the program rather than a library gate
};
static_assert(std::is_trivially_copyable_v<GateRef>);

// One gate application of a body.
struct BodyCall {
  GateRef gate;               // the gate applied
  std::uint32_t first_qubit;  // its qubit arguments in `Definitions::qubits`, as the
                              // definition's qubit positions
  std::uint32_t first_param;  // its parameters in `Definitions::params`, one range each
};
static_assert(std::is_trivially_copyable_v<BodyCall>);

struct CompiledGate {
  std::uint32_t params = 0;      // parameters
  std::uint32_t qubits = 0;      // qubit arguments
  std::uint32_t first_call = 0;  // its body in `Definitions::calls`
  std::uint32_t calls = 0;       // applications in its body
  bool boundary = false;         // opaque, or its body holds a barrier
  std::uint8_t phase = 0;        // the gate is e^(i phase pi/8) times its body
};

// A range of `Definitions::items`: one parameter expression.
struct ItemRange {
  std::uint32_t begin;
  std::uint32_t end;
};

class Definitions {
 public:
  // Compiles the definition `text` ("gate ..." or "opaque ...", as the
  // statement reader accepted it) as the next gate, names in its body
  // found among the gates compiled before it, then the library gates
  // (only the library when `library_only`). Faults on a text the reader
  // would not accept.
  void compile(std::string_view text, bool library_only, std::uint8_t phase = 0);

  // The gate compiled under `name`, or null.
  std::optional<std::uint32_t> find(std::string_view name) const;

  std::vector<CompiledGate> gates;   // in order of definition
  std::vector<BodyCall> calls;       // every body's applications
  std::vector<std::uint32_t> qubits; // their qubit arguments
  std::vector<ItemRange> params;     // their parameter expressions
  std::vector<ExprItem> items;       // the expressions' items

 private:
  HashMap<std::string_view, std::uint32_t, NameHash> names_;  // gate name -> position
};

// A library gate with a body, and its phase.
struct LibraryBody {
  QasmGate gate;
  std::string_view definition;  // a definition in OpenQASM 2.0 over library gates
  std::uint8_t phase;           // the gate is e^(i phase pi/8) times the body
};

inline constexpr std::array<LibraryBody, 21> kLibraryBodies = {{
    // H S H is SX exactly (qelib1.inc's sdg h sdg is SX up to e^(-i pi/4)).
    {QasmGate::sx, "gate sx a { h a; s a; h a; }", 0},
    {QasmGate::sxdg, "gate sxdg a { h a; sdg a; h a; }", 0},
    {QasmGate::cy, "gate cy a,b { sdg b; cx a,b; s b; }", 0},
    // S H T on the target around a CX and their inverses: controlled H with
    // two T gates (qelib1.inc's eleven gates are CH up to e^(i pi/4)).
    {QasmGate::ch, "gate ch a,b { s b; h b; t b; cx a,b; tdg b; h b; sdg b; }", 0},
    // The seven-T Toffoli of qelib1.inc.
    {QasmGate::ccx,
     "gate ccx a,b,c { h c; cx b,c; tdg c; cx a,c; t c; cx b,c; tdg c; cx a,c; t b; t c; h c; "
     "cx a,b; t a; tdg b; cx a,b; }",
     0},
    {QasmGate::cswap, "gate cswap a,b,c { cx c,b; ccx a,b,c; cx c,b; }", 0},
    {QasmGate::cry, "gate cry(lambda) a,b { ry(lambda/2) b; cx a,b; ry(-lambda/2) b; cx a,b; }", 0},
    {QasmGate::crz, "gate crz(lambda) a,b { rz(lambda/2) b; cx a,b; rz(-lambda/2) b; cx a,b; }", 0},
    // Controlled Rz conjugated by H on the target is controlled Rx.
    {QasmGate::crx, "gate crx(lambda) a,b { h b; crz(lambda) a,b; h b; }", 0},
    {QasmGate::cu1,
     "gate cu1(lambda) a,b { u1(lambda/2) a; cx a,b; u1(-lambda/2) b; cx a,b; u1(lambda/2) b; }", 0},
    {QasmGate::cp,
     "gate cp(lambda) a,b { p(lambda/2) a; cx a,b; p(-lambda/2) b; cx a,b; p(lambda/2) b; }", 0},
    {QasmGate::cu3,
     "gate cu3(theta,phi,lambda) c,t { u1((lambda+phi)/2) c; u1((lambda-phi)/2) t; cx c,t; "
     "u3(-theta/2,0,-(phi+lambda)/2) t; cx c,t; u3(theta/2,phi,0) t; }",
     0},
    {QasmGate::csx, "gate csx a,b { h b; cu1(pi/2) a,b; h b; }", 0},
    {QasmGate::cu,
     "gate cu(theta,phi,lambda,gamma) c,t { p(gamma) c; p((lambda+phi)/2) c; "
     "p((lambda-phi)/2) t; cx c,t; u(-theta/2,0,-(phi+lambda)/2) t; cx c,t; u(theta/2,phi,0) t; }",
     0},
    // exp(-i theta/2 X X) and exp(-i theta/2 Z Z) exactly (qelib1.inc's
    // bodies differ from them by e^(i theta/2)).
    {QasmGate::rxx,
     "gate rxx(theta) a,b { h a; h b; cx a,b; rz(theta) b; cx a,b; h a; h b; }", 0},
    {QasmGate::rzz, "gate rzz(theta) a,b { cx a,b; rz(theta) b; cx a,b; }", 0},
    {QasmGate::rccx,
     "gate rccx a,b,c { u2(0,pi) c; u1(pi/4) c; cx b,c; u1(-pi/4) c; cx a,c; u1(pi/4) c; "
     "cx b,c; u1(-pi/4) c; u2(0,pi) c; }",
     0},
    {QasmGate::rc3x,
     "gate rc3x a,b,c,d { u2(0,pi) d; u1(pi/4) d; cx c,d; u1(-pi/4) d; u2(0,pi) d; cx a,d; "
     "u1(pi/4) d; cx b,d; u1(-pi/4) d; cx a,d; u1(pi/4) d; cx b,d; u1(-pi/4) d; u2(0,pi) d; "
     "u1(pi/4) d; cx c,d; u1(-pi/4) d; u2(0,pi) d; }",
     0},
    // Three of qelib1.inc's gates need rotations by pi/8: not Clifford+T.
    {QasmGate::c3x,
     "gate c3x a,b,c,d { h d; p(pi/8) a; p(pi/8) b; p(pi/8) c; p(pi/8) d; cx a,b; p(-pi/8) b; "
     "cx a,b; cx b,c; p(-pi/8) c; cx a,c; p(pi/8) c; cx b,c; p(-pi/8) c; cx a,c; cx c,d; "
     "p(-pi/8) d; cx b,d; p(pi/8) d; cx c,d; p(-pi/8) d; cx a,d; p(pi/8) d; cx c,d; p(-pi/8) d; "
     "cx b,d; p(pi/8) d; cx c,d; p(-pi/8) d; cx a,d; h d; }",
     0},
    {QasmGate::c3sqrtx,
     "gate c3sqrtx a,b,c,d { h d; cu1(pi/8) a,d; h d; cx a,b; h d; cu1(-pi/8) b,d; h d; cx a,b; "
     "h d; cu1(pi/8) b,d; h d; cx b,c; h d; cu1(-pi/8) c,d; h d; cx a,c; h d; cu1(pi/8) c,d; "
     "h d; cx b,c; h d; cu1(-pi/8) c,d; h d; cx a,c; h d; cu1(pi/8) c,d; h d; }",
     0},
    {QasmGate::c4x,
     "gate c4x a,b,c,d,e { h e; cu1(pi/2) d,e; h e; c3x a,b,c,d; h e; cu1(-pi/2) d,e; h e; "
     "c3x a,b,c,d; c3sqrtx a,b,c,e; }",
     0},
}};

// The library gates with bodies, compiled once, numbered as in
// kLibraryBodies; and the position there of `gate`'s body, if it has one.
const Definitions& library_definitions();
std::optional<std::uint32_t> library_body(QasmGate gate);

}  // namespace kestrel
