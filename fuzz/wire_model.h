// The unitary and the statistics of a one-wire gate list, computed without
// the optimiser: the fuzz targets of the one-wire methods check their
// results against them.
//
// Every gate the one-wire reader produces acts on two qubits as a 4x4
// matrix: a one-qubit gate on qubit 0, CNOT with control 0 and target 1
// (every rule of the rule set is an exact identity there). For
// [T, T] the matrix is that of [S]; [H, Z, H] is [X] exactly, and the normal
// form may differ from its input by a global phase, which
// `same_up_to_phase` allows.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <string_view>
#include <vector>

#include "fuzz/invariant.h"
#include "src/circuit/chain.h"
#include "src/circuit/op.h"
#include "src/circuit/circuit_stats.h"
#include "src/text/qasm.h"
#include "tests/model/matrices.h"

namespace kestrel {

using WireMatrix = std::array<std::array<std::complex<double>, 4>, 4>;  // basis q0 + 2 q1

// The gates the one-wire reader reads from `text`, first first.
inline std::vector<Op> wire_gates(std::string_view text) {
  const RecExpr<Op> expr = parse_qasm(text);
  std::vector<Op> gates;
  emit(expr.root(), expr, gates);
  return gates;
}

// The statistics of a wire counted gate by gate: T and Tdg, gates, and the
// depth, which on one wire is the gate count.
inline CircuitStats wire_counts(const std::vector<Op>& gates) {
  CircuitStats stats;
  for (Op g : gates) {
    stats.gates += 1;
    stats.t += g.op() == OpKind::T || g.op() == OpKind::Tdg;
  }
  stats.depth = stats.gates;
  return stats;
}

// The 2x2 matrix of a one-qubit gate the one-wire reader produces, from the
// shared model (tests/model/matrices.h).
inline std::array<std::array<std::complex<double>, 2>, 2> wire_gate(OpKind gate) {
  require(is_run_gate(gate), "a one-qubit gate of the one-wire reader");
  const model::Matrix m = model::run_gate_matrix(gate);
  return {{{m.at(0, 0), m.at(0, 1)}, {m.at(1, 0), m.at(1, 1)}}};
}

// The unitary of `gates` applied first to last.
inline WireMatrix wire_unitary(const std::vector<Op>& gates) {
  WireMatrix u{};
  for (int k = 0; k < 4; ++k) u[k][k] = 1;
  for (Op g : gates) {
    WireMatrix next{};
    if (g.op() == OpKind::CNOT) {
      // Control q0, target q1: swaps the rows of |01> and |11>.
      const int image[4] = {0, 3, 2, 1};
      for (int row = 0; row < 4; ++row) next[image[row]] = u[row];
    } else {
      const auto m = wire_gate(g.op());
      for (int row = 0; row < 4; ++row) {
        const int q0 = row & 1, q1 = row >> 1;
        for (int col = 0; col < 4; ++col) {
          next[row][col] = m[q0][0] * u[2 * q1][col] + m[q0][1] * u[2 * q1 + 1][col];
        }
      }
    }
    u = next;
  }
  return u;
}

// Whether a = z b, for the global phase z = e^(i phase pi/8).
inline bool same_unitary(const WireMatrix& a, const WireMatrix& b, std::uint8_t phase) {
  const std::complex<double> z = std::polar(1.0, phase * std::numbers::pi / 8);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (std::abs(a[r][c] - z * b[r][c]) > 1e-9) return false;
    }
  }
  return true;
}

}  // namespace kestrel
