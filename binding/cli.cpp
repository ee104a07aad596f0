// cli(): the command line of the console script and of `python -m kestrel`.
//
//   kestrel --in circuit.qasm --stats > optimised.qasm
//   kestrel --in circuit.qasm --out circuit.qasm --report --dot egraph.dot
//
// The options come from the process's own argument vector (sys.orig_argv,
// turned back into the bytes the process was given), not from sys.argv, so a
// launcher script's path or an interpreter option such as "-c" is just one
// more element to ignore. An option that takes a value takes the next element
// whatever it is; unknown elements are ignored. Output goes to file
// descriptors 1 and 2 directly, after the interpreter's sys.stdout and
// sys.stderr are flushed so that anything printed before keeps its place.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/boundary.h"
#include "binding/files.h"
#include "binding/module.h"
#include "binding/pipeline.h"
#include "src/saturation/report.h"

namespace kestrel::binding {
namespace {

constexpr std::string_view kUsage =
    "Usage: kestrel --in <file.qasm> [--out out.qasm] [--stats]\n";

// The help after the usage line; "%s" stands for the methods.
constexpr std::string_view kHelp =
    "\n"
    "Simplifies the Clifford+T circuit of an OpenQASM 2.0 file.\n"
    "\n"
    "  --in FILE             the OpenQASM 2.0 file to read (required)\n"
    "  --out FILE            write the result to FILE, replacing it whole, not to standard output\n"
    "  --stats               print the before and after statistics on standard error\n"
    "  --method NAME         %s\n"
    "  --per-qubit           keep a multi-qubit program whole and optimise every qubit\n"
    "  --iter-limit N        stop saturating after N iterations (default 30)\n"
    "  --node-limit N        stop saturating above N e-graph nodes (default 10000)\n"
    "  --time-limit SECONDS  stop saturating after SECONDS seconds (default 5; with\n"
    "                        --per-qubit, for the whole run; rotation merging keeps\n"
    "                        the T gates it reads after it as they are)\n"
    "  --report              print what the saturation run did on standard error\n"
    "  --dot FILE            write the final e-graph to FILE in Graphviz's dot language\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n";

std::string help_text() {
  const std::string methods = method_list("") + " (default " + std::string(kMethods[0].name) + ")";
  std::string help(kHelp);
  help.replace(help.find("%s"), 2, methods);
  return help;
}

struct Options {
  std::optional<std::string> in;   // input path, absent until given
  std::optional<std::string> out;  // output path; absent means standard output
  std::optional<std::string> dot;  // where to draw the final e-graph
  bool stats = false;              // print the statistics to standard error
  bool report = false;             // print the run's report to standard error
  bool help = false;               // print the help instead of running
  bool version = false;            // print the version instead of running
  PipelineOptions pipeline;        // method, mode and limits
  std::optional<std::string> error;  // why a value was refused, the first one only
};

// The text of a whole number, or nothing when it is none.
std::optional<WholeNumber> whole_number(std::string_view text) {
  WholeNumber n;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n.value);
  if (text.empty() || end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    n = {0, text.front() == '-' ? -1 : 1};
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  return n;
}

// The text of a number, or nothing when it is none. One too large for a
// double is kept as such, one too small reads as 0.
std::optional<Seconds> seconds_number(std::string_view text) {
  Seconds s;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), s.value);
  if (text.empty() || end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    const double rounded = std::strtod(std::string(text).c_str(), nullptr);
    s = {std::isinf(rounded) && rounded < 0 ? -1.0 : 0.0, std::isinf(rounded) && rounded > 0};
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  return s;
}

// Applies the option `name` with `value` (absent when it ended the vector),
// noting the first refused value in `options.error`.
void take_value(Options& options, const std::string& name, const std::string* value) {
  auto refuse = [&](const std::string& reason) {
    if (!options.error) options.error = reason;
  };
  if (name == "--in" || name == "--out" || name == "--dot") {
    std::optional<std::string>& path =
        name == "--in" ? options.in : name == "--out" ? options.out : options.dot;
    if (value != nullptr) {
      path = *value;
    } else {
      path.reset();
    }
    return;
  }
  if (value == nullptr) return refuse(name + " needs a value");
  const std::string quoted = "'" + *value + "'";
  PipelineOptions& pipeline = options.pipeline;
  std::optional<std::string> refused;
  if (name == "--method") {
    refused = set_method(name, *value, quoted, pipeline.method);
  } else if (name == "--time-limit") {
    refused = set_seconds(name, seconds_number(*value), quoted, pipeline.limits.time_limit);
  } else {
    std::size_t& limit =
        name == "--iter-limit" ? pipeline.limits.iter_limit : pipeline.limits.node_limit;
    refused = set_count(name, whole_number(*value), quoted, limit);
  }
  if (refused) refuse(*refused);
}

// Walks the elements after the program path once. Options with a value take
// the next element whatever it is; a later one replaces an earlier one.
Options parse_options(const std::vector<std::string>& argv) {
  static const std::vector<std::string> kWithValue = {
      "--in", "--out", "--dot", "--method", "--iter-limit", "--node-limit", "--time-limit"};
  Options options;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& element = argv[i];
    if (std::find(kWithValue.begin(), kWithValue.end(), element) != kWithValue.end()) {
      take_value(options, element, i + 1 < argv.size() ? &argv[++i] : nullptr);
    } else if (element == "--stats") {
      options.stats = true;
    } else if (element == "--report") {
      options.report = true;
    } else if (element == "--per-qubit") {
      options.pipeline.per_qubit = true;
    } else if (element == "--help") {
      options.help = true;
    } else if (element == "--version") {
      options.version = true;
    }
  }
  if (!options.error && (options.report || options.dot) &&
      (options.pipeline.per_qubit || options.pipeline.method != Method::Saturation)) {
    options.error = "--report and --dot describe a saturation run on one wire, not --per-qubit "
                    "or another --method";
  }
  return options;
}

