// The rotation-merging method on a whole program: its T gates and its
// rotations of any angle merged across the program's Clifford gates
// (src/rotation_merging/merger.h), written back in place.
//
// The program is read through the instance walk (src/program/instance_walk.h)
// with every gate statement whose angles are finite seen through
// (Sight::Rotations): h, cx and the other Clifford gates are gates the frame
// follows, broadcast ones once per instance; each T and T-dagger among them
// is a rotation, whether a `t` statement or one of a ccx's seven, and so is
// each rz, rx and ry of any angle (`rz(0.3)`, the three of a `cp(0.3)`, the
// rz, ry, rz of a `u3`); every other statement that acts on qubits (a
// measurement, a reset, a barrier, anything under `if`, an opaque gate, ...)
// is a boundary on the qubits it names. A barrier or any other statement on
// every qubit ends all searches.
//
// Each group is written at its first member's place: where its angle is a
// multiple of pi/4 within kAngleTolerance, as the phase gates for it (t, s,
// z, sdg, tdg, `s` then `t`, `sdg` then `tdg`, or nothing; about X or Y,
// those between h gates, or between sdg, h and h, s); otherwise as one rz,
// rx or ry about its first member's axis, the angle written to read back as
// the same double. Its other members are removed. A `t` or `tdg` statement
// whose rotation became phase gates gets them; any other statement one of
// whose rotations changed is written as its expansion with them in it (a
// placed edit), and its global phase is added to the one reported (in
// radians where it is no multiple of pi/8). Every other statement stays as
// it was. For
//
//   t q[0]; cx q[1],q[0]; t q[0]; cx q[1],q[0]; t q[0];
//
// the edits are {0 -> [S]} and {8 -> []}: the first T becomes S, the last
// goes, and the middle T (about Z_0 Z_1, which commutes) stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "src/circuit/angle.h"
#include "src/program/edits.h"
#include "src/program/program.h"
#include "src/timing/deadline.h"

namespace kestrel {

struct RotationMergingResult {
  Edits edits;  // the statements whose rotations changed, replaced or removed
  Phase phase;  // the program read is e^(i phase) times the program written
  double rounded = 0;  // as MergeResult::rounded: how far the sums taken for
                       // multiples of pi/4 were from them, summed
};

// The memory the method may take for the Pauli products it keeps.
inline constexpr std::uint64_t kRotationMergingBytes = std::uint64_t{1} << 32;

// Why `program` is too large for the method (its products would take more
// than kRotationMergingBytes), or nothing.
std::optional<std::string> too_large_for_rotation_merging(const QasmProgram& program);

// Merges the rotations of `program`, which must not be too large. Past
// `deadline`, every rotation read stays as it is. A sum of any angle within
// `tolerance` (at most kAngleTolerance) of a multiple of pi/4 is taken for it.
RotationMergingResult merge_rotations(const QasmProgram& program, const Deadline& deadline = {},
                                      double tolerance = kAngleTolerance);

}  // namespace kestrel
