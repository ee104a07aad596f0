// optimize_qasm: argument conversion, the pipeline and the result tuple.
#include "binding/pipeline.h"

#include <cstdint>
#include <string>
#include <utility>

#include "binding/arguments.h"
#include "binding/boundary.h"
#include "binding/module.h"

namespace kestrel::binding {

bool utf8_argument(PyObject* qasm, std::string_view& text) {
  if (!PyUnicode_Check(qasm)) {
    PyObject* type_name =
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(qasm)), "__name__");
    if (type_name == nullptr) return false;
    PyErr_Format(PyExc_TypeError, "argument 'qasm': '%U' object cannot be converted to 'str'",
                 type_name);
    Py_DECREF(type_name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(qasm, &size);
  if (utf8 == nullptr) return false;  // lone surrogates: UnicodeEncodeError as raised
  text = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}

bool raise_refusal(const PipelineResult& result, const std::string& where) {
  if (!result.error && !result.refusal) return false;
  const std::string message = where + (result.error ? result.error->text() : *result.refusal);
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return true;
  PyErr_SetObject(PyExc_ValueError, text);
  Py_DECREF(text);
  return true;
}

bool warn_one_wire(PyObject* module, const WireFinding& wire, bool strict) {
  if (wire.kind == WireFinding::Kind::None) return true;
  const std::string message = one_wire_message(wire, Spelling::Python);
  if (strict) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
  }
  return PyErr_WarnEx(module_state(module).one_wire_warning, message.c_str(), 1) == 0;
}

std::vector<StatEntry> stats_entries(const PipelineResult& result) {
  std::vector<StatEntry> entries = {
      {"t_before", result.before.t},         {"t_after", result.after.t},
      {"depth_before", result.before.depth}, {"depth_after", result.after.depth},
      {"gates_before", result.before.gates}, {"gates_after", result.after.gates},
  };
  if (result.phase) entries.push_back({"phase", *result.phase});
  if (result.phase_radians) entries.push_back({"phase_radians", 0, *result.phase_radians});
  if (result.synthesis_error) entries.push_back({"synthesis_error", 0, *result.synthesis_error});
  for (const auto& [key, count] : result.figures) entries.push_back({key.data(), count});
  return entries;
}

PyObject* stats_dict(const PipelineResult& result) {
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  for (const StatEntry& entry : stats_entries(result)) {
    const char* key = entry.key;
    PyObject* value = entry.real ? PyFloat_FromDouble(*entry.real)
                                 : PyLong_FromUnsignedLongLong(entry.count);
    if (value == nullptr) {
      Py_DECREF(dict);
      return nullptr;
    }
    const int stored = PyDict_SetItemString(dict, key, value);
    Py_DECREF(value);
    if (stored < 0) {
      Py_DECREF(dict);
      return nullptr;
    }
  }
  return dict;
}

PyObject* optimize_qasm(PyObject* module, PyObject* args, PyObject* kwargs) {
  Arguments arguments;
  static constexpr const char* kNames[] = {"qasm"};
  if (!parse_arguments("optimize_qasm", kNames, kOptimizeQasm, args, kwargs, arguments)) {
    return nullptr;
  }
  return guarded(module, [&]() -> PyObject* {
    std::string_view text;
    if (!utf8_argument(arguments.positional[0], text)) return nullptr;

    PipelineResult result;
    if (auto error = without_gil([&] { result = run_pipeline(text, arguments.options.pipeline); })) {
      return raise_exception(module, std::move(error));
    }
    if (raise_refusal(result)) return nullptr;
    if (!warn_one_wire(module, result.wire, arguments.options.strict)) return nullptr;

    PyObject* dict = stats_dict(result);
    if (dict == nullptr) return nullptr;
    PyObject* out = PyUnicode_FromStringAndSize(result.qasm.data(),
                                                static_cast<Py_ssize_t>(result.qasm.size()));
    if (out == nullptr) {
      Py_DECREF(dict);
      return nullptr;
    }
    return Py_BuildValue("(NN)", out, dict);  // steals both, also on failure
  });
}

}  // namespace kestrel::binding
