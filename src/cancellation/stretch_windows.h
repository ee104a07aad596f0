// Windows of a stretch of cx, x and phase gates written with the fewest cx
// gates: for the stretches the search for the fewest does not take whole
// (on more wires, with x gates or with more parities than it takes).
//
// A window is a run of consecutive gates of a stretch (in the program's
// order) that together touch at most five wires and hold no x gate. Within
// it, each wire holds at each point a parity of the window's inputs (the
// wires' values where it starts), and a phase gate only asks for its
// parity; so a window can be written anew, in the place of one of its
// gates, with the fewest cx gates that bring every such parity onto a wire
// and end at the window's linear map (src/gf2/fewest_cx.h), each phase
// gate where its parity is first met, or only its odd parities with its S
// gates where those cx gates allow (src/gf2/fewest_cx_phases.h). That is
// exact whatever the wires held before (x gates before the window
// included), provided no gate outside the window on its wires is passed:
// the place is the window's first gate that comes after every one of its
// wires has joined the stretch (the gates outside it before that) and
// before any has left it (a wire may leave at an h, say, while the
// window's other wires go on; where no such gate is, the window stays as
// it is).
// The windows are taken greedily from the stretch's first gate, each as
// long as the wires allow. In
//
//     cx q[3],q[4]; tdg q[4]; cx q[2],q[4]; t q[4]; cx q[3],q[4]; cx q[2],q[4]; t q[3];
//     cx q[2],q[3]; tdg q[3]; cx q[2],q[3]; cx q[5],q[6]; cx q[6],q[7]; ...
//
// the first window ends before cx q[6],q[7] (a sixth wire): its seven cx
// gates take five.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/item_splice.h"
#include "src/circuit/elementary.h"
#include "src/gf2/fewest_cx_phases.h"

namespace kestrel {

struct StretchGate {
  std::uint32_t item;  // the item that holds it
  Elementary gate;     // cx, x or a one-qubit phase gate
  std::uint32_t a, b;  // the stretch's wires (b: a cx's target; a one-qubit gate's wire in a)
};

// The stretch's wires: wire w is qubit qubit_of[w]; after[w] is the last
// item outside the stretch on it before it joined (-1: none) and until[w]
// the first after it left (INT64_MAX: none).
struct StretchWires {
  std::span<const std::uint32_t> qubit_of;
  std::span<const std::int64_t> after, until;
};

// The gates of `writing` appended to `additions`, each written right after
// item `after`, wire w of the writing being qubit `qubit_of[w]`: the phase
// gates written after no cx, then each cx followed by those after it.
void write_stretch(const PhaseWriting& writing, std::uint32_t after, std::span<const std::uint32_t> qubit_of,
                   std::vector<ItemAddition>& additions);

// Writes anew each window of `gates` (a stretch, in order, on wires 0 to
// qubit_of.size() - 1) that the search writes with fewer cx gates: its
// items appended to `removed`, its gates to `additions`. Returns the cx
// gates saved.
std::size_t rewrite_windows(std::span<const StretchGate> gates, const StretchWires& wires,
                            std::vector<std::uint32_t>& removed, std::vector<ItemAddition>& additions,
                            PhaseSearches& search);

}  // namespace kestrel
