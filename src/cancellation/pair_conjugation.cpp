// Each cx or cz still there is carried back over one gate M it does not
// commute with, to its copy; or its N, from M, back to N's copy; or the
// same on. What goes is removed, what is written is added beside M.
#include "src/cancellation/pair_conjugation.h"

#include <algorithm>
#include <array>

#include "engine/fault.h"
#include "src/cancellation/letter_walk.h"

namespace kestrel {
namespace {

// C(P_a, Q_b) written after `item`, for the letters `p_x` and `q_x` (true
// for X): a cz, a cx either way, or a cx between two h gates on a.
void write_gate(std::uint32_t item, std::uint32_t a, std::uint32_t b, bool p_x, bool q_x,
                std::vector<ItemAddition>& out) {
  const auto put = [&](PlacedGate g) { out.push_back({item, g}); };
  if (!p_x) {
    put(q_x ? PlacedGate{Elementary::CX, a, b} : PlacedGate{Elementary::CZ, a, b});
  } else if (!q_x) {
    put({Elementary::CX, b, a});
  } else {
    put({Elementary::H, a, 0});
    put({Elementary::CX, a, b});
    put({Elementary::H, a, 0});
  }
}

// Whether item j is a cx or cz with the letters `x` on the qubits `q`.
bool has_letters(std::span<const CancelItem> items, const std::vector<Elementary>& now, std::uint32_t j,
                 std::array<std::uint32_t, 2> q, std::array<bool, 2> x) {
  return letter_x(now[j], items[j].gate, q[0]) == x[0] && letter_x(now[j], items[j].gate, q[1]) == x[1];
}

bool two_qubit_phase_gate(Elementary e) { return e == Elementary::CX || e == Elementary::CZ; }

class Conjugation {
 public:
  Conjugation(std::uint32_t qubits, std::span<const CancelItem> items,
              std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
              const std::vector<Elementary>& now, std::vector<ItemAddition>& additions)
      : items_(items), removed_(removed), now_(now), additions_(additions),
        walk_(qubits, items, barrier_qubits, removed, now) {}

  // Tries each change for the cx or cz of item i; the two-qubit gates that
  // went.
  std::size_t change(std::uint32_t i) {
    const Meeting back = walk_.carry(i, nullptr, false, false, true);
    if (back.item >= 0) {
      return back.across >= 0 ? around(i, back) : 0;
    }
    return (back.blocked >= 0 && past(i, back, false)) || past(i, walk_.carry(i, nullptr, true), true) ? 1 : 0;
  }

 private:
  // The qubits of G (item g) and of M (blocked there) as a, b and c.
  struct Sides {
    std::uint32_t a, b, c;
    int m_c;  // which of M's qubits (0: its first) is c
  };
  Sides sides(std::uint32_t g, std::uint32_t m, int shared) const {
    const PlacedGate& gate = items_[g].gate;
    const PlacedGate& between = items_[m].gate;
    const std::uint32_t b = shared == 0 ? gate.a : gate.b;
    const Sides out{shared == 0 ? gate.b : gate.a, b, between.a == b ? between.b : between.a, between.a == b ? 1 : 0};
    check(out.c != out.a && out.c != out.b, "the gate met shares one qubit with the gate carried");
    return out;
  }

  // G M G: item i carried back over M to its copy. Returns the two-qubit
  // gates that went.
  std::size_t around(std::uint32_t i, const Meeting& met) {
    const PlacedGate& g = items_[i].gate;
    const auto j = static_cast<std::uint32_t>(met.item);
    if (!has_letters(items_, now_, j, {g.a, g.b}, met.x)) return 0;  // only its own copy
    const auto m = static_cast<std::uint32_t>(met.across);
    if (!two_qubit_phase_gate(now_[m])) return around_pauli(i, j, met.across_side);
    const Sides s = sides(i, m, met.across_side);
    // N goes right after M, where no gates may have been written on its
    // qubits or M's (the walk passed that place on a, not on c).
    for (std::uint32_t q : {s.a, s.b, s.c}) {
      if (!walk_.clean_after(m, q)) return 0;
    }
    write_gate(m, s.a, s.c, met.across_x[1 - met.across_side], letter_x(now_[m], items_[m].gate, s.c), additions_);
    for (std::uint32_t q : {s.a, s.b, s.c}) walk_.written_after(m, q);
    removed_[i] = removed_[j] = true;
    return 1;
  }

