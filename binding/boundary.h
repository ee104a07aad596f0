// The boundary between the C++ core and the interpreter.
//
// No C++ exception may unwind into the interpreter. Every entry point runs its
// body through `guarded`, and the C++ work that needs no Python object runs
// through `without_gil`, which releases the interpreter lock and carries any
// exception back as a `std::exception_ptr`. Both end in `raise_exception`,
// which turns the exception into the Python one:
//
//   kestrel::Fault      -> kestrel.PanicException(message), after a report on fd 2
//   std::bad_alloc      -> MemoryError
//   OsError             -> OSError(message)
//   anything else       -> kestrel.PanicException(what)
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <string>
#include <utility>

namespace kestrel::binding {

// A failed operating-system call or stream, raised as `OSError` whose single
// argument is `message()`: "<system description> (os error N)" or a fixed
// text such as "stream did not contain valid UTF-8".
class OsError : public std::exception {
 public:
  explicit OsError(std::string message) : message_(std::move(message)) {}
  // The error of errno value `error`, with `context` (if any) before it.
  static OsError from_errno(int error, const std::string& context = "");

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;  // the exception's text, UTF-8
};

// Sets the Python exception for the C++ exception `error` and returns NULL.
// `module` is the kestrel module, whose state holds `PanicException`.
// Requires the interpreter lock.
PyObject* raise_exception(PyObject* module, std::exception_ptr error) noexcept;

// Runs `body` (returning a new reference or NULL with an exception set) with
// the interpreter lock held, turning any C++ exception into a Python one.
template <class F>
PyObject* guarded(PyObject* module, F&& body) noexcept {
  std::exception_ptr error;
  try {
    return body();
  } catch (...) {
    error = std::current_exception();
  }
  return raise_exception(module, std::move(error));
}

// Runs `work` with the interpreter lock released. `work` must not touch any
// Python object. Returns the exception it threw, or null on success.
template <class F>
[[nodiscard]] std::exception_ptr without_gil(F&& work) noexcept {
  std::exception_ptr error;
  Py_BEGIN_ALLOW_THREADS
  try {
    work();
  } catch (...) {
    error = std::current_exception();
  }
  Py_END_ALLOW_THREADS
  return error;
}

}  // namespace kestrel::binding
