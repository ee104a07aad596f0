// The choice between the searches for a parity network: the terms merged
// and their z terms taken out, the searches run (star_search.cpp,
// split_search.cpp, nearest_search.cpp two ways; the star again in the
// terms' own basis), each open network closed by the shorter of two ways back, and the
// one with the fewest cx gates in all kept.
#include "src/gf2/parity_network.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/parity_network_terms.h"
#include "src/pauli/pauli.h"

namespace kestrel {
namespace {

using namespace network_detail;

Terms merge_terms(std::uint32_t qubits, std::span<const std::uint64_t> columns,
                  std::span<const std::uint8_t> coefficients) {
  Terms terms;
  terms.qubits = qubits;
  terms.words = words_for(qubits);
  const std::size_t words = terms.words, m = coefficients.size();
  check(columns.size() == m * words, "one column of (qubits + 63) / 64 words per coefficient");
  const std::uint64_t last_word_mask =
      qubits % 64 == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (qubits % 64)) - 1;
  for (std::size_t p = 0; p < m; ++p) {
    check(coefficients[p] < 8, "a coefficient lies in 0 to 7");
    if (words > 0) {
      check((columns[p * words + words - 1] & ~last_word_mask) == 0,
            "a parity names only the qubits below the count");
    }
  }
  if (words == 0) return terms;
  const auto column = [&](std::size_t p) { return columns.subspan(p * words, words); };
  std::vector<std::uint32_t> order(m);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const auto ca = column(a), cb = column(b);
    return std::lexicographical_compare(ca.begin(), ca.end(), cb.begin(), cb.end());
  });
  std::vector<std::pair<std::uint32_t, std::uint8_t>> kept;  // first index, summed coefficient
  for (std::size_t k = 0; k < m;) {
    std::size_t end = k;
    unsigned sum = 0;
    while (end < m && std::ranges::equal(column(order[end]), column(order[k]))) {
      sum += coefficients[order[end]];
      ++end;
    }
    const auto c = column(order[k]);
    const bool zero = std::all_of(c.begin(), c.end(), [](std::uint64_t w) { return w == 0; });
    if (!zero && sum % 8 != 0) kept.push_back({order[k], static_cast<std::uint8_t>(sum % 8)});
    k = end;
  }
  std::sort(kept.begin(), kept.end());
  for (const auto& [first, c] : kept) {
    const auto col = column(first);
    terms.columns.insert(terms.columns.end(), col.begin(), col.end());
    terms.coefficients.push_back(c);
  }
  return terms;
}

// Takes the terms with coefficient 4 out of `terms` and returns them as z
// gates: omega^(4 (a . x)) = (-1)^(a . x) is z on each wire of a, where the
// network would spend cx gates to bring a onto one wire.
std::vector<PlacedGate> take_z_terms(Terms& terms) {
  const std::size_t words = terms.words;
  std::vector<std::uint64_t> flips(words, 0);
  std::size_t kept = 0;
  for (std::size_t p = 0; p < terms.size(); ++p) {
    const std::uint64_t* c = terms.column(p);
    if (terms.coefficients[p] == 4) {
      for (std::size_t w = 0; w < words; ++w) flips[w] ^= c[w];
      continue;
    }
    std::copy(c, c + words, terms.columns.begin() + static_cast<std::ptrdiff_t>(kept * words));
    terms.coefficients[kept++] = terms.coefficients[p];
  }
  terms.columns.resize(kept * words);
  terms.coefficients.resize(kept);
  std::vector<PlacedGate> gates;
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t word = flips[w]; word != 0; word &= word - 1) {
      gates.push_back({Elementary::Z, static_cast<std::uint32_t>(64 * w + std::countr_zero(word)), 0});
    }
  }
  return gates;
}

// The cx gates that bring the wires of `network` back to their inputs, if
// fewer than `limit`: the synthesis of the inverse map, or the network's cx
// gates backwards, whichever is shorter.
std::optional<std::vector<PlacedGate>> closing_gates(const OpenParityNetwork& network,
                                                     std::size_t limit) {
  std::vector<PlacedGate> backwards;
  for (auto it = network.gates.rbegin(); it != network.gates.rend(); ++it) {
    if (it->gate == Elementary::CX) backwards.push_back(*it);
  }
  if (backwards.empty()) return backwards;
  // The inverse moves the rows the map moves (e_r M^-1 = e_r exactly when
  // e_r = e_r M), and takes a cx at least for each: when that is no fewer
  // than the gates backwards, no synthesis beats them.
  if (rows_moved(network.map) >= std::min(backwards.size(), limit)) {
    if (backwards.size() < limit) return backwards;
    return std::nullopt;
  }
  const std::optional<BitMatrix> inverse = network.map.inverse();
  check(inverse.has_value(), "cx gates make an invertible map");
  std::optional<std::vector<PlacedGate>> synthesised =
      synthesise_linear_within(*inverse, std::min(backwards.size(), limit));
  if (synthesised) return synthesised;
  if (backwards.size() < limit) return backwards;
  return std::nullopt;
}

