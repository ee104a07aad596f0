// The arguments of the module's functions: positional ones (the text for
// optimize_qasm and explain), then the keyword-only options that the table
// of options (src/pipeline/options.h) gives the function:
//
//   optimize_qasm(qasm, *, method="saturation", per_qubit=False, phase=False,
//                 strict=False, iter_limit=..., node_limit=..., time_limit=...)
//
// Argument errors use the interpreter's own wording for a function written in
// Python with this signature ("optimize_qasm() got an unexpected keyword
// argument 'x'"); a value of the wrong type raises TypeError naming the
// option, and a bad value ValueError with the message the command line gives
// as well: "iter_limit must be a whole number of at least 1, not 0".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

#include "src/pipeline/options.h"

namespace kestrel::binding {

inline constexpr std::size_t kMaxPositional = 3;

struct Arguments {
  std::array<PyObject*, kMaxPositional> positional{};  // borrowed from the call, in order
  Invocation options;  // the defaults where an option is not given
};

// Matches a call of `function` (its name, for messages) against the
// required parameters `names` (at most kMaxPositional, each may be given by
// keyword too) and the keyword options of the table that `caller` takes.
// Returns false with TypeError or ValueError set.
bool parse_arguments(const char* function, std::span<const char* const> names, Caller caller,
                     PyObject* args, PyObject* kwargs, Arguments& out);

}  // namespace kestrel::binding
