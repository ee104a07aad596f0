// The guide of a block: the program's cx gates after its anchor that a
// network written there may copy (block_guide.h).
#include "src/phase_polynomial/block_guide.h"

#include <algorithm>

namespace kestrel {
namespace {

// How many steps past a block's anchor its guide is looked for at most.
constexpr std::uint32_t kGuideReach = 1u << 12;

}  // namespace

std::vector<PlacedGate> block_guide(const ProgramSteps& program, const Blocks& blocks,
                                    const std::vector<bool>& anchor, std::size_t b,
                                    std::span<const PlacedGate> diagonaliser,
                                    const std::vector<std::uint64_t>& used,
                                    const std::vector<std::uint32_t>& variable_of) {
  std::vector<bool> waiting(program.qubits, false);
  for (const PlacedGate& g : diagonaliser) {
    if (g.gate != Elementary::H || waiting[g.a]) return {};
    waiting[g.a] = true;
  }
  const Block& block = blocks.blocks[b];
  std::vector<std::uint32_t> members;
  members.reserve(block.members.size());
  for (std::uint32_t r : block.members) members.push_back(blocks.rotations[r]);
  std::sort(members.begin(), members.end());
  const auto variable = [&](std::uint32_t q) { return ((used[q / 64] >> (q % 64)) & 1) != 0; };
  // What may still pass a wire's gates since the anchor: any cx, a cx
  // with its control there (those gates are diagonal), with its target
  // there (they are x or cx targets), none.
  enum class Wire : std::uint8_t { Open, Waiting, Control, Target, Closed };
  const auto meet = [](Wire w, Wire also) { return w == Wire::Open ? also : w == also ? w : Wire::Closed; };
  std::vector<Wire> wires(program.qubits, Wire::Open);
  for (std::uint32_t q = 0; q < program.qubits; ++q) {
    if (waiting[q]) wires[q] = Wire::Waiting;
  }
  std::vector<PlacedGate> out;
  std::size_t next = 0;
  const std::uint32_t end = std::min<std::uint32_t>(members.back() + 1, block.anchor + kGuideReach);
  for (std::uint32_t s = block.anchor; s < end; ++s) {
    if (next < members.size() && members[next] == s) {
      ++next;
      continue;
    }
    if (anchor[s]) break;
    const Step& step = program.steps[s];
    if (step.kind == StepKind::Boundary) {
      for (std::uint32_t q : program.qubits_of(step)) wires[q] = Wire::Closed;
      continue;
    }
    const PlacedGate& g = step.gate;
    Wire& a = wires[g.a];
    switch (g.gate) {
      case Elementary::H:
        a = a == Wire::Waiting ? Wire::Open : Wire::Closed;
        break;
      case Elementary::CX: {
        Wire& t = wires[g.b];
        if ((a == Wire::Open || a == Wire::Control) && (t == Wire::Open || t == Wire::Target) &&
            variable(g.a) && variable(g.b)) {
          out.push_back({Elementary::CX, variable_of[g.a], variable_of[g.b]});
        } else {
          a = meet(a, Wire::Control);
          t = meet(t, Wire::Target);
        }
        break;
      }
      case Elementary::CZ:
        a = meet(a, Wire::Control);
        wires[g.b] = meet(wires[g.b], Wire::Control);
        break;
      case Elementary::S: case Elementary::Sdg: case Elementary::T: case Elementary::Tdg:
      case Elementary::Z:
        a = meet(a, Wire::Control);
        break;
      case Elementary::X:
        a = meet(a, Wire::Target);
        break;
      case Elementary::Y:
      case Elementary::Rz:  // rotations of any angle are boundary steps; closed if ever met
      case Elementary::Rx:
      case Elementary::Ry:
        a = Wire::Closed;
        break;
      case Elementary::Swap:
        a = Wire::Closed;
        wires[g.b] = Wire::Closed;
        break;
    }
  }
  return out;
}

}  // namespace kestrel
