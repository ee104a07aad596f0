// The pipeline behind optimize_qasm and cli: read, optimise, measure, write.
//
// `run_pipeline` is pure C++ and runs without the interpreter lock; only the
// statistics dictionary is built with it held. For the text of two "t q[0];"
// lines the result is the header plus "s q[0];", with t 2 -> 0, depth 2 -> 1
// and gates 2 -> 1.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>

#include "src/qasm.h"

namespace kestrel::binding {

struct PipelineResult {
  std::string qasm;     // the optimised circuit as QASM text
  CircuitStats before;  // the circuit read from the input
  CircuitStats after;   // the optimised circuit
};

// Reads `text`, optimises the circuit and writes it back. Throws only
// `kestrel::Fault` and `std::bad_alloc`.
PipelineResult run_pipeline(std::string_view text);

// A new dict with the keys t_before, t_after, depth_before, depth_after,
// gates_before, gates_after in this order, or NULL with an exception set.
// Requires the interpreter lock.
PyObject* stats_dict(const PipelineResult& result);

}  // namespace kestrel::binding
