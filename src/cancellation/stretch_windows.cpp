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

void write_stretch(const PhaseWriting& writing, std::uint32_t after, std::span<const std::uint32_t> qubit_of,
                   std::vector<ItemAddition>& additions) {
  std::size_t next = 0;  // the next phase gate to write
  const auto phases_after = [&](std::uint32_t step) {
    for (; next < writing.phases.size() && writing.phases[next].after == step; ++next) {
      const PhaseWriting::Phase& ph = writing.phases[next];
      const PhaseGates& gates = phase_gates(ph.power);
      for (std::size_t k = 0; k < gates.count; ++k) additions.push_back({after, {gates.gates[k], qubit_of[ph.wire], 0}});
    }
  };
  phases_after(0);
  for (std::uint32_t k = 0; k < writing.cx.size(); ++k) {
    const auto [c, t] = writing.cx[k];
    additions.push_back({after, {Elementary::CX, qubit_of[c], qubit_of[t]}});
    phases_after(k + 1);
  }
  check(next == writing.phases.size(), "every phase gate of a writing is written");
}

std::size_t rewrite_windows(std::span<const StretchGate> gates, const StretchWires& wires,
                            std::vector<std::uint32_t>& removed, std::vector<ItemAddition>& additions,
                            PhaseSearches& search) {
  const std::span<const std::uint32_t> qubit_of = wires.qubit_of;
  check(wires.after.size() == qubit_of.size() && wires.until.size() == qubit_of.size(),
        "a stretch's wires each with their bounds");
  std::vector<std::uint32_t> local(qubit_of.size(), kNoWire);
  std::size_t saved = 0;
  std::vector<std::uint8_t> rows;
  std::vector<StretchPhase> phases;
  std::vector<std::uint32_t> qubits;
  for (std::size_t first = 0; first < gates.size();) {
    const Window w = window_at(gates, first, local);
    first = std::max(w.end, first + 1);
    // The wires' parities of the window's inputs, and each phase gate's.
    rows.assign(w.wires.size(), 0);
    for (std::size_t k = 0; k < rows.size(); ++k) rows[k] = static_cast<std::uint8_t>(1u << k);
    phases.clear();
    std::size_t cx = 0;
    for (std::size_t g = w.first; g < w.end; ++g) {
      const StretchGate& gate = gates[g];
      if (gate.gate == Elementary::CX) {
        ++cx;
        rows[local[gate.b]] ^= rows[local[gate.a]];
        continue;
      }
      phases.push_back({rows[local[gate.a]], elementary_info(gate.gate).diagonal});
    }
    for (std::uint32_t q : w.wires) local[q] = kNoWire;
    if (cx < 2) continue;
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
    const std::optional<PhaseWriting> writing =
        write_on_fewest_cx(static_cast<std::uint32_t>(w.wires.size()), rows, phases, cx, search);
    if (!writing) continue;
    for (std::size_t g = w.first; g < w.end; ++g) removed.push_back(gates[g].item);
    qubits.clear();
    for (std::uint32_t q : w.wires) qubits.push_back(qubit_of[q]);
    write_stretch(*writing, gates[at].item, qubits, additions);
    check(writing->cx.size() < cx, "a window is written anew only with fewer cx gates");
    saved += cx - writing->cx.size();
  }
  return saved;
}

}  // namespace kestrel
