// A phase polynomial reduced within what the method may still spend, and
// written: the Clifford difference's gates, then the parity network, or
// one network that follows the program's own cx gates.
#include "src/phase_polynomial/reduce_and_write.h"

#include <algorithm>
#include <span>

#include "engine/fault.h"
#include "src/cancellation/pair_cancellation.h"
#include "src/gf2/cz_absorption.h"
#include "src/gf2/parity_table.h"
#include "src/gf2/reduction.h"

namespace kestrel {
namespace {

// The reduction stops once four fifths of the time left have passed, so
// that the network of the table it reached can still be written by the
// deadline.
Deadline reduction_deadline(const Deadline& deadline) {
  const std::optional<Deadline::Clock::time_point> at = deadline.at();
  const Deadline::Clock::time_point now = Deadline::Clock::now();
  if (!at || now >= *at) return deadline;
  return Deadline(std::optional(now + (*at - now) * 4 / 5));
}

// The key of WrittenCache for f on at most 64 variables and its reduced
// table: the variables, `open`, then each term's parity and coefficient in
// order, then the reduced columns (a word each).
std::vector<std::uint64_t> cache_key(const PhasePolynomial& f, const std::vector<std::uint64_t>& reduced,
                                     bool open) {
  std::vector<std::uint64_t> key;
  key.reserve(3 + 2 * f.terms() + reduced.size());
  key.insert(key.end(), {f.variables(), open, f.terms()});
  for (std::size_t j = 0; j < f.terms(); ++j) {
    key.push_back(f.parity(j)[0]);
    key.push_back(f.coefficient(j));
  }
  key.insert(key.end(), reduced.begin(), reduced.end());
  return key;
}

bool cacheable(const PhasePolynomial& f) { return f.words() == 1; }

}  // namespace

void ReductionAllowance::charge(std::uint64_t done) {
  work += done;
  if (effort) *effort -= std::min(*effort, done);
  if (cap) *cap -= std::min(*cap, done);
}

Elementary s_power_gate(std::uint8_t power) {
  check(power >= 1 && power <= 3, "an S power from 1 to 3");
  const PhaseGates& gates = phase_gates(2 * power);
  check(gates.count == 1, "an S power is one phase gate");
  return gates.gates[0];
}

namespace {

// f's odd parities, their columns in the order `order` of `reordered`,
// reduced within `allowance` (charged with the work) by the tie rule
// `light_z` (both src/gf2/reduction.h), or as they are where the reduction
// does not fit its memory budget.
std::vector<std::uint64_t> reduced_parities(const PhasePolynomial& f, ReductionAllowance& allowance, bool light_z,
                                            WrittenCache* cache, std::uint64_t order = 0) {
  ParityTable table(f.variables());
  table.bits = f.odd_parities();
  if (order != 0) table = reordered(table, order);
  if (!reduction_fits(table.variables, table.columns())) return std::move(table.bits);
  ReductionOptions options;
  options.deadline = reduction_deadline(allowance.deadline);
  options.effort = allowance.effort;
  options.cap = allowance.cap;
  options.light_z = light_z;
  if (cache && cacheable(f)) options.settled_cache = &cache->settled;
  Reduction reduction = reduce_parity_table(table, options);
  allowance.charge(reduction.stats.work);
  return std::move(reduction.table.bits);
}

// f written with `reduced` for its odd parities; nothing past the deadline.
std::optional<WrittenPolynomial> write_reduced(const PhasePolynomial& f, std::vector<std::uint64_t> reduced,
                                               const Deadline& deadline, bool open, WrittenCache* cache) {
  if (deadline.passed()) return std::nullopt;
  std::vector<std::uint64_t> key;
  if (cache && cacheable(f)) {
    key = cache_key(f, reduced, open);
    if (const auto found = cache->written.find(key); found != cache->written.end()) return found->second;
  }
  const std::size_t t = f.words() == 0 ? 0 : reduced.size() / f.words();
  const std::optional<DiagonalClifford> correction_or_late = clifford_difference_until(f, reduced, deadline);
  if (!correction_or_late) return std::nullopt;
  const DiagonalClifford& correction = *correction_or_late;
  const std::vector<std::uint8_t> ones(t, 1);
  std::optional<OpenParityNetwork> network =
      synthesise_parity_network_until(f.variables(), reduced, ones, open, deadline);
  if (!network) return std::nullopt;
  CzAbsorption folded = absorb_cz(f.variables(), network->gates, correction.cz, deadline);
  network->gates = std::move(folded.gates);
  std::vector<PlacedGate> clifford;
  for (std::uint32_t v = 0; v < correction.s_powers.size(); ++v) {
    const auto power = static_cast<std::uint8_t>((correction.s_powers[v] + folded.s_powers[v]) % 4);
    if (power != 0) clifford.push_back({s_power_gate(power), v, 0});
  }
  for (const auto& [a, b] : folded.cz) clifford.push_back({Elementary::CZ, a, b});
  WrittenPolynomial written{t, std::move(reduced), std::move(clifford), correction, std::move(*network)};
  if (!key.empty()) cache->written.emplace(std::move(key), written);
  return written;
}

// Whether the tables `a` and `b` (`words` words a column) hold the same
// columns, in any order.
bool same_columns(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b, std::size_t words) {
  if (a.size() != b.size()) return false;
  const auto sorted = [&](const std::vector<std::uint64_t>& bits) {
    std::vector<std::span<const std::uint64_t>> columns;
    for (std::size_t j = 0; words != 0 && j < bits.size() / words; ++j) columns.emplace_back(bits.data() + j * words, words);
    std::ranges::sort(columns, [](auto x, auto y) { return std::ranges::lexicographical_compare(x, y); });
    return columns;
  };
  return std::ranges::equal(sorted(a), sorted(b), [](auto x, auto y) { return std::ranges::equal(x, y); });
}

std::size_t two_qubit_gates(const WrittenPolynomial& written) {
  std::size_t n = 0;
  for (const PlacedGate& g : written.network.gates) n += elementary_info(g.gate).qubits == 2 ? 1 : 0;
  for (const PlacedGate& g : written.clifford) n += elementary_info(g.gate).qubits == 2 ? 1 : 0;
  return n;
}

}  // namespace

std::size_t ReducedTables::t(std::size_t words) const {
  if (words == 0) return 0;
  std::size_t fewest = first.size() / words;
  for (const std::vector<std::uint64_t>& table : orders) fewest = std::min(fewest, table.size() / words);
  if (other) fewest = std::min(fewest, other->size() / words);
  return fewest;
}

ReducedTables reduce_tables(const PhasePolynomial& f, ReductionAllowance& allowance, WrittenCache* cache,
                            bool both_tie_rules) {
  const auto spent = [&] { return allowance.exhausted() || (allowance.effort && *allowance.effort == 0); };
  ReducedTables tables;
  tables.first = reduced_parities(f, allowance, false, cache);
  const bool both = both_tie_rules && f.terms() <= kBothTieRulesTerms && !spent();
  if (!both) return tables;
  tables.other = reduced_parities(f, allowance, true, cache);
  // A table the reduction left as it was (no move at all) is not tried
  // again: no other order gained there on the T-count programs, and on
  // hwb10 those tries took a third of the method's time.
  const bool small = f.terms() <= kColumnOrdersTerms;
  const bool moved = small && !same_columns(f.odd_parities(), tables.first, f.words());
  for (std::uint64_t order = 1; moved && order <= kColumnOrders && !spent() && !allowance.deadline.passed();
       ++order) {
    tables.orders.push_back(reduced_parities(f, allowance, false, cache, order));
  }
  return tables;
}

std::optional<WrittenPolynomial> write_tables(const PhasePolynomial& f, ReducedTables tables,
                                              const Deadline& deadline, bool open, WrittenCache* cache) {
  const auto rank = [](const WrittenPolynomial& w) { return std::pair(w.t, two_qubit_gates(w)); };
  std::optional<WrittenPolynomial> written = write_reduced(f, std::move(tables.first), deadline, open, cache);
  if (!written || !tables.other) return written;
  // The other column orders first, then the other tie rule: on a tie the
  // writing met first stays.
  for (std::vector<std::uint64_t>& again : tables.orders) {
    if (again == written->parities) continue;
    std::optional<WrittenPolynomial> alternative = write_reduced(f, std::move(again), deadline, open, cache);
    if (!alternative) return std::nullopt;
    if (rank(*alternative) < rank(*written)) written = std::move(alternative);
  }
  if (*tables.other == written->parities) return written;
  std::optional<WrittenPolynomial> light = write_reduced(f, std::move(*tables.other), deadline, open, cache);
  if (!light) return std::nullopt;
  return rank(*light) < rank(*written) ? light : written;
}

std::optional<WrittenPolynomial> reduce_and_write(const PhasePolynomial& f, ReductionAllowance& allowance,
                                                  bool open, WrittenCache* cache, bool both_tie_rules) {
  return write_tables(f, reduce_tables(f, allowance, cache, both_tie_rules), allowance.deadline, open, cache);
}

// The gates of `guide` left once its pairs cancel among themselves, as
// they do when the rotations between them go.
std::size_t guided_alone(std::span<const PlacedGate> guide) {
  std::uint32_t n = 0;
  for (const PlacedGate& g : guide) n = std::max({n, g.a + 1, g.b + 1});
  std::vector<CancelItem> items;
  for (const PlacedGate& g : guide) items.push_back({g, 0, 0});
  const std::vector<bool> removed = cancel_gate_pairs(n, items, {});
  return static_cast<std::size_t>(std::count(removed.begin(), removed.end(), false));
}

// The guided network (src/gf2/cnot_phase_synthesis.h) of the reduced
// polynomial's T gates and its Clifford difference's S powers, with the
// difference's cz gates folded into its phase gates before the copied gates
// at its end (src/gf2/cz_absorption.h), where they can be, and the others
// written first; `cx_left` counts those too. Nothing past the deadline.
std::optional<GuidedNetwork> guided_network(const PhasePolynomial& f, const WrittenPolynomial& reduced,
                                            std::span<const PlacedGate> guide, const Deadline& deadline,
                                            WrittenCache* cache) {
  if (deadline.passed()) return std::nullopt;
  std::vector<std::uint64_t> key;
  if (cache && cacheable(f)) {
    key = cache_key(f, reduced.parities, false);
    key.reserve(key.size() + 2 * guide.size());
    for (const PlacedGate& g : guide) {
      key.push_back(static_cast<std::uint64_t>(g.gate) << 32 | g.a);
      key.push_back(g.b);
    }
    if (const auto found = cache->guided.find(key); found != cache->guided.end()) return found->second;
  }
  const std::size_t fw = f.words();
  std::vector<std::uint64_t> columns = reduced.parities;
  std::vector<std::uint8_t> coefficients(reduced.t, 1);
  const std::vector<std::uint8_t>& powers = reduced.difference.s_powers;
  for (std::uint32_t v = 0; v < powers.size(); ++v) {
    if (powers[v] == 0) continue;
    columns.resize(columns.size() + fw, 0);
    columns[columns.size() - fw + v / 64] |= std::uint64_t{1} << (v % 64);
    coefficients.push_back(static_cast<std::uint8_t>(2 * powers[v]));
  }
  std::optional<GuidedNetwork> guided_or_late =
      synthesise_guided_network_until(f.variables(), columns, coefficients, guide, deadline);
  if (!guided_or_late) return std::nullopt;
  GuidedNetwork& guided = *guided_or_late;
  const std::size_t middle = guided.gates.size() - guided.followed;
  const CzAbsorption folded =
      absorb_cz(f.variables(), {guided.gates.data(), middle}, reduced.difference.cz, deadline);
  std::vector<PlacedGate> gates;
  for (std::uint32_t v = 0; v < folded.s_powers.size(); ++v) {
    if (folded.s_powers[v] != 0) gates.push_back({s_power_gate(folded.s_powers[v]), v, 0});
  }
  for (const auto& [a, b] : folded.cz) gates.push_back({Elementary::CZ, a, b});
  gates.insert(gates.end(), folded.gates.begin(), folded.gates.end());
  gates.insert(gates.end(), guided.gates.begin() + static_cast<std::ptrdiff_t>(middle), guided.gates.end());
  guided.gates = std::move(gates);
  guided.cx_left += folded.cz.size();
  if (!key.empty()) cache->guided.emplace(std::move(key), guided);
  return guided;
}

}  // namespace kestrel
