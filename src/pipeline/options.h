// The options of a run as the command line and Python give them, checked in
// one place so that both take the same values and refuse the others with the
// same message, the option spelled each side's way:
//
//   --iter-limit must be a whole number of at least 1, not '0'
//   iter_limit must be a whole number of at least 1, not 0
//
// Each side reads its own syntax into the small values below (the command
// line parses text, Python converts its objects) and gives the value as its
// user wrote it (`shown`) for the message. A whole number or a number of
// seconds too large for the machine means no limit on both sides.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// How the gates of a wire are optimised.
enum class Method {
  Saturation,  // equality saturation with the gate identities (the default)
  NormalForm,  // the T-optimal normal form of every single-qubit run
  RotationMerging,  // T gates of the whole program merged as pi/8 Pauli rotations
};

// The methods by name, the default first: a new method is one line here
// (and its case in `optimize_run`).
struct MethodName {
  std::string_view name;  // as the option takes it
  Method method;          // what it selects
};
inline constexpr std::array<MethodName, 3> kMethods = {{
    {"saturation", Method::Saturation},
    {"normal-form", Method::NormalForm},
    {"rotation-merging", Method::RotationMerging},
}};

// The method names for people: "'saturation' or 'normal-form'" with
// `quote` "'".
std::string method_list(std::string_view quote);

// A whole number as given: its value when it fits 64 bits, else the side of
// the range it lies beyond.
struct WholeNumber {
  std::int64_t value = 0;  // when `beyond` is 0
  int beyond = 0;          // +1 above the 64-bit range, -1 below it
};

// A number of seconds as given: a double, or a finite number too large for one.
struct Seconds {
  double value = 0;     // when not `too_large`; may be infinite or NaN
  bool too_large = false;  // a positive finite number beyond every double
};

// Each returns the message refusing the value of option `name`, or nothing
// when `out` is set.
std::optional<std::string> set_method(std::string_view name, std::string_view value,
                                      std::string_view shown, Method& out);
std::optional<std::string> set_count(std::string_view name, std::optional<WholeNumber> value,
                                     std::string_view shown, std::size_t& out);
std::optional<std::string> set_seconds(std::string_view name, std::optional<Seconds> value,
                                       std::string_view shown, std::chrono::nanoseconds& out);

}  // namespace kestrel
