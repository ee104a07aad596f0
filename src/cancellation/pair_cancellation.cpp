// Each qubit keeps the items on it in order, with a link per entry to an
// earlier entry that may still be there; following the links (and
// shortening them as they are followed) skips the cancelled items, so each
// search sees only the items still there.
#include "src/cancellation/pair_cancellation.h"

#include <algorithm>
#include <array>
#include <memory>

#include "engine/fault.h"

namespace kestrel {
namespace {

// What a gate does on one of its qubits, for commuting.
enum class Axis : std::uint8_t {
  Z,      // diagonal there: s, sdg, t, tdg, z, cz, rz, cx's control
  X,      // x, rx, or cx's target
  Other,  // anything else: h, y, swap
};

// A gate's axis on its first qubit and on its second (a cx: its control,
// then its target).
constexpr Axis axis(Elementary gate, bool second) {
  switch (gate) {
    case Elementary::S: case Elementary::Sdg: case Elementary::T: case Elementary::Tdg:
    case Elementary::Z: case Elementary::CZ: case Elementary::Rz:
      return Axis::Z;
    case Elementary::X: case Elementary::Rx: return Axis::X;
    case Elementary::CX: return second ? Axis::X : Axis::Z;
    default: return Axis::Other;
  }
}

// Per gate, what commuting reads of it, in a table: the inner loops look it
// up once per gate met.
struct Sides {
  Axis first = Axis::Other;   // on its first qubit
  Axis second = Axis::Other;  // on its second, if any
  bool two = false;           // whether it has a second
};
constexpr std::array<Sides, kElementary.size()> kSides = [] {
  std::array<Sides, kElementary.size()> sides{};
  for (std::size_t k = 0; k < sides.size(); ++k) {
    const auto gate = static_cast<Elementary>(k);
    sides[k] = {axis(gate, false), axis(gate, true), kElementary[k].qubits == 2};
  }
  return sides;
}();
static_assert(kSides[static_cast<std::size_t>(Elementary::CX)].second == Axis::X && !kSides[0].two);

const Sides& sides(Elementary gate) { return kSides[static_cast<std::size_t>(gate)]; }

bool two(const PlacedGate& g) { return sides(g.gate).two; }

// Whether g and h surely commute: on every qubit they share, both diagonal
// or both X-like.
bool commute(const PlacedGate& g, const PlacedGate& h) {
  const Sides& on_g = sides(g.gate);
  const Sides& on_h = sides(h.gate);
  // Whether h, where it touches q, differs from `a` or a is neither axis.
  const auto clash = [&](std::uint32_t q, Axis a) {
    if (h.a == q) return a == Axis::Other || a != on_h.first;
    if (on_h.two && h.b == q) return a == Axis::Other || a != on_h.second;
    return false;
  };
  return !clash(g.a, on_g.first) && !(on_g.two && clash(g.b, on_g.second));
}

// Whether h g is the identity.
bool inverse(const PlacedGate& g, const PlacedGate& h) {
  const auto same_pair = [&] { return (g.a == h.a && g.b == h.b) || (g.a == h.b && g.b == h.a); };
  if (is_rotation(g.gate)) return false;  // boundaries here
  if (h.gate != elementary_info(g.gate).inverse) return false;
  if (!two(g)) return h.a == g.a;
  // cz and swap act alike on their two qubits either way round; cx does not.
  return g.gate == Elementary::CX ? h.a == g.a && h.b == g.b : same_pair();
}

constexpr std::int64_t kNone = -1;

// One qubit's items in order, each entry linked to an earlier entry at or
// after the last one still there before it: a view of that qubit's room
// in Lines.
class Line {
 public:
  Line(std::uint32_t* items, std::int64_t* links, std::size_t& size, std::size_t room)
      : items_(items), links_(links), size_(size), room_(room) {}

