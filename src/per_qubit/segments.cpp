// Collecting segments walks the statements once, in order, seeing the run
// gates through: each qubit keeps its pending segment as a string of gate
// codes, and a boundary that names the qubit ends it, in the order of its
// instances and operands. The working class is private to this file.
#include "src/per_qubit/segments.h"

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

  Segments collect();

 private:
  struct Wire {
    std::string segment;     // the pending segment's gate codes
    std::uint32_t last = 0;  // the statement of its last gate
  };

  void end_segment(std::uint32_t qubit);

  const QasmProgram& program_;                            // the program read
  std::vector<Wire> wires_;                               // per qubit
  HashMap<std::string, std::uint32_t, TextHash> known_;   // segment codes -> distinct segment
  Segments segments_;                                     // what has been found
};

Segments Collector::collect() {
  wires_.resize(program_.qubits);
  segments_.ending.assign(program_.statements.size(), kNoSegment);
  struct Reader : InstanceVisitor {
    Collector* c;
    [[gnu::always_inline]] void gate(PlacedGate g, std::uint32_t s, std::uint32_t) {
      Wire& wire = c->wires_[checked_index(c->wires_.size(), g.a)];
      wire.segment.push_back(static_cast<char>(run_op(g.gate)));
      wire.last = s;
    }
    void boundary(std::uint32_t, std::uint32_t, std::span<const std::uint32_t> qubits) {
      for (std::uint32_t q : qubits) c->end_segment(q);
    }
  } reader;
  reader.c = this;
  InstanceWalk(program_, Sight::RunGates).run(reader);
  for (std::uint32_t q = 0; q < program_.qubits; ++q) end_segment(q);
  return std::move(segments_);
}

void Collector::end_segment(std::uint32_t q) {
  Wire& wire = wires_[checked_index(wires_.size(), q)];
  if (wire.segment.empty()) return;
  auto it = known_.find(wire.segment);
  if (it == known_.end()) {
    it = known_.emplace(wire.segment, static_cast<std::uint32_t>(segments_.distinct.size())).first;
    segments_.distinct.push_back(wire.segment);
  }
  segments_.ending[wire.last] = it->second;
  wire.segment.clear();
}

}  // namespace

Segments collect_segments(const QasmProgram& program) { return Collector(program).collect(); }

}  // namespace kestrel
