// Each qubit's items in order (those still there at the start, item_lines.h);
// a gate is carried back by walking its two qubits' lines together from its
// own places, newest item first.
#include "src/cancellation/pairs_across_h.h"

#include <array>

#include "engine/fault.h"
#include "src/cancellation/item_lines.h"

namespace kestrel {
namespace {

constexpr std::int64_t kNone = -1;

// How many entries of its two lines a gate is carried back over, at most.
// Every pair this pass finds on the T-count programs is found within 16
// (the same outputs at 16, 32 and 256); the walk is the pass's whole cost.
constexpr std::size_t kReach = 16;

// The letter of a cx or cz on qubit q: true for X.
bool letter_x(Elementary gate, const PlacedGate& g, std::uint32_t q) {
  return gate == Elementary::CX && q == g.b;
}

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

class Carrier {
 public:
  Carrier(std::uint32_t qubits, std::span<const CancelItem> items,
          std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
          const std::vector<Elementary>& now)
      : items_(items), removed_(removed), now_(now),
        lines_(qubits, items, barrier_qubits, removed, now) {}

  std::size_t run() {
    std::size_t gone = 0;
    for (std::uint32_t i = 0; i < items_.size(); ++i) {
      if (removed_[i] || items_[i].count != 0) continue;
      if (now_[i] != Elementary::CX && now_[i] != Elementary::CZ) continue;
      const std::int64_t partner = carry(i);
      if (partner == kNone) continue;
      removed_[i] = true;
      removed_[static_cast<std::size_t>(partner)] = true;
      gone += 2;
    }
    return gone;
  }

 private:
  // The item that the cx or cz at i meets carried back, or kNone.
  std::int64_t carry(std::uint32_t i) {
    const PlacedGate& g = items_[i].gate;
    const std::array<std::uint32_t, 2> q = {g.a, g.b};
    std::array<bool, 2> x = {letter_x(now_[i], g, g.a), letter_x(now_[i], g, g.b)};
    // The next entry to look at on each line, counting down; kNone past the start.
    std::array<std::int64_t, 2> at = {std::int64_t{lines_.place(i, 0)} - 1, std::int64_t{lines_.place(i, 1)} - 1};
    const auto item_at = [&](int s) {
      return at[s] < 0 ? kNone : std::int64_t{lines_.on(q[s])[static_cast<std::size_t>(at[s])]};
    };
    for (std::size_t walked = 0; walked < kReach; ++walked) {
      const std::int64_t on0 = item_at(0), on1 = item_at(1);
      const std::int64_t j = on0 > on1 ? on0 : on1;
      if (j == kNone) return kNone;
      for (int s = 0; s < 2; ++s) {
        if (item_at(s) == j) --at[s];
      }
      if (removed_[static_cast<std::size_t>(j)]) continue;
      const CancelItem& item = items_[static_cast<std::size_t>(j)];
      if (item.count != 0) return kNone;
      const Elementary gate = now_[static_cast<std::size_t>(j)];
      const PlacedGate& h = item.gate;
      const bool two = elementary_info(gate).qubits == 2;
      if (two && ((h.a == q[0] && h.b == q[1]) || (h.a == q[1] && h.b == q[0])) &&
          (gate == Elementary::CX || gate == Elementary::CZ) &&
          letter_x(gate, h, q[0]) == x[0] && letter_x(gate, h, q[1]) == x[1]) {
        return j;
      }
      for (int s = 0; s < 2; ++s) {
        const bool on = h.a == q[s] || (two && h.b == q[s]);
        if (!on) continue;
        if (gate == Elementary::H) {
          x[s] = !x[s];
        } else if (!passes(gate, h, q[s], x[s])) {
          return kNone;
        }
      }
    }
    return kNone;
  }

  std::span<const CancelItem> items_;
  std::vector<bool>& removed_;
  const std::vector<Elementary>& now_;
  ItemLines lines_;  // every qubit's items still there at the start
};

}  // namespace

std::size_t cancel_pairs_across_h(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits,
                                  std::vector<bool>& removed, const std::vector<Elementary>& now) {
  Carrier carrier(qubits, items, barrier_qubits, removed, now);
  return carrier.run();
}

}  // namespace kestrel
