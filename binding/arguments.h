// The arguments of the module's functions: positional ones (the text for
// optimize_qasm and explain), then keyword-only options.
//
//   optimize_qasm(qasm, *, method="saturation", per_qubit=False, phase=False,
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

#include <array>
#include <cstddef>
#include <span>

#include "src/pipeline/pipeline.h"

namespace kestrel::binding {

// Which keyword options a function takes besides the limits.
enum class OptionSet {
  Limits,      // iter_limit, node_limit, time_limit
  AllOptions,  // method, per_qubit and phase as well
  Methods,     // method as well
};

inline constexpr std::size_t kMaxPositional = 3;

struct Arguments {
  std::array<PyObject*, kMaxPositional> positional{};  // borrowed from the call, in order
  PipelineOptions options;  // the defaults where an option is not given
};

// Matches a call of `function` (its name, for messages) against the
// required parameters `names` (at most kMaxPositional, each may be given by
// keyword too) and the keyword options of `set`. Returns false with
// TypeError or ValueError set.
bool parse_arguments(const char* function, std::span<const char* const> names, OptionSet set,
                     PyObject* args, PyObject* kwargs, Arguments& out);

}  // namespace kestrel::binding