// The terms in a basis of their own span: independent terms, the lightest
// first, each put on a wire of its own (wire i then holds row i of `map`
// times the inputs; the others keep theirs), and every term written in the
// new wires' values. Three terms x0 + x1, x1 + x2 and x0 + x2 + x3, say,
// become single wires and a parity of those three. Nothing when the basis
// would be the inputs themselves, or when the map there and back takes
// `below` cx gates or more (at least one per wire it moves, each way):
// such a network cannot beat one of `below`, so it is not searched.
struct Rebased {
  BitMatrix map;
  Terms terms;
};
std::optional<Rebased> in_own_basis(const Terms& terms, std::size_t below) {
  const std::uint32_t n = terms.qubits;
  const std::size_t words = terms.words, m = terms.size();
  std::vector<std::uint32_t> order(m);
  std::iota(order.begin(), order.end(), 0u);
  const auto weight = [&](std::uint32_t p) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < words; ++i) w += count_ones(terms.column(p)[i]);
    return w;
  };
  std::vector<std::size_t> weights(m);
  for (std::uint32_t p = 0; p < m; ++p) weights[p] = weight(p);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return weights[a] < weights[b]; });
  BitMatrix map = BitMatrix::identity(n);
  std::vector<std::uint64_t> reduced;            // echelon rows, `words` each
  std::vector<std::uint32_t> row_of(n, kNone);   // per pivot wire
  std::vector<std::uint64_t> v(words);
  std::uint32_t rank = 0;
  bool moved = false;
  for (std::size_t k = 0; k < m && rank < n; ++k) {
    const std::uint64_t* a = terms.column(order[k]);
    std::copy(a, a + words, v.begin());
    std::uint32_t pivot = kNone;
    for (std::size_t w = 0; w < words && pivot == kNone;) {
      if (v[w] == 0) {
        ++w;
        continue;
      }
      const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(v[w]));
      if (row_of[q] == kNone) {
        pivot = q;
      } else {
        const std::uint64_t* r = reduced.data() + std::size_t{row_of[q]} * words;
        for (std::size_t i = 0; i < words; ++i) v[i] ^= r[i];
      }
    }
    if (pivot == kNone) continue;
    row_of[pivot] = rank++;
    reduced.insert(reduced.end(), v.begin(), v.end());
    std::copy(a, a + words, map.row(pivot));
    moved = moved || weights[order[k]] > 1;
  }
  if (!moved || 2 * rows_moved(map) >= below) return std::nullopt;
  const std::optional<BitMatrix> inverse = map.inverse();
  check(inverse.has_value(), "independent terms on their pivot wires make an invertible map");
  // Term a is a . x = c . (map x) for c = map^-T a.
  const BitMatrix to_new = inverse->transposed();
  Rebased out{std::move(map), Terms{n, words, std::vector<std::uint64_t>(m * words, 0), terms.coefficients}};
  for (std::size_t p = 0; p < m; ++p) {
    const std::uint64_t* a = terms.column(p);
    std::uint64_t* c = out.terms.columns.data() + p * words;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint64_t* r = to_new.row(i);
      std::uint64_t meet = 0;
      for (std::size_t w = 0; w < words; ++w) meet ^= r[w] & a[w];
      c[i / 64] |= std::uint64_t{static_cast<unsigned>(parity(meet))} << (i % 64);
    }
  }
  return out;
}

// Tables of at most this many wire-term bits (n times m) get every search.
constexpr std::size_t kSmallTable = std::size_t{1} << 16;
// Tables of at most this many get the nearest-term search besides the star,
// both ways of choosing the wire a term is gathered onto: its work grows
// with the cx gates times the terms' words, a tenth of a second each at
// n = 96 and m = 2,851 (a GF(2^32) multiplier's one block, where they write
// 6,500 and 6,474 cx gates to the star's 7,110). The second way (`Shared`)
// runs on small tables too for closed networks (a block's, written plainly
// or following the program's cx gates: the method keeps both and chooses by
// what cancels), where it wins on some (gf2^7_mult's two-qubit gates 304 to
// 282); open networks (a region's with gadgets, whose map the gates after it
// take up) keep the searches they had there, as the change moved which
// regions keep their gadgets (hwb6 with 4 of them: 158 to 159).
constexpr std::size_t kMiddleTable = std::size_t{1} << 19;

struct Candidate {
  OpenParityNetwork open;
  std::vector<PlacedGate> closing;
  std::size_t cx = 0;  // in both
};

