// Each cx or cz still there is carried back (letter_walk.h); a cx or cz it
// meets with its letters on both qubits goes with it.
#include "src/cancellation/pairs_across_h.h"

#include "src/cancellation/letter_walk.h"

namespace kestrel {

std::size_t cancel_pairs_across_h(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits,
                                  std::vector<bool>& removed, const std::vector<Elementary>& now) {
  const LetterWalk walk(qubits, items, barrier_qubits, removed, now);
  std::size_t gone = 0;
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    if (removed[i] || items[i].count != 0) continue;
    if (now[i] != Elementary::CX && now[i] != Elementary::CZ) continue;
    const Meeting met = walk.carry(i);
    if (met.item < 0) continue;
    const auto j = static_cast<std::size_t>(met.item);
    const PlacedGate& g = items[i].gate;
    const PlacedGate& h = items[j].gate;
    if (letter_x(now[j], h, g.a) != met.x[0] || letter_x(now[j], h, g.b) != met.x[1]) continue;
    removed[i] = true;
    removed[j] = true;
    gone += 2;
  }
  return gone;
}

}  // namespace kestrel
