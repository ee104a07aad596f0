// cli(): the command line of the console script.
//
//   kestrel --in circuit.qasm --stats > optimised.qasm
//
// The options come from the process's own argument vector (sys.orig_argv,
// turned back into the bytes the process was given), not from sys.argv, so a
// launcher script's path or an interpreter option such as "-c" is just one
// more element to ignore. Output goes to file descriptors 1 and 2 directly,
// after the interpreter's sys.stdout and sys.stderr are flushed so that
// anything printed before keeps its place.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/boundary.h"
#include "binding/files.h"
#include "binding/module.h"
#include "binding/pipeline.h"

namespace kestrel::binding {
namespace {

constexpr std::string_view kUsage =
    "Usage: kestrel --in <file.qasm> [--out out.qasm] [--stats]\n";

struct Options {
  std::optional<std::string> in;   // input path, absent until given
  std::optional<std::string> out;  // output path; absent means standard output
  bool stats = false;              // print the statistics to standard error
};

// Walks the elements after the program path once. "--in" and "--out" take
// the next element whatever it is; a later one replaces an earlier one, and
// one at the very end leaves its path absent. Everything else is ignored.
Options parse_options(const std::vector<std::string>& argv) {
  Options options;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& element = argv[i];
    if (element == "--in" || element == "--out") {
      std::optional<std::string>& path = element == "--in" ? options.in : options.out;
      if (i + 1 < argv.size()) {
        path = argv[++i];
      } else {
        path.reset();
      }
    } else if (element == "--stats") {
      options.stats = true;
    }
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

}  // namespace

PyObject* cli(PyObject* module, PyObject* /*unused*/) {
  return guarded(module, [&]() -> PyObject* {
    std::vector<std::string> argv;
    if (!process_argv(argv)) return nullptr;
    const Options options = parse_options(argv);

    if (!options.in) {
      if (!flush_python_stream("stderr")) return nullptr;
      if (auto error = without_gil([] { print_stderr(kUsage); })) {
        return raise_exception(module, std::move(error));
      }
      Py_RETURN_NONE;
    }

    PipelineResult result;
    if (auto error = without_gil([&] { result = run_pipeline(read_utf8_file(*options.in)); })) {
      return raise_exception(module, std::move(error));
    }

    std::string stats_line;
    if (options.stats) {
      if (!stats_text(result, stats_line)) return nullptr;
      stats_line += '\n';
      if (!flush_python_stream("stderr")) return nullptr;
    }
    if (!options.out && !flush_python_stream("stdout")) return nullptr;

    if (auto error = without_gil([&] {
          if (options.stats) print_stderr(stats_line);
          if (options.out) {
            write_file(*options.out, result.qasm);
          } else {
            print_stdout(result.qasm);
          }
        })) {
      return raise_exception(module, std::move(error));
    }
    Py_RETURN_NONE;
  });
}

}  // namespace kestrel::binding
