// Compiling a definition reads its tokens once: the header's names, then
// each body application's gate, parameter expressions and qubit names.
#include "src/program/definitions.h"

#include <span>
#include <string>
#include <vector>

#include "engine/fault.h"
#include "src/program/tokenizer.h"

namespace kestrel {
namespace {

// The library gate called `name`, the built-ins U and CX included.
std::optional<QasmGate> library_named(std::string_view name) {
  for (const LibraryGate& g : kBuiltins) {
    if (g.name == name) return g.id;
  }
  for (const LibraryGate& g : kQelib1) {
    if (g.name == name) return g.id;
  }
  return std::nullopt;
}

void expect(Tokenizer& tokens, Tok kind) {
  check(tokens.is(kind), "a definition reads as the statement reader read it");
  tokens.advance();
}

// Reads names separated by commas up to the token that is not a comma
// after a name.
std::vector<std::string_view> read_names(Tokenizer& tokens) {
  std::vector<std::string_view> names;
  for (;;) {
    names.push_back(tokens.text());
    expect(tokens, Tok::Word);
    if (!tokens.is(Tok::Comma)) break;
    tokens.advance();
  }
  return names;
}

// Reads one application in a body, after its gate's name, through its
// ';': its parameter expressions over `param_names` into `d.items` and
// `d.params`, its qubits as places in `qubit_names` into `d.qubits`.
BodyCall read_call(Definitions& d, Tokenizer& tokens, BodyCall call,
                   std::span<const std::string_view> param_names,
                   std::span<const std::string_view> qubit_names) {
  call.first_param = static_cast<std::uint32_t>(d.params.size());
  call.first_qubit = static_cast<std::uint32_t>(d.qubits.size());
  if (tokens.is(Tok::LParen)) {
    tokens.advance();
    while (!tokens.is(Tok::RParen)) {
      const auto begin = static_cast<std::uint32_t>(d.items.size());
      check(compile_expression(tokens, param_names, d.items), "a body's parameters are expressions");
      d.params.push_back({begin, static_cast<std::uint32_t>(d.items.size())});
      if (tokens.is(Tok::Comma)) tokens.advance();
    }
    tokens.advance();
  }
  for (;;) {
    const std::string_view qubit = tokens.text();
    expect(tokens, Tok::Word);
    std::uint32_t k = 0;
    while (k < qubit_names.size() && qubit_names[k] != qubit) ++k;
    check(k < qubit_names.size(), "a body applies gates to the definition's qubits");
    d.qubits.push_back(k);
    if (!tokens.is(Tok::Comma)) break;
    tokens.advance();
  }
  expect(tokens, Tok::Semicolon);
  return call;
}

}  // namespace

std::optional<std::uint32_t> Definitions::find(std::string_view name) const {
  const auto it = names_.find(name);
  if (it == names_.end()) return std::nullopt;
  return it->second;
}

void Definitions::compile(std::string_view text, bool library_only, std::uint8_t phase) {
  Tokenizer tokens(text);
  tokens.advance();
  const bool opaque = tokens.is_word("opaque");
  check(opaque || tokens.is_word("gate"), "a definition starts with gate or opaque");
  tokens.advance();
  const std::string_view name = tokens.text();
  expect(tokens, Tok::Word);
  std::vector<std::string_view> param_names;
  if (tokens.is(Tok::LParen)) {
    tokens.advance();
    while (!tokens.is(Tok::RParen)) {
      param_names.push_back(tokens.text());
      expect(tokens, Tok::Word);
      if (tokens.is(Tok::Comma)) tokens.advance();
    }
    tokens.advance();
  }
  const std::vector<std::string_view> qubit_names = read_names(tokens);
  CompiledGate gate;
  gate.params = static_cast<std::uint32_t>(param_names.size());
  gate.qubits = static_cast<std::uint32_t>(qubit_names.size());
  gate.first_call = static_cast<std::uint32_t>(calls.size());
  gate.boundary = opaque;
  gate.phase = phase;
  if (!opaque) {
    expect(tokens, Tok::LBrace);
    while (!tokens.is(Tok::RBrace)) {
      const std::string_view callee = tokens.text();
      expect(tokens, Tok::Word);
      if (callee == "barrier") {
        gate.boundary = true;
        while (!tokens.is(Tok::Semicolon)) {
          check(!tokens.is(Tok::End), "a barrier in a body ends with ';'");
          tokens.advance();
        }
        tokens.advance();
        continue;
      }
      BodyCall call{};
      std::uint32_t callee_params = 0, callee_qubits = 0;
      if (const std::optional<std::uint32_t> k = library_only ? std::nullopt : find(callee)) {
        call.gate = {*k, true};
        callee_params = gates[*k].params;
        callee_qubits = gates[*k].qubits;
      } else {
        const std::optional<QasmGate> library = library_named(callee);
        check(library.has_value(), "a body applies gates defined before it");
        call.gate = {static_cast<std::uint32_t>(*library), false};
        callee_params = library_info(*library).params;
        callee_qubits = library_info(*library).qubits;
      }
      call = read_call(*this, tokens, call, param_names, qubit_names);
      check(params.size() - call.first_param == callee_params &&
                qubits.size() - call.first_qubit == callee_qubits,
            "a body applies each gate to its numbers of parameters and qubits");
      calls.push_back(call);
      ++gate.calls;
    }
  }
  names_.emplace(name, static_cast<std::uint32_t>(gates.size()));
  gates.push_back(gate);
}

const Definitions& library_definitions() {
  static const Definitions library = [] {
    Definitions d;
    for (const LibraryBody& body : kLibraryBodies) d.compile(body.definition, true, body.phase);
    return d;
  }();
  return library;
}

std::optional<std::uint32_t> library_body(QasmGate gate) {
  // Per library gate, the position of its body plus one, or 0.
  static constexpr std::array<std::uint8_t, 256> kBodyOf = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t k = 0; k < kLibraryBodies.size(); ++k) {
      table[static_cast<std::size_t>(kLibraryBodies[k].gate)] = static_cast<std::uint8_t>(k + 1);
    }
    return table;
  }();
  const std::uint8_t k = kBodyOf[static_cast<std::size_t>(gate)];
  if (k == 0) return std::nullopt;
  return k - 1u;
}

}  // namespace kestrel
