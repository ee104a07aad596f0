// explain() and its Report and Iteration record types.
#include "binding/explain.h"

#include <array>
#include <string>
#include <utility>

#include "binding/arguments.h"
#include "binding/boundary.h"
#include "binding/pipeline.h"
#include "binding/record.h"
#include "src/saturation/report.h"

namespace kestrel::binding {
namespace {

constexpr const char* kReportFields[] = {"text",    "stats",          "stop_reason", "stop_value",
                                         "skipped", "nodes",          "classes",     "iterations",
                                         "dot",     "reading",        "reading_reason"};
constexpr const char* kIterationFields[] = {"nodes",       "classes",    "applied",
                                            "banned",      "search_time", "apply_time",
                                            "rebuild_time"};

// Positions in kReportFields, for the repr.
enum ReportField : std::size_t { kText, kStats, kStopReason, kStopValue, kSkipped, kNodes,
                                 kClasses, kIterations, kDot, kReading, kReadingReason };

// The values of a record under construction. Each `add` runs its maker only
// while every earlier one succeeded, so no Python call is made with an
// exception pending; `make` builds the record or releases what was made.
class Fields {
 public:
  Fields() = default;
  Fields(const Fields&) = delete;
  Fields& operator=(const Fields&) = delete;
  ~Fields() {
    for (std::size_t k = 0; k < count_; ++k) Py_DECREF(values_[k]);
  }

  template <class Make>
  void add(Make&& make) {
    if (failed_) return;
    PyObject* value = make();
    if (value == nullptr) {
      failed_ = true;
      return;
    }
    values_[count_++] = value;
  }

  PyObject* make(PyObject* type) {
    if (failed_) return nullptr;
    const std::size_t count = std::exchange(count_, 0);  // new_record steals them
    return new_record(type, values_.data(), count);
  }

