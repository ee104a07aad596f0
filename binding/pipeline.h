// optimize_qasm: the text and options in, the optimised text and the
// statistics dictionary out, with a kestrel.OneWireWarning when a one-wire
// method read a text that is not one wire.
//
// The pipeline itself (src/pipeline/pipeline.h) is pure C++ and runs without the
// interpreter lock; only the results are turned into Python objects, and the
// warning issued, with it held. For the text of two "t q[0];" lines the
// result is the header plus "s q[0];", with t 2 -> 0, depth 2 -> 1 and
// gates 2 -> 1.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <optional>
#include <vector>

#include "src/pipeline/pipeline.h"

namespace kestrel::binding {

// Points `text` at the UTF-8 encoding of the argument `qasm`, which the str
// caches and keeps until it is freed; the caller's reference keeps it alive
// and a str never changes, so it can be read without the interpreter lock.
// Returns false with an exception set when `qasm` is not a str or cannot be
// encoded.
bool utf8_argument(PyObject* qasm, std::string_view& text);

// Raises ValueError when the pipeline refused the text: one the statement
// reader could not read ("line 3, column 5: expected ..."), or a program
// too large for rotation merging; the message follows `where`. Returns
// whether it raised.
bool raise_refusal(const PipelineResult& result, const std::string& where = {});

// Issues kestrel.OneWireWarning about `wire`, or with `strict` raises
// ValueError, when it is a finding (src/text/wire_check.h). Returns false
// with an exception set: the ValueError, or the warning turned into an
// error by the warnings filter. Requires the interpreter lock.
bool warn_one_wire(PyObject* module, const WireFinding& wire, bool strict);

// One statistic: a count, or for phase_radians a real number.
struct StatEntry {
  const char* key;
  std::uint64_t count = 0;
  std::optional<double> real = std::nullopt;  // set for a real number, then `count` is unused
};

// The statistics in order: t_before, t_after, depth_before, depth_after,
// gates_before, gates_after, then phase or phase_radians where the result
// has one, synthesis_error where it was written in Clifford+T, then the
// method's own figures.
std::vector<StatEntry> stats_entries(const PipelineResult& result);

// A new dict with the keys t_before, t_after, depth_before, depth_after,
// gates_before, gates_after in this order, then phase where the result has
// one, or NULL with an exception set. Requires the interpreter lock.
PyObject* stats_dict(const PipelineResult& result);

}  // namespace kestrel::binding
