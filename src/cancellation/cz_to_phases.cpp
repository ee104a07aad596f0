// Each qubit keeps its items still there at the start in order; a cz's
// stretch is found by walking its two qubits' lists, and a run on a target
// by walking that target's list from the first item inside the stretch,
// each walk bounded by 2 kCancelReach entries (those this pass removed on
// the way included), so the time is linear in the items.
#include "src/cancellation/cz_to_phases.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "engine/fault.h"
#include "src/cancellation/item_lines.h"

namespace kestrel {
namespace {

constexpr std::int64_t kBefore = -1;    // a stretch open to the program's start
constexpr std::size_t kCandidates = 8;  // targets tried per cz

// The items on one qubit still there, in order.
using Line = std::span<const std::uint32_t>;

class Dissolver {
 public:
  Dissolver(std::uint32_t qubits, std::span<const CancelItem> items,
            std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
            std::vector<Elementary>& now)
      : items_(items), removed_(removed), now_(now),
        lines_(qubits, items, barrier_qubits, removed, now) {}

  Dissolver(const Dissolver&) = delete;
  Dissolver& operator=(const Dissolver&) = delete;

  std::size_t run(const Deadline& deadline) {
    std::size_t gone = 0;
    for (std::uint32_t i = 0; i < items_.size(); ++i) {
      if (i % kClockStride == kClockStride - 1 && deadline.passed()) break;
      if (!removed_[i] && items_[i].count == 0 && now_[i] == Elementary::CZ) gone += dissolve(i);
    }
    return gone;
  }

 private:
  // Where a cz may float: strictly between two items; the cx gates its
  // qubits control in that stretch (some of them).
  struct Stretch {
    std::int64_t after = kBefore;            // the item it may not float back past on either qubit
    std::int64_t before = 0;                 // the item it may not float on past on either qubit
    // Wires a network on its qubits may run along, each with the first cx
    // gate from them onto it met there.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> targets;
  };
  // Per parity (bit 0 the cz's first qubit, bit 1 its second) and per sign
  // of the S power it needs, a phase gate there that takes it, or none.
  using Slots = std::array<std::array<std::int64_t, 2>, 4>;

  PlacedGate gate(std::uint32_t i) const {
    PlacedGate g = items_[i].gate;
    g.gate = now_[i];
    return g;
  }
  static bool two(const PlacedGate& g) { return elementary_info(g.gate).qubits == 2; }
  bool is_gate(std::uint32_t i) const { return items_[i].count == 0; }
  Line on(std::uint32_t q) const {
    return lines_.on(q);
  }
  // Where two-qubit gate i, there at the start, stands on q's line.
  std::ptrdiff_t place_on(std::uint32_t i, std::uint32_t q) const {
    return lines_.place(i, items_[i].gate.a == q ? 0 : 1);
  }

  // Whether the gate of item i is diagonal on q (a barrier is not).
  bool diagonal_on(std::uint32_t i, std::uint32_t q) const {
    if (!is_gate(i)) return false;
    const PlacedGate g = gate(i);
    if (elementary_info(g.gate).diagonal != kNotDiagonal) return true;
    return g.gate == Elementary::Rz || g.gate == Elementary::CZ ||
           (g.gate == Elementary::CX && g.a == q);
  }

  // Where a cz may float on one of its qubits: strictly between two items.
  struct Bounds {
    std::int64_t after = kBefore;  // the item it may not float back past, or kBefore
    std::int64_t before = 0;       // the item it may not float on past, or the count
  };

  bool dissolve(std::uint32_t cz);
  Bounds bound(std::uint32_t cz, std::uint32_t q, Stretch& s);
  bool runs_on(std::uint32_t w, std::uint32_t cx, std::uint32_t cz, const Stretch& s);
  bool apply(const Slots& slots, std::uint32_t cz);
  bool beside_cx(std::uint32_t cz, std::uint32_t a, std::uint32_t b, Bounds on_a, Bounds on_b);
  std::int64_t slot(std::uint32_t q, std::int64_t from, Bounds within, int power) const;
  void join(std::uint32_t j, int power);

