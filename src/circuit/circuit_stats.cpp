// The statistics of a gate list on one wire.
#include "src/circuit/circuit_stats.h"

#include "src/circuit/chain.h"

namespace kestrel {

// Walks the gates in place rather than collecting them first: on a long
// circuit the list would cost more than the walk.
CircuitStats wire_stats(const RecExpr<Op>& expr) {
  CircuitStats s;
  for_each_gate(expr.root(), expr, [&](Op gate) { s.add(gate.op()); });
  s.depth = s.gates;
  return s;
}

CircuitStats wire_stats(std::span<const OpKind> gates) {
  CircuitStats s;
  for (OpKind gate : gates) {
    if (gate != OpKind::I) s.add(gate);
  }
  s.depth = s.gates;
  return s;
}

}  // namespace kestrel
