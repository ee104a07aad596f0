// Arbitrary bytes as a whole program through the per-qubit mode with the
// normal form, checked as fuzz/program_check.h says: the same states on up
// to six qubits up to the global phase it reports.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/program_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  static constexpr PipelineOptions kOptions{
      .method = Method::NormalForm, .per_qubit = true, .limits = {}, .phase = true};
  check_program_method(std::string_view(reinterpret_cast<const char*>(data), size), kOptions);
  return 0;
}
