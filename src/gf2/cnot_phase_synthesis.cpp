// The guided network: the terms merged and sorted (so that the parity on a
// wire is found by binary search), the guide replayed on the wires' parities,
// and the candidates built from that replay and compared.
#include "src/gf2/cnot_phase_synthesis.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <optional>

#include "engine/fault.h"
#include "src/cancellation/pair_cancellation.h"
#include "src/gf2/bits.h"
#include "src/gf2/linear_synthesis.h"
#include "src/gf2/parity_network.h"
#include "src/pauli/pauli.h"

namespace kestrel {
namespace {

void write_phase(std::vector<PlacedGate>& gates, std::uint8_t c, std::uint32_t wire) {
  const PhaseGates& phase = phase_gates(c);
  for (std::size_t k = 0; k < phase.count; ++k) gates.push_back({phase.gates[k], wire, 0});
}

std::size_t count_cx(const std::vector<PlacedGate>& gates) {
  return static_cast<std::size_t>(std::count_if(
      gates.begin(), gates.end(), [](const PlacedGate& g) { return g.gate == Elementary::CX; }));
}

// Distinct nonzero parities with their summed coefficients (1 to 7, but
// not 4), sorted by their words; the z gates of the terms of coefficient 4.
struct Terms {
  std::size_t words = 0;
  std::vector<std::uint64_t> columns;
  std::vector<std::uint8_t> coefficients;
  std::vector<PlacedGate> z_gates;

  std::size_t size() const { return coefficients.size(); }
  const std::uint64_t* column(std::size_t p) const { return columns.data() + p * words; }
  // The term whose parity is `parity`, or size().
  std::size_t find(const std::uint64_t* parity) const {
    std::size_t lo = 0, hi = size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (std::lexicographical_compare(column(mid), column(mid) + words, parity, parity + words)) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo < size() && std::equal(parity, parity + words, column(lo)) ? lo : size();
  }
};

Terms merge(std::uint32_t qubits, std::span<const std::uint64_t> columns,
            std::span<const std::uint8_t> coefficients) {
  Terms terms;
  terms.words = (qubits + 63) / 64;
  const std::size_t words = terms.words, m = coefficients.size();
  check(columns.size() == m * words, "one column of (qubits + 63) / 64 words per coefficient");
  const std::uint64_t last_mask =
      qubits % 64 == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (qubits % 64)) - 1;
  for (std::size_t p = 0; p < m; ++p) {
    check(coefficients[p] < 8, "a coefficient lies in 0 to 7");
    if (words > 0) {
      check((columns[p * words + words - 1] & ~last_mask) == 0,
            "a parity names only the qubits below the count");
    }
  }
  if (words == 0) return terms;
  const auto column = [&](std::size_t p) { return columns.data() + p * words; };
  std::vector<std::uint32_t> order(m);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return std::lexicographical_compare(column(a), column(a) + words, column(b), column(b) + words);
  });
  std::vector<std::uint64_t> flips(words, 0);
  for (std::size_t k = 0; k < m;) {
    const std::uint64_t* c = column(order[k]);
    unsigned sum = 0;
    std::size_t end = k;
    for (; end < m && std::equal(c, c + words, column(order[end])); ++end) sum += coefficients[order[end]];
    k = end;
    if (std::all_of(c, c + words, [](std::uint64_t w) { return w == 0; }) || sum % 8 == 0) continue;
    if (sum % 8 == 4) {
      for (std::size_t w = 0; w < words; ++w) flips[w] ^= c[w];
      continue;
    }
    terms.columns.insert(terms.columns.end(), c, c + words);
    terms.coefficients.push_back(static_cast<std::uint8_t>(sum % 8));
  }
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t word = flips[w]; word != 0; word &= word - 1) {
      terms.z_gates.push_back(
          {Elementary::Z, static_cast<std::uint32_t>(64 * w + std::countr_zero(word)), 0});
    }
  }
  return terms;
}

// Tables of at most this many wire-term bits get a second candidate.
constexpr std::size_t kSmallTable = std::size_t{1} << 16;

// The guide replayed on the wires' parities (row i: the parity wire i
// holds), writing each term on the first wire that holds it.
class Replay {
 public:
  Replay(std::uint32_t qubits, const Terms& terms)
      : n_(qubits), terms_(terms), rows_(BitMatrix::identity(qubits)), live_(terms.size(), true) {
    for (std::uint32_t i = 0; i < n_; ++i) write(i);
  }

  // Copies cx(control, target); whether a term was written.
  bool cx(std::uint32_t control, std::uint32_t target) {
    rows_.add_row(target, control);
    gates_.push_back({Elementary::CX, control, target});
    return write(target);
  }

  std::vector<PlacedGate>& gates() { return gates_; }
  bool live(std::size_t p) const { return live_[p]; }

 private:
  bool write(std::uint32_t wire) {
    const std::size_t p = terms_.find(rows_.row(wire));
    if (p == terms_.size() || !live_[p]) return false;
    live_[p] = false;
    write_phase(gates_, terms_.coefficients[p], wire);
    return true;
  }

  std::uint32_t n_;
  const Terms& terms_;
  BitMatrix rows_;
  std::vector<bool> live_;
  std::vector<PlacedGate> gates_;
};

// The terms a network must still write once the guide's first `prefix`
// gates are copied, as columns over the inputs x (`in_values` false) or
// over the wires' values after those gates (true).
struct Rest {
  std::vector<std::uint64_t> columns;
  std::vector<std::uint8_t> coefficients;

  bool operator==(const Rest&) const = default;
};

