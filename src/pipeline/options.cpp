// The checks of option values and their messages.
#include "src/pipeline/options.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel {

std::string method_list(std::string_view quote) {
  std::string out;
  for (std::size_t k = 0; k < kMethods.size(); ++k) {
    if (k > 0) out += k + 1 == kMethods.size() ? " or " : ", ";
    out += std::string(quote) + std::string(kMethods[k].name) + std::string(quote);
  }
  return out;
}

std::optional<std::string> set_method(std::string_view name, std::string_view value,
                                      std::string_view shown, Method& out) {
  for (const MethodName& method : kMethods) {
    if (method.name == value) {
      out = method.method;
      return std::nullopt;
    }
  }
  return std::string(name) + " must be " + method_list("'") + ", not " + std::string(shown);
}

std::optional<std::string> set_count(std::string_view name, std::optional<WholeNumber> value,
                                     std::string_view shown, std::size_t& out) {
  if (value && value->beyond > 0) {
    out = std::numeric_limits<std::size_t>::max();
    return std::nullopt;
  }
  if (!value || value->beyond < 0 || value->value < 1) {
    return std::string(name) + " must be a whole number of at least 1, not " + std::string(shown);
  }
  out = static_cast<std::size_t>(value->value);
  return std::nullopt;
}

std::optional<std::string> set_seconds(std::string_view name, std::optional<Seconds> value,
                                       std::string_view shown, std::chrono::nanoseconds& out) {
  constexpr double kMaxNanoseconds = 9.0e18;  // below the largest int64
  if (value && value->too_large) {
    out = std::chrono::nanoseconds(static_cast<std::int64_t>(kMaxNanoseconds));
    return std::nullopt;
  }
  if (!value || !std::isfinite(value->value) || value->value <= 0) {
    return std::string(name) + " must be a positive finite number of seconds, not " +
           std::string(shown);
  }
  const double nanoseconds = std::min(value->value * 1e9, kMaxNanoseconds);
  out = std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds));
  return std::nullopt;
}

}  // namespace kestrel
