// Module definition and initialisation.
//
// The functions' docstrings, their signatures first, are written from the
// table of options (src/pipeline/options.h) when the module is created. The
// module uses single-phase initialisation: the first import creates it,
// and every later initialisation in the same interpreter (say, after
// `del sys.modules["kestrel"]`) returns that same object. The module
// remembers the interpreter that created it and refuses any other, since its
// state, `PanicException` included, belongs to that interpreter.
#include "binding/module.h"

#include <array>
#include <cstdint>
#include <new>
#include <string>

#include "binding/explain.h"
#include "binding/gates.h"
#include "src/pipeline/options.h"

namespace kestrel::binding {
namespace {

int traverse(PyObject* module, visitproc visit, void* arg) {
  const ModuleState& state = module_state(module);
  Py_VISIT(state.panic_type);
  Py_VISIT(state.one_wire_warning);
  Py_VISIT(state.report_type);
  Py_VISIT(state.iteration_type);
  return 0;
}

int clear(PyObject* module) {
  ModuleState& state = module_state(module);
  Py_CLEAR(state.panic_type);
  Py_CLEAR(state.one_wire_warning);
  Py_CLEAR(state.report_type);
  Py_CLEAR(state.iteration_type);
  return 0;
}

void free_module(void* module) { clear(static_cast<PyObject*>(module)); }

// The docstrings are set by `write_docstrings` before the module is made.
PyMethodDef methods[] = {
    {"optimize_qasm", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(optimize_qasm)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"_optimize_gates", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(optimize_gates)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"explain", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(explain)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"cli", cli, METH_NOARGS, nullptr},
    {"synthesize_rz", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(synthesize_rz)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// What each function's docstring says after its signature.
constexpr const char* kOptimizeQasmDoc =
    "optimize_qasm(qasm: str) -> (optimized_qasm: str, stats: dict)\n\n"
    "Lowers the T count of an OpenQASM 2.0 text. The statistics hold t_before,\n"
    "t_after, depth_before, depth_after, gates_before and gates_after (and phase\n"
    "with phase=True). A one-wire method (saturation, normal-form) reads a text\n"
    "of one qubit as one wire and any other program per qubit, as per_qubit=True\n"
    "does; on a text that holds no gate, or that is neither one wire nor a\n"
    "program, it warns with kestrel.OneWireWarning, or with strict=True raises\n"
    "ValueError.\n\n";
constexpr const char* kGatesDoc =
    "A circuit given as gate codes and qubits optimised: (edits, phase).\n"
    "For kestrel.qiskit; not a public interface.\n\n";
constexpr const char* kExplainDoc =
    "explain(qasm: str) -> Report\n\n"
    "Optimises `qasm` as optimize_qasm does and reports how the text was read\n"
    "and the saturation run: why it stopped, the final e-graph and what each\n"
    "iteration did. A text read per qubit has no single run to report.\n\n";

// Writes the functions' docstrings: signature, text, then the options.
void write_docstrings() {
  static std::array<std::string, 5> docs;  // kept for the life of the process, as the module
  static constexpr const char* kQasm[] = {"qasm"};
  static constexpr const char* kGates[] = {"gates", "qubits", "width"};
  auto doc = [](std::string_view function, std::span<const char* const> positional,
                Caller caller, const char* text) {
    return python_signature(function, positional, caller) + "\n--\n\n" + text +
           python_option_help(caller);
  };
  docs[0] = doc("optimize_qasm", kQasm, kOptimizeQasm, kOptimizeQasmDoc);
  docs[1] = doc("_optimize_gates", kGates, kGateList, kGatesDoc);
  docs[2] = doc("explain", kQasm, kExplain, kExplainDoc);
  docs[3] = "cli()\n--\n\n"
            "CLI entrypoint with no Python args (usable via console_scripts).\n"
            "Parses argv: kestrel --in file.qasm [--out out.qasm] [--stats]\n\n"
            "The command line (the `kestrel` command, python -m kestrel): reads the\n"
            "process's arguments, optimises the file they name and prints the result.\n"
            "kestrel --help lists the options.";
  docs[4] = "synthesize_rz(angle, epsilon)\n--\n\n"
            "synthesize_rz(angle: float, epsilon: float) -> (gates: list[str], t_count: int)\n\n"
            "Approximates rz(angle) with Clifford+T gates within operator-norm\n"
            "distance epsilon, up to a global phase, with the fewest T gates of any\n"
            "such circuit without extra qubits (Ross and Selinger's method). The gates\n"
            "are names among h, s, sdg, t, tdg, x and z in circuit order. The same\n"
            "angle and epsilon give the same gates on every machine. epsilon must lie\n"
            "in (0, 0.1] (and be at least 1e-30), else ValueError.";
  for (std::size_t k = 0; k < docs.size(); ++k) methods[k].ml_doc = docs[k].c_str();
}

PyModuleDef definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kestrel",
    .m_doc = "Simplifies Clifford+T circuits written in OpenQASM 2.0.\n\n"
             "optimize_qasm(text) returns the optimised text and before/after\n"
             "statistics; explain(text) also reports what the saturation run did;\n"
             "synthesize_rz(angle, epsilon) writes one z-rotation as Clifford+T gates;\n"
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

// A new tuple of the methods' names, the default first, or NULL with an
// exception set.
PyObject* method_names() {
  PyObject* names = PyTuple_New(static_cast<Py_ssize_t>(std::size(kMethods)));
  if (names == nullptr) return nullptr;
  for (std::size_t k = 0; k < std::size(kMethods); ++k) {
    PyObject* name = PyUnicode_FromStringAndSize(
        kMethods[k].name.data(), static_cast<Py_ssize_t>(kMethods[k].name.size()));
    if (name == nullptr || PyTuple_SetItem(names, static_cast<Py_ssize_t>(k), name) < 0) {
      Py_DECREF(names);  // PyTuple_SetItem took `name`, also on failure
      return nullptr;
    }
  }
  return names;
}

// Creates the module object with its functions, `PanicException` and
// `OneWireWarning`.
PyObject* create_module() {
  write_docstrings();
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
  state.one_wire_warning = PyErr_NewExceptionWithDoc(
      "kestrel.OneWireWarning",
      "A one-wire method read a text that holds no gate, or one that is neither one "
      "wire nor a program: the result is not equivalent to the program.",
      PyExc_UserWarning, nullptr);
  if (state.one_wire_warning == nullptr) {
    Py_DECREF(module);
    return nullptr;
  }
  if (PyModule_AddObjectRef(module, "PanicException", state.panic_type) < 0 ||
      PyModule_AddObjectRef(module, "OneWireWarning", state.one_wire_warning) < 0 ||
      !add_report_types(module, state) ||
      PyModule_AddStringConstant(module, "__version__", KESTREL_VERSION) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  PyObject* names = method_names();
  if (names == nullptr || PyModule_AddObjectRef(module, "_methods", names) < 0) {
    Py_XDECREF(names);
    Py_DECREF(module);
    return nullptr;
  }
  Py_DECREF(names);
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