  // G A G for an x, y or z gate A on G's qubit a (`side` 0) or b that does
  // not commute with G's letter there: A C(P_a, Q_b) A = C(P_a, Q_b) Q_b
  // (A swaps P's two eigenspaces), so G A G = A Q_b and both copies go. Q_b
  // is written after the later copy (items i, j; so written, it follows a
  // gate of the program), carried there over the gates between that G
  // passed: G's own letter there. Returns the two-qubit gates that went.
  std::size_t around_pauli(std::uint32_t i, std::uint32_t j, int side) {
    const PlacedGate& g = items_[i].gate;
    const std::uint32_t other = side == 0 ? g.b : g.a;
    if (!walk_.clean_after(i, other)) return 0;
    additions_.push_back({i, {letter_x(now_[i], g, other) ? Elementary::X : Elementary::Z, other, 0}});
    walk_.written_after(i, other);
    removed_[i] = removed_[j] = true;
    return 2;
  }

  // G M N (`forward`) or N M G: item g stopped at M, the N it leaves there
  // carried on (back) to its copy.
  bool past(std::uint32_t g, const Meeting& met, bool forward) {
    if (met.blocked < 0) return false;
    const auto m = static_cast<std::uint32_t>(met.blocked);
    if (!two_qubit_phase_gate(now_[m])) return false;
    const int shared = met.blocked_side;
    const Sides s = sides(g, m, shared);
    const std::array<bool, 2> n_letters = {met.x[1 - shared], letter_x(now_[m], items_[m].gate, s.c)};
    const std::int64_t step = forward ? 1 : -1;
    const Meeting copy =
        walk_.carry_from({s.a, s.c}, {met.at[1 - shared], walk_.place(m, s.m_c) + step}, n_letters, nullptr, forward);
    if (copy.item < 0) return false;
    const auto n = static_cast<std::uint32_t>(copy.item);
    if (!has_letters(items_, now_, n, {s.a, s.c}, copy.x)) return false;
    // Written after M: G with its letters at M, after M (carried on), or
    // before it, M then written again after G and gone from its place (so
    // that what is written follows a gate of the program: the item before M
    // may be any statement). Nothing may have been written there yet on the
    // three qubits; walks after end at that place on each.
    for (std::uint32_t q : {s.a, s.b, s.c}) {
      if (!walk_.clean_after(m, q)) return false;
    }
    PlacedGate between = items_[m].gate;
    between.gate = now_[m];
    if (!forward) {
      removed_[m] = true;
    }
    const PlacedGate& gate = items_[g].gate;
    write_gate(m, gate.a, gate.b, met.x[0], met.x[1], additions_);
    if (!forward) additions_.push_back({m, between});
    for (std::uint32_t q : {s.a, s.b, s.c}) walk_.written_after(m, q);
    removed_[g] = removed_[n] = true;
    return true;
  }

  std::span<const CancelItem> items_;
  std::vector<bool>& removed_;
  const std::vector<Elementary>& now_;
  std::vector<ItemAddition>& additions_;
  LetterWalk walk_;
};

}  // namespace

std::size_t conjugate_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                            std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                            const std::vector<Elementary>& now, std::vector<ItemAddition>& additions) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  const std::size_t given = additions.size();
  Conjugation conjugation(qubits, items, barrier_qubits, removed, now, additions);
  std::size_t gone = 0;
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    if (removed[i] || items[i].count != 0 || !two_qubit_phase_gate(now[i])) continue;
    gone += conjugation.change(i);
  }
  std::stable_sort(additions.begin() + static_cast<std::ptrdiff_t>(given), additions.end(),
                   [](const ItemAddition& x, const ItemAddition& y) { return x.item < y.item; });
  return gone;
}

}  // namespace kestrel
