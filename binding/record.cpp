// The read-only record type: creation, field access, repr and garbage collection.
#include "binding/record.h"

#include <structmember.h>

#include <cstddef>
#include <vector>

namespace kestrel::binding {
namespace {

// The layout of every record: the object header, the number of fields, then
// the fields. A type with fewer fields simply has a smaller instance size.
struct Record {
  PyObject_HEAD
  Py_ssize_t count;                    // fields in use
  PyObject* fields[kMaxRecordFields];  // strong references; NULL only while built or cleared
};

Record* as_record(PyObject* self) { return reinterpret_cast<Record*>(self); }

int traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Record* record = as_record(self);
  for (Py_ssize_t k = 0; k < record->count; ++k) Py_VISIT(record->fields[k]);
  return 0;
}

int clear(PyObject* self) {
  Record* record = as_record(self);
  for (Py_ssize_t k = 0; k < record->count; ++k) Py_CLEAR(record->fields[k]);
  return 0;
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  clear(self);
  auto free_instance = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_instance(self);
  Py_DECREF(type);
}

// "Name(first=repr, second=repr, ...)", with the names of the type's members.
PyObject* repr(PyObject* self) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  PyObject* members = PyObject_GetAttrString(type, "__match_args__");
  if (members == nullptr) return nullptr;
  PyObject* name = PyObject_GetAttrString(type, "__name__");
  if (name == nullptr) {
    Py_DECREF(members);
    return nullptr;
  }
  PyObject* parts = PyList_New(0);
  PyObject* result = nullptr;
  if (parts != nullptr) {
    const Py_ssize_t count = PyTuple_Size(members);
    Py_ssize_t k = 0;
    for (; k < count; ++k) {
      PyObject* part = PyUnicode_FromFormat("%U=%R", PyTuple_GetItem(members, k),
                                            as_record(self)->fields[k]);
      if (part == nullptr || PyList_Append(parts, part) < 0) {
        Py_XDECREF(part);
        break;
      }
      Py_DECREF(part);
    }
    if (k == count) {
      PyObject* separator = PyUnicode_FromString(", ");
      PyObject* joined = separator == nullptr ? nullptr : PyUnicode_Join(separator, parts);
      Py_XDECREF(separator);
      if (joined != nullptr) {
        result = PyUnicode_FromFormat("%U(%U)", name, joined);
        Py_DECREF(joined);
      }
    }
    Py_DECREF(parts);
  }
  Py_DECREF(name);
  Py_DECREF(members);
  return result;
}

}  // namespace

PyObject* new_record_type(const char* name, const char* doc, const char* const* fields,
                          std::size_t count, reprfunc custom_repr) {
  if (count > kMaxRecordFields) {
    PyErr_SetString(PyExc_SystemError, "too many record fields");
    return nullptr;
  }
  // The spec's arrays are copied into the type, the strings they point to
  // are not: field names and the doc must be static.
  std::vector<PyMemberDef> members;
  for (std::size_t k = 0; k < count; ++k) {
    members.push_back({fields[k], T_OBJECT_EX,
                       static_cast<Py_ssize_t>(offsetof(Record, fields) + k * sizeof(PyObject*)),
                       READONLY, nullptr});
  }
  members.push_back({nullptr, 0, 0, 0, nullptr});
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(doc)},
      {Py_tp_members, members.data()},
      {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
      {Py_tp_clear, reinterpret_cast<void*>(clear)},
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
      {Py_tp_repr, reinterpret_cast<void*>(custom_repr != nullptr ? custom_repr : repr)},
      {0, nullptr},
  };
  PyType_Spec spec = {
      .name = name,
      .basicsize = static_cast<int>(offsetof(Record, fields) + count * sizeof(PyObject*)),
      .itemsize = 0,
      .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
      .slots = slots,
  };
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) return nullptr;

  // Pattern matching by position, and the field order for the repr.
  PyObject* match_args = PyTuple_New(static_cast<Py_ssize_t>(count));
  if (match_args == nullptr) {
    Py_DECREF(type);
    return nullptr;
  }
  for (std::size_t k = 0; k < count; ++k) {
    PyObject* field = PyUnicode_FromString(fields[k]);
    if (field == nullptr) {
      Py_DECREF(match_args);
      Py_DECREF(type);
      return nullptr;
    }
    PyTuple_SetItem(match_args, static_cast<Py_ssize_t>(k), field);  // steals
  }
  const int stored = PyObject_SetAttrString(type, "__match_args__", match_args);
  Py_DECREF(match_args);
  if (stored < 0) {
    Py_DECREF(type);
    return nullptr;
  }
  return type;
}

PyObject* new_record(PyObject* type, PyObject* const* values, std::size_t count) {
  auto release = [&] {
    for (std::size_t k = 0; k < count; ++k) Py_XDECREF(values[k]);
  };
  auto alloc = reinterpret_cast<allocfunc>(
      PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  PyObject* self = alloc == nullptr ? nullptr : alloc(reinterpret_cast<PyTypeObject*>(type), 0);
  if (self == nullptr) {
    release();
    return nullptr;
  }
  Record* record = as_record(self);
  record->count = static_cast<Py_ssize_t>(count);
  for (std::size_t k = 0; k < count; ++k) record->fields[k] = values[k];
  return self;
}

PyObject* record_field(PyObject* record, std::size_t k) { return as_record(record)->fields[k]; }

}  // namespace kestrel::binding
