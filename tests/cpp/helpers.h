// What the C++ tests share: terms, patterns and rules read from text, the
// text forms the tests compare against golden strings (terms, e-graphs and
// placed gates), small gate lists read from text, a T count, and a seeded
// generator whose draws are the same on every platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/egraph.h"
#include "engine/expr_reader.h"
#include "engine/pattern.h"
#include "engine/rewrite.h"
#include "src/circuit/elementary.h"
#include "src/circuit/op.h"

namespace kestrel {

// The expression read from `text`; throws when it does not read.
template <class L = Op>
RecExpr<L> read(std::string_view text) {
  return std::get<0>(from_str<L>(text));
}

// These are templates only so that a test that does not call them does not
// compile what they use.
template <class L = Op>
Pattern<L> pat(std::string_view text) { return Pattern<L>(read<ENodeOrVar<L>>(text)); }

template <class L = Op>
Rewrite<L> rule(std::string name, std::string_view lhs, std::string_view rhs) {
  return std::get<0>(Rewrite<L>::new_(std::move(name), pat<L>(lhs), pat<L>(rhs)));
}

// Adds the term `text` to `g`; returns its canonical class.
template <class L>
Id add(EGraph<L>& g, std::string_view text) { return g.find(g.add_expr_internal(read<L>(text))); }

// The nodes of an expression in order: "[T, Seq([0, 0])]".
template <class L>
std::string show(const RecExpr<L>& expr) {
  std::string out = "[";
  for (const L& node : expr.nodes()) out += (out.size() > 1 ? ", " : "") + node.debug();
  return out + "]";
}

// Placed gates as OpenQASM lines on q: "t q[0]; cx q[1],q[0]; ".
inline std::string show(const std::vector<PlacedGate>& gates) {
  std::string out;
  for (const PlacedGate& g : gates) {
    out += std::string(elementary_info(g.gate).qasm_name) + " q[" + std::to_string(g.a) + "]";
    if (elementary_info(g.gate).qubits == 2) out += ",q[" + std::to_string(g.b) + "]";
    out += "; ";
  }
  return out;
}

// The gates of a one-wire term in circuit order, a letter each: ".hsStTxz12c"
// for I to CNOT (Sdg and Tdg upper case). The caller includes
// src/circuit/chain.h.
template <class L>
std::string gate_letters(const RecExpr<L>& expr) {
  std::vector<L> gates;
  emit(expr.root(), expr, gates);
  std::string out;
  for (const L& g : gates) out += std::string_view(".hsStTxz12c")[g.kind()];
  return out;
}

// The live classes and their nodes: "0={H, X} 1={T} 2={Seq([0, 1])}".
template <class L>
std::string show(const EGraph<L>& g) {
  std::string out;
  for (const auto& c : g.classes()) {
    out += (out.empty() ? "" : " ") + std::to_string(c.id) + "={";
    for (std::size_t k = 0; k < c.nodes.size(); ++k) out += (k ? ", " : "") + c.nodes[k].debug();
    out += "}";
  }
  return out;
}

// A statement of the tests' gate lists, "rz(0.3) 1" or "b 0 2": a gate's
// OpenQASM name (or a test's own word, such as "b" for a boundary), its
// operands, and its angle when the name carries one.
struct GateText {
  std::string name;
  std::vector<std::uint32_t> qubits;
  double angle = 0;
};

// The statements of `text`, separated by ';': parse_gates("t 0; cx 1 0; rz(0.3) 1").
inline std::vector<GateText> parse_gates(const std::string& text) {
  std::vector<GateText> out;
  std::istringstream statements(text);
  for (std::string statement; std::getline(statements, statement, ';');) {
    std::istringstream words(statement);
    GateText op;
    if (!(words >> op.name)) continue;
    if (const std::size_t open = op.name.find('('); open != std::string::npos) {
      op.angle = std::stod(op.name.substr(open + 1));
      op.name.resize(open);
    }
    for (std::uint32_t q; words >> q;) op.qubits.push_back(q);
    out.push_back(op);
  }
  return out;
}

// The gate table's row named `name`; throws when there is none.
inline Elementary gate_named(const std::string& name) {
  for (std::size_t k = 0; k < kElementary.size(); ++k) {
    if (kElementary[k].qasm_name == name) return static_cast<Elementary>(k);
  }
  throw std::invalid_argument("no gate " + name);
}

// Draws in [0, n) from a linear congruential sequence: unlike the
// standard distributions, the same on every platform and library.
struct Lcg {
  std::uint64_t state;
  std::uint64_t operator()(std::uint64_t n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % n;
  }
};

// The T and T-dagger gates among `gates`.
inline std::size_t t_count(const std::vector<OpKind>& gates) {
  return static_cast<std::size_t>(std::count_if(
      gates.begin(), gates.end(), [](OpKind g) { return g == OpKind::T || g == OpKind::Tdg; }));
}

// The message of the Fault that `f` throws, or "no fault".
inline std::string fault_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Fault& fault) {
    return fault.what();
  }
  return "no fault";
}

}  // namespace kestrel
