// The two qubits' lines walked together from the gate's own places: going
// back, newest item first, each step taking the later of the two lines'
// next items; going on, the earlier.
#include "src/cancellation/letter_walk.h"

namespace kestrel {
namespace {

// Whether a gate leaves P_q alone for the letter `x` on q: diagonal there
// for Z, X-like for X.
bool passes(Elementary gate, const PlacedGate& g, std::uint32_t q, bool x) {
  switch (gate) {
    case Elementary::S: case Elementary::Sdg: case Elementary::T: case Elementary::Tdg:
    case Elementary::Z: case Elementary::CZ: case Elementary::Rz:
      return !x;
    case Elementary::X: case Elementary::Rx: return x;
    case Elementary::CX: return x == (q == g.b);
    default: return false;
  }
}

}  // namespace

Meeting LetterWalk::carry(std::uint32_t i, const std::vector<bool>* stops, bool forward, bool sandwich) const {
  constexpr std::int64_t kNone = -1;
  const PlacedGate& g = items_[i].gate;
  const std::array<std::uint32_t, 2> q = {g.a, g.b};
  Meeting out;
  out.x = {letter_x(now_[i], g, g.a), letter_x(now_[i], g, g.b)};
  // The next entry to look at on each line: counting down from the gate
  // back (kNone past the start), or up from it on (kNone past the end).
  const std::int64_t step = forward ? 1 : -1;
  std::array<std::int64_t, 2> at = {std::int64_t{lines_.place(i, 0)} + step, std::int64_t{lines_.place(i, 1)} + step};
  const auto item_at = [&](int s) {
    const std::span<const std::uint32_t> line = lines_.on(q[s]);
    return at[s] < 0 || at[s] >= std::ssize(line) ? kNone : std::int64_t{line[static_cast<std::size_t>(at[s])]};
  };
  for (std::size_t walked = 0; walked < kLetterReach; ++walked) {
    const std::int64_t on0 = item_at(0), on1 = item_at(1);
    // The nearer of the two lines' next items: the later going back, the
    // earlier going on.
    std::int64_t j = on0 > on1 ? on0 : on1;
    if (forward && on0 != kNone && on1 != kNone) j = on0 < on1 ? on0 : on1;
    if (j == kNone) return {};
    const auto k = static_cast<std::size_t>(j);
    for (int s = 0; s < 2; ++s) {
      if (item_at(s) == j) at[s] += step;
    }
    if (stops != nullptr && (*stops)[k]) return {};
    if (removed_[k]) continue;
    const CancelItem& item = items_[k];
    if (item.count != 0) return {};
    const Elementary gate = now_[k];
    const PlacedGate& h = item.gate;
    const bool two = elementary_info(gate).qubits == 2;
    if ((gate == Elementary::CX || gate == Elementary::CZ) &&
        ((h.a == q[0] && h.b == q[1]) || (h.a == q[1] && h.b == q[0]))) {
      out.item = j;
      return out;
    }
    for (int s = 0; s < 2; ++s) {
      const bool on = h.a == q[s] || (two && h.b == q[s]);
      if (!on) continue;
      const int power = gate == Elementary::S ? 1 : gate == Elementary::Z ? 2 : gate == Elementary::Sdg ? 3 : 0;
      if (out.run == s || (sandwich && out.run < 0 && out.x[s] && power != 0)) {
        // In a run of s, sdg and z gates where the letter is X: only those
        // until the meeting.
        if (power == 0) return {};
        out.run = s;
        out.power = static_cast<std::uint8_t>((out.power + power) % 4);
        out.only_h[s] = false;
        continue;
      }
      if (gate == Elementary::H) {
        out.x[s] = !out.x[s];
        out.flipped[s] = !out.flipped[s];
      } else if (passes(gate, h, q[s], out.x[s])) {
        out.only_h[s] = false;
      } else {
        return {};
      }
    }
  }
  return {};
}

}  // namespace kestrel
