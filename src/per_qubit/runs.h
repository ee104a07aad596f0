// The runs of a program: per qubit, its maximal sequences of run gates.
//
// A run is a qubit's maximal sequence of RunGate statements (h, s, sdg, t,
// tdg, x and z applied to that one indexed qubit, unconditioned); every
// other statement that names the qubit (a cx on it, a measurement, a barrier
// over its register, `h q;` on its register, an `if`) ends the run. In
//
//   t q[0]; h q[1];
//   t q[0];
//   cx q[0],q[1];
//
// q[0] has the run T·T, ending at statement 2, and q[1] the run H, ending at
// statement 1. Real programs repeat their runs, so each distinct run is kept
// once, numbered in the order the runs end.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "src/program/program.h"

namespace kestrel {

inline constexpr std::uint32_t kNoRun = std::numeric_limits<std::uint32_t>::max();

struct Runs {
  // Each distinct run's gates, one OpKind code per byte, first to last, in
  // the order the first run of each ended.
  std::vector<std::string> distinct;
  // Per statement: the distinct run that ends at it, or kNoRun (for every
  // statement but a run's last gate).
  std::vector<std::uint32_t> ending;
};

Runs collect_runs(const QasmProgram& program);

}  // namespace kestrel
