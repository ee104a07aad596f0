// Each cx or cz still there is carried back (letter_walk.h); at the cx or
// cz it meets, the letters on its two qubits say whether they merge and
// into what. Both merged items become stops for the walks after.
#include "src/cancellation/pair_merging.h"

#include <algorithm>
#include <array>

#include "engine/fault.h"
#include "src/cancellation/letter_walk.h"

namespace kestrel {
namespace {

// The gates of C(P_a, Q_b) then C(P_a, R_b) for the shared letter P
// (`p_x`: X) and Q != R (`first_x`: Q is X), in order.
void write_merged(std::uint32_t item, std::uint32_t a, std::uint32_t b, bool p_x, bool first_x,
                  std::vector<ItemAddition>& out) {
  const auto put = [&](Elementary e, std::uint32_t q) { out.push_back({item, {e, q, 0}}); };
  if (p_x) put(Elementary::H, a);
  put(Elementary::Sdg, b);
  out.push_back({item, {Elementary::CX, a, b}});
  put(Elementary::S, b);
  // RQ = ZX = iY when Q is X, XZ = -iY when Q is Z.
  put(first_x ? Elementary::S : Elementary::Sdg, a);
  if (p_x) put(Elementary::H, a);
}

// A cx met across a run of phase gates on its target t (power k of S in
// all): cx S^k cx is S^k on both qubits and, for odd k, a cz (S^k on t
// holds t^c, and k (t^c) = k t + k c - 2k tc mod 4), written after `item`
// as the cz and S^k on the control c; the run stays. Returns how many
// two-qubit gates go.
std::size_t write_sandwich(std::uint32_t item, std::uint32_t c, std::uint32_t t, std::uint8_t k,
                           std::vector<ItemAddition>& out) {
  if (k % 2 == 1) out.push_back({item, {Elementary::CZ, c, t}});
  check(k >= 1 && k <= 3, "a run's power of S, 1 to 3");
  out.push_back({item, {k == 1 ? Elementary::S : k == 2 ? Elementary::Z : Elementary::Sdg, c, 0}});
  return k % 2 == 1 ? 1 : 2;
}

}  // namespace

std::size_t merge_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                        std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                        const std::vector<Elementary>& now, std::vector<ItemAddition>& additions,
                        bool carry_on, std::size_t* carried_on) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  const LetterWalk walk(qubits, items, barrier_qubits, removed, now);
  std::vector<bool> stops(items.size(), false);
  const std::size_t given = additions.size();
  std::size_t merged = 0;
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    if (removed[i] || items[i].count != 0) continue;
    if (now[i] != Elementary::CX && now[i] != Elementary::CZ) continue;
    const std::array<std::uint32_t, 2> q = {items[i].gate.a, items[i].gate.b};
    // The pair of i and j gone (their gates written as additions), `gone`
    // two-qubit gates fewer; `carried`: found only with `carry_on`.
    const auto take = [&](std::uint32_t j, std::size_t gone, bool carried) {
      removed[i] = removed[j] = true;
      stops[i] = stops[j] = true;
      merged += gone;
      if (carried && carried_on != nullptr) ++*carried_on;
    };
    // A cx that meets its own letters across a run of phase gates on its
    // target: the pair goes, written as phase gates and at most one cz at
    // j's place (with `carry_on` only).
    const auto sandwiched = [&](const Meeting& m) {
      if (m.item < 0 || m.run < 0 || m.power == 0) return false;
      const auto j = static_cast<std::uint32_t>(m.item);
      if (letter_x(now[j], items[j].gate, q[0]) != m.x[0] || letter_x(now[j], items[j].gate, q[1]) != m.x[1]) {
        return false;
      }
      take(j, write_sandwich(j, q[1 - m.run], q[m.run], m.power, additions), true);
      return true;
    };
    const Meeting met = walk.carry(i, &stops, false, carry_on);
    if (sandwiched(met)) continue;
    if ((met.item < 0 || met.run >= 0) && !carry_on) continue;
    if (met.item < 0 || met.run >= 0) {
      // Carried on instead, to a later gate j: there it has letters met.x,
      // and the two are C(met.x) then j's own, written after j.
      const Meeting on = walk.carry(i, &stops, true, true);
      if (sandwiched(on) || on.item < 0 || on.run >= 0) continue;
      const auto j = static_cast<std::uint32_t>(on.item);
      // A pair that j, carried back, meets too is merged at j's turn, as
      // without `carry_on`.
      if (walk.carry(j, &stops).item == static_cast<std::int64_t>(i)) continue;
      const std::array<bool, 2> later = {letter_x(now[j], items[j].gate, q[0]), letter_x(now[j], items[j].gate, q[1])};
      if ((later[0] == on.x[0]) == (later[1] == on.x[1])) continue;  // both agree, or neither
      const int s = later[0] == on.x[0] ? 0 : 1;
      write_merged(j, q[s], q[1 - s], on.x[s], on.x[1 - s], additions);
      take(j, 1, true);
      continue;
    }
    const auto j = static_cast<std::uint32_t>(met.item);
    // The earlier gate's letters at its place, and the later's at its own.
    const std::array<bool, 2> first = {letter_x(now[j], items[j].gate, q[0]), letter_x(now[j], items[j].gate, q[1])};
    const std::array<bool, 2> second = {letter_x(now[i], items[i].gate, q[0]), letter_x(now[i], items[i].gate, q[1])};
    if ((first[0] == met.x[0]) == (first[1] == met.x[1])) continue;  // both agree, or neither
    const int s = first[0] == met.x[0] ? 0 : 1;  // the qubit they agree on
    // At the earlier place the later gate has letters met.x. The earlier
    // gate, carried on, passes the gates between on b only when they are h
    // gates (no other passes both letters); then at the later place it has
    // its own letters with their flips.
    if (!first[s] || second[s] || !met.only_h[1 - s]) {
      write_merged(j, q[s], q[1 - s], first[s], first[1 - s], additions);
    } else {
      write_merged(i, q[s], q[1 - s], false, first[1 - s] != met.flipped[1 - s], additions);
    }
    take(j, 1, false);
  }
  std::stable_sort(additions.begin() + static_cast<std::ptrdiff_t>(given), additions.end(),
                   [](const ItemAddition& x, const ItemAddition& y) { return x.item < y.item; });
  return merged;
}

}  // namespace kestrel
