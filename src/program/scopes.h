// The statement reader's names: the global scope of registers and gates,
// and the local scope of the gate definition being read.
//
// After `qreg q[2]; gate g(theta) a { rz(theta) a; }` the global scope holds
// the register q and the gate g (one parameter, one qubit); while g's body
// is read, the local scope holds the parameter theta and the qubit argument
// a, and it is empty again once the definition ends, so that `theta` names
// nothing after it.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "engine/hashing.h"
#include "src/circuit/op.h"
#include "src/program/library.h"
#include "src/program/program.h"

namespace kestrel {

inline constexpr std::uint32_t kNotFound = std::numeric_limits<std::uint32_t>::max();

// Names are short: one of up to eight bytes is hashed as one word.
struct NameHash {
  using is_avalanching = void;  // both ways end in a mix
  std::size_t operator()(std::string_view name) const noexcept {
    if (name.size() > 8) return hash_bytes(name);
    std::uint64_t word = name.size() * 0x9e3779b97f4a7c15ULL;
    for (std::size_t k = 0; k < name.size(); ++k) {
      word ^= static_cast<std::uint64_t>(static_cast<unsigned char>(name[k])) << (8 * k);
    }
    return mix64(word);
  }
};

// A name of the global scope: a register or a gate.
struct Symbol {
  bool is_register;      // a qreg or creg rather than a gate
  std::uint32_t reg;     // for a register: its position in QasmProgram::registers
  std::uint32_t params;  // for a gate: its number of parameters
  std::uint32_t qubits;  // for a gate: its number of qubit arguments
  QasmGate library;      // for a gate of the library: which; else None
  OpKind op;             // library_op(library)
};

// A name of a gate definition: a parameter or a qubit argument.
struct Local {
  bool qubit;           // a qubit argument rather than a parameter
  std::uint32_t stamp;  // the last body application that named it
};

class Scopes {
 public:
  // The global symbol called `name`, or null.
  const Symbol* find(std::string_view name) const {
    const auto it = globals_.find(name);
    return it == globals_.end() ? nullptr : &it->second;
  }
  bool defined(std::string_view name) const { return globals_.contains(name); }
  // Adds a global name; false when it is taken.
  bool define(std::string_view name, const Symbol& symbol) {
    return globals_.emplace(name, symbol).second;
  }
  // Adds library gate `gate` under its name; false when the name is taken.
  bool define(const LibraryGate& gate) {
    return define(gate.name, Symbol{false, 0, gate.params, gate.qubits, gate.id,
                                    library_op(gate.id)});
  }
  // The position of the register called `name` in `registers`, or
  // kNotFound. Programs name the same register over and over: the last one
  // found is tried before the table.
  std::uint32_t find_register(std::string_view name, const std::vector<Register>& registers) {
    if (last_register_ < registers.size() && registers[last_register_].name == name) {
      return last_register_;
    }
    const Symbol* symbol = find(name);
    if (symbol == nullptr || !symbol->is_register) return kNotFound;
    last_register_ = symbol->reg;
    return last_register_;
  }

  // Opens the local scope of a gate definition, empty.
  void open_definition() {
    locals_.clear();
    in_definition_ = true;
  }
  // Closes it: its names are gone.
  void close_definition() {
    locals_.clear();
    in_definition_ = false;
  }
  // Adds a local name; false when the definition has it already.
  bool define_local(std::string_view name, bool qubit) {
    return locals_.emplace(name, Local{qubit, 0}).second;
  }
  // The local called `name` of the open definition, or null (always
  // outside a definition).
  Local* find_local(std::string_view name) {
    if (!in_definition_) return nullptr;
    const auto it = locals_.find(name);
    return it == locals_.end() ? nullptr : &it->second;
  }

 private:
  HashMap<std::string_view, Symbol, NameHash> globals_;  // registers and gates by name
  HashMap<std::string_view, Local, NameHash> locals_;    // the definition being read
  bool in_definition_ = false;                           // whether one is open
  std::uint32_t last_register_ = kNotFound;               // the register found last
};

}  // namespace kestrel