Rest rest_of(const Terms& terms, std::span<const PlacedGate> guide, std::size_t prefix, const Replay& replay,
             bool in_values) {
  const std::size_t words = terms.words;
  Rest rest;
  for (std::size_t p = 0; p < terms.size(); ++p) {
    if (!replay.live(p)) continue;
    const std::size_t at = rest.columns.size();
    rest.columns.insert(rest.columns.end(), terms.column(p), terms.column(p) + words);
    if (in_values) {
      // a . x = b . (R x) for b = R^-T a: R is the copied gates, each cx(c, t)
      // adding row c into row t, so b is a with a_c += a_t for each in turn.
      std::uint64_t* b = rest.columns.data() + at;
      for (std::size_t k = 0; k < prefix; ++k) {
        if (test_bit(b, guide[k].b)) flip_bit(b, guide[k].a);
      }
    }
    rest.coefficients.push_back(terms.coefficients[p]);
  }
  return rest;
}

// The gates of `guide` left once its pairs cancel among themselves.
std::size_t left_alone(std::uint32_t n, std::span<const PlacedGate> guide) {
  std::vector<CancelItem> items;
  items.reserve(guide.size());
  for (const PlacedGate& g : guide) items.push_back({g, 0, 0});
  const std::vector<bool> removed = cancel_gate_pairs(n, items, {});
  return static_cast<std::size_t>(std::count(removed.begin(), removed.end(), false));
}

// The network that copies the guide's first `prefix` gates, with `rest`
// (rest_of the same prefix, in the wires' values or not as `rest_after`)
// written after them or before them; nothing past the deadline.
std::optional<GuidedNetwork> follow(std::uint32_t n, const Terms& terms, std::span<const PlacedGate> guide,
                                    std::size_t prefix, bool rest_after, Replay& replay,
                                    const Rest& rest_terms, const Deadline& deadline) {
  if (deadline.passed()) return std::nullopt;
  const std::optional<OpenParityNetwork> rest_or_late = synthesise_parity_network_until(
      n, rest_terms.columns, rest_terms.coefficients, false, deadline);
  if (!rest_or_late) return std::nullopt;
  const std::vector<PlacedGate>& rest = rest_or_late->gates;
  GuidedNetwork out;
  out.gates = terms.z_gates;
  if (!rest_after) out.gates.insert(out.gates.end(), rest.begin(), rest.end());
  out.gates.insert(out.gates.end(), replay.gates().begin(), replay.gates().end());
  if (rest_after) out.gates.insert(out.gates.end(), rest.begin(), rest.end());
  for (std::size_t k = prefix; k-- > 0;) out.gates.push_back(guide[k]);
  out.followed = prefix;
  out.cx = count_cx(out.gates);
  out.cx_left = out.cx - prefix + left_alone(n, guide.subspan(prefix));
  return out;
}

}  // namespace

GuidedNetwork synthesise_guided_network(std::uint32_t qubits,
                                        std::span<const std::uint64_t> columns,
                                        std::span<const std::uint8_t> coefficients,
                                        std::span<const PlacedGate> guide) {
  return *synthesise_guided_network_until(qubits, columns, coefficients, guide, Deadline());
}

std::optional<GuidedNetwork> synthesise_guided_network_until(std::uint32_t qubits,
                                                             std::span<const std::uint64_t> columns,
                                                             std::span<const std::uint8_t> coefficients,
                                                             std::span<const PlacedGate> guide,
                                                             const Deadline& deadline) {
  for (const PlacedGate& g : guide) {
    check(g.gate == Elementary::CX, "a guide holds cx gates only");
    check(g.a < qubits && g.b < qubits && g.a != g.b, "a guide's cx names two wires");
  }
  const Terms terms = merge(qubits, columns, coefficients);
  if (deadline.passed()) return std::nullopt;
  // How far the guide brings terms onto wires.
  std::size_t useful = 0;
  if (terms.size() > 0) {
    Replay replay(qubits, terms);
    for (std::size_t k = 0; k < guide.size(); ++k) {
      if (replay.cx(guide[k].a, guide[k].b)) useful = k + 1;
    }
  }
  if (useful == 0) {
    // The network that ignores the guide.
    GuidedNetwork plain;
    plain.gates = terms.z_gates;
    const std::optional<OpenParityNetwork> network =
        synthesise_parity_network_until(qubits, terms.columns, terms.coefficients, false, deadline);
    if (!network) return std::nullopt;
    plain.gates.insert(plain.gates.end(), network->gates.begin(), network->gates.end());
    plain.cx = count_cx(plain.gates);
    plain.cx_left = plain.cx + left_alone(qubits, guide);
    return plain;
  }
  // The rest after the copied gates; before them too on small tables, where
  // a second search is cheap.
  Replay replay(qubits, terms);
  for (std::size_t k = 0; k < useful; ++k) replay.cx(guide[k].a, guide[k].b);
  const Rest after = rest_of(terms, guide, useful, replay, true);
  std::optional<GuidedNetwork> best = follow(qubits, terms, guide, useful, true, replay, after, deadline);
  if (best && std::size_t{qubits} * terms.size() <= kSmallTable) {
    // Where the copied gates leave the rest's terms as they were, the rest
    // before them is the same network, with as many cx gates: not searched.
    const Rest before_terms = rest_of(terms, guide, useful, replay, false);
    if (before_terms != after) {
      std::optional<GuidedNetwork> before =
          follow(qubits, terms, guide, useful, false, replay, before_terms, deadline);
      if (!before) return std::nullopt;
      if (before->cx_left < best->cx_left) best = std::move(before);
    }
  }
  return best;
}

}  // namespace kestrel
