// The optimiser end to end: load a circuit into an e-graph, saturate it with
// the gate identities, extract the cheapest equivalent circuit.
//
// For [T, T, Seq(0, 1)] the result is [S]: two T gates are one S gate, and S
// costs no T gate. The cost ranks T count first, then depth, then gate count.
#pragma once

#include "engine/language.h"
#include "src/lang.h"

namespace kestrel {

// The cheapest circuit equivalent to `expr` under the rule set, root last.
// `expr` must be non-empty; it is not changed.
RecExpr<Op> optimize_expr(const RecExpr<Op>& expr);

}  // namespace kestrel
