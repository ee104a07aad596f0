// The exception boundary of the module, in an interpreter embedded in this
// test: each C++ exception must become its Python exception, and a fault must
// also leave a report with its place on standard error.
#include "binding/boundary.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/fault.h"

extern "C" PyObject* PyInit_kestrel();

namespace kestrel::binding {
namespace {

PyObject* the_module = nullptr;  // the kestrel module of the embedded interpreter

// Redirects fd 2 into a temporary file for the life of the object.
class CapturedStderr {
 public:
  CapturedStderr() : file_(std::tmpfile()), saved_(::dup(2)) { ::dup2(::fileno(file_), 2); }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;
  ~CapturedStderr() {
    restore();
    std::fclose(file_);
  }
  // Restores fd 2 and returns what was written to it.
  std::string text() {
    restore();
    std::string out;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) out.push_back(static_cast<char>(c));
    return out;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      ::dup2(saved_, 2);
      ::close(saved_);
      saved_ = -1;
    }
  }
  std::FILE* file_;  // owned temporary file
  int saved_;        // the original fd 2, or -1 once restored
};

// The pending exception's type and its args[0] as text; clears it.
struct Raised {
  PyObject* type = nullptr;  // borrowed for comparison only
  std::string first_arg;
  Py_ssize_t arg_count = -1;
};

Raised take_exception() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Raised raised;
  raised.type = type;
  if (value != nullptr) {
    PyObject* args = PyObject_GetAttrString(value, "args");
    raised.arg_count = PyTuple_Size(args);
    if (raised.arg_count > 0) {
      PyObject* text = PyObject_Str(PyTuple_GetItem(args, 0));
      raised.first_arg = PyUnicode_AsUTF8AndSize(text, nullptr);
      Py_DECREF(text);
    }
    Py_DECREF(args);
  }
  Py_XDECREF(type);  // the type object outlives this: it is a builtin or held by the module
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return raised;
}

// kestrel.PanicException, a new reference. Call it with no exception pending.
PyObject* panic_type() { return PyObject_GetAttrString(the_module, "PanicException"); }

class Boundary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (the_module != nullptr) return;
    PyImport_AppendInittab("kestrel", PyInit_kestrel);
    Py_Initialize();
    the_module = PyImport_ImportModule("kestrel");
    ASSERT_NE(the_module, nullptr);
  }
  void TearDown() override { EXPECT_FALSE(PyErr_Occurred()); }
};

TEST_F(Boundary, FaultBecomesPanicExceptionAfterAReport) {
  CapturedStderr captured;
  const int line = __LINE__ + 1;
  PyObject* result = guarded(the_module, []() -> PyObject* { fault("assertion failed: x < 3"); });
  const std::string report = captured.text();
  EXPECT_EQ(result, nullptr);
  const Raised raised = take_exception();
  PyObject* panic = panic_type();
  EXPECT_EQ(raised.type, panic);
  EXPECT_EQ(raised.arg_count, 1);
  EXPECT_EQ(raised.first_arg, "assertion failed: x < 3");
  Py_DECREF(panic);
  EXPECT_NE(report.find("boundary_test.cpp:" + std::to_string(line)), std::string::npos) << report;
  EXPECT_NE(report.find("assertion failed: x < 3"), std::string::npos) << report;
  EXPECT_EQ(report.back(), '\n');
}

TEST_F(Boundary, FaultWithoutTheLockIsCarriedBack) {
  CapturedStderr captured;
  PyObject* result = guarded(the_module, []() -> PyObject* {
    if (auto error = without_gil([] { fault_index(2, 5); })) {
      return raise_exception(the_module, std::move(error));
    }
    Py_RETURN_NONE;
  });
  EXPECT_NE(captured.text().find("index out of bounds"), std::string::npos);
  EXPECT_EQ(result, nullptr);
  const Raised raised = take_exception();
  PyObject* panic = panic_type();
  EXPECT_EQ(raised.type, panic);
  EXPECT_EQ(raised.first_arg, "index out of bounds: the len is 2 but the index is 5");
  Py_DECREF(panic);
}

TEST_F(Boundary, WorkWithoutTheLockRunsAndSucceeds) {
  int ran = 0;
  EXPECT_FALSE(without_gil([&] { ran = 1; }));
  EXPECT_EQ(ran, 1);
}

TEST_F(Boundary, BadAllocBecomesMemoryError) {
  PyObject* result = guarded(the_module, []() -> PyObject* { throw std::bad_alloc(); });
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(take_exception().type, PyExc_MemoryError);
}

TEST_F(Boundary, OsErrorBecomesTheOSErrorSubclassOfItsErrno) {
  const struct {
    OsError error;
    PyObject* type;
    const char* text;  // str() of the exception
  } cases[] = {
      {OsError(ENOENT, "missing.qasm"), PyExc_FileNotFoundError,
       "[Errno 2] No such file or directory: 'missing.qasm'"},
      {OsError(EACCES, "\xff.qasm"), PyExc_PermissionError,
       "[Errno 13] Permission denied: '\\udcff.qasm'"},
      {OsError(EPIPE, std::nullopt, "failed printing to stdout: Broken pipe"),
       PyExc_BrokenPipeError, "[Errno 32] failed printing to stdout: Broken pipe"},
      {OsError(EILSEQ, "in.qasm", "stream did not contain valid UTF-8"), PyExc_OSError,
       "[Errno 84] stream did not contain valid UTF-8: 'in.qasm'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(guarded(the_module, [&]() -> PyObject* { throw c.error; }), nullptr);
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    EXPECT_EQ(type, c.type) << c.text;
    PyObject* text = PyObject_Str(value);
    EXPECT_STREQ(PyUnicode_AsUTF8AndSize(text, nullptr), c.text);
    Py_DECREF(text);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
  }
}

TEST_F(Boundary, OtherExceptionsBecomePanicException) {
  CapturedStderr captured;
  PyObject* panic = panic_type();
  EXPECT_EQ(guarded(the_module, []() -> PyObject* { throw std::out_of_range("vector"); }),
            nullptr);
  const Raised standard = take_exception();
  EXPECT_EQ(standard.type, panic);
  EXPECT_EQ(standard.first_arg, "vector");
  EXPECT_EQ(guarded(the_module, []() -> PyObject* { throw 42; }), nullptr);
  const Raised unknown = take_exception();
  EXPECT_EQ(unknown.type, panic);
  EXPECT_EQ(unknown.first_arg, "unknown exception");
  Py_DECREF(panic);
  EXPECT_NE(captured.text().find("vector"), std::string::npos);
}

TEST_F(Boundary, PythonErrorsPassThroughUnchanged) {
  PyObject* result = guarded(the_module, []() -> PyObject* {
    PyErr_SetString(PyExc_KeyError, "t_after");
    return nullptr;
  });
  EXPECT_EQ(result, nullptr);
  const Raised raised = take_exception();
  EXPECT_EQ(raised.type, PyExc_KeyError);
  EXPECT_EQ(raised.first_arg, "t_after");
}

}  // namespace
}  // namespace kestrel::binding

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
