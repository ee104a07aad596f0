// The windows of a stretch taken greedily, each read as a question for the
// fewest-cx search (its wires' parities in the window's own inputs) and
// written anew where the search finds fewer cx gates.
#include "src/cancellation/stretch_windows.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "engine/fault.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kNoWire = 0xffffffffu;
// A window's wires at most: on the T-count programs, windows on four wires
// gain less (hwb10 28,620 two-qubit gates, qcla_mod_7 322) and on six no
// more (28,579 and 318) than on five (28,572 and 319).
constexpr std::uint32_t kWindowWires = 5;
static_assert(kWindowWires <= kFewestCxWires);

// One window: gates [first, end) of the stretch on `wires` (the stretch's
// wire of each local wire).
struct Window {
  std::size_t first = 0, end = 0;
  std::vector<std::uint32_t> wires;
};

// The window that starts at gate `first`: as many gates as keep it within
// kWindowWires wires, up to the first x gate.
Window window_at(std::span<const StretchGate> gates, std::size_t first, std::vector<std::uint32_t>& local) {
  Window w{first, first, {}};
  for (; w.end < gates.size(); ++w.end) {
    const StretchGate& g = gates[w.end];
    if (g.gate == Elementary::X) break;
    const std::size_t fresh = (local[g.a] == kNoWire) + (g.gate == Elementary::CX && local[g.b] == kNoWire);
    if (w.wires.size() + fresh > kWindowWires) break;
    const auto take = [&](std::uint32_t q) {
      if (local[q] != kNoWire) return;
      local[q] = static_cast<std::uint32_t>(w.wires.size());
      w.wires.push_back(q);
    };
    take(g.a);
    if (g.gate == Elementary::CX) take(g.b);
  }
  return w;
}

}  // namespace

std::size_t rewrite_windows(std::span<const StretchGate> gates, const StretchWires& wires,
                            std::vector<std::uint32_t>& removed, std::vector<ItemAddition>& additions,
                            FewestCxSearch& search) {
  const std::span<const std::uint32_t> qubit_of = wires.qubit_of;
  check(wires.after.size() == qubit_of.size() && wires.until.size() == qubit_of.size(),
        "a stretch's wires each with their bounds");
  std::vector<std::uint32_t> local(qubit_of.size(), kNoWire);
  std::size_t saved = 0;
  std::vector<std::uint8_t> rows, parity_of;
  std::vector<std::int32_t> asked(std::size_t{1} << kFewestCxWires);
  for (std::size_t first = 0; first < gates.size();) {
    const Window w = window_at(gates, first, local);
    first = std::max(w.end, first + 1);
    // The wires' parities of the window's inputs, and each phase gate's.
    FewestCxQuestion question;
    question.wires = static_cast<std::uint32_t>(w.wires.size());
    rows.assign(w.wires.size(), 0);
    for (std::size_t k = 0; k < rows.size(); ++k) rows[k] = static_cast<std::uint8_t>(1u << k);
    std::fill(asked.begin(), asked.end(), -1);
    parity_of.clear();
    std::size_t cx = 0;
    bool fits = true;
    for (std::size_t g = w.first; g < w.end && fits; ++g) {
      const StretchGate& gate = gates[g];
      if (gate.gate == Elementary::CX) {
        ++cx;
        rows[local[gate.b]] ^= rows[local[gate.a]];
        continue;
      }
      const std::uint8_t p = rows[local[gate.a]];
      parity_of.push_back(p);
      if (asked[p] >= 0) continue;
      if (question.parities.size() == kFewestCxParities) fits = false;
      asked[p] = static_cast<std::int32_t>(question.parities.size());
      question.parities.push_back(p);
    }
    for (std::uint32_t q : w.wires) local[q] = kNoWire;
    if (!fits || cx < 2) continue;
    // The place: the window's first gate after every wire's joining and
    // before any wire's leaving.
    std::int64_t joined = -1, left = std::numeric_limits<std::int64_t>::max();
    for (std::uint32_t q : w.wires) {
      joined = std::max(joined, wires.after[q]);
      left = std::min(left, wires.until[q]);
    }
    std::size_t at = w.first;
    while (at < w.end && static_cast<std::int64_t>(gates[at].item) < joined) ++at;
    if (at == w.end || static_cast<std::int64_t>(gates[at].item) >= left) continue;
    question.map = rows;
    question.below = cx;
    const std::optional<FewestCxAnswer> answer = fewest_cx(question, search);
    if (!answer) continue;
    // Each phase gate where its parity is first met.
    const std::uint32_t after = gates[at].item;
    const auto phases_after = [&](std::uint32_t step) {
      std::size_t phase = 0;
      for (std::size_t g = w.first; g < w.end; ++g) {
        if (gates[g].gate == Elementary::CX) continue;
        const auto [when, wire] = answer->met[static_cast<std::size_t>(asked[parity_of[phase++]])];
        if (when == step) additions.push_back({after, {gates[g].gate, qubit_of[w.wires[wire]], 0}});
      }
    };
    for (std::size_t g = w.first; g < w.end; ++g) removed.push_back(gates[g].item);
    phases_after(0);
    for (std::uint32_t k = 0; k < answer->cx.size(); ++k) {
      const auto [c, t] = answer->cx[k];
      additions.push_back({after, {Elementary::CX, qubit_of[w.wires[c]], qubit_of[w.wires[t]]}});
      phases_after(k + 1);
    }
    check(answer->cx.size() < cx, "a window is written anew only with fewer cx gates");
    saved += cx - answer->cx.size();
  }
  return saved;
}

}  // namespace kestrel
