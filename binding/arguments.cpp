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

// The value of `value` for an option of `kind`, or false with TypeError set
// when it has the wrong type. A str's text stays with the str, which the
// call holds.
bool python_value(const char* name, OptionKind kind, PyObject* value, OptionValue& out) {
  switch (kind) {
    case OptionKind::Switch:
      if (!PyBool_Check(value)) return wrong_type(name, "a bool", value);
      out = value == Py_True;
      return true;
    case OptionKind::Count: {
      if (!PyLong_Check(value) || PyBool_Check(value)) return wrong_type(name, "an int", value);
      int overflow = 0;  // the sign of an int beyond long long
      const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
      if (n == -1 && PyErr_Occurred()) return false;
      out = std::optional<WholeNumber>(WholeNumber{n, overflow});
      return true;
    }
    case OptionKind::Seconds:
    case OptionKind::Number: {
      if ((!PyFloat_Check(value) && !PyLong_Check(value)) || PyBool_Check(value)) {
        return wrong_type(name, kind == OptionKind::Seconds ? "a number of seconds" : "a number",
                          value);
      }
      Seconds seconds;
      if (PyLong_Check(value)) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (n == -1 && PyErr_Occurred()) return false;
        seconds.too_large = overflow > 0;
        seconds.value = overflow < 0 ? -1.0 : static_cast<double>(n);
      } else {
        seconds.value = PyFloat_AsDouble(value);
        if (seconds.value == -1.0 && PyErr_Occurred()) return false;
      }
      out = std::optional<Seconds>(seconds);
      return true;
    }
    case OptionKind::Method:
    case OptionKind::File: {
      if (!PyUnicode_Check(value)) return wrong_type(name, "a str", value);
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
      if (utf8 == nullptr) PyErr_Clear();  // lone surrogates: no method's name
      out = utf8 == nullptr ? std::string_view()
                            : std::string_view(utf8, static_cast<std::size_t>(size));
      return true;
    }
  }
  return wrong_type(name, "a value", value);
}

// Converts the given value of option `option` into `into`.
bool convert_option(const Option& option, PyObject* value, Invocation& into) {
  const std::string name(option.name);
  OptionValue converted;
  if (!python_value(name.c_str(), option.kind, value, converted)) return false;
  std::string shown;
  if (!repr_text(value, shown)) return false;
  return accepted(set_option(option, converted, shown, Spelling::Python, into));
}

}  // namespace

bool parse_arguments(const char* function, std::span<const char* const> names, Caller caller,
                     PyObject* args, PyObject* kwargs, Arguments& out) {
  const std::span<const Option> options = kOptions;
  const std::size_t required = std::min(names.size(), kMaxPositional);
  const Py_ssize_t positional = PyTuple_Size(args);
  if (positional < 0) return false;
  if (static_cast<std::size_t>(positional) > required) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd were given",
                 function, required, required == 1 ? "" : "s", positional);
    return false;
  }
  for (Py_ssize_t k = 0; k < positional; ++k) out.positional[k] = PyTuple_GetItem(args, k);

  std::array<PyObject*, std::size(kOptions)> given{};  // borrowed values of the options passed
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      // The key's text; a key that is no str, or not UTF-8, matches nothing.
      std::string_view keyword;
      if (PyUnicode_Check(key)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
        if (utf8 == nullptr) PyErr_Clear();
        if (utf8 != nullptr) keyword = std::string_view(utf8, static_cast<std::size_t>(size));
      }
      const auto is = [&](std::string_view name) { return !keyword.empty() && keyword == name; };
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
      while (k < options.size() && !((options[k].callers & caller) != 0 &&
                                     !options[k].name.empty() && is(options[k].name))) {
        ++k;
      }
      if (k == options.size()) {
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
  OptionSet set = 0;
  for (std::size_t k = 0; k < options.size(); ++k) {
    if (given[k] == nullptr || (given[k] == Py_None && unset_unless_given(options[k]))) continue;
    if (!convert_option(options[k], given[k], out.options)) return false;
    set |= OptionSet{1} << k;
  }
  return accepted(check_methods(set, out.options, Spelling::Python));
}

}  // namespace kestrel::binding
