// _optimize_gates: the gate list read from two bytes objects, the method run
// without the interpreter lock, and the edits turned into a list.
#include "binding/gates.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "binding/arguments.h"
#include "src/pipeline/pipeline.h"
#include "binding/boundary.h"
#include "src/program/gate_list.h"

namespace kestrel::binding {
namespace {

// Points `out` at the bytes of `value`, or raises TypeError naming `name`.
bool bytes_argument(const char* name, PyObject* value, std::string_view& out) {
  if (!PyBytes_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be bytes", name);
    return false;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(value, &data, &size) < 0) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// Sets ValueError with `message` and returns NULL.
PyObject* value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return nullptr;
}

// The edits as a list of (operation, replacement codes); one empty bytes
// object serves every removal.
PyObject* edit_list(const Edits& edits) {
  PyObject* removed = PyBytes_FromStringAndSize(nullptr, 0);
  if (removed == nullptr) return nullptr;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(edits.list.size()));
  if (list == nullptr) {
    Py_DECREF(removed);
    return nullptr;
  }
  std::string codes;
  for (std::size_t e = 0; e < edits.list.size(); ++e) {
    const Edit& edit = edits.list[e];
    PyObject* replacement = removed;
    Py_INCREF(removed);
    if (edit.count > 0) {
      codes.clear();
      for (std::uint32_t k = 0; k < edit.count; ++k) {
        codes.push_back(static_cast<char>(library_gate(edits.gates.at(edit.first + k))));
      }
      Py_DECREF(removed);
      replacement = PyBytes_FromStringAndSize(codes.data(), static_cast<Py_ssize_t>(codes.size()));
    }
    PyObject* item = replacement == nullptr
                         ? nullptr
                         : Py_BuildValue("(kN)", static_cast<unsigned long>(edit.statement),
                                         replacement);
    if (item == nullptr || PyList_SetItem(list, static_cast<Py_ssize_t>(e), item) < 0) {
      Py_DECREF(list);
      Py_DECREF(removed);
      return nullptr;
    }
  }
  Py_DECREF(removed);
  return list;
}

}  // namespace

PyObject* optimize_gates(PyObject* module, PyObject* args, PyObject* kwargs) {
  static constexpr const char* kNames[] = {"gates", "qubits", "width"};
  Arguments arguments;
  if (!parse_arguments("_optimize_gates", kNames, kGateList, args, kwargs, arguments)) {
    return nullptr;
  }
  return guarded(module, [&]() -> PyObject* {
    std::string_view gates;
    std::string_view qubit_bytes;
    if (!bytes_argument("gates", arguments.positional[0], gates) ||
        !bytes_argument("qubits", arguments.positional[1], qubit_bytes)) {
      return nullptr;
    }
    PyObject* width_object = arguments.positional[2];
    if (!PyLong_Check(width_object)) {
      PyErr_SetString(PyExc_TypeError, "width must be an int");
      return nullptr;
    }
    const long long width = PyLong_AsLongLong(width_object);
    if (width == -1 && PyErr_Occurred()) return nullptr;
    if (width < 0 || width > kMaxBits) {
      return value_error("expected at most " + std::to_string(kMaxBits) + " qubits, not " +
                         std::to_string(width));
    }
    if (qubit_bytes.size() % sizeof(std::uint32_t) != 0) {
      return value_error("qubits must hold 32-bit integers");
    }

    PipelineOptions options = arguments.options.pipeline;
    // Its edits are new gates anywhere in the circuit, measurements and
    // conditions, which the pass's edits of single gates cannot take back.
    if (options.method == Method::PhasePolynomial) {
      return value_error(
          "the Qiskit pass takes method 'rotation-merging', 'normal-form' or 'saturation'; "
          "'phase-polynomial' rewrites whole blocks: use kestrel.optimize_qasm on the "
          "circuit's OpenQASM text");
    }
    options.phase = true;
    ProgramEdits result;
    std::string refusal;
    if (auto error = without_gil([&] {
          std::vector<std::uint32_t> qubits(qubit_bytes.size() / sizeof(std::uint32_t));
          if (!qubits.empty()) std::memcpy(qubits.data(), qubit_bytes.data(), qubit_bytes.size());
          auto read = program_from_gates(
              {{reinterpret_cast<const std::uint8_t*>(gates.data()), gates.size()},
               qubits,
               static_cast<std::uint32_t>(width)});
          if (auto* why = std::get_if<std::string>(&read)) {
            refusal = std::move(*why);
            return;
          }
          result = optimize_program(std::get<QasmProgram>(read), options);
          if (result.refusal) refusal = std::move(*result.refusal);
        })) {
      return raise_exception(module, std::move(error));
    }
    if (!refusal.empty()) return value_error(refusal);
    PyObject* edits = edit_list(result.edits);
    if (edits == nullptr) return nullptr;
    return Py_BuildValue("(Ni)", edits, static_cast<int>(result.phase.value_or(0)));
  });
}

PyObject* gate_codes() {
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  for (const LibraryGate& gate : kQelib1) {
    if (gate.params != 0) continue;
    PyObject* code = PyLong_FromLong(static_cast<long>(gate.id));
    if (code == nullptr) {
      Py_DECREF(dict);
      return nullptr;
    }
    const std::string name(gate.name);
    const int stored = PyDict_SetItemString(dict, name.c_str(), code);
    Py_DECREF(code);
    if (stored < 0) {
      Py_DECREF(dict);
      return nullptr;
    }
  }
  return dict;
}

}  // namespace kestrel::binding
