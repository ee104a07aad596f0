// A whole program written in Clifford+T gates: every rotation of any angle
// replaced in place by a Clifford+T sequence within a chosen operator-norm
// distance of it, up to a global phase (src/synthesis/rz_synthesis.h), and
// every other gate written as h, s, sdg, t, tdg, x, y, z, cx and cz.
//
// Each gate statement that applies anything else (`rz(0.3)`, `u3(...)`,
// `cp(0.3)`, `swap`, `ccx`, a gate the program defines, ...) is replaced by
// its expansion (src/program/expansion.h, angles of any size read), in which
// an rz(t) becomes the sequence for it, an rx(t) that sequence between h
// gates (rx(t) = H rz(t) H) and an ry(t) that sequence between sdg, h and
// h, s (ry(t) = S H rz(t) H S^-1), and a swap three cx. A statement the
// expansion cannot see through (an opaque gate, anything under `if`) stays
// as it is. For
//
//   rz(pi/4 + 0.1) q[0];   ->   t q[0]; <the sequence for rz(0.1)>
//
// since rz(t) = rz(r) (e^(-i k pi/4) S^k) for t = r + k pi/2, |r| <= pi/4:
// each distinct |r| is synthesised once per call (a cache), rz(-r) being the
// inverse of rz(r)'s sequence, gates reversed and inverted. An |r| within
// d of one already synthesised takes its sequence where the distance that
// sequence achieved plus 2 sin(d/4) is still at most epsilon (sums of the
// same angles formed in another order differ in their last bits). An |r| whose
// rotation lies within epsilon of the identity or of rz(pi/4) comes back from
// the synthesis as nothing or as t; one just beyond them gets a search of
// its own like any other. The sum of the
// distances achieved, one per rotation written, bounds the distance between
// the program read and the program written (up to the phase reported).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "src/circuit/angle.h"
#include "src/circuit/elementary.h"
#include "src/program/edits.h"
#include "src/program/program.h"

namespace kestrel {

// Clifford+T sequences for rotations within one precision, each distinct
// angle synthesised once.
class RotationSynthesiser {
 public:
  // `epsilon` must be a precision synthesize_rz takes (synthesis::valid_epsilon).
  explicit RotationSynthesiser(double epsilon);
  RotationSynthesiser(const RotationSynthesiser&) = delete;
  RotationSynthesiser& operator=(const RotationSynthesiser&) = delete;

  // Appends Clifford+T gates on qubit `qubit` within epsilon of `rotation`
  // (an Rz, Rx or Ry with a finite angle) up to a global phase, and returns
  // that phase p: the gates are near e^(i p) times the rotation.
  double append(const PlacedGate& rotation, std::vector<PlacedGate>& out);

  double error() const { return error_; }  // the distances of all appended, summed
  std::size_t distinct() const { return cache_.size(); }  // angles synthesised

 private:
  // The sequence for rz(r) of one |r| in [0, pi/4].
  struct Sequence {
    std::vector<Elementary> gates;  // circuit order
    double phase;                   // gates = e^(i phase) rz(r), near enough
    double distance;                // how near, up to that phase
  };
  // The sequence for rz(magnitude) within epsilon_: one of the cache, whose
  // angle is off by a distance of `off` (added to its own), or a new one.
  const Sequence& sequence(double magnitude, double& off);
  // synthesize_rz's sequence for rz(angle) within `epsilon`.
  Sequence synthesised(double angle, double epsilon) const;

  double epsilon_;                                  // the precision of every sequence
  std::map<double, Sequence> cache_;                // by |r|
  double error_ = 0;                                // as error()
};

struct CliffordTResult {
  Edits edits;        // the statements replaced by Clifford+T gates
  Phase phase;        // the program read is e^(i phase) times the program written
  double error = 0;   // the synthesised sequences' distances, summed
  std::size_t distinct = 0;  // distinct angles synthesised
  std::uint64_t rotations = 0;  // rotations written as sequences
};

// Whether gate statement `st` applies one of the gates written here
// (h, s, sdg, t, tdg, x, y, z, cx, cz, by name), so that it stays.
bool written_as_clifford_t(const Statement& st);

// `program` with its gates written in Clifford+T within `epsilon` per
// rotation (a precision synthesize_rz takes).
CliffordTResult write_clifford_t(const QasmProgram& program, double epsilon);

}  // namespace kestrel