  std::span<const CancelItem> items_;
  std::vector<bool>& removed_;     // per item, whether it is gone (the caller's)
  std::vector<Elementary>& now_;   // per item, its gate as left (the caller's)
  ItemLines lines_;  // every qubit's items still there at the start
  Stretch stretch_;                // the cz at hand's, kept for its buffer
};

// Where the cz may float on qubit q; notes in `s` the targets of the cx
// gates q controls there.
Dissolver::Bounds Dissolver::bound(std::uint32_t cz, std::uint32_t q, Stretch& s) {
  const Line line = on(q);
  const std::ptrdiff_t at = place_on(cz, q);
  // The first item each way the cz may not pass (or the last the reach
  // allows), and the targets of cx gates q controls on the way.
  const auto walk = [&](std::ptrdiff_t k, std::ptrdiff_t step, std::int64_t end) {
    std::size_t seen = 0;
    for (; k >= 0 && k < std::ssize(line); k += step) {
      const std::uint32_t j = line[static_cast<std::size_t>(k)];
      if (++seen > 2 * kCancelReach) return static_cast<std::int64_t>(j);
      if (removed_[j]) continue;
      if (!diagonal_on(j, q)) return static_cast<std::int64_t>(j);
      const PlacedGate g = gate(j);
      if (g.gate == Elementary::CX && g.a == q) s.targets.emplace_back(g.b, j);
    }
    return end;
  };
  return {walk(at - 1, -1, kBefore), walk(at + 1, 1, static_cast<std::int64_t>(items_.size()))};
}

bool Dissolver::dissolve(std::uint32_t cz) {
  const PlacedGate g = gate(cz);
  Stretch& s = stretch_;
  s.targets.clear();
  const Bounds on_a = bound(cz, g.a, s);
  const Bounds on_b = bound(cz, g.b, s);
  s.after = std::max(on_a.after, on_b.after);
  s.before = std::min(on_a.before, on_b.before);
  std::sort(s.targets.begin(), s.targets.end());
  s.targets.erase(std::unique(s.targets.begin(), s.targets.end(),
                              [](const auto& x, const auto& y) { return x.first == y.first; }),
                  s.targets.end());
  for (std::size_t k = 0; k < s.targets.size() && k < kCandidates; ++k) {
    if (runs_on(s.targets[k].first, s.targets[k].second, cz, s)) return true;
  }
  return beside_cx(cz, g.a, g.b, on_a, on_b) || beside_cx(cz, g.b, g.a, on_b, on_a);
}

// A cz on a and b that meets a cx from a to b on b (past gates diagonal on
// b, and the cx within where it may float on a): with v what b holds at the
// cz and v^a what it holds across the cx, 2av = a + v - (v^a) (mod 4), so
// the cz is S on a, S on b on its side of the cx and S-dagger on the other
// side (or the three inverses).
bool Dissolver::beside_cx(std::uint32_t cz, std::uint32_t a, std::uint32_t b, Bounds on_a, Bounds on_b) {
  for (const std::int64_t c : {on_b.after, on_b.before}) {
    if (c < 0 || c >= static_cast<std::int64_t>(items_.size())) continue;
    const auto cx = static_cast<std::uint32_t>(c);
    const PlacedGate h = gate(cx);
    if (removed_[cx] || !is_gate(cx) || h.gate != Elementary::CX || h.a != a || h.b != b) continue;
    if (c <= on_a.after || c >= on_a.before) continue;
    // Across the cx: from it away from the cz, while b's gates are diagonal.
    const Bounds across = c == on_b.after ? Bounds{kBefore, c} : Bounds{c, static_cast<std::int64_t>(items_.size())};
    for (const int sign : {1, -1}) {
      const std::int64_t on_a_slot = slot(a, cz, on_a, 2 * sign);
      const std::int64_t near = slot(b, cz, on_b, 2 * sign);
      const std::int64_t far = slot(b, c, across, -2 * sign);
      if (on_a_slot < 0 || near < 0 || far < 0) continue;
      join(static_cast<std::uint32_t>(on_a_slot), 2 * sign);
      join(static_cast<std::uint32_t>(near), 2 * sign);
      join(static_cast<std::uint32_t>(far), -2 * sign);
      removed_[cz] = true;
      return true;
    }
  }
  return false;
}

// The nearest phase gate on q to item `from` (either way, strictly inside
// `within`, past gates diagonal on q only) that takes S^(power/2) as one
// gate, or -1.
std::int64_t Dissolver::slot(std::uint32_t q, std::int64_t from, Bounds within, int power) const {
  const Line line = on(q);
  const std::ptrdiff_t at = place_on(static_cast<std::uint32_t>(from), q);
  std::int64_t best = -1;
  std::int64_t best_distance = 0;
  for (const std::ptrdiff_t step : {std::ptrdiff_t{-1}, std::ptrdiff_t{1}}) {
    std::size_t seen = 0;
    for (std::ptrdiff_t k = at + step; k >= 0 && k < std::ssize(line); k += step) {
      const std::uint32_t j = line[static_cast<std::size_t>(k)];
      if (++seen > 2 * kCancelReach || j <= within.after || j >= within.before) break;
      if (removed_[j]) continue;
      if (!diagonal_on(j, q)) break;
      const std::int8_t r = elementary_info(now_[j]).diagonal;
      if (r == kNotDiagonal || phase_gates(r + power).count > 1) continue;
      const std::int64_t distance = std::abs(static_cast<std::int64_t>(j) - from);
      if (best < 0 || distance < best_distance) best = j, best_distance = distance;
      break;
    }
  }
  return best;
}

// Joins S^(power/2) into the phase gate of item j (which goes if it becomes
// the identity).
void Dissolver::join(std::uint32_t j, int power) {
  const PhaseGates& left = phase_gates(elementary_info(now_[j]).diagonal + power);
  if (left.count == 0) {
    removed_[j] = true;
  } else {
    now_[j] = left.gates[0];
  }
}

// Walks the runs on w inside the stretch (where `cx`, a gate onto w, is);
// dissolves the cz into the first that holds all four parities.
bool Dissolver::runs_on(std::uint32_t w, std::uint32_t cx, std::uint32_t cz, const Stretch& s) {
  const PlacedGate g = gate(cz);
  const Line line = on(w);
  // The first item on w inside the stretch: searched from the cx's place,
  // in steps that double, then halving, so the search is short where the
  // stretch is. Between them, `low` is -1 or outside, `high` inside or the
  // line's end.
  const auto inside = [&](std::ptrdiff_t k) { return static_cast<std::int64_t>(line[static_cast<std::size_t>(k)]) > s.after; };
  const std::ptrdiff_t at = place_on(cx, w);
  std::ptrdiff_t low = at;
  std::ptrdiff_t high = at;
  if (inside(at)) {
    for (std::ptrdiff_t step = 1; low >= 0 && inside(low); step *= 2) high = low, low -= step;
    low = std::max<std::ptrdiff_t>(low, -1);
  } else {
    for (std::ptrdiff_t step = 1; high < std::ssize(line) && !inside(high); step *= 2) low = high, high += step;
    high = std::min(high, std::ssize(line));
  }
  while (high - low > 1) {
    const std::ptrdiff_t mid = low + (high - low) / 2;
    (inside(mid) ? high : low) = mid;
  }
  auto k = static_cast<std::size_t>(high);
  constexpr std::int64_t kNoSlot = -1;
  Slots slots;
  const auto reset = [&] {
    for (auto& slot : slots) slot = {kNoSlot, kNoSlot};
  };
  reset();
  unsigned parity = 0;  // what w holds beyond its value at the run's start
  for (std::size_t seen = 0; k < line.size() && seen < 2 * kCancelReach; ++k, ++seen) {
    const std::uint32_t j = line[k];
    if (static_cast<std::int64_t>(j) >= s.before) break;
    if (removed_[j]) continue;
    const PlacedGate h = gate(j);
    const bool from_cz = is_gate(j) && h.gate == Elementary::CX && h.b == w && (h.a == g.a || h.a == g.b);
    if (from_cz) {
      parity ^= h.a == g.a ? 1u : 2u;
      continue;
    }
    if (!diagonal_on(j, w)) {
      if (apply(slots, cz)) return true;
      reset();
      parity = 0;
      continue;
    }
    const std::int8_t r = elementary_info(h.gate).diagonal;
    if (r == kNotDiagonal) continue;
    for (int sign = 0; sign < 2; ++sign) {
      // S on the parities of one variable, S-dagger on the others; or the
      // inverses.
      const int power = ((parity == 1 || parity == 2) == (sign == 0)) ? 2 : -2;
      if (slots[parity][sign] == kNoSlot && phase_gates(r + power).count <= 1) slots[parity][sign] = j;
    }
  }
  return apply(slots, cz);
}

// Dissolves the cz into the slots of one sign, if that sign has all four.
bool Dissolver::apply(const Slots& slots, std::uint32_t cz) {
  for (int sign = 0; sign < 2; ++sign) {
    bool all = true;
    for (const auto& slot : slots) all = all && slot[sign] >= 0;
    if (!all) continue;
    for (unsigned parity = 0; parity < 4; ++parity) {
      join(static_cast<std::uint32_t>(slots[parity][sign]), ((parity == 1 || parity == 2) == (sign == 0)) ? 2 : -2);
    }
    removed_[cz] = true;
    return true;
  }
  return false;
}

}  // namespace

std::size_t cz_to_phases(std::uint32_t qubits, std::span<const CancelItem> items,
                         std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                         std::vector<Elementary>& now, const Deadline& deadline) {
  check(removed.size() == items.size() && now.size() == items.size(), "one state per item");
  bool any = false;
  for (std::size_t i = 0; i < items.size() && !any; ++i) {
    any = !removed[i] && items[i].count == 0 && now[i] == Elementary::CZ;
  }
  if (!any || deadline.passed()) return 0;
  return Dissolver(qubits, items, barrier_qubits, removed, now).run(deadline);
}

}  // namespace kestrel
