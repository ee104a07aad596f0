// Collecting runs reads the statements once, in order: each qubit keeps its
// pending run as a string of gate codes, and a statement that names the
// qubit otherwise ends it, in the order of its operands and broadcast
// instances. The working class is private to this file.
#include "src/per_qubit/runs.h"

#include "engine/fault.h"
#include "engine/hashing.h"

namespace kestrel {
namespace {

struct TextHash {
  using is_avalanching = void;  // hash_bytes mixes its result
  std::size_t operator()(std::string_view text) const noexcept { return hash_bytes(text); }
};

class Collector {
 public:
  explicit Collector(const QasmProgram& program) : program_(program) {}
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  Runs collect();

 private:
  struct Wire {
    std::string run;         // the pending run's gate codes
    std::uint32_t last = 0;  // the statement of its last gate
  };

  void end_runs(const Operand& op, std::uint32_t i);
  void end_run(std::uint32_t qubit);

  const QasmProgram& program_;                            // the program read
  std::vector<Wire> wires_;                               // per qubit
  HashMap<std::string, std::uint32_t, TextHash> known_;   // run codes -> distinct run
  Runs runs_;                                             // what has been found
};

Runs Collector::collect() {
  wires_.resize(program_.qubits);
  runs_.ending.assign(program_.statements.size(), kNoRun);
  const auto& statements = program_.statements;
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    const Statement& st = statements[s];
    const Operand* ops = program_.operands.data() + st.first_operand;
    switch (st.kind) {
      case StatementKind::Declaration: break;
      case StatementKind::RunGate: {
        const Register& reg =
            program_.registers[checked_index(program_.registers.size(), ops[0].reg)];
        Wire& wire = wires_[checked_index(wires_.size(), reg.first + ops[0].index)];
        wire.run.push_back(static_cast<char>(st.gate));
        wire.last = s;
        break;
      }
      case StatementKind::Barrier:
        for (std::uint32_t k = 0; k < st.operand_count; ++k) {
          const bool whole = ops[k].index == kWholeRegister;
          const std::uint32_t count = whole ? program_.registers[ops[k].reg].size : 1;
          for (std::uint32_t i = 0; i < count; ++i) end_runs(ops[k], i);
        }
        break;
      case StatementKind::Gate:
      case StatementKind::Measure:
      case StatementKind::Reset: {
        // Every whole-register operand has the same size (the reader checked).
        std::uint32_t instances = 1;
        for (std::uint32_t k = 0; k < st.operand_count; ++k) {
          if (ops[k].index == kWholeRegister) instances = program_.registers[ops[k].reg].size;
        }
        for (std::uint32_t i = 0; i < instances; ++i) {
          for (std::uint32_t k = 0; k < st.operand_count; ++k) end_runs(ops[k], i);
        }
        break;
      }
    }
  }
  for (std::uint32_t q = 0; q < program_.qubits; ++q) end_run(q);
  return std::move(runs_);
}

// Ends the run of the qubit that operand `op` names in broadcast instance `i`.
void Collector::end_runs(const Operand& op, std::uint32_t i) {
  const Register& reg = program_.registers[checked_index(program_.registers.size(), op.reg)];
  if (!reg.quantum) return;
  end_run(reg.first + (op.index == kWholeRegister ? i : op.index));
}

void Collector::end_run(std::uint32_t q) {
  Wire& wire = wires_[checked_index(wires_.size(), q)];
  if (wire.run.empty()) return;
  auto it = known_.find(wire.run);
  if (it == known_.end()) {
    it = known_.emplace(wire.run, static_cast<std::uint32_t>(runs_.distinct.size())).first;
    runs_.distinct.push_back(wire.run);
  }
  runs_.ending[wire.last] = it->second;
  wire.run.clear();
}

}  // namespace

Runs collect_runs(const QasmProgram& program) { return Collector(program).collect(); }

}  // namespace kestrel