// The process's argument vector as bytes, from sys.orig_argv. Returns false
// with an exception set on failure.
bool process_argv(std::vector<std::string>& argv) {
  PyObject* orig_argv = PySys_GetObject("orig_argv");  // borrowed
  if (orig_argv == nullptr || !PyList_Check(orig_argv)) return true;
  const Py_ssize_t count = PyList_Size(orig_argv);
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* element = PyList_GetItem(orig_argv, i);  // borrowed
    if (element == nullptr) return false;
    if (!PyUnicode_Check(element)) continue;
    // The file system encoding with surrogateescape gives back the exact
    // bytes, including those of an element that is not UTF-8.
    PyObject* bytes = PyUnicode_EncodeFSDefault(element);
    if (bytes == nullptr) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) {
      Py_DECREF(bytes);
      return false;
    }
    argv.emplace_back(data, static_cast<std::size_t>(size));
    Py_DECREF(bytes);
  }
  return true;
}

// Flushes sys.<name> if it exists, so that its buffered text comes before
// what is written to the file descriptor underneath.
bool flush_python_stream(const char* name) {
  PyObject* stream = PySys_GetObject(name);  // borrowed
  if (stream == nullptr || stream == Py_None) return true;
  PyObject* result = PyObject_CallMethod(stream, "flush", nullptr);
  if (result == nullptr) return false;
  Py_DECREF(result);
  return true;
}

// str() of the statistics dictionary, as UTF-8, into `line`.
bool stats_text(const PipelineResult& result, std::string& line) {
  PyObject* dict = stats_dict(result);
  if (dict == nullptr) return false;
  PyObject* text = PyObject_Str(dict);
  Py_DECREF(dict);
  if (text == nullptr) return false;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 == nullptr) {
    Py_DECREF(text);
    return false;
  }
  line.assign(utf8, static_cast<std::size_t>(size));
  Py_DECREF(text);
  return true;
}

