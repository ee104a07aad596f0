// The two writings, the phase gates as they are and their odd part with
// its CZ pairs covered, and the choice between them. A set of CZ pairs on
// eight wires is a 28-bit word (pair i < j at bit j (j - 1) / 2 + i); the
// cover is Gaussian elimination over the visited parities' words.
#include "src/gf2/fewest_cx_phases.h"

#include <algorithm>
#include <array>
#include <bit>

#include "engine/fault.h"
#include "src/circuit/elementary.h"

namespace kestrel {
namespace {

// Every pair of inputs in parity p, as a set of pairs.
std::uint32_t pairs_of(std::uint8_t p) {
  std::uint32_t set = 0;
  for (std::uint32_t j = 1; j < 8; ++j) {
    if (((p >> j) & 1) == 0) continue;
    for (std::uint32_t i = 0; i < j; ++i) {
      if ((p >> i) & 1) set |= std::uint32_t{1} << (j * (j - 1) / 2 + i);
    }
  }
  return set;
}

std::size_t gates_of(int power) { return phase_gates(power).count; }

// The phases' parities in the order they first appear, each asked once.
struct Asked {
  std::vector<std::uint8_t> parities;
  std::array<std::int8_t, 256> index;  // per parity value: its place in `parities`, or -1
};

// Every phase gate where its parity is first met.
std::optional<PhaseWriting> as_given(std::uint32_t wires, std::span<const std::uint8_t> map,
                                     std::span<const StretchPhase> phases, std::size_t below,
                                     FewestCxSearch& search) {
  FewestCxQuestion question{wires, {map.begin(), map.end()}, {}, below};
  std::array<std::int8_t, 256> asked;
  asked.fill(-1);
  for (const StretchPhase& ph : phases) {
    if (asked[ph.parity] >= 0) continue;
    if (question.parities.size() == kFewestCxParities) return std::nullopt;
    asked[ph.parity] = static_cast<std::int8_t>(question.parities.size());
    question.parities.push_back(ph.parity);
  }
  const std::optional<FewestCxAnswer> answer = fewest_cx(question, search);
  if (!answer) return std::nullopt;
  PhaseWriting writing;
  writing.cx = answer->cx;
  for (std::uint32_t step = 0; step <= writing.cx.size(); ++step) {
    for (const StretchPhase& ph : phases) {
      const auto [when, wire] = answer->met[static_cast<std::size_t>(asked[ph.parity])];
      if (when == step) writing.phases.push_back({step, wire, ph.power});
    }
  }
  return writing;
}

// A parity the cx gates visit that may take an S: where (after how many
// gates, on which wire), its pairs, and whether it is odd (a T gate is
// written there, which becomes a T-dagger).
struct Visit {
  std::uint32_t after;
  std::uint8_t wire;
  std::uint8_t parity;
  std::uint32_t pairs;
  bool odd;
};

// The odd part of the phases on the fewest cx gates, the rest written as
// S powers on single wires and S gates where the visits cover the CZ pairs;
// nothing where the search finds no fewer than `below` or the visits do
// not cover them.
// The phases' powers added up per parity, and the parities in the order
// they first appear.
struct Sums {
  std::array<int, 256> power{};  // 0 to 7
  std::array<int, 256> count{};  // the gates on each
  std::vector<std::uint8_t> order;
};

Sums sums_of(std::span<const StretchPhase> phases) {
  Sums sums;
  for (const StretchPhase& ph : phases) {
    sums.power[ph.parity] = ((sums.power[ph.parity] + ph.power) % 8 + 8) % 8;
    if (sums.count[ph.parity]++ == 0) sums.order.push_back(ph.parity);
  }
  return sums;
}

std::optional<PhaseWriting> by_odd_part(std::uint32_t wires, std::span<const std::uint8_t> map, const Sums& sums,
                                        std::size_t below, FewestCxSearch& search) {
  const std::array<int, 256>& power = sums.power;
  const std::vector<std::uint8_t>& order = sums.order;
  FewestCxQuestion question{wires, {map.begin(), map.end()}, {}, below};
  std::array<std::int8_t, 256> asked;
  asked.fill(-1);
  std::array<int, 8> s_power{};  // per wire: the S power left on its input
  std::uint32_t cz = 0;          // the CZ pairs left
  for (const std::uint8_t p : order) {
    const bool odd = power[p] % 2 == 1;
    if (odd) {
      if (question.parities.size() == kFewestCxParities) return std::nullopt;
      asked[p] = static_cast<std::int8_t>(question.parities.size());
      question.parities.push_back(p);
    }
    // The even rest, k S gates on p: S^k on each input of p, and a CZ on
    // each pair of them where k is odd.
    const int k = (power[p] - (odd ? 1 : 0)) / 2;
    for (std::uint32_t i = 0; i < wires; ++i) {
      if ((p >> i) & 1) s_power[i] += k;
    }
    if (k % 2 == 1) cz ^= pairs_of(p);
  }
  const std::optional<FewestCxAnswer> answer = fewest_cx(question, search);
  if (!answer) return std::nullopt;

  // The visits: an odd parity where its T gate is written, an even one (or
  // none of the phases') wherever the gates first leave it on a wire.
  std::vector<Visit> visits;
  std::array<bool, 256> visited{};
  std::array<std::uint8_t, 8> rows{};
  for (std::uint32_t w = 0; w < wires; ++w) rows[w] = static_cast<std::uint8_t>(1u << w);
  for (std::uint32_t g = 0; g < answer->cx.size(); ++g) {
    const auto [c, t] = answer->cx[g];
    rows[t] ^= rows[c];
    const std::uint8_t v = rows[t];
    if (std::popcount(v) < 2) continue;
    const bool odd = asked[v] >= 0;
    if (odd && answer->met[static_cast<std::size_t>(asked[v])] != std::pair{g + 1, t}) continue;
    if (!odd && visited[v]) continue;
    visited[v] = true;
    visits.push_back({g + 1, t, v, pairs_of(v), odd});
  }
  // The odd visits first: an S there costs no gate.
  std::stable_partition(visits.begin(), visits.end(), [](const Visit& v) { return v.odd; });
  if (visits.size() > 64) visits.resize(64);
  // Gaussian elimination over the pairs, each basis row with the visits
  // that sum to it.
  std::vector<std::pair<std::uint32_t, std::uint64_t>> basis;
  for (std::size_t k = 0; k < visits.size(); ++k) {
    std::uint32_t row = visits[k].pairs;
    std::uint64_t sum = std::uint64_t{1} << k;
    for (const auto& [b, b_sum] : basis) {
      if (row & (std::uint32_t{1} << std::countr_zero(b))) row ^= b, sum ^= b_sum;
    }
    if (row != 0) basis.emplace_back(row, sum);
  }
  std::uint32_t left = cz;
  std::uint64_t chosen = 0;
  for (const auto& [b, b_sum] : basis) {
    if (left & (std::uint32_t{1} << std::countr_zero(b))) left ^= b, chosen ^= b_sum;
  }
  if (left != 0) return std::nullopt;

  // An S where chosen (3 on an odd parity: its T becomes a T-dagger, 1
  // elsewhere), the S powers on the inputs made up for.
  std::vector<int> extra(visits.size(), 0);
  for (std::size_t k = 0; k < visits.size(); ++k) {
    if (((chosen >> k) & 1) == 0) continue;
    extra[k] = visits[k].odd ? 3 : 1;
    for (std::uint32_t i = 0; i < wires; ++i) {
      if ((visits[k].parity >> i) & 1) s_power[i] -= extra[k];
    }
  }
  PhaseWriting writing;
  writing.cx = answer->cx;
  for (std::uint32_t w = 0; w < wires; ++w) {
    const auto x = static_cast<std::uint8_t>(1u << w);
    const int r = 2 * s_power[w] + (asked[x] >= 0 ? 1 : 0);
    if (gates_of(r) > 0) writing.phases.push_back({0, static_cast<std::uint8_t>(w), static_cast<std::int8_t>((r % 8 + 8) % 8)});
  }
  for (std::uint32_t step = 1; step <= writing.cx.size(); ++step) {
    for (const std::uint8_t p : question.parities) {
      const auto [when, wire] = answer->met[static_cast<std::size_t>(asked[p])];
      if (when != step) continue;
      int r = 1;
      for (std::size_t k = 0; k < visits.size(); ++k) {
        if (visits[k].after == step && visits[k].odd) r += 2 * extra[k];
      }
      writing.phases.push_back({step, wire, static_cast<std::int8_t>(r % 8)});
    }
    for (std::size_t k = 0; k < visits.size(); ++k) {
      if (visits[k].after == step && !visits[k].odd && extra[k] != 0) {
        writing.phases.push_back({step, visits[k].wire, static_cast<std::int8_t>(2 * extra[k])});
      }
    }
  }
  return writing;
}

std::size_t t_in(const PhaseWriting& w) {
  std::size_t t = 0;
  for (const PhaseWriting::Phase& ph : w.phases) t += ph.power % 2 != 0;
  return t;
}

}  // namespace

std::size_t gates_in(const PhaseWriting& w) {
  std::size_t gates = w.cx.size();
  for (const PhaseWriting::Phase& ph : w.phases) gates += gates_of(ph.power);
  return gates;
}

std::optional<PhaseWriting> write_on_fewest_cx(std::uint32_t wires, std::span<const std::uint8_t> map,
                                               std::span<const StretchPhase> phases, std::size_t below,
                                               PhaseSearches& searches) {
  check(wires >= 1 && wires <= kFewestCxWires && map.size() == wires, "a map of one to eight wires");
  for (const StretchPhase& ph : phases) {
    check(ph.parity != 0 && ph.parity < (1u << wires), "a phase gate's parity on the wires");
  }
  const Sums sums = sums_of(phases);
  std::optional<PhaseWriting> writing = as_given(wires, map, phases, below, searches.given);
  // The odd part asks for the same parities unless some parity's powers
  // add up to an even number or several gates share one.
  bool differs = false;
  std::size_t odd_parities = 0;
  for (const std::uint8_t p : sums.order) {
    differs = differs || sums.count[p] > 1 || sums.power[p] % 2 == 0;
    odd_parities += sums.power[p] % 2 != 0;
  }
  if (!differs) return writing;
  // No more gates in all than the writing as given, or the stretch as it
  // is (`below` cx gates and its phase gates); and fewer cx gates, or as
  // many and fewer T gates.
  std::size_t gates = below, t = 0;
  for (const StretchPhase& ph : phases) gates += gates_of(ph.power), t += ph.power % 2 != 0;
  if (writing) gates = gates_in(*writing), t = t_in(*writing);
  // As many cx gates as the writing as given only where T gates would go.
  const std::size_t odd_below = !writing ? below : writing->cx.size() + (odd_parities < t ? 1 : 0);
  std::optional<PhaseWriting> odd = by_odd_part(wires, map, sums, odd_below, searches.odd);
  if (odd && gates_in(*odd) <= gates &&
      (!writing || odd->cx.size() < writing->cx.size() || t_in(*odd) < t)) {
    return odd;
  }
  return writing;
}

}  // namespace kestrel
