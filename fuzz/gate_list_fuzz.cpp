// Arbitrary bytes as a program given as a gate list (as a circuit library
// hands one over, src/program/gate_list.h) through every method.
//
// The first byte is the width, the second the number of operations n, the
// next n bytes their gate codes and every byte after them a qubit. A list
// is either refused with a reason or a program; for a program each method
// (saturation and the normal form on every qubit's runs, at small limits,
// and rotation merging) gives edits and the global phase, and on up to six
// qubits fuzz/program_model.h runs the program with and without the edits
// from two pseudo-random states: the same states up to exactly that phase
// (a boundary stands for an unknown unitary drawn from its place).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/invariant.h"
#include "fuzz/program_model.h"
#include "src/pipeline/pipeline.h"
#include "src/program/gate_list.h"

namespace kestrel {
namespace {

void run_one(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const std::size_t n = std::min<std::size_t>(data[1], size - 2);
  const std::vector<std::uint32_t> qubits(data + 2 + n, data + size);
  const GateList list{.gates = std::span(data + 2, n), .qubits = qubits, .width = data[0]};
  auto made = program_from_gates(list);
  if (const auto* why = std::get_if<std::string>(&made)) {
    require(!why->empty(), "a refused list says why");
    return;
  }
  const QasmProgram& program = std::get<QasmProgram>(made);
  require(program.qubits == list.width && program.statements.size() == n,
          "one statement per operation on the list's qubits");
  const ProgramModel model("", program);
  for (const Method method : {Method::Saturation, Method::NormalForm, Method::RotationMerging}) {
    const PipelineOptions options{
        .method = method,
        .per_qubit = true,
        .limits = {.iter_limit = 6, .node_limit = 4000, .time_limit = std::chrono::seconds(1)},
        .phase = true};
    const ProgramEdits edited = optimize_program(program, options);
    require(!edited.refusal && edited.phase.has_value(), "a small program's edits and phase");
    if (method == Method::Saturation) require(edited.phase == 0, "saturation is exact");
    if (!model.covered()) continue;
    const Complex phase = std::polar(1.0, -*edited.phase * std::numbers::pi / 8);
    for (const Pick pick : {Pick::Likelier, Pick::Rarer}) {
      const Amplitudes start = model.random_state(pick == Pick::Likelier ? 1 : 2);
      std::vector<Outcome> outcomes;
      const Amplitudes a = *model.run(start, pick, outcomes, false);
      const Amplitudes b = *model.run(start, pick, outcomes, true, &edited.edits);
      require(same_states(a, b, phase), "the same states up to the global phase");
    }
  }
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(data, size);
  return 0;
}
