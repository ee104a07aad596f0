// Stretches of cx, x and phase gates written with fewer cx gates, the
// phase gates moved to other places where a wire holds their parity.
//
// Within a stretch of a program made of cx, x and one-qubit phase gates
// (t, tdg, s, sdg, z) alone, every wire holds at each point an affine
// parity of the stretch's inputs, and a phase gate only asks for its
// parity: it may go to any point of the stretch where some wire holds the
// same one, exactly, global phase included. Each region (stretch), where
// all its wires can be written at one place (after an item where they
// have all joined it and none has left), is written anew where that takes
// fewer cx gates:
// - on at most eight wires without x gates, with the fewest cx gates that
//   bring every phase gate's parity onto a wire and end at the region's
//   linear map (src/gf2/fewest_cx.h), each phase gate where its parity is
//   first met: the three T gates on a Toffoli gate's target, written with
//   six cx gates, take four; or, with fewer, only the parities whose
//   gates' powers add up to an odd number, the S gates left written where
//   those cx gates happen to visit the parities they need
//   (src/gf2/fewest_cx_phases.h): where two Toffoli gates on one target
//   and one control left S gates (their T gates merged), four cx gates
//   where the gates as they are need six;
// - failing that, on up to 64 wires without x gates, as the parity network
//   of its phase polynomial (src/gf2/parity_network.h; phase gates on one
//   parity add up, so T gates never grow in number) and then the cx gates
//   of its linear map (src/gf2/linear_synthesis.h), or as the network left
//   open and the cx gates from its map to the region's.
// Where neither applies or pays, the region's windows (runs of its gates on
// at most five wires) are written with the fewest cx gates where that
// takes fewer (src/cancellation/stretch_windows.h), or, where that saves
// more, a cx that meets its copy with only phase
// gates, x gates on its target, and cx gates that share its control or its
// target between them (all of which it commutes with, but for the phase
// gates on its target) goes with it wherever every phase gate on the
// target between them still finds its parity somewhere: in
//
//     cx q[0],q[1]; t q[1]; cx q[0],q[1]; cx q[1],q[0]; tdg q[0]; ...
//
// the pair goes and the t moves after `cx q[1],q[0]` on q[0], where x0 ^ x1
// is too. Other phase gates stay where they are unless their wire's parity
// there changed. T gates never grow in number, and cx gates only go.
//
// The stretches (regions) are found in one walk over the items: a wire
// joins the region of a cx or a phase gate on it where it has none, and a
// cx between a wire in a region and one elsewhere brings the other in (out
// of its own region) only if all its gates so far precede the region's
// first (so no gate outside a region ever sits between two of its gates);
// any other gate (h, cz, a barrier, a rotation of any angle) or a cx that
// cannot join takes its wires out of their regions. A region that has lost
// no wire merges with another by a cx between them. Each cx then looks
// forward on its two wires for its copy, passing at most kCancelReach
// gates; the searches and the networks are bounded by counted work
// (src/gf2/fewest_cx.h), so the time is linear in the items and the result
// a function of them alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_cancellation.h"
#include "src/gf2/fewest_cx_phases.h"
#include "src/timing/deadline.h"

namespace kestrel {

// The searches of one writing of the stretches: those of whole stretches,
// and those of the windows of the stretches the search does not take
// whole, within states of their own, so that they leave the whole
// stretches after them what those had. A caller that writes the same
// items' stretches again may hand them on: a stretch asked again is
// answered from their caches.
struct FloatingSearches {
  PhaseSearches whole;
  PhaseSearches windows;
};

// Rewrites the regions among `items` (with `removed` and `now` as the
// passes before left them) and removes the cx pairs it finds: a region
// written anew goes from its items (removed) to additions after one item,
// and a phase gate that must move to an addition after the item where its
// parity is found (`additions`, ascending by item; none given before).
// Returns how many cx gates went. Past `deadline` the regions not yet
// looked at stay as they are. With `phase`, a region on at most eight
// wires that holds x gates is also written anew with the fewest cx gates
// where that takes fewer (and no more gates in all): its phase gates on the
// linear parts of their wires' parities (a power r on x ^ 1 is e^(i r pi/4)
// times the power -r on x), its x gates at its end, on the wires whose
// value ends with a constant; the items then equal e^(i phase pi/8) times
// what is written, and `phase` (eighths of pi, 0 to 15) is added to.
// With `searches`, the searches draw on those (their answers so far and
// the states they may still visit), else on their own.
std::size_t cancel_floating_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                                  const std::vector<Elementary>& now, std::vector<ItemAddition>& additions,
                                  const Deadline& deadline = {}, std::uint8_t* phase = nullptr,
                                  FloatingSearches* searches = nullptr);

}  // namespace kestrel
