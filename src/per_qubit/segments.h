// The segments of a program: per qubit, its maximal sequences of run gates.
//
// A segment is a qubit's maximal sequence of RunGate statements (h, s, sdg,
// t, tdg, x and z applied to that one indexed qubit, unconditioned); every
// other statement that names the qubit (a cx on it, a measurement, a barrier
// over its register, `h q;` on its register, an `if`) ends the segment. In
//
//   t q[0]; h q[1];
//   t q[0];
//   cx q[0],q[1];
//
// q[0] has the segment T·T, ending at statement 2, and q[1] the segment H,
// ending at statement 1. Real programs repeat their segments, so each
// distinct segment is kept once, numbered in the order the segments end.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "src/program/program.h"

namespace kestrel {

inline constexpr std::uint32_t kNoSegment = std::numeric_limits<std::uint32_t>::max();

struct Segments {
  // Each distinct segment's gates, one OpKind code per byte, first to last,
  // in the order the first segment of each ended.
  std::vector<std::string> distinct;
  // Per statement: the distinct segment that ends at it, or kNoSegment (for
  // every statement but a segment's last gate).
  std::vector<std::uint32_t> ending;
};

Segments collect_segments(const QasmProgram& program);

}  // namespace kestrel
