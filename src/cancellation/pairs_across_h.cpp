// Each qubit keeps its items in order (those still there at the start),
// and each item its place on its qubits' lists; a gate is carried back by
// walking its two lists together from its own places, newest item first.
#include "src/cancellation/pairs_across_h.h"

#include <array>

#include "engine/fault.h"

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
      : items_(items), removed_(removed), now_(now), start_(qubits + std::size_t{1}, 0),
        place_(items.size(), {0, 0}) {
    // Counted first, then placed: one array for every qubit's items.
    for (int placing = 0; placing < 2; ++placing) {
      for (std::uint32_t i = 0; i < items.size(); ++i) {
        if (removed[i]) continue;
        const CancelItem& item = items[i];
        const auto put = [&](std::uint32_t q) {
          q = static_cast<std::uint32_t>(checked_index(qubits, q));
          if (!placing) {
            ++start_[q + 1];
            return std::uint32_t{0};
          }
          const std::size_t at = start_[q + 1]++;
          entries_[at] = i;
          return static_cast<std::uint32_t>(at - begin_[q]);
        };
        if (item.count != 0) {
          check(std::size_t{item.first} + item.count <= barrier_qubits.size(), "a barrier's qubits");
          for (std::uint32_t k = 0; k < item.count; ++k) put(barrier_qubits[item.first + k]);
          continue;
        }
        place_[i][0] = put(item.gate.a);
        if (elementary_info(now[i]).qubits == 2) place_[i][1] = put(item.gate.b);
      }
      if (placing) break;
      // start_[q + 1] becomes where q's items start, and is moved on to
      // where they end as they are placed.
      for (std::size_t q = 1; q < start_.size(); ++q) start_[q] += start_[q - 1];
      entries_.resize(start_.back());
      for (std::size_t q = start_.size() - 1; q > 0; --q) start_[q] = start_[q - 1];
      begin_.assign(start_.begin() + 1, start_.end());
    }
  }

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
    std::array<std::int64_t, 2> at = {std::int64_t{place_[i][0]} - 1, std::int64_t{place_[i][1]} - 1};
    const auto item_at = [&](int s) {
      return at[s] < 0 ? kNone : std::int64_t{entries_[begin_[q[s]] + static_cast<std::size_t>(at[s])]};
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
  std::vector<std::uint32_t> entries_;               // every qubit's items in order, qubit by qubit
  std::vector<std::size_t> start_;                   // while placing: where each qubit's next entry goes
  std::vector<std::size_t> begin_;                   // per qubit: where its items start in entries_
  std::vector<std::array<std::uint32_t, 2>> place_;  // per gate, its place on its qubits' lines
};

}  // namespace

std::size_t cancel_pairs_across_h(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits,
                                  std::vector<bool>& removed, const std::vector<Elementary>& now) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  Carrier carrier(qubits, items, barrier_qubits, removed, now);
  return carrier.run();
}

}  // namespace kestrel
