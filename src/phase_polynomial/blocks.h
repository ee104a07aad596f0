// The rotations of a program cut into blocks of mutually commuting
// rotations, in order, with the boundaries as blocks of their own.
//
// Every rotation (a T or T-dagger gate on qubit q, read after the Clifford
// gates C) is exp(-+i pi/8 P) up to a global phase, with P = C^-1 Z_q C the
// product moved to the start of the program. Read in order, a rotation
// joins the earliest rotation block after the last block holding a product
// it anticommutes with; a new block at the end when there is none. A
// boundary on qubits A, read after the Clifford gates D, is a block of its
// own at the end whose products are D^-1 X_a D and D^-1 Z_a D for a in A: a
// rotation passes it only when it commutes with all of them, that is when
// the rotation and the boundary act on different qubits at that point.
// Every rotation passes only products it commutes with, so the blocks taken
// in order multiply to the program's rotations.
//
// For `t q[0]; h q[0]; t q[0]; h q[0]; t q[1]; t q[0];` the products are
// Z_0, X_0, Z_1 and Z_0: the first rotation opens block 0; X_0
// anticommutes with it and opens block 1; Z_1 commutes with both and joins
// block 0; the last Z_0 anticommutes with block 1 and opens block 2.
//
// A block's anchor is the step it is written at: its first rotation, or
// the boundary itself. Anchors increase with the blocks. The backward
// search of a rotation is bounded: past `kSearchedBlocks` blocks it joins
// the oldest block it reached, which is always sound. Once `deadline` has
// passed, the cut stops and gives no block and no rotation: the program
// stays as it was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "src/phase_polynomial/program_steps.h"
#include "src/timing/deadline.h"

namespace kestrel {

struct Block {
  bool boundary = false;              // a boundary's block, holding no rotation
  std::uint32_t anchor = 0;           // the step it is written at
  std::vector<std::uint32_t> members; // its rotations, as indices into `Blocks::rotations`, in order
};

struct Blocks {
  std::size_t words = 0;                   // words per half row of a product (src/pauli/pauli.h)
  std::vector<std::uint32_t> rotations;    // per rotation: its step
  std::vector<std::uint64_t> products;     // per rotation: its product at the start, 2 * words words
  std::vector<std::uint8_t> phases;        // per rotation: its product's power of i
  std::vector<Block> blocks;               // in order
};

// How many blocks a rotation searches back at most.
inline constexpr std::size_t kSearchedBlocks = 1024;

Blocks cut_into_blocks(const ProgramSteps& program, const Deadline& deadline = {});

}  // namespace kestrel
