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
//   OsError             -> OSError(errno, strerror[, filename]): the subclass the
//                          interpreter picks for errno, such as FileNotFoundError
//   anything else       -> kestrel.PanicException(what)
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace kestrel::binding {

// A failed operating-system call on a file or stream, raised as the `OSError`
// that the interpreter itself would raise for its errno value, with `errno`,
// `strerror` and `filename` set: "[Errno 2] No such file or directory:
// 'missing.qasm'".
class OsError : public std::exception {
 public:
  // `strerror` is the system's text for `code` unless given.
  OsError(int code, std::optional<std::string> filename, std::string strerror = {});

  const char* what() const noexcept override { return strerror_.c_str(); }
  int code() const noexcept { return code_; }
  const std::string& strerror() const noexcept { return strerror_; }
  // The path as the operating system's bytes, absent for a stream.
  const std::optional<std::string>& filename() const noexcept { return filename_; }

 private:
  int code_;                               // the errno value
  std::string strerror_;                   // its description, UTF-8
  std::optional<std::string> filename_;    // the file it concerns
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