 private:
  std::array<PyObject*, kMaxRecordFields> values_{};  // new references, the first `count_`
  std::size_t count_ = 0;                               // values made so far
  bool failed_ = false;                                 // a maker failed; an exception is set
};

PyObject* new_str(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// "Report(stop_reason='saturated', ..., iterations=2, stats={...})": the
// summary fields, the number of iterations, not the text or the drawing; a
// text read per qubit shows its reading in place of the run's fields.
PyObject* report_repr(PyObject* self) {
  PyObject* iterations = record_field(self, kIterations);
  if (record_field(self, kStopReason) == Py_None) {
    return PyUnicode_FromFormat("Report(reading=%R, reading_reason=%R, stats=%R)",
                                record_field(self, kReading),
                                record_field(self, kReadingReason), record_field(self, kStats));
  }
  return PyUnicode_FromFormat(
      "Report(stop_reason=%R, stop_value=%R, skipped=%R, nodes=%R, classes=%R, "
      "iterations=%zd, stats=%R)",
      record_field(self, kStopReason), record_field(self, kStopValue),
      record_field(self, kSkipped), record_field(self, kNodes), record_field(self, kClasses),
      PyList_Size(iterations), record_field(self, kStats));
}

// A new list of `make(item)` for each of `items`, or NULL with an exception set.
template <class Items, class Make>
PyObject* new_list(const Items& items, Make make) {
  PyObject* list = PyList_New(0);
  if (list == nullptr) return nullptr;
  for (const auto& item : items) {
    PyObject* element = make(item);
    if (element == nullptr || PyList_Append(list, element) < 0) {
      Py_XDECREF(element);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(element);
  }
  return list;
}

PyObject* iteration_record(const ModuleState& state, const IterationReport& it) {
  Fields fields;
  fields.add([&] { return PyLong_FromSize_t(it.nodes); });
  fields.add([&] { return PyLong_FromSize_t(it.classes); });
  fields.add([&]() -> PyObject* {
    PyObject* applied = PyDict_New();
    if (applied == nullptr) return nullptr;
    for (const auto& [name, count] : it.applied) {
      PyObject* value = PyLong_FromSize_t(count);
      if (value == nullptr || PyDict_SetItemString(applied, name.c_str(), value) < 0) {
        Py_XDECREF(value);
        Py_DECREF(applied);
        return nullptr;
      }
      Py_DECREF(value);
    }
    return applied;
  });
  fields.add([&] {
    return new_list(it.banned, [](const std::string& name) { return new_str(name); });
  });
  fields.add([&] { return PyFloat_FromDouble(it.search_time); });
  fields.add([&] { return PyFloat_FromDouble(it.apply_time); });
  fields.add([&] { return PyFloat_FromDouble(it.rebuild_time); });
  return fields.make(state.iteration_type);
}

PyObject* stop_value(const StopReason& reason) {
  switch (reason.kind) {
    case StopReason::Kind::IterationLimit:
    case StopReason::Kind::NodeLimit:
      return PyLong_FromSize_t(reason.count);
    case StopReason::Kind::TimeLimit:
      return PyFloat_FromDouble(reason.seconds);
    default:
      Py_RETURN_NONE;
  }
}

// The report of a run. A text read per qubit had no single saturation run:
// its stop reason and value, drawing and reason are None, its counts 0 and
// its iterations [], and `reading_reason` says why it was read so.
PyObject* report_record(const ModuleState& state, const PipelineResult& result,
                        const RunReport& report) {
  const bool one_wire = result.reading == TextReading::OneWire;
  Fields fields;
  fields.add([&] { return new_str(result.qasm); });
  fields.add([&] { return stats_dict(result); });
  fields.add([&]() -> PyObject* {
    if (!one_wire) Py_RETURN_NONE;
    return new_str(stop_reason_name(report.stop_reason));
  });
  fields.add([&]() -> PyObject* {
    if (!one_wire) Py_RETURN_NONE;
    return stop_value(report.stop_reason);
  });
  fields.add([&] { return PyBool_FromLong(report.skipped); });
  fields.add([&] { return PyLong_FromSize_t(report.nodes); });
  fields.add([&] { return PyLong_FromSize_t(report.classes); });
  fields.add([&] {
    return new_list(report.iterations,
                    [&](const IterationReport& it) { return iteration_record(state, it); });
  });
  fields.add([&]() -> PyObject* {
    if (!report.dot) Py_RETURN_NONE;
    return new_str(*report.dot);
  });
  fields.add([&] { return new_str(one_wire ? "one wire" : "per qubit"); });
  fields.add([&]() -> PyObject* {
    if (one_wire) Py_RETURN_NONE;
    return new_str(finding_text(result.per_qubit_reason));
  });
  return fields.make(state.report_type);
}

}  // namespace

bool add_report_types(PyObject* module, ModuleState& state) {
  state.report_type = new_record_type(
      "kestrel.Report",
      "What explain() found: the result of optimize_qasm with a report of the saturation run.",
      kReportFields, std::size(kReportFields), report_repr);
  if (state.report_type == nullptr) return false;
  state.iteration_type = new_record_type(
      "kestrel.Iteration", "One iteration of a saturation run, as explain() reports it.",
      kIterationFields, std::size(kIterationFields));
  if (state.iteration_type == nullptr) return false;
  for (PyObject* type : {state.report_type, state.iteration_type}) {
    PyObject* name = PyObject_GetAttrString(type, "__name__");
    if (name == nullptr) return false;
    const char* text = PyUnicode_AsUTF8AndSize(name, nullptr);
    const int added = text == nullptr ? -1 : PyModule_AddObjectRef(module, text, type);
    Py_DECREF(name);
    if (added < 0) return false;
  }
  return true;
}

PyObject* explain(PyObject* module, PyObject* args, PyObject* kwargs) {
  Arguments arguments;
  static constexpr const char* kNames[] = {"qasm"};
  if (!parse_arguments("explain", kNames, kExplain, args, kwargs, arguments)) {
    return nullptr;
  }
  return guarded(module, [&]() -> PyObject* {
    std::string_view text;
    if (!utf8_argument(arguments.positional[0], text)) return nullptr;

    PipelineResult result;
    RunReport report;
    if (auto error = without_gil([&] {
          result = run_pipeline(text, arguments.options.pipeline,
                                {.report = &report, .draw = true});
        })) {
      return raise_exception(module, std::move(error));
    }
    if (!warn_one_wire(module, result.wire, arguments.options.strict)) return nullptr;
    return report_record(module_state(module), result, report);
  });
}

}  // namespace kestrel::binding
