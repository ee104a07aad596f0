// Module definition and initialisation.
//
// The module uses single-phase initialisation: the first import creates it,
// and every later initialisation in the same interpreter (say, after
// `del sys.modules["kestrel"]`) returns that same object. The module
// remembers the interpreter that created it and refuses any other, since its
// state, `PanicException` included, belongs to that interpreter.
#include "binding/module.h"

#include <cstdint>
#include <new>

#include "binding/explain.h"
#include "binding/gates.h"

namespace kestrel::binding {
namespace {

int traverse(PyObject* module, visitproc visit, void* arg) {
  const ModuleState& state = module_state(module);
  Py_VISIT(state.panic_type);
  Py_VISIT(state.report_type);
  Py_VISIT(state.iteration_type);
  return 0;
}

int clear(PyObject* module) {
  ModuleState& state = module_state(module);
  Py_CLEAR(state.panic_type);
  Py_CLEAR(state.report_type);
  Py_CLEAR(state.iteration_type);
  return 0;
}

void free_module(void* module) { clear(static_cast<PyObject*>(module)); }

PyMethodDef methods[] = {
    {"optimize_qasm", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(optimize_qasm)),
     METH_VARARGS | METH_KEYWORDS,
     "optimize_qasm(qasm, *, method='saturation', per_qubit=False, phase=False, "
     "iter_limit=30, node_limit=10000, time_limit=5.0)\n--\n\n"
     "optimize_qasm(qasm: str) -> (optimized_qasm: str, stats: dict)\n\n"
     "method: 'saturation' (equality saturation with the gate identities),\n"
     "'normal-form' (the T-optimal normal form of every single-qubit run) or\n"
     "'rotation-merging' (the T gates of a whole program merged across its\n"
     "Clifford gates; always reads the text as a whole program).\n"
     "per_qubit: read the text as a whole multi-qubit program and optimise\n"
     "every qubit's runs of single-qubit gates, keeping everything else.\n"
     "phase: add 'phase' to the statistics, the exact global phase k\n"
     "(0 to 15) with input = e^(i k pi/8) * result.\n"
     "iter_limit, node_limit, time_limit: where saturation stops. With\n"
     "per_qubit=True the time limit bounds the whole call: the runs share it,\n"
     "and a run not reached before it comes back as it was. With rotation\n"
     "merging, T gates read after the time limit stay as they are."},
    {"_optimize_gates", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(optimize_gates)),
     METH_VARARGS | METH_KEYWORDS,
     "_optimize_gates(gates, qubits, width, *, method='saturation', iter_limit=30, "
     "node_limit=10000, time_limit=5.0)\n--\n\n"
     "A circuit given as gate codes and qubits optimised: (edits, phase).\n"
     "For kestrel.qiskit; not a public interface."},
    {"explain", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(explain)),
     METH_VARARGS | METH_KEYWORDS,
     "explain(qasm, *, iter_limit=30, node_limit=10000, time_limit=5.0)\n--\n\n"
     "explain(qasm: str) -> Report\n\n"
     "Optimises `qasm` as optimize_qasm does and reports the saturation run:\n"
     "why it stopped, the final e-graph and what each iteration did."},
    {"cli", cli, METH_NOARGS,
     "cli()\n--\n\n"
     "CLI entrypoint with no Python args (usable via console_scripts).\n"
     "Parses argv: kestrel --in file.qasm [--out out.qasm] [--stats]"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kestrel",
    .m_doc = "Simplifies Clifford+T circuits written in OpenQASM 2.0.\n\n"
             "optimize_qasm(text) returns the optimised text and before/after\n"
             "statistics; explain(text) also reports what the saturation run did;\n"
             "cli() is the command line (python -m kestrel --help).",
    .m_size = sizeof(ModuleState),
    .m_methods = methods,
    .m_slots = nullptr,
    .m_traverse = traverse,
    .m_clear = clear,
    .m_free = free_module,
};

PyObject* the_module = nullptr;          // created by the first import, never released
std::int64_t module_interpreter = -1;    // id of the interpreter that created it

// Creates the module object with its functions and `PanicException`.
PyObject* create_module() {
  PyObject* module = PyModule_Create(&definition);
  if (module == nullptr) return nullptr;
  ModuleState& state = module_state(module);
  new (&state) ModuleState();
  state.panic_type = PyErr_NewExceptionWithDoc(
      "kestrel.PanicException",
      "An internal fault of kestrel. It derives from BaseException, so that "
      "`except Exception` does not catch it.",
      PyExc_BaseException, nullptr);
  if (state.panic_type == nullptr) {
    Py_DECREF(module);
    return nullptr;
  }
  if (PyModule_AddObjectRef(module, "PanicException", state.panic_type) < 0 ||
      !add_report_types(module, state) ||
      PyModule_AddStringConstant(module, "__version__", KESTREL_VERSION) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  PyObject* codes = gate_codes();
  if (codes == nullptr || PyModule_AddObjectRef(module, "_gate_codes", codes) < 0) {
    Py_XDECREF(codes);
    Py_DECREF(module);
    return nullptr;
  }
  Py_DECREF(codes);
  return module;
}

}  // namespace

ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

}  // namespace kestrel::binding

PyMODINIT_FUNC PyInit_kestrel() {
  using namespace kestrel::binding;
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id < 0) return nullptr;
  if (the_module != nullptr) {
    if (id != module_interpreter) {
      PyErr_SetString(PyExc_ImportError,
                      "kestrel does not support subinterpreters: it is already loaded in "
                      "another interpreter of this process");
      return nullptr;
    }
    Py_INCREF(the_module);
    return the_module;
  }
  the_module = create_module();
  if (the_module == nullptr) return nullptr;
  module_interpreter = id;
  Py_INCREF(the_module);
  return the_module;
}
