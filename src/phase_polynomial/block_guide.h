// The guide of a block of rotations: the program's own cx gates after the
// block's anchor that a parity network written at the anchor may copy, so
// that the copies and the program's gates cancel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/phase_polynomial/blocks.h"
#include "src/phase_polynomial/program_steps.h"

namespace kestrel {

// The program's cx gates from block b's anchor to its last rotation that a
// network written at the anchor may copy, on the block's variables: those
// with nothing before them on their wires since the anchor but rotations of
// the block (which go) and other copied cx gates. Any other gate, rotation
// or boundary closes its wires; the anchor of another block (where its
// network may be written) ends the guide, and so does the step 4,096 past
// the anchor. A diagonaliser of h gates alone (on distinct wires) leaves a wire it changes waiting for the program's
// own h there, which cancels the h written after the network: the wire
// opens after it and closes at anything else. Any other diagonaliser: no
// guide.
// `anchor` marks, per step, the anchor of a block; `used` and
// `variable_of` are the block's variables (its qubits, renumbered).
std::vector<PlacedGate> block_guide(const ProgramSteps& program, const Blocks& blocks,
                                    const std::vector<bool>& anchor, std::size_t b,
                                    std::span<const PlacedGate> diagonaliser,
                                    const std::vector<std::uint64_t>& used,
                                    const std::vector<std::uint32_t>& variable_of);

}  // namespace kestrel
