// What the fuzz targets of the one-wire methods check of every result, the
// global phase asked for: no error or refusal (one wire reads any text), a
// phase, the statistics of the
// gates read and of the gates written (fuzz/wire_model.h counts them), a T
// count that never grows, no rotation gates and the written text's frame;
// and of a text read per qubit instead, that it is the per-qubit mode's result.
#pragma once

#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz/invariant.h"
#include "fuzz/wire_model.h"
#include "src/pipeline/pipeline.h"
#include "src/program/program.h"
#include "src/text/qasm.h"

namespace kestrel {

// Whether `text` was read per qubit, not as one wire (a program of several
// qubits, or lines the one-wire reader would drop): then the result must be
// what the per-qubit mode gives, which a target of its own checks against a
// state-vector simulation.
inline bool read_per_qubit(std::string_view text, const PipelineResult& result,
                           PipelineOptions options) {
  if (result.error) {
    // An angle that is no finite number is refused by every method, with the
    // statement reader's own error.
    const auto read = read_program(text);
    require(std::holds_alternative<InputError>(read) && *result.error == std::get<InputError>(read),
            "only the statement reader's error refuses a text");
    return true;
  }
  if (result.reading == TextReading::OneWire) return false;
  require(result.reading == TextReading::PerQubit, "a one-wire method reads one wire or per qubit");
  options.per_qubit = true;
  const PipelineResult asked = run_pipeline(text, options);
  require(result.qasm == asked.qasm && result.before == asked.before &&
              result.after == asked.after && result.phase == asked.phase,
          "a text read per qubit gives what the per-qubit mode gives");
  return true;
}

// The gates read from `text` and from the result's text, once checked.
inline std::pair<std::vector<Op>, std::vector<Op>> check_wire_result(std::string_view text,
                                                                     const PipelineResult& result) {
  std::vector<Op> in = wire_gates(text);
  std::vector<Op> out = wire_gates(result.qasm);
  require(!result.error && !result.refusal, "one wire reads any text");
  require(result.phase.has_value(), "the phase asked for");
  require(result.before == wire_counts(in), "the statistics of the input");
  require(result.after == wire_counts(out), "the statistics of the written text");
  require(result.after.t <= result.before.t, "the T count never grows");
  for (Op g : out) require(g.op() != OpKind::RZ1 && g.op() != OpKind::RZ2, "no rotation gate");
  require(result.qasm.starts_with(kQasmHeader) && result.qasm.ends_with('\n'),
          "the written text's frame");
  return {std::move(in), std::move(out)};
}

}  // namespace kestrel
