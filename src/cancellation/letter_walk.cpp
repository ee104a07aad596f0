// The two qubits' lines walked together from the gate's own places: going
// back, newest item first, each step taking the later of the two lines'
// next items; going on, the earlier.
#include "src/cancellation/letter_walk.h"

#include <algorithm>

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

Meeting LetterWalk::carry(std::uint32_t i, const std::vector<bool>* stops, bool forward, bool sandwich,
                          bool across) const {
  const PlacedGate& g = items_[i].gate;
  const std::int64_t step = forward ? 1 : -1;
  return walk({g.a, g.b}, {std::int64_t{lines_.place(i, 0)} + step, std::int64_t{lines_.place(i, 1)} + step},
              {letter_x(now_[i], g, g.a), letter_x(now_[i], g, g.b)}, stops, forward, sandwich, across);
}

Meeting LetterWalk::carry_from(std::array<std::uint32_t, 2> q, std::array<std::int64_t, 2> at,
                               std::array<bool, 2> x, const std::vector<bool>* stops, bool forward) const {
  return walk(q, at, x, stops, forward, false, false);
}

std::size_t LetterWalk::gap_after_item(std::uint32_t item, std::uint32_t q) const {
  const std::span<const std::uint32_t> line = lines_.on(q);
  return gap(q, std::upper_bound(line.begin(), line.end(), item) - line.begin() - 1);
}

void LetterWalk::written_after(std::uint32_t item, std::uint32_t q) {
  if (written_.empty()) written_.assign(lines_.size() + qubits_, false);
  written_[gap_after_item(item, q)] = true;
}

bool LetterWalk::clean_after(std::uint32_t item, std::uint32_t q) const {
  return written_.empty() || !written_[gap_after_item(item, q)];
}

Meeting LetterWalk::walk(std::array<std::uint32_t, 2> q, std::array<std::int64_t, 2> at, std::array<bool, 2> x,
                         const std::vector<bool>* stops, bool forward, bool sandwich, bool across) const {
  constexpr std::int64_t kNone = -1;
  Meeting out;
  out.x = x;
  // `at`: the next entry to look at on each line, counting down back
  // (kNone past the start), or up on (kNone past the end).
  const std::int64_t step = forward ? 1 : -1;
  // Where the gate carried over stood, with `across`: what a walk that
  // meets nothing beyond it reports as the gate not passed.
  Meeting at_across;
  const auto fail = [&] { return out.across >= 0 ? at_across : Meeting{}; };
  const auto item_at = [&](int s) {
    const std::span<const std::uint32_t> line = lines_.on(q[s]);
    return at[s] < 0 || at[s] >= std::ssize(line) ? kNone : std::int64_t{line[static_cast<std::size_t>(at[s])]};
  };
  for (std::size_t walked = 0; walked < kLetterReach; ++walked) {
    // The gaps the walk is in on both lines, up to their next entries: it
    // ends where gates were written in one.
    if (!written_.empty() && (written_[gap(q[0], forward ? at[0] - 1 : at[0])] ||
                              written_[gap(q[1], forward ? at[1] - 1 : at[1])])) {
      return fail();
    }
    const std::int64_t on0 = item_at(0), on1 = item_at(1);
    // The nearer of the two lines' next items: the later going back, the
    // earlier going on.
    std::int64_t j = on0 > on1 ? on0 : on1;
    if (forward && on0 != kNone && on1 != kNone) j = on0 < on1 ? on0 : on1;
    if (j == kNone) return fail();
    const auto k = static_cast<std::size_t>(j);
    for (int s = 0; s < 2; ++s) {
      if (item_at(s) == j) at[s] += step;
    }
    if (stops != nullptr && (*stops)[k]) return fail();
    if (removed_[k]) continue;
    const CancelItem& item = items_[k];
    if (item.count != 0) return fail();
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
        if (power == 0) return fail();
        out.run = s;
        out.power = static_cast<std::uint8_t>((out.power + power) % 4);
        out.only_h[s] = false;
        continue;
      }
      if (gate == Elementary::H) {
        out.x[s] = !out.x[s];
        out.flipped[s] = !out.flipped[s];
        continue;
      }
      if (passes(gate, h, q[s], out.x[s])) {
        out.only_h[s] = false;
        continue;
      }
      if (out.across >= 0) return at_across;
      // Not passed: where the walk stood, for a caller that goes on from
      // there (pair_conjugation.h).
      Meeting blocked;
      blocked.blocked = j;
      blocked.blocked_side = s;
      blocked.x = out.x;
      blocked.at = at;
      const bool crossed = gate == Elementary::CX || gate == Elementary::CZ || gate == Elementary::X ||
                           gate == Elementary::Y || gate == Elementary::Z;
      if (!across || out.run >= 0 || !crossed) return blocked;
      // A cx or cz on one of its qubits and a third (one on both was met
      // above), or an x, y or z, carried over once.
      at_across = blocked;
      out.across = j;
      out.across_side = s;
      out.across_x = out.x;
      out.only_h[s] = false;
    }
  }
  return fail();
}

}  // namespace kestrel
