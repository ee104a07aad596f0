// The exception boundary of the module, in an interpreter embedded in this
// test: each C++ exception must become its Python exception, and a fault
// must also leave a report with its place on standard error.
#include "binding/boundary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/fault.h"

extern "C" PyObject* PyInit_kestrel();

namespace kestrel::binding {
namespace {

// The pending exception as "<class 'T'>: <str of it>", cleared.
std::string take_exception() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* text = PyUnicode_FromFormat("%S: %S", type, value);
  std::string out = PyUnicode_AsUTF8AndSize(text, nullptr);
  for (PyObject* object : {text, type, value, traceback}) Py_XDECREF(object);
  return out;
}

TEST(Boundary, EachExceptionBecomesItsPythonException) {
  PyImport_AppendInittab("kestrel", PyInit_kestrel);
  Py_Initialize();
  PyObject* module = PyImport_ImportModule("kestrel");
  ASSERT_NE(module, nullptr);
  const int line = __LINE__ + 1;
  const auto failed = []() -> PyObject* { fault("assertion failed: x < 3"); };
  const std::string panic = "<class 'kestrel.PanicException'>: ";
  const struct {
    std::function<PyObject*()> body;
    std::string raised;
    std::string report;  // written to fd 2 before the exception is raised
  } cases[] = {
      {failed, panic + "assertion failed: x < 3",
       "kestrel: internal fault at " + std::string(__FILE__) + ":" + std::to_string(line) +
           ": assertion failed: x < 3\n"},
      {[&]() -> PyObject* {
         if (auto error = without_gil([] { fault_index(2, 5); })) return raise_exception(module, error);
         Py_RETURN_NONE;
       },
       panic + "index out of bounds: the len is 2 but the index is 5", ": index out of bounds"},
      {[]() -> PyObject* { throw std::bad_alloc(); }, "<class 'MemoryError'>: ", ""},
      // An OsError becomes the OSError subclass of its errno, with its path
      // (ENOENT and EPIPE through the command line: test_cli.py).
      {[]() -> PyObject* { throw OsError(EACCES, "\xff.qasm"); },
       "<class 'PermissionError'>: [Errno 13] Permission denied: '\\udcff.qasm'", ""},
      {[]() -> PyObject* { throw OsError(EILSEQ, "in.qasm", "stream did not contain valid UTF-8"); },
       "<class 'OSError'>: [Errno 84] stream did not contain valid UTF-8: 'in.qasm'", ""},
      {[]() -> PyObject* { throw std::out_of_range("vector"); }, panic + "vector", "kestrel: internal fault: vector\n"},
      {[]() -> PyObject* { throw 42; }, panic + "unknown exception", "kestrel: internal fault: unknown exception\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    PyObject* result = guarded(module, c.body);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(take_exception(), c.raised);
    EXPECT_NE(report.find(c.report), std::string::npos) << report;
  }
}

}  // namespace
}  // namespace kestrel::binding

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
