// explain(): one optimisation with a report of its saturation run.
//
//   >>> report = kestrel.explain(text)
//   >>> report
//   Report(stop_reason='saturated', stop_value=None, skipped=False, nodes=4, classes=2,
//          iterations=2, stats={'t_before': 2, 't_after': 0, ...})
//   >>> report.iterations[0].applied
//   {'t-t-to-s': 1}
//
// The report's `text` and `stats` are exactly what optimize_qasm returns for
// the same arguments, and it warns (or with strict=True refuses) as
// optimize_qasm does; the rest describes the run: why it stopped, the final
// e-graph's size and drawing, and one `Iteration` record per iteration.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "binding/module.h"

namespace kestrel::binding {

// Creates the types `Report` and `Iteration` into `state` and adds them to
// `module`. Returns false with an exception set.
bool add_report_types(PyObject* module, ModuleState& state);

// explain(qasm, *, strict=False, iter_limit=..., node_limit=..., time_limit=...),
// the defaults those of the table of options: METH_VARARGS | METH_KEYWORDS.
PyObject* explain(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace kestrel::binding
