// The extension module `kestrel`: its state and its public functions
// (and `_optimize_gates`, binding/gates.h, for kestrel.qiskit).
//
// The module is created once per process by PyInit_kestrel and kept; it owns
// the `PanicException`, `OneWireWarning`, `Report` and `Iteration` types in
// its state.
// `optimize_qasm(qasm)` returns the optimised text with six counts,
// `explain(qasm)` (binding/explain.h) also reports the saturation run,
// `synthesize_rz(angle, epsilon)` (binding/synthesis.cpp) approximates one
// z-rotation with Clifford+T gates, and
// `cli()` runs the same pipeline on a file named on the command line:
//
//   >>> kestrel.optimize_qasm(header + "t q[0];\nt q[0];\n")
//   ('OPENQASM 2.0;\n...s q[0];\n', {'t_before': 2, 't_after': 0, ...})
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kestrel::binding {

struct ModuleState {
  PyObject* panic_type = nullptr;        // kestrel.PanicException, strong reference
  PyObject* one_wire_warning = nullptr;  // kestrel.OneWireWarning, strong reference
  PyObject* report_type = nullptr;       // kestrel.Report, strong reference
  PyObject* iteration_type = nullptr;    // kestrel.Iteration, strong reference
};

// The state of the kestrel module object `module`.
ModuleState& module_state(PyObject* module);

// optimize_qasm(qasm): METH_VARARGS | METH_KEYWORDS.
PyObject* optimize_qasm(PyObject* module, PyObject* args, PyObject* kwargs);

// synthesize_rz(angle, epsilon): METH_VARARGS | METH_KEYWORDS (binding/synthesis.cpp).
PyObject* synthesize_rz(PyObject* module, PyObject* args, PyObject* kwargs);


// cli(): METH_NOARGS.
PyObject* cli(PyObject* module, PyObject* unused);

}  // namespace kestrel::binding
