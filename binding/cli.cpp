// cli(): the command line of the console script and of `python -m kestrel`.
//
//   kestrel circuit.qasm --stats > optimised.qasm
//   kestrel --in circuit.qasm --out circuit.qasm --report --dot egraph.dot
//
// The words come from the process's own argument vector (sys.orig_argv,
// turned back into the bytes the process was given), not from sys.argv: the
// program's words are those after the interpreter's options and the script,
// module or command they name. src/pipeline/command_line.h reads them by the
// table of options; a usage error prints the usage line and
// "kestrel: error: ..." on standard error and raises SystemExit(2). A
// one-wire method's finding about the text prints "kestrel: warning: ..."
// first on standard error, or with --strict raises ValueError before
// anything is written. Standard output gets the text, or with --json one
// JSON object holding the text and the statistics, for a pipe:
//
//   kestrel circuit.qasm --json | jq .stats.t_after
//
// With --rz ANGLE --epsilon E and no file it writes rz(ANGLE) as Clifford+T
// gates instead (a one-qubit program, or with --json the gates and counts).
//
// Output goes to file descriptors 1 and 2 directly,
// after the interpreter's sys.stdout and sys.stderr are flushed so that
// anything printed before keeps its place.
#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/boundary.h"
#include "src/circuit/angle.h"
#include "binding/files.h"
#include "binding/module.h"
#include "binding/pipeline.h"
#include "src/pipeline/command_line.h"
#include "src/saturation/report.h"
#include "src/synthesis/rz_synthesis.h"

namespace kestrel::binding {
namespace {

// The index in the process's argument vector `argv` of the program's first
// word: past the interpreter (argv[0]), its options, and the script, module
// (-m) or command (-c) they end with.
std::size_t first_program_word(const std::vector<std::string>& argv) {
  std::size_t i = 1;
  while (i < argv.size()) {
    const std::string& word = argv[i];
    if (word == "--") return i + 2;  // then the script
    if (word == "-" || word.size() < 2 || word[0] != '-') return i + 1;  // the script
    if (word.starts_with("--")) {
      if (word == "--check-hash-based-pycs") ++i;  // its value
      ++i;
      continue;
    }
    // One-letter options, several to a word: -c and -m end the interpreter's
    // options with their value, -W and -X take one; either may be attached.
    for (std::size_t j = 1; j < word.size(); ++j) {
      const char letter = word[j];
      if (letter == 'c' || letter == 'm') return j + 1 < word.size() ? i + 1 : i + 2;
      if (letter == 'W' || letter == 'X') {
        if (j + 1 == word.size()) ++i;
        break;
      }
    }
    ++i;
  }
  return argv.size();
}

// The program's words as bytes, from sys.orig_argv (sys.argv[1:] where the
// interpreter has none). Returns false with an exception set on failure.
bool program_words(std::vector<std::string>& words) {
  PyObject* orig_argv = PySys_GetObject("orig_argv");  // borrowed
  const bool original = orig_argv != nullptr && PyList_Check(orig_argv);
  PyObject* list = original ? orig_argv : PySys_GetObject("argv");  // borrowed
  if (list == nullptr || !PyList_Check(list)) return true;
  std::vector<std::string> argv;
  const Py_ssize_t count = PyList_Size(list);
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* element = PyList_GetItem(list, i);  // borrowed
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
  const std::size_t first = original ? first_program_word(argv) : 1;
  if (first < argv.size()) words.assign(argv.begin() + static_cast<std::ptrdiff_t>(first), argv.end());
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

// str() of the statistics dictionary, as UTF-8, appended to `line`.
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
  line.append(utf8, static_cast<std::size_t>(size));
  Py_DECREF(text);
  return true;
}

// `text` as a JSON string: quotes, backslashes and control characters
// escaped, everything else (UTF-8 included) as it is.
std::string json_string(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + text.size() / 8 + 2);
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[(c >> 4) & 15];
          out += kHex[c & 15];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// The result as one JSON object, keys in the order json.dumps keeps:
// {"qasm": "OPENQASM 2.0;\n...", "stats": {"t_before": 2, ...}}.
std::string result_json(const PipelineResult& result) {
  std::string stats = "{";
  for (const StatEntry& entry : stats_entries(result)) {
    if (stats.size() > 1) stats += ", ";
    stats += "\"" + std::string(entry.key) + "\": ";
    if (entry.real) {
      // The shortest text that reads back as the same double, as repr() writes it.
      std::array<char, 32> digits{};
      const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), *entry.real);
      const std::string_view text(digits.data(), static_cast<std::size_t>(end - digits.data()));
      stats += text;
      if (text.find_first_of(".e") == std::string_view::npos) stats += ".0";
    } else {
      stats += std::to_string(entry.count);
    }
  }
  return "{\"qasm\": " + json_string(result.qasm) + ", \"stats\": " + stats + "}}\n";
}