// The best network, or nothing once `deadline` has passed (looked at
// before each search and inside the star searches); `open_network`: for a
// caller that keeps it open (see kMiddleTable).
std::optional<Candidate> best_network(std::uint32_t qubits, std::span<const std::uint64_t> columns,
                                      std::span<const std::uint8_t> coefficients, NetworkSearch which,
                                      const Deadline& deadline, bool open_network) {
  Terms terms = merge_terms(qubits, columns, coefficients);
  const std::vector<PlacedGate> z_gates = take_z_terms(terms);
  // The star search runs on every table; the others, whose work grows
  // faster with the table and which win by a few percent on small blocks
  // only, where they are cheap; the nearest term, both ways, also on middle
  // ones, where it wins by more on some (see kMiddleTable).
  const std::size_t bits = std::size_t{qubits} * terms.size();
  const bool small = bits <= kSmallTable;
  const bool middle = bits <= kMiddleTable;
  const auto runs = [&](NetworkSearch search) {
    if (which != NetworkSearch::Best) return which == search;
    if (search == NetworkSearch::Shared) return middle && (!open_network || !small);
    return search == NetworkSearch::Star || small || (middle && search == NetworkSearch::Nearest);
  };
  std::optional<Candidate> best;
  for (NetworkSearch search :
       {NetworkSearch::Star, NetworkSearch::Split, NetworkSearch::Nearest, NetworkSearch::Shared}) {
    if (!runs(search)) continue;
    if (deadline.passed()) return std::nullopt;
    std::optional<OpenParityNetwork> open =
        search == NetworkSearch::Star    ? star_search(terms, deadline)
        : search == NetworkSearch::Split ? split_search(terms)
                                         : nearest_search(terms, search == NetworkSearch::Shared);
    if (!open) return std::nullopt;
    Candidate c{std::move(*open), {}, 0};
    c.cx = cx_count(c.open.gates);
    if (best && c.cx >= best->cx) continue;  // already no shorter
    std::optional<std::vector<PlacedGate>> closing =
        closing_gates(c.open, best ? best->cx - c.cx : std::numeric_limits<std::size_t>::max());
    if (!closing) continue;
    c.closing = std::move(*closing);
    c.cx += c.closing.size();
    best = std::move(c);
  }
  if (runs(NetworkSearch::Rebased)) {
    const std::size_t below = best ? best->cx : std::numeric_limits<std::size_t>::max();
    if (std::optional<Rebased> rebased = in_own_basis(terms, below)) {
      // The map there and back, around a network that leaves the new
      // wires as it found them: at least one cx per wire it moves, each way.
      std::optional<OpenParityNetwork> open = star_search(rebased->terms, deadline);
      if (!open) return std::nullopt;
      Candidate c{std::move(*open), {}, 0};
      c.cx = cx_count(c.open.gates);
      if (!best || c.cx + 2 * rows_moved(rebased->map) < best->cx) {
        // Only a map of fewer than half the gates the network leaves to
        // the best can make it shorter.
        const std::size_t limit = best ? (best->cx - c.cx + 1) / 2 : std::numeric_limits<std::size_t>::max();
        if (std::optional<std::vector<PlacedGate>> gates = synthesise_linear_within(rebased->map, limit)) {
          c.closing.assign(gates->rbegin(), gates->rend());
          c.cx += 2 * gates->size();
          gates->insert(gates->end(), c.open.gates.begin(), c.open.gates.end());
          c.open = {std::move(*gates), std::move(rebased->map)};
          if (!best || c.cx < best->cx) best = std::move(c);
        }
      }
    }
  }
  if (!best) {
    std::optional<OpenParityNetwork> open = star_search(terms, deadline);
    if (!open) return std::nullopt;
    best = Candidate{std::move(*open), {}, 0};
  }
  best->open.gates.insert(best->open.gates.begin(), z_gates.begin(), z_gates.end());
  return best;
}

}  // namespace

std::vector<PlacedGate> synthesise_parity_network(std::uint32_t qubits,
                                                  std::span<const std::uint64_t> columns,
                                                  std::span<const std::uint8_t> coefficients,
                                                  NetworkSearch search) {
  Candidate best = *best_network(qubits, columns, coefficients, search, Deadline(), false);
  std::vector<PlacedGate> gates = std::move(best.open.gates);
  gates.insert(gates.end(), best.closing.begin(), best.closing.end());
  return gates;
}

OpenParityNetwork synthesise_open_parity_network(std::uint32_t qubits,
                                                 std::span<const std::uint64_t> columns,
                                                 std::span<const std::uint8_t> coefficients,
                                                 NetworkSearch search) {
  return std::move(best_network(qubits, columns, coefficients, search, Deadline(), true)->open);
}

std::optional<OpenParityNetwork> synthesise_parity_network_until(std::uint32_t qubits,
                                                                 std::span<const std::uint64_t> columns,
                                                                 std::span<const std::uint8_t> coefficients,
                                                                 bool open, const Deadline& deadline) {
  std::optional<Candidate> best = best_network(qubits, columns, coefficients, NetworkSearch::Best, deadline, open);
  if (!best) return std::nullopt;
  if (!open) {
    best->open.gates.insert(best->open.gates.end(), best->closing.begin(), best->closing.end());
    best->open.map = BitMatrix::identity(qubits);
  }
  return std::move(best->open);
}

}  // namespace kestrel