  void push(std::uint32_t item) {
    check(size_ < room_, "a line's entries fit the room counted for it");
    items_[size_] = item;
    links_[size_] = static_cast<std::int64_t>(size_) - 1;
    ++size_;
  }
  std::int64_t last() const { return static_cast<std::int64_t>(size_) - 1; }
  std::uint32_t item(std::int64_t k) const { return items_[static_cast<std::size_t>(k)]; }
  // The last entry at or before k whose item is still there, or kNone.
  std::int64_t live_at_or_before(std::int64_t k, const std::vector<bool>& removed) {
    std::int64_t found = k;
    while (found != kNone && removed[item(found)]) found = links_[static_cast<std::size_t>(found)];
    // Shorten the links passed, so that no removed entry is walked twice.
    while (k != kNone && k != found) {
      const std::int64_t next = links_[static_cast<std::size_t>(k)];
      links_[static_cast<std::size_t>(k)] = found;
      k = next;
    }
    return found;
  }

 private:
  std::uint32_t* items_;
  std::int64_t* links_;  // per entry: an earlier entry, or kNone
  std::size_t& size_;
  std::size_t room_;
};

// Every qubit's line in two arrays, each line's room counted at once from
// the items on its qubit. Qubits out of range are left to the caller's
// checks.
class Lines {
 public:
  Lines(std::size_t qubits, std::span<const CancelItem> items, std::span<const std::uint32_t> barrier_qubits)
      : start_(qubits + 1, 0), size_(qubits, 0) {
    const auto count = [&](std::uint32_t q) {
      if (q < qubits) ++start_[q + 1];
    };
    for (const CancelItem& item : items) {
      if (item.count != 0) {
        for (std::uint32_t k = 0; k < item.count && item.first + k < barrier_qubits.size(); ++k) {
          count(barrier_qubits[item.first + k]);
        }
        continue;
      }
      count(item.gate.a);
      if (two(item.gate)) count(item.gate.b);
    }
    for (std::size_t q = 0; q < qubits; ++q) start_[q + 1] += start_[q];
    // Each entry is written when pushed, before it is read.
    items_ = std::make_unique_for_overwrite<std::uint32_t[]>(start_[qubits]);
    links_ = std::make_unique_for_overwrite<std::int64_t[]>(start_[qubits]);
  }

  Line operator[](std::uint32_t q) {
    return {items_.get() + start_[q], links_.get() + start_[q], size_[q], start_[q + 1] - start_[q]};
  }