// What --report prints: how the text was read, then the saturation run's
// table; a text read per qubit had no single run.
std::string report_text(const PipelineResult& result, const RunReport& report) {
  if (result.reading == TextReading::OneWire) return "read as one wire\n" + format_report(report);
  return "read per qubit, since " + finding_text(result.per_qubit_reason) +
         "; each qubit's runs were saturated on their own, with no report of the runs\n";
}

// Writes `text` to `fd` 1 or 2 after flushing the Python stream above it.
PyObject* print(PyObject* module, int fd, std::string_view text) {
  if (!flush_python_stream(fd == 1 ? "stdout" : "stderr")) return nullptr;
  if (auto error = without_gil([&] { fd == 1 ? print_stdout(text) : print_stderr(text); })) {
    return raise_exception(module, std::move(error));
  }
  Py_RETURN_NONE;
}

// Prints the usage line and "kestrel: error: <message>" on standard error
// and raises SystemExit(2).
PyObject* usage_error(PyObject* module, const std::string& message) {
  PyObject* done = print(module, 2, usage_line() + "kestrel: error: " + message + "\n");
  if (done == nullptr) return nullptr;
  Py_DECREF(done);
  PyObject* status = PyLong_FromLong(2);
  if (status != nullptr) {
    PyErr_SetObject(PyExc_SystemExit, status);
    Py_DECREF(status);
  }
  return nullptr;
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
std::optional<std::string> undrawn_reason(const PipelineResult& result,
                                          const RunReport& report) {
  if (result.reading != TextReading::OneWire) {
    return std::string("kestrel: no e-graph was built (the input was read per qubit); no dot "
                       "file written\n");
  }
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

PyObject* run(PyObject* module, const Invocation& options) {
  PipelineResult result;
  RunReport report;
  const bool reporting = options.report || options.dot.has_value();
  const ReportRequest request{.report = reporting ? &report : nullptr,
                              .draw = options.dot.has_value()};
  const bool standard_input = *options.in == "-";
  if (auto error = without_gil([&] {
        const std::string text =
            standard_input ? read_utf8_stdin() : read_utf8_file(*options.in);
        result = run_pipeline(text, options.pipeline, request);
      })) {
    return raise_exception(module, std::move(error));
  }
  const std::string where = standard_input ? "<stdin>" : path_text(*options.in);
  if (raise_refusal(result, where + ": ")) return nullptr;

  std::string diagnostics;  // everything for standard error, in order
  if (result.wire.kind != WireFinding::Kind::None) {
    const std::string message = one_wire_message(result.wire, Spelling::CommandLine);
    if (options.strict) {
      PyErr_SetString(PyExc_ValueError, (where + ": " + message).c_str());
      return nullptr;
    }
    diagnostics += "kestrel: warning: " + message + "\n";
  }
  if (options.stats) {
    if (!stats_text(result, diagnostics)) return nullptr;
    diagnostics += '\n';
  } else if (result.phase && !options.json) {
    const std::string k = std::to_string(*result.phase);
    diagnostics += "phase " + k + " (the input is e^(i*" + k + "*pi/8) times the result)\n";
  } else if (result.phase_radians && !options.json) {
    const std::string r = angle_text(*result.phase_radians);
    diagnostics += "phase_radians " + r + " (the input is e^(i*" + r + ") times the result)\n";
  }
  if (options.report) diagnostics += report_text(result, report);
  if (options.dot) {
    if (auto reason = undrawn_reason(result, report)) diagnostics += *reason;
  }
  // Standard output holds the text, or with --json the one JSON object.
  const bool to_stdout = options.json || !options.out;
  if (!diagnostics.empty() && !flush_python_stream("stderr")) return nullptr;
  if (to_stdout && !flush_python_stream("stdout")) return nullptr;

  if (auto error = without_gil([&] {
        if (!diagnostics.empty()) print_stderr(diagnostics);
        if (options.dot && report.dot) replace_file(*options.dot, *report.dot);
        if (options.out) replace_file(*options.out, result.qasm);
        if (options.json) {
          print_stdout(result_json(result));
        } else if (!options.out) {
          print_stdout(result.qasm);
        }
      })) {
    return raise_exception(module, std::move(error));
  }
  Py_RETURN_NONE;
}

// A double as the shortest text that reads back as it.
std::string number_text(double x) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, x).ptr);
}

