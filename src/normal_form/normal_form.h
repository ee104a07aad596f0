// The Clifford+T normal form of a qubit's segments of one-qubit gates, read
// gate by gate.
//
// Up to a global phase, every product of h, s, sdg, t, tdg, x and z is in
// exactly one way a sequence of pi/4 rotations R_a about Pauli axes a (X, Y or
// Z), no two neighbours about the same axis, followed by one of the 24
// one-qubit Clifford operators; the number of rotations is then the fewest T
// gates of any Clifford+T circuit for it (Matsumoto and Amano, 2008). Reading keeps the rotations on a stack and the trailing
// Clifford as an index: a Clifford gate multiplies the index; a T gate
// becomes a rotation about the axis that the trailing Clifford carries Z to,
// pushed, or folded into the Clifford when the top of the stack has the same
// axis. So t, t, t, t reads as: push Z; fold into S; push Z; fold into Z,
// and is written as "z". Each gate costs a table look-up and at most one push
// or pop.
//
// Writing picks, for each rotation, T or T-dagger and the Clifford frame it
// is written in so that the whole segment has the fewest gates of all
// circuits with that many T gates: a shortest path with eight frames per rotation,
// which a precomputed automaton follows forward and then back, still linear.
//
// `NormalFormWire` reads a whole wire: CNOT gates stay where they are and
// split the segments; a segment between two CNOTs that comes to nothing lets
// them cancel, and the segments on either side join. For example cx, t, tdg,
// cx, t, t is written as "s". The segments are a stack as well, so this
// stays linear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/circuit/op.h"

namespace kestrel {

class NormalFormWire {
 public:
  // Reads the next gate. H, S, Sdg, T, Tdg, X and Z extend the open segment,
  // CNOT ends it, I is nothing; any other gate is a fault.
  void add(OpKind gate);

  // Appends the wire to `out`: each segment in normal form, or as it was
  // read where the normal form has as many T gates and more gates in all, and
  // a CNOT between consecutive segments. The result equals the gates read up
  // to a global phase (with each CNOT taken as the same two-qubit gate), and
  // no segment has more T gates than it had.
  void write(std::vector<OpKind>& out) const;

 private:
  // A segment of one-qubit gates; every segment but the first follows a CNOT.
  struct Segment {
    std::size_t axes_begin = 0;   // its first rotation in `axes_`
    std::size_t read_begin = 0;   // its first gate in `read_`
    std::size_t read_t = 0;       // T gates among its gates read
    std::uint8_t clifford = 0;    // the trailing Clifford, an index into the tables
  };


  std::vector<Segment> segments_{Segment{}};  // the segments so far, in order; never empty
  std::vector<std::uint8_t> axes_;  // each segment's rotation axes (0 X, 1 Y, 2 Z), in turn
  std::vector<std::uint8_t> read_;  // each segment's gates as read (OpKind values), in turn
};

}  // namespace kestrel