 private:
  std::vector<std::size_t> start_;  // per qubit: its first entry; then the end of the last
  std::vector<std::size_t> size_;   // per qubit: its entries so far
  std::unique_ptr<std::uint32_t[]> items_;  // every line's items, line by line
  std::unique_ptr<std::int64_t[]> links_;   // and their links
};

// What lies between a two-qubit gate g and its inverse `partner` on g's
// second qubit: only gates g commutes with (`clear`), or only s, sdg and z
// gates (`diagonal`, with their S powers summed, mod 4), or neither.
struct Between {
  bool clear = false;
  bool diagonal = false;
  int power = 0;
};

template <class IsGate, class GateOf>
Between between_on(Line line, const std::vector<bool>& removed, std::uint32_t partner,
                   const IsGate& is_gate, const GateOf& gate_of, const PlacedGate& g) {
  Between out{true, true, 0};
  std::size_t seen = 0;
  for (std::int64_t k = line.live_at_or_before(line.last(), removed);
       k != kNone && seen < kCancelReach; k = line.live_at_or_before(k - 1, removed), ++seen) {
    const std::uint32_t j = line.item(k);
    if (j == partner) return out;
    if (j < partner || !is_gate(j)) break;
    const PlacedGate h = gate_of(j);
    out.clear = out.clear && commute(g, h);
    const std::int8_t d = elementary_info(h.gate).diagonal;
    const bool clifford_phase = (h.gate == Elementary::S || h.gate == Elementary::Sdg ||
                                 h.gate == Elementary::Z) && h.a == g.b;
    out.diagonal = out.diagonal && clifford_phase;
    if (clifford_phase) out.power = (out.power + d / 2 + 4) % 4;
    if (!out.clear && !out.diagonal) break;
  }
  return {};
}

// cx(a, b), S^k on b, cx(a, b) is S^k on a, S^k on b and, for odd k, a cz
// on a and b: the first cx becomes that cz (or goes), the second the S^k on
// a (or goes).
void join_sandwich(std::vector<Elementary>& now, std::vector<bool>& removed, std::uint32_t first,
                   std::uint32_t second, int power) {
  if (power % 2 == 1) {
    now[first] = Elementary::CZ;
  } else {
    removed[first] = true;
  }
  if (power == 0) {
    removed[second] = true;
    return;
  }
  now[second] = power == 1 ? Elementary::S : power == 2 ? Elementary::Z : Elementary::Sdg;
}

}  // namespace

std::vector<bool> cancel_gate_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                                    std::span<const std::uint32_t> barrier_qubits,
                                    std::vector<Elementary>* merged, bool sandwiches,
                                    bool* sandwich_met, const Deadline& deadline) {
  std::vector<bool> removed(items.size(), false);
  if (sandwich_met != nullptr) *sandwich_met = false;
  std::vector<Elementary> now;  // with `merged`: each item's gate as left
  if (merged != nullptr) {
    now.reserve(items.size());
    for (const CancelItem& item : items) now.push_back(item.gate.gate);
  }
  const auto gate_of = [&](std::uint32_t i) {
    PlacedGate g = items[i].gate;
    if (merged != nullptr) g.gate = now[i];
    return g;
  };
  Lines on(qubits, items, barrier_qubits);
  const auto is_gate = [&](std::uint32_t i) { return items[i].count == 0; };
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    if (i % kClockStride == kClockStride - 1 && deadline.passed()) break;
    const CancelItem& item = items[i];
    if (!is_gate(i)) {
      check(std::size_t{item.first} + item.count <= barrier_qubits.size(), "a barrier's qubits");
      for (std::uint32_t k = 0; k < item.count; ++k) {
        on[checked_index(qubits, barrier_qubits[item.first + k])].push(i);
      }
      continue;
    }
    const PlacedGate g = gate_of(i);
    checked_index(qubits, g.a);
    if (two(g)) checked_index(qubits, g.b);
    // Back along the first qubit to the inverse, past gates that commute.
    std::int64_t partner = kNone;
    Line first = on[g.a];
    std::size_t seen = 0;
    for (std::int64_t k = first.live_at_or_before(first.last(), removed);
         k != kNone && seen < kCancelReach; k = first.live_at_or_before(k - 1, removed), ++seen) {
      const std::uint32_t j = first.item(k);
      if (!is_gate(j)) break;
      const PlacedGate h = gate_of(j);
      if (inverse(g, h)) {
        partner = j;
        break;
      }
      if (merged != nullptr && h.gate == g.gate && elementary_info(g.gate).t) {
        now[j] = g.gate == Elementary::T ? Elementary::S : Elementary::Sdg;
        removed[i] = true;
        break;
      }
      if (!commute(g, h)) break;
    }
    if (removed[i]) continue;
    // The second qubit's items between the two must commute as well; with
    // `sandwiches`, s, sdg and z gates alone on a cx's target will do too.
    if (partner != kNone && two(g)) {
      const Between between = between_on(on[g.b], removed, static_cast<std::uint32_t>(partner),
                                         [&](std::uint32_t j) { return is_gate(j); }, gate_of, g);
      const bool sandwich = !between.clear && merged != nullptr && g.gate == Elementary::CX &&
                            between.diagonal;
      if (sandwich && sandwich_met != nullptr) *sandwich_met = true;
      if (sandwich && sandwiches) {
        join_sandwich(now, removed, static_cast<std::uint32_t>(partner), i, between.power);
        on[g.a].push(i);
        continue;
      }
      if (!between.clear) partner = kNone;
    }
    if (partner != kNone) {
      removed[static_cast<std::size_t>(partner)] = true;
      removed[i] = true;
      continue;
    }
    on[g.a].push(i);
    if (two(g)) on[g.b].push(i);
  }
  if (merged != nullptr) *merged = std::move(now);
  return removed;
}

}  // namespace kestrel