// The command line's --rz ANGLE --epsilon E: the gates as a one-qubit
// program on standard output or in --out, or JSON with --json; --stats adds
// the T count, distance and phase on standard error.
PyObject* run_rz(PyObject* module, const Invocation& options) {
  const double angle = *options.rz, epsilon = *options.pipeline.epsilon;
  if (!synthesis::valid_epsilon(epsilon)) {
    PyErr_SetString(PyExc_ValueError, "--epsilon below 1e-30 is beyond this synthesis's precision");
    return nullptr;
  }
  synthesis::RzApproximation result;
  std::string text, diagnostics;
  if (auto error = without_gil([&] {
        result = synthesis::synthesize_rz(angle, epsilon);
        std::string names;
        for (OpKind gate : result.gates) {
          const std::string name(kind_info(gate).qasm_name);
          text += name + " q[0];\n";
          names += (names.empty() ? "\"" : ", \"") + name + "\"";
        }
        text = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\n" + text;
        if (options.json) {
          text = "{\"gates\": [" + names + "], \"t_count\": " + std::to_string(result.t_count) +
                 ", \"distance\": " + number_text(result.distance) +
                 ", \"phase\": " + number_text(result.phase) + "}\n";
        }
        if (options.stats) {
          diagnostics = "t_count " + std::to_string(result.t_count) + "\ndistance " +
                        number_text(result.distance) + "\nphase " + number_text(result.phase) +
                        " (the gates are e^(i*phase) times rz(ANGLE), within distance)\n";
        }
      })) {
    return raise_exception(module, std::move(error));
  }
  if (!diagnostics.empty() && !flush_python_stream("stderr")) return nullptr;
  if ((options.json || !options.out) && !flush_python_stream("stdout")) return nullptr;
  if (auto error = without_gil([&] {
        if (!diagnostics.empty()) print_stderr(diagnostics);
        if (options.out && !options.json) {
          replace_file(*options.out, text);
        } else {
          print_stdout(text);
        }
      })) {
    return raise_exception(module, std::move(error));
  }
  Py_RETURN_NONE;
}

}  // namespace

PyObject* cli(PyObject* module, PyObject* /*unused*/) {
  return guarded(module, [&]() -> PyObject* {
    std::vector<std::string> words;
    if (!program_words(words)) return nullptr;
    const CommandLine line = read_command_line(words);

    PyObject* done = nullptr;
    if (line.invocation.help) {
      done = print(module, 1, help_text());
    } else if (line.invocation.version) {
      done = print(module, 1, "kestrel " KESTREL_VERSION "\n");
    } else if (line.error) {
      return usage_error(module, *line.error);
    } else if (line.invocation.rz) {
      done = run_rz(module, line.invocation);
    } else {
      done = run(module, line.invocation);
    }
    // A Ctrl-C that came while the lock was released surfaces here, from
    // this call, rather than at some later point of the caller's code.
    if (done != nullptr && PyErr_CheckSignals() < 0) Py_CLEAR(done);
    return done;
  });
}

}  // namespace kestrel::binding
