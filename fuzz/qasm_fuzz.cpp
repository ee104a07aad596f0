// Arbitrary bytes as one wire through the default method: read, saturate,
// extract, write, as the Python module and the command line run it.
//
// The limits are small (three iterations, three hundred nodes) and the
// input short (its first kMaxBytes bytes; scripts/fuzz.sh caps it there
// too), so every input goes through saturation and extraction rather than
// the shortcut for circuits past the node limit, and the target runs
// hundreds of inputs a second under the sanitizers. Each input checks what
// a caller relies on: besides what fuzz/wire_check.h checks of every
// one-wire result, the result is the same 4x4 unitary as the input
// (fuzz/wire_model.h), it costs no more, its text reads back as its gates,
// and the same call with a report and a drawing (explain and --dot) gives
// the same text, with a drawing of a small enough e-graph.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/invariant.h"
#include "fuzz/wire_check.h"
#include "fuzz/wire_model.h"
#include "src/pipeline/pipeline.h"
#include "src/text/qasm.h"

namespace kestrel {
namespace {

// At most 160 / 4 gates ("t x\n" is one), far below the node limit.
constexpr std::size_t kMaxBytes = 160;
constexpr PipelineOptions kOptions{
    .method = Method::Saturation,
    .per_qubit = false,
    .limits = {.iter_limit = 3, .node_limit = 300, .time_limit = std::chrono::seconds(1)},
    .phase = true};

void run_one(std::string_view text) {
  text = text.substr(0, kMaxBytes);
  const PipelineResult result = run_pipeline(text, kOptions);
  if (read_per_qubit(text, result, kOptions)) return;
  const auto [in, out] = check_wire_result(text, result);
  require(result.after.t < result.before.t || result.after.gates <= result.before.gates,
          "the result never costs more");
  require(print_qasm(parse_qasm(result.qasm)) == result.qasm, "the written text reads back");
  require(result.phase == 0, "saturation's identities hold exactly");
  require(same_unitary(wire_unitary(in), wire_unitary(out), 0), "the same unitary");

  RunReport report;
  const PipelineResult explained = run_pipeline(text, kOptions, {.report = &report, .draw = true});
  const bool timed_out = report.stop_reason.kind == StopReason::Kind::TimeLimit;
  require(timed_out || explained.qasm == result.qasm, "a report changes nothing of the result");
  require(explained.before == result.before, "a report: the statistics of the input");
  require(!report.skipped, "the input is loaded below the node limit");
  require(report.dot.has_value() == (report.drawn_nodes <= kMaxDrawnNodes),
          "a drawing of every e-graph small enough");
  require(!report.dot || report.dot->starts_with("digraph egraph {"), "the drawing's frame");
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
