// The gate identities the optimiser saturates with.
//
// Eleven one-way rules over the gate language, applied in this order in every
// iteration: removing I next to a circuit, regrouping sequences both ways,
// and the gate identities T;T = S, T;Tdg = I, Tdg;T = I, S;S = Z, H;Z;H = X,
// H;X;H = Z and CNOT;CNOT = I. No rule touches Par, Sdg, RZ1 or RZ2.
#pragma once

#include <vector>

#include "engine/rewrite.h"
#include "src/circuit/op.h"

namespace kestrel {

// The rule set, built afresh on each call.
std::vector<Rewrite<Op>> rules();

}  // namespace kestrel
