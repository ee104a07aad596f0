// Internal faults: broken invariants of the engine and the core.
//
// A fault is never an expected outcome of any input. When an invariant breaks,
// the code throws `Fault` carrying a fixed message (for example
// "Tried to search a dirty e-graph!"); the whole call stops and the Python
// module turns the exception into `kestrel.PanicException` at its boundary.
// Everything that is an ordinary outcome (text that cannot be read, a limit
// reached) is reported through return values instead.
#pragma once

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>

namespace kestrel {

class Fault : public std::exception {
 public:
  Fault(std::string message, std::source_location where)
      : message_(std::move(message)), where_(where) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  // Where the invariant broke, for the report written before the exception
  // reaches Python.
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;          // the fixed fault text
  std::source_location where_;   // file, line and function that threw
};

// Throws a `Fault` with `message`.
[[noreturn]] void fault(std::string message,
                        std::source_location where = std::source_location::current());

// Faults with "assertion failed: <condition>" unless `ok`.
inline void check(bool ok, const char* condition,
                  std::source_location where = std::source_location::current()) {
  if (!ok) [[unlikely]] fault(std::string("assertion failed: ") + condition, where);
}

// The fault of an index past the end of a sequence of length `len`.
[[noreturn]] void fault_index(std::size_t len, std::size_t index,
                              std::source_location where = std::source_location::current());

// Returns `index` if it is below `len`, else faults as an out-of-bounds index.
inline std::size_t checked_index(std::size_t len, std::size_t index,
                                 std::source_location where = std::source_location::current()) {
  if (index >= len) [[unlikely]] fault_index(len, index, where);
  return index;
}

}  // namespace kestrel
