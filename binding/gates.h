// The private entry point of circuit libraries: a circuit given as a gate
// list (src/program/gate_list.h) rather than text, optimised by one of the
// methods, answered with its edits and its exact global phase.
//
//   _optimize_gates(gates: bytes, qubits: bytes, width: int, *,
//                   method="saturation", iter_limit=..., node_limit=...,
//                   time_limit=...) -> (edits, phase)
//
// (the options and their defaults are those the table of options,
// src/pipeline/options.h, gives this function).
//
// `gates` holds one code per operation, from `_gate_codes` ({"h": 14, ...},
// the library gates without parameters) or 0 for a boundary; `qubits` the
// operations' qubits as native 32-bit unsigned integers, a boundary's after
// their count. `edits` lists (operation, replacement codes) by increasing
// operation, an empty replacement removing the operation; the circuit given
// equals e^(i phase pi/8) times the circuit edited. Rotation merging reads
// the circuit whole; saturation and the normal form optimise every qubit's
// runs. For gates = bytes([t, t]) and qubits = (0, 0) in 32 bits, width 1,
// method "normal-form": edits [(0, b""), (1, bytes([s]))], phase 0.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kestrel::binding {

// _optimize_gates(...): METH_VARARGS | METH_KEYWORDS.
PyObject* optimize_gates(PyObject* module, PyObject* args, PyObject* kwargs);

// A new dict from the name of each library gate without parameters to its
// code, or NULL with an exception set.
PyObject* gate_codes();

}  // namespace kestrel::binding
