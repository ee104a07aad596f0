// cx pairs that cancel once the phase gates between them move to another
// place where the same parity is on a wire.
//
// Within a stretch of a program made of cx, x and one-qubit phase gates
// (t, tdg, s, sdg, z) alone, every wire holds at each point an affine
// parity of the stretch's inputs, and a phase gate only asks for its
// parity: it may go to any point of the stretch where some wire holds the
// same one, exactly, global phase included. So a cx that meets its copy
// with only phase gates, x gates on its target, and cx gates that share its
// control or its target between them (all of which it commutes with, but
// for the phase gates on its target) cancels with it wherever every phase
// gate on the target between them still finds its parity somewhere:
//
//     cx q[0],q[1]; t q[1]; cx q[0],q[1]; cx q[0],q[2]; t q[2]; tdg q[2]; ...
//
// is written without the cx pair, the t moved after `cx q[0],q[2]` on q[2],
// where x0 ^ x2 is too. The other phase gates stay where they are unless
// their wire's parity there changed; T gates and other gates never change
// in number, and only cx gates go.
//
// A region of at most four wires and no x gate is first written anew, where
// that takes fewer cx gates, with the fewest cx gates that bring every
// phase gate's parity onto a wire and end at the region's linear map
// (src/gf2/fewest_cx.h), each phase gate where its parity is first met: a
// Toffoli gate's seven T gates on three wires, written with six cx gates,
// take four. The new gates go after an item where all its wires have
// joined it and none has left (where there is none, the pairs are tried).
//
// The stretches (regions) are found in one walk over the items: a wire
// joins the region of a cx or a phase gate on it where it has none, and a
// cx between a wire in a region and one elsewhere brings the other in (out
// of its own region) only if all its gates so far precede the region's
// first (so no gate outside a region ever sits between two of its gates);
// any other gate (h, cz, a barrier, a rotation of any angle) or a cx that
// cannot join takes its wires out of their regions. A region that has lost no wire
// merges with another by a cx between them. Each cx then looks forward on
// its two wires for its copy, passing at most kCancelReach gates, so the
// time is linear in the items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/item_splice.h"
#include "src/cancellation/pair_cancellation.h"
#include "src/timing/deadline.h"

namespace kestrel {

// Rewrites the small regions and removes the cx pairs it finds among `items` (with `removed` and `now` as
// the passes before left them) and moves the phase gates that must move:
// each goes from its item (removed) to an addition after the item where
// its parity is found, and a small region's gates to additions after one
// item (`additions`, ascending by item; none given before).
// Returns how many cx gates went. Past `deadline` the regions not yet
// looked at stay as they are.
std::size_t cancel_floating_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                                  const std::vector<Elementary>& now, std::vector<ItemAddition>& additions,
                                  const Deadline& deadline = {});

}  // namespace kestrel
