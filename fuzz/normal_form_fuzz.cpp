// Arbitrary bytes as one wire through the normal-form method.
//
// Besides what fuzz/wire_check.h checks of every one-wire result, the
// result is the input's 4x4 unitary up to the global phase it reports
// (fuzz/wire_model.h), and a second pass over its text changes nothing: a
// normal form is its own.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/invariant.h"
#include "fuzz/wire_check.h"
#include "fuzz/wire_model.h"
#include "src/pipeline/pipeline.h"

namespace kestrel {
namespace {

constexpr PipelineOptions kOptions{
    .method = Method::NormalForm, .per_qubit = false, .limits = {}, .phase = true};

void run_one(std::string_view text) {
  const PipelineResult result = run_pipeline(text, kOptions);
  if (read_per_qubit(text, result, kOptions)) return;
  const auto [in, out] = check_wire_result(text, result);
  require(run_pipeline(result.qasm, kOptions).qasm == result.qasm,
          "a second pass changes nothing");
  // Beyond some twenty thousand gates rounding would blur the comparison.
  if (in.size() <= 20'000) {
    require(same_unitary(wire_unitary(in), wire_unitary(out), *result.phase),
            "the same unitary up to the phase reported");
  }
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
