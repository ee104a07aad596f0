// The arguments of optimize_qasm: the text, and keyword-only options.
//
//   optimize_qasm(qasm, *, method="saturation", per_qubit=False,
//                 iter_limit=30, node_limit=10000, time_limit=5.0)
//
// Argument errors use the interpreter's own wording for a function written in
// Python with this signature ("optimize_qasm() got an unexpected keyword
// argument 'x'"); a value of the wrong type raises TypeError naming the
// option, and a bad value ValueError with the message the command line gives
// as well (src/pipeline/options.h): "iter_limit must be a whole number of at
// least 1, not 0".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "src/pipeline/pipeline.h"

namespace kestrel::binding {

// Which keyword options a function takes besides the limits.
enum class OptionSet {
  Limits,     // iter_limit, node_limit, time_limit
  AllOptions, // method and per_qubit as well
};

struct Arguments {
  PyObject* qasm = nullptr;  // borrowed from the call's arguments
  PipelineOptions options;   // the defaults where an option is not given
};

// Matches a call of `function` (its name, for messages) against the
// parameters `qasm` and the keyword options of `set`. Returns false with
// TypeError or ValueError set.
bool parse_arguments(const char* function, OptionSet set, PyObject* args, PyObject* kwargs,
                     Arguments& out);

}  // namespace kestrel::binding
