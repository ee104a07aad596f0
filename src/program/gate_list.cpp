// Checking a gate list while turning it into statements with one register.
#include "src/program/gate_list.h"

#include <limits>
#include <vector>

namespace kestrel {
namespace {

// The library gate of `code` when it is one without parameters, else None.
const LibraryGate* parameterless(std::uint8_t code) {
  if (code <= static_cast<std::uint8_t>(QasmGate::CX)) {
    return code == 0 ? nullptr : &kBuiltins[code - 1];
  }
  const std::size_t k = code - static_cast<std::size_t>(QasmGate::u3);
  if (k >= kQelib1.size() || kQelib1[k].params != 0) return nullptr;
  return &kQelib1[k];
}

}  // namespace

std::variant<QasmProgram, std::string> program_from_gates(const GateList& list) {
  if (list.width > kMaxBits) {
    return "expected at most " + std::to_string(kMaxBits) + " qubits, not " +
           std::to_string(list.width);
  }
  if (list.gates.size() >= std::numeric_limits<std::uint32_t>::max() ||
      list.qubits.size() >= std::numeric_limits<std::uint32_t>::max()) {
    return std::string("expected fewer than 2^32 operations and qubit entries");
  }
  QasmProgram program;
  program.qubits = list.width;
  program.registers.push_back({"q", 0, list.width, true});
  program.statements.reserve(list.gates.size());
  program.operands.reserve(list.qubits.size());
  std::vector<std::uint32_t> seen(list.width, 0);  // per qubit: the last operation naming it, plus 1
  std::size_t next = 0;                            // the next entry of list.qubits
  for (std::uint32_t k = 0; k < list.gates.size(); ++k) {
    const std::string where = "operation " + std::to_string(k) + ": ";
    const std::uint8_t code = list.gates[k];
    const LibraryGate* gate = parameterless(code);
    if (code != 0 && gate == nullptr) {
      return where + "expected the code of a library gate without parameters, not " +
             std::to_string(code);
    }
    std::size_t count = 0;
    if (gate != nullptr) {
      count = gate->qubits;
    } else {
      if (next == list.qubits.size()) return where + "expected its number of qubits";
      count = list.qubits[next++];
      if (count == 0) return where + "expected a boundary on at least one qubit";
    }
    if (count > list.qubits.size() - next) return where + "expected " + std::to_string(count) +
                                                  " qubits, found the list's end";
    Statement st{};
    st.first_operand = static_cast<std::uint32_t>(program.operands.size());
    st.operand_count = static_cast<std::uint32_t>(count);
    st.condition = kNoCondition;
    st.library = static_cast<QasmGate>(code);
    st.gate = library_op(st.library);
    st.kind = is_run_gate(st.gate) ? StatementKind::RunGate : StatementKind::Gate;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t q = list.qubits[next++];
      if (q >= list.width) {
        return where + "expected a qubit below " + std::to_string(list.width) + ", not " +
               std::to_string(q);
      }
      if (seen[q] == k + 1) return where + "qubit " + std::to_string(q) + " is named twice";
      seen[q] = k + 1;
      program.operands.push_back({0, q});
    }
    program.statements.push_back(st);
  }
  if (next != list.qubits.size()) {
    return std::to_string(list.qubits.size() - next) +
           " qubit entries follow the last operation";
  }
  return program;
}

}  // namespace kestrel
