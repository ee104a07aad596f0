// Read-only record types: a class whose instances hold a fixed list of named
// fields, each a Python object, for the results the module hands back.
//
//   >>> report.iterations[0]
//   Iteration(nodes=3, classes=3, applied={'t-t-to-s': 1}, banned=[], ...)
//
// A record type is a heap type made from a spec at import time; Python code
// cannot create instances, only read the fields. Instances take part in
// garbage collection, since a field may hold a list that a caller changes.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace kestrel::binding {

// The largest number of fields a record type may have.
inline constexpr std::size_t kMaxRecordFields = 12;

// A new record type named `name` ("kestrel.Report") with the `count` fields
// `fields` (static strings), or NULL with an exception set. Instances print
// as "Report(field=value, ...)" unless `repr` replaces that.
PyObject* new_record_type(const char* name, const char* doc, const char* const* fields,
                          std::size_t count, reprfunc repr = nullptr);

// A new instance of `type` whose fields take the `count` new references in
// `values` (stolen, also on failure; none may be NULL), or NULL with an
// exception set.
PyObject* new_record(PyObject* type, PyObject* const* values, std::size_t count);

// Field `k` of `record`, borrowed.
PyObject* record_field(PyObject* record, std::size_t k);

}  // namespace kestrel::binding
