// Collecting runs walks the statements once, in order, seeing the run gates
// through: each qubit keeps its pending run as a string of gate codes, and
// a boundary that names the qubit ends it, in the order of its instances
// and operands. The working class is private to this file.
#include "src/per_qubit/runs.h"

#include "engine/fault.h"
#include "engine/hashing.h"
#include "src/program/instance_walk.h"

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

  void end_run(std::uint32_t qubit);

  const QasmProgram& program_;                            // the program read
  std::vector<Wire> wires_;                               // per qubit
  HashMap<std::string, std::uint32_t, TextHash> known_;   // run codes -> distinct run
  Runs runs_;                                             // what has been found
};

Runs Collector::collect() {
  wires_.resize(program_.qubits);
  runs_.ending.assign(program_.statements.size(), kNoRun);
  struct Reader : InstanceVisitor {
    Collector* c;
    [[gnu::always_inline]] void gate(PlacedGate g, std::uint32_t s, std::uint32_t) {
      Wire& wire = c->wires_[checked_index(c->wires_.size(), g.a)];
      wire.run.push_back(static_cast<char>(run_op(g.gate)));
      wire.last = s;
    }
    void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t> qubits) {
      for (std::uint32_t q : qubits) c->end_run(q);
    }
  } reader;
  reader.c = this;
  InstanceWalk(program_, Sight::RunGates).run(reader);
  for (std::uint32_t q = 0; q < program_.qubits; ++q) end_run(q);
  return std::move(runs_);
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
