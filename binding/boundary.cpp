// Turning C++ exceptions into Python exceptions at the module boundary.
#include "binding/boundary.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string_view>
#include <system_error>

#include "binding/module.h"
#include "engine/fault.h"

namespace kestrel::binding {
namespace {

// Writes all of `text` to fd 2, ignoring failure: it is only a report.
void report(std::string_view text) noexcept {
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The last resort when turning an exception into a Python one fails itself.
[[noreturn]] void die_at_boundary() noexcept {
  report("uncaught panic at ffi boundary\n");
  std::abort();
}

// Raises `kestrel.PanicException` with `message` as its single argument.
PyObject* raise_panic(PyObject* module, const std::string& message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                        "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(module_state(module).panic_type, text);
  Py_DECREF(text);
  return nullptr;
}

// Calling OSError(errno, strerror, filename) makes the subclass for errno.
PyObject* raise_os_error(const OsError& error) {
  PyObject* filename = nullptr;
  if (const auto& path = error.filename()) {
    filename = PyUnicode_DecodeFSDefaultAndSize(path->data(), static_cast<Py_ssize_t>(path->size()));
    if (filename == nullptr) return nullptr;
  }
  const std::string& text = error.strerror();
  PyObject* exception =
      filename == nullptr
          ? PyObject_CallFunction(PyExc_OSError, "is#", error.code(), text.data(),
                                  static_cast<Py_ssize_t>(text.size()))
          : PyObject_CallFunction(PyExc_OSError, "is#O", error.code(), text.data(),
                                  static_cast<Py_ssize_t>(text.size()), filename);
  Py_XDECREF(filename);
  if (exception == nullptr) return nullptr;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
  Py_DECREF(exception);
  return nullptr;
}

}  // namespace

OsError::OsError(int code, std::optional<std::string> filename, std::string strerror)
    : code_(code),
      strerror_(strerror.empty() ? std::system_category().message(code) : std::move(strerror)),
      filename_(std::move(filename)) {}

PyObject* raise_exception(PyObject* module, std::exception_ptr error) noexcept {
  try {
    try {
      std::rethrow_exception(std::move(error));
    } catch (const Fault& fault) {
      const auto& where = fault.where();
      report("kestrel: internal fault at " + std::string(where.file_name()) + ":" +
             std::to_string(where.line()) + ": " + fault.message() + "\n");
      return raise_panic(module, fault.message());
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    } catch (const OsError& os_error) {
      return raise_os_error(os_error);
    } catch (const std::exception& other) {
      report(std::string("kestrel: internal fault: ") + other.what() + "\n");
      return raise_panic(module, other.what());
    } catch (...) {
      report("kestrel: internal fault: unknown exception\n");
      return raise_panic(module, "unknown exception");
    }
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    die_at_boundary();
  }
}

}  // namespace kestrel::binding
