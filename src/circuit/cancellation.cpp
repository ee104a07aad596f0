// Each qubit keeps the items on it in order; a gate walks back along the
// list of its first qubit to its inverse, then checks the other qubit's
// list between the two. Removed items stay in the lists and are skipped.
#include "src/circuit/cancellation.h"

#include <algorithm>

#include "engine/fault.h"

namespace kestrel {
namespace {

// How far back a search goes along one qubit, in items.
constexpr std::size_t kReach = 64;  // items seen, removed ones included

// What a gate does on one of its qubits, for commuting.
enum class Axis : std::uint8_t {
  Z,      // diagonal there: s, sdg, t, tdg, z, cz, cx's control
  X,      // x, or cx's target
  Other,  // anything else: h, y, swap
};

Axis axis(const PlacedGate& g, std::uint32_t q) {
  switch (g.gate) {
    case Elementary::S: case Elementary::Sdg: case Elementary::T: case Elementary::Tdg:
    case Elementary::Z: case Elementary::CZ:
      return Axis::Z;
    case Elementary::X: return Axis::X;
    case Elementary::CX: return q == g.a ? Axis::Z : Axis::X;
    default: return Axis::Other;
  }
}

bool two(const PlacedGate& g) { return elementary_info(g.gate).qubits == 2; }

bool touches(const PlacedGate& g, std::uint32_t q) { return g.a == q || (two(g) && g.b == q); }

// Whether g and h surely commute: on every qubit they share, both diagonal
// or both X-like.
bool commute(const PlacedGate& g, const PlacedGate& h) {
  const std::uint32_t qs[2] = {g.a, g.b};
  for (std::size_t k = 0; k < (two(g) ? 2u : 1u); ++k) {
    if (!touches(h, qs[k])) continue;
    const Axis a = axis(g, qs[k]);
    if (a == Axis::Other || a != axis(h, qs[k])) return false;
  }
  return true;
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

}  // namespace

std::vector<bool> cancel_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                               std::span<const std::uint32_t> barrier_qubits) {
  std::vector<bool> removed(items.size(), false);
  std::vector<std::vector<std::uint32_t>> on(qubits);  // per qubit: its items, in order
  const auto is_gate = [&](std::uint32_t i) { return items[i].count == 0; };
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    const CancelItem& item = items[i];
    if (!is_gate(i)) {
      check(std::size_t{item.first} + item.count <= barrier_qubits.size(), "a barrier's qubits");
      for (std::uint32_t k = 0; k < item.count; ++k) {
        on[checked_index(qubits, barrier_qubits[item.first + k])].push_back(i);
      }
      continue;
    }
    const PlacedGate& g = item.gate;
    checked_index(qubits, g.a);
    if (two(g)) checked_index(qubits, g.b);
    // Back along the first qubit to the inverse, past gates that commute.
    std::int64_t partner = -1;
    const std::vector<std::uint32_t>& first = on[g.a];
    std::size_t seen = 0;
    for (std::size_t k = first.size(); k-- > 0 && seen < kReach;) {
      const std::uint32_t j = first[k];
      ++seen;
      if (removed[j]) continue;
      if (!is_gate(j)) break;
      if (inverse(g, items[j].gate)) {
        partner = j;
        break;
      }
      if (!commute(g, items[j].gate)) break;
    }
    // The second qubit's items between the two must commute as well.
    if (partner >= 0 && two(g)) {
      const std::vector<std::uint32_t>& second = on[g.b];
      seen = 0;
      bool clear = false;
      for (std::size_t k = second.size(); k-- > 0 && seen < kReach;) {
        const std::uint32_t j = second[k];
        ++seen;
        if (removed[j]) continue;
        if (j == partner) {
          clear = true;
          break;
        }
        if (j < partner || !is_gate(j) || !commute(g, items[j].gate)) break;
      }
      if (!clear) partner = -1;
    }
    if (partner >= 0) {
      removed[static_cast<std::size_t>(partner)] = true;
      removed[i] = true;
      continue;
    }
    on[g.a].push_back(i);
    if (two(g)) on[g.b].push_back(i);
  }
  return removed;
}

}  // namespace kestrel
