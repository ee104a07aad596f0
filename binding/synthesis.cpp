// kestrel.synthesize_rz(angle, epsilon): approximate synthesis of one
// z-rotation into Clifford+T gates (src/synthesis/rz_synthesis.h), the
// arguments checked here and the work done without the interpreter lock.
// (The command line's --rz is in binding/cli.cpp.)
#include <cmath>
#include <string>

#include "binding/boundary.h"
#include "binding/module.h"
#include "src/synthesis/real.h"
#include "src/synthesis/rz_synthesis.h"

namespace kestrel::binding {
namespace {

// The argument at `index` or named `name`, borrowed (the call holds it).
PyObject* argument(PyObject* args, PyObject* kwargs, Py_ssize_t index, const char* name) {
  if (PyTuple_Size(args) > index) return PyTuple_GetItem(args, index);
  return kwargs != nullptr ? PyDict_GetItemString(kwargs, name) : nullptr;
}

}  // namespace

PyObject* synthesize_rz(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded(module, [&]() -> PyObject* {
    static const char* keywords[] = {"angle", "epsilon", nullptr};
    double angle = 0, epsilon = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "dd:synthesize_rz",
                                     const_cast<char**>(keywords), &angle, &epsilon)) {
      return nullptr;
    }
    if (!std::isfinite(angle)) {
      PyErr_Format(PyExc_ValueError, "angle must be a finite number, not %R",
                   argument(args, kwargs, 0, "angle"));
      return nullptr;
    }
    if (!(epsilon > 0 && epsilon <= 0.1)) {
      PyErr_Format(PyExc_ValueError, "epsilon must be a number in (0, 0.1], not %R",
                   argument(args, kwargs, 1, "epsilon"));
      return nullptr;
    }
    if (!(epsilon >= synthesis::kSmallestEpsilon)) {
      PyErr_SetString(PyExc_ValueError,
                      "epsilon below 1e-30 is beyond this synthesis's precision");
      return nullptr;
    }
    synthesis::RzApproximation result;
    if (std::exception_ptr error = without_gil([&] { result = synthesis::synthesize_rz(angle, epsilon); })) {
      return raise_exception(module, error);
    }
    PyObject* gates = PyList_New(static_cast<Py_ssize_t>(result.gates.size()));
    if (gates == nullptr) return nullptr;
    for (std::size_t k = 0; k < result.gates.size(); ++k) {
      const std::string_view name = kind_info(result.gates[k]).qasm_name;
      PyObject* item = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
      if (item == nullptr || PyList_SetItem(gates, static_cast<Py_ssize_t>(k), item) < 0) {
        Py_DECREF(gates);
        return nullptr;
      }
    }
    return Py_BuildValue("(Nn)", gates, static_cast<Py_ssize_t>(result.t_count));
  });
}

}  // namespace kestrel::binding
