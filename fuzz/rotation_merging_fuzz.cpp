// Arbitrary bytes as a whole program through rotation merging, checked as
// fuzz/program_check.h says: on up to six qubits the same states up to
// exactly the global phase the method records, on every branch followed.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/program_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  static constexpr PipelineOptions kOptions{
      .method = Method::RotationMerging, .per_qubit = false, .limits = {}, .phase = true};
  check_program_method(std::string_view(reinterpret_cast<const char*>(data), size), kOptions);
  return 0;
}