// Writes `text` to `fd` 1 or 2 after flushing the Python stream above it.
PyObject* print(PyObject* module, int fd, std::string_view text) {
  if (!flush_python_stream(fd == 1 ? "stdout" : "stderr")) return nullptr;
  if (auto error = without_gil([&] { fd == 1 ? print_stdout(text) : print_stderr(text); })) {
    return raise_exception(module, std::move(error));
  }
  Py_RETURN_NONE;
}

// A path's bytes as text, for a message: what is not UTF-8 shows as U+FFFD.
std::string path_text(const std::string& path) {
  PyObject* text = PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()),
                                        "replace");
  if (text == nullptr) {
    PyErr_Clear();
    return path;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  std::string out = utf8 == nullptr ? path : std::string(utf8, static_cast<std::size_t>(size));
  Py_DECREF(text);
  return out;
}

// What the drawing step says on standard error instead of writing a file.
std::optional<std::string> undrawn_reason(const RunReport& report) {
  if (report.skipped) {
    return "kestrel: no e-graph was built (the input alone has " + std::to_string(report.nodes) +
           " nodes, above the node limit); no dot file written\n";
  }
  if (!report.dot) {
    return "kestrel: the e-graph has " + std::to_string(report.drawn_nodes) +
           " nodes, too many to draw (at most " + std::to_string(kMaxDrawnNodes) +
           "); no dot file written\n";
  }
  return std::nullopt;
}

PyObject* run(PyObject* module, const Options& options) {
  PipelineResult result;
  RunReport report;
  const bool reporting = options.report || options.dot.has_value();
  const ReportRequest request{.report = reporting ? &report : nullptr,
                              .draw = options.dot.has_value()};
  if (auto error = without_gil([&] {
        result = run_pipeline(read_utf8_file(*options.in), options.pipeline, request);
      })) {
    return raise_exception(module, std::move(error));
  }
  if (raise_refusal(result, path_text(*options.in) + ": ")) return nullptr;

  std::string diagnostics;  // everything for standard error, in order
  if (options.stats) {
    if (!stats_text(result, diagnostics)) return nullptr;
    diagnostics += '\n';
  }
  if (options.report) diagnostics += format_report(report);
  if (options.dot) {
    if (auto reason = undrawn_reason(report)) diagnostics += *reason;
  }
  if (!diagnostics.empty() && !flush_python_stream("stderr")) return nullptr;
  if (!options.out && !flush_python_stream("stdout")) return nullptr;

  if (auto error = without_gil([&] {
        if (!diagnostics.empty()) print_stderr(diagnostics);
        if (options.dot && report.dot) replace_file(*options.dot, *report.dot);
        if (options.out) {
          replace_file(*options.out, result.qasm);
        } else {
          print_stdout(result.qasm);
        }
      })) {
    return raise_exception(module, std::move(error));
  }
  Py_RETURN_NONE;
}

}  // namespace

PyObject* cli(PyObject* module, PyObject* /*unused*/) {
  return guarded(module, [&]() -> PyObject* {
    std::vector<std::string> argv;
    if (!process_argv(argv)) return nullptr;
    const Options options = parse_options(argv);

    PyObject* done = nullptr;
    if (options.help) {
      done = print(module, 1, std::string(kUsage) + help_text());
    } else if (options.version) {
      done = print(module, 1, "kestrel " KESTREL_VERSION "\n");
    } else if (options.error) {
      done = print(module, 2, std::string(kUsage) + "kestrel: " + *options.error + "\n");
      if (done != nullptr) {
        Py_DECREF(done);
        done = nullptr;
        PyObject* status = PyLong_FromLong(2);
        if (status != nullptr) {
          PyErr_SetObject(PyExc_SystemExit, status);
          Py_DECREF(status);
        }
      }
    } else if (!options.in) {
      done = print(module, 2, kUsage);
    } else {
      done = run(module, options);
    }
    // A Ctrl-C that came while the lock was released surfaces here, from
    // this call, rather than at some later point of the caller's code.
    if (done != nullptr && PyErr_CheckSignals() < 0) Py_CLEAR(done);
    return done;
  });
}

}  // namespace kestrel::binding
