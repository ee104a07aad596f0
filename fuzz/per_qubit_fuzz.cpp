// Arbitrary bytes as a whole program through the per-qubit mode with the
// default method, saturation, at small limits (a few iterations and
// thousand nodes per run), checked as fuzz/program_check.h says: the exact
// same states on up to six qubits, since every rule is an exact identity.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/program_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  static constexpr PipelineOptions kOptions{
      .method = Method::Saturation,
      .per_qubit = true,
      .limits = {.iter_limit = 6, .node_limit = 4000, .time_limit = std::chrono::seconds(1)},
      .phase = true};
  check_program_method(std::string_view(reinterpret_cast<const char*>(data), size), kOptions);
  return 0;
}
