// Matching the functions' arguments and converting the options.
#include "binding/arguments.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/pipeline/options.h"

namespace kestrel::binding {
namespace {

// The keyword options in their order of declaration; those before the
// limits only where the set has them.
constexpr const char* kOptionNames[] = {"method",     "per_qubit",  "phase",
                                        "iter_limit", "node_limit", "time_limit"};
constexpr std::size_t kOptionCount = std::size(kOptionNames);
constexpr std::size_t kFirstLimit = 3;  // options before this one are not limits

// Whether functions taking `set` take option `k`.
bool takes(OptionSet set, std::size_t k) {
  switch (set) {
    case OptionSet::Limits: return k >= kFirstLimit;
    case OptionSet::Methods: return k == 0 || k >= kFirstLimit;
    case OptionSet::AllOptions: return true;
  }
  return false;
}

// Sets TypeError "<name> must be <what>, not '<type>'" and returns false.
bool wrong_type(const char* name, const char* what, PyObject* value) {
  PyObject* type_name =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__");
  if (type_name == nullptr) return false;
  PyErr_Format(PyExc_TypeError, "%s must be %s, not '%U'", name, what, type_name);
  Py_DECREF(type_name);
  return false;
}

// Raises ValueError with `message` when there is one; returns whether
// there was none.
bool accepted(const std::optional<std::string>& message) {
  if (!message) return true;
  PyErr_SetString(PyExc_ValueError, message->c_str());
  return false;
}

// repr(value) as UTF-8 into `out`, as a message shows the value.
bool repr_text(PyObject* value, std::string& out) {
  PyObject* repr = PyObject_Repr(value);
  if (repr == nullptr) return false;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(repr, &size);
  if (utf8 != nullptr) out.assign(utf8, static_cast<std::size_t>(size));
  Py_DECREF(repr);
  return utf8 != nullptr;
}

// An int, whatever its size; src/pipeline/options.h checks its value.
bool count_option(const char* name, PyObject* value, std::size_t& out) {
  if (!PyLong_Check(value) || PyBool_Check(value)) return wrong_type(name, "an int", value);
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (n == -1 && PyErr_Occurred()) return false;
  std::string shown;
  if (!repr_text(value, shown)) return false;
  return accepted(set_count(name, WholeNumber{n, overflow}, shown, out));
}

// An int or a float, as seconds.
bool seconds_option(const char* name, PyObject* value, std::chrono::nanoseconds& out) {
  if ((!PyFloat_Check(value) && !PyLong_Check(value)) || PyBool_Check(value)) {
    return wrong_type(name, "a number of seconds", value);
  }
  Seconds seconds;
  if (PyLong_Check(value)) {
    int overflow = 0;  // the sign of an int beyond long long
    const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (n == -1 && PyErr_Occurred()) return false;
    seconds.too_large = overflow > 0;
    seconds.value = overflow < 0 ? -1.0 : static_cast<double>(n);
  } else {
    seconds.value = PyFloat_AsDouble(value);
    if (seconds.value == -1.0 && PyErr_Occurred()) return false;
  }
  std::string shown;
  if (!repr_text(value, shown)) return false;
  return accepted(set_seconds(name, seconds, shown, out));
}

bool method_option(const char* name, PyObject* value, Method& out) {
  if (!PyUnicode_Check(value)) return wrong_type(name, "a str", value);
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
  if (utf8 == nullptr) PyErr_Clear();  // lone surrogates: no method's name
  const std::string_view text =
      utf8 == nullptr ? std::string_view() : std::string_view(utf8, static_cast<std::size_t>(size));
  std::string shown;
  if (!repr_text(value, shown)) return false;
  return accepted(set_method(name, text, shown, out));
}

bool flag_option(const char* name, PyObject* value, bool& out) {
  if (!PyBool_Check(value)) return wrong_type(name, "a bool", value);
  out = value == Py_True;
  return true;
}

// Converts the given value of option `k` into `options`.
bool convert_option(std::size_t k, PyObject* value, PipelineOptions& options) {
  const char* name = kOptionNames[k];
  switch (k) {
    case 0: return method_option(name, value, options.method);
    case 1: return flag_option(name, value, options.per_qubit);
    case 2: return flag_option(name, value, options.phase);
    case 3: return count_option(name, value, options.limits.iter_limit);
    case 4: return count_option(name, value, options.limits.node_limit);
    default: return seconds_option(name, value, options.limits.time_limit);
  }
}

}  // namespace

bool parse_arguments(const char* function, std::span<const char* const> names, OptionSet set,
                     PyObject* args, PyObject* kwargs, Arguments& out) {
  const std::size_t required = std::min(names.size(), kMaxPositional);
  const Py_ssize_t positional = PyTuple_Size(args);
  if (positional < 0) return false;
  if (static_cast<std::size_t>(positional) > required) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd were given",
                 function, required, required == 1 ? "" : "s", positional);
    return false;
  }
  for (Py_ssize_t k = 0; k < positional; ++k) out.positional[k] = PyTuple_GetItem(args, k);

  PyObject* given[kOptionCount] = {};  // borrowed values of the options passed
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      const auto is = [&](const char* name) {
        return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0;
      };
      std::size_t p = 0;
      while (p < required && !is(names[p])) ++p;
      if (p < required) {
        if (out.positional[p] != nullptr) {
          PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                       names[p]);
          return false;
        }
        out.positional[p] = value;
        continue;
      }
      std::size_t k = 0;
      while (k < kOptionCount && !(takes(set, k) && is(kOptionNames[k]))) ++k;
      if (k == kOptionCount) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function,
                     key);
        return false;
      }
      given[k] = value;
    }
  }
  // "missing 2 required positional arguments: 'qubits' and 'width'", as the
  // interpreter words it.
  std::vector<const char*> missing;
  for (std::size_t p = 0; p < required; ++p) {
    if (out.positional[p] == nullptr) missing.push_back(names[p]);
  }
  if (!missing.empty()) {
    std::string list;
    for (std::size_t m = 0; m < missing.size(); ++m) {
      if (m > 0) list += m + 1 == missing.size() ? (m > 1 ? ", and " : " and ") : ", ";
      list += std::string("'") + missing[m] + "'";
    }
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                 function, missing.size(), missing.size() == 1 ? "" : "s", list.c_str());
    return false;
  }
  for (std::size_t k = 0; k < kOptionCount; ++k) {
    if (given[k] != nullptr && !convert_option(k, given[k], out.options)) return false;
  }
  return true;
}

}  // namespace kestrel::binding
