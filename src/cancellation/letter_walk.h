// A cx or cz carried back (or on) along its two qubits by its letters, to
// the first cx or cz on the same two qubits that it meets.
//
// A cx or cz is (I + P_a + Q_b - P_a Q_b) / 2 for one-qubit Paulis P on its
// first qubit a and Q on its second b (its letters): cx is (Z, X), cz is
// (Z, Z), a cx from b to a is (X, Z). Carried back over an h on one of its
// qubits it keeps its form with that qubit's letter changed (H Z H = X);
// over a gate that commutes with the letter there (diagonal for Z: s, t, z,
// rz, cz, a cx's control; X-like for X: x, rx, a cx's target) unchanged.
// In `cx q[0],q[1]; h q[1]; cz q[0],q[1];` the cz, carried back over the
// h, meets the cx with letters (Z, X): the same as the cx's. What the two
// gates then make is for the pass to say (pairs_across_h.h,
// pair_merging.h, pair_conjugation.h); the walk only finds them. Carried on
// (forward), the same rules hold. A walk that meets nothing says which gate
// it did not pass, and where it stood, so that a pass can carry another
// gate on from there.
//
// The walk passes at most `kLetterReach` entries of the two qubits' lines
// (item_lines.h), so a pass that carries every gate is linear in the items;
// a barrier, a gate it does not pass, an item marked as a stop, or a place
// where the pass wrote gates ends it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/item_lines.h"
#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

// How many entries of its two lines a gate is carried back over, at most.
// The pairs across h on the T-count programs are all found within 16 (the
// same outputs at 16, 32 and 256); the merging finds one pair more at 32
// (ham15-med, 359 -> 358 two-qubit gates) and no other up to 256 (the
// five largest programs not tried). The walk is the passes' whole cost.
inline constexpr std::size_t kLetterReach = 16;

// The letter of the cx or cz `gate` placed as g on qubit q: true for X.
constexpr bool letter_x(Elementary gate, const PlacedGate& g, std::uint32_t q) {
  return gate == Elementary::CX && q == g.b;
}

// Where a carried gate ends: the cx or cz met, and the gate's letters there.
struct Meeting {
  std::int64_t item = -1;         // the cx or cz met on the same two qubits, or -1
  std::array<bool, 2> x{};        // the carried gate's letters there on its qubits a and b: true for X
  std::array<bool, 2> flipped{};  // per qubit a and b, whether the h gates passed changed its letter
  std::array<bool, 2> only_h{true, true};  // per qubit a and b, whether every gate passed there was an h
  // With `sandwich`: the qubit (0 for a, 1 for b) whose last gates before
  // the meeting were s, sdg or z gates where its letter was X, or -1; and
  // their power of S in all, mod 4.
  int run = -1;
  std::uint8_t power = 0;
  // With `across`: the one cx or cz on a third qubit, or x, y or z gate,
  // that the gate did not pass yet was carried over (it is on the gate's
  // qubit `across_side`, 0 for a and 1 for b), or -1; and the gate's
  // letters right after it.
  std::int64_t across = -1;
  int across_side = -1;
  std::array<bool, 2> across_x{};
  // Without a meeting: the first gate on its qubit `blocked_side` that it
  // did not pass (with `across`, the one carried over, if any), or -1 (a
  // boundary, a stop, a place written or the reach ended it first); `x`
  // its letters there, and `at` the next entries of the two lines past it.
  std::int64_t blocked = -1;
  int blocked_side = -1;
  std::array<std::int64_t, 2> at{};
};

class LetterWalk {
 public:
  // Reads `removed` and `now` (the caller's, as they change) at each walk;
  // the lines hold the items not removed at construction.
  LetterWalk(std::uint32_t qubits, std::span<const CancelItem> items,
             std::span<const std::uint32_t> barrier_qubits, const std::vector<bool>& removed,
             const std::vector<Elementary>& now)
      : qubits_(qubits), items_(items), removed_(removed), now_(now),
        lines_(qubits, items, barrier_qubits, removed, now) {}

  LetterWalk(const LetterWalk&) = delete;
  LetterWalk& operator=(const LetterWalk&) = delete;

  // Carries the cx or cz of item i (there at construction) back, or with
  // `forward` on (the same rules hold each way: a gate that commutes with
  // the letter there lets it pass, an h changes the letter); ends without
  // a meeting at an item of `stops` (when given), removed or not. With
  // `sandwich`, an s, sdg or z gate on a qubit whose letter is X (which
  // does not commute with it) lets it on where only such gates follow on
  // that qubit up to the meeting (Meeting::run): a cx met so, with those
  // phase gates between, makes phase gates and at most one cz. With
  // `across`, one cx or cz that shares one qubit with it, or one x, y or z
  // gate, that does not commute with it is carried over as if it did
  // (Meeting::across): a copy met beyond it makes the two around it one
  // gate beside it, or none (pair_conjugation.h).
  Meeting carry(std::uint32_t i, const std::vector<bool>* stops = nullptr, bool forward = false,
                bool sandwich = false, bool across = false) const;
  // A cx or cz on the qubits `q` with the letters `x`, not an item, carried
  // back (or on) from the entries `at` of their lines (as Meeting::at gives
  // them).
  Meeting carry_from(std::array<std::uint32_t, 2> q, std::array<std::int64_t, 2> at, std::array<bool, 2> x,
                     const std::vector<bool>* stops, bool forward) const;
  // Where gate `item` stands on the line of its first (`which` 0) or
  // second (1) qubit.
  std::int64_t place(std::uint32_t item, int which) const { return lines_.place(item, which); }
  // Says that gates were written on qubit q right after item `item` (as
  // additions, item_splice.h): the walks after end where they would pass
  // that place (between the two entries of q's line around it).
  void written_after(std::uint32_t item, std::uint32_t q);
  // Whether no gates were written on qubit q in that place yet.
  bool clean_after(std::uint32_t item, std::uint32_t q) const;

 private:
  Meeting walk(std::array<std::uint32_t, 2> q, std::array<std::int64_t, 2> at, std::array<bool, 2> x,
               const std::vector<bool>* stops, bool forward, bool sandwich, bool across) const;

  std::uint32_t qubits_;
  std::span<const CancelItem> items_;
  const std::vector<bool>& removed_;     // per item, whether it is gone (the caller's)
  const std::vector<Elementary>& now_;   // per item, its gate as left (the caller's)
  ItemLines lines_;                      // every qubit's items there at construction
  // Per line, per gap between two entries (and before the first and after
  // the last), whether gates were written there; empty until some are.
  std::vector<bool> written_;
  // The gap of qubit q's line after its entry e (-1: before the first).
  std::size_t gap(std::uint32_t q, std::int64_t e) const {
    return lines_.offset(q) + q + static_cast<std::size_t>(e + 1);
  }
  // The gap of qubit q's line right after item `item`.
  std::size_t gap_after_item(std::uint32_t item, std::uint32_t q) const;
};

}  // namespace kestrel
