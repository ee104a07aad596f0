// optimize_qasm: argument conversion, the pipeline and the result tuple.
#include "binding/pipeline.h"

#include <cstdint>
#include <utility>

#include "binding/boundary.h"
#include "binding/module.h"
#include "engine/run.h"
#include "src/optimize.h"

namespace kestrel::binding {
namespace {

// Points `text` at the UTF-8 encoding of the argument `qasm`, which the str
// caches and keeps until it is freed; the caller's reference keeps it alive
// and a str never changes, so it can be read without the interpreter lock.
// Returns false with an exception set when `qasm` is not a str or cannot be
// encoded.
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

// Matches the call's arguments against the one parameter `qasm`, with the
// messages of a function written in Python as `def optimize_qasm(qasm)`.
// Sets `qasm` to a borrowed reference, or returns false with TypeError set.
bool match_arguments(PyObject* args, PyObject* kwargs, PyObject*& qasm) {
  const Py_ssize_t positional = PyTuple_Size(args);
  if (positional < 0) return false;
  if (positional > 1) {
    PyErr_Format(PyExc_TypeError,
                 "optimize_qasm() takes 1 positional argument but %zd were given", positional);
    return false;
  }
  if (positional == 1) qasm = PyTuple_GetItem(args, 0);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!PyUnicode_Check(key) || PyUnicode_CompareWithASCIIString(key, "qasm") != 0) {
        PyErr_Format(PyExc_TypeError,
                     "optimize_qasm() got an unexpected keyword argument '%S'", key);
        return false;
      }
      if (qasm != nullptr) {
        PyErr_SetString(PyExc_TypeError, "optimize_qasm() got multiple values for argument 'qasm'");
        return false;
      }
      qasm = value;
    }
  }
  if (qasm == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "optimize_qasm() missing 1 required positional argument: 'qasm'");
    return false;
  }
  return true;
}

}  // namespace

PipelineResult run_pipeline(std::string_view text) {
  // A circuit too long to be rewritten comes back as it was read: its gates
  // are written from the text in one pass, without building the chain.
  GateTally tally = tally_gates(text);
  if (past_node_limit(tally, Runner<Op>::kDefaultNodeLimit)) {
    PipelineResult result;
    result.before = result.after = tally.stats;
    result.qasm = std::move(tally.qasm);
    return result;
  }
  const RecExpr<Op> expr = parse_qasm(text);
  const RecExpr<Op> best = optimize_expr(expr);
  PipelineResult result;
  result.before = stats(expr);
  result.after = stats(best);
  result.qasm = print_qasm(best);
  return result;
}

PyObject* stats_dict(const PipelineResult& result) {
  const std::pair<const char*, std::uint64_t> entries[] = {
      {"t_before", result.before.t},         {"t_after", result.after.t},
      {"depth_before", result.before.depth}, {"depth_after", result.after.depth},
      {"gates_before", result.before.gates}, {"gates_after", result.after.gates},
  };
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  for (const auto& [key, count] : entries) {
    PyObject* value = PyLong_FromUnsignedLongLong(count);
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
  PyObject* qasm = nullptr;
  if (!match_arguments(args, kwargs, qasm)) return nullptr;
  return guarded(module, [&]() -> PyObject* {
    std::string_view text;
    if (!utf8_argument(qasm, text)) return nullptr;

    PipelineResult result;
    if (auto error = without_gil([&] { result = run_pipeline(text); })) {
      return raise_exception(module, std::move(error));
    }

    PyObject* dict = stats_dict(result);
    if (dict == nullptr) return nullptr;
    PyObject* out = PyUnicode_FromStringAndSize(result.qasm.data(),
                                                static_cast<Py_ssize_t>(result.qasm.size()));
    if (out == nullptr) {
      Py_DECREF(dict);
      return nullptr;
    }
    PyObject* pair = PyTuple_New(2);
    if (pair == nullptr) {
      Py_DECREF(out);
      Py_DECREF(dict);
      return nullptr;
    }
    PyTuple_SetItem(pair, 0, out);  // steals
    PyTuple_SetItem(pair, 1, dict);
    return pair;
  });
}

}  // namespace kestrel::binding
