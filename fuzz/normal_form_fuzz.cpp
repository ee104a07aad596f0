// Arbitrary bytes as one wire through the normal-form method.
//
// The result is the input's 4x4 unitary up to a global phase
// (fuzz/wire_model.h), with no more T gates than the input, no rotation
// gates, statistics that are those of the gates read and written, and a
// second pass over its text changes nothing: a normal form is its own.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/invariant.h"
#include "fuzz/wire_model.h"
#include "src/pipeline/pipeline.h"
#include "src/text/qasm.h"

namespace kestrel {
namespace {

constexpr PipelineOptions kOptions{.method = Method::NormalForm, .per_qubit = false, .limits = {}};

void run_one(std::string_view text) {
  const PipelineResult result = run_pipeline(text, kOptions);
  const std::vector<Op> in = wire_gates(text);
  const std::vector<Op> out = wire_gates(result.qasm);
  require(!result.error && !result.refusal && !result.phase, "one wire reads any text");
  require(result.before == wire_counts(in), "the statistics of the input");
  require(result.after == wire_counts(out), "the statistics of the written text");
  require(result.after.t <= result.before.t, "the T count never grows");
  for (Op g : out) require(g.op() != OpKind::RZ1 && g.op() != OpKind::RZ2, "no rotation gate");
  require(result.qasm.starts_with(kQasmHeader) && result.qasm.ends_with('\n'),
          "the written text's frame");
  require(run_pipeline(result.qasm, kOptions).qasm == result.qasm,
          "a second pass changes nothing");
  // Beyond some twenty thousand gates rounding would blur the comparison.
  if (in.size() <= 20'000) {
    require(same_unitary(wire_unitary(in), wire_unitary(out), false),
            "the same unitary up to a global phase");
  }
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
