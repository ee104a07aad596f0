// The walk that lists the parities a circuit visits, and the elimination
// over the pairs of wires that picks those whose graphs sum to the CZ gates.
#include "src/gf2/cz_absorption.h"

#include <algorithm>
#include <bit>

#include <boost/unordered/unordered_flat_set.hpp>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/linear_synthesis.h"

namespace kestrel {
namespace {

// The elimination's work (word operations) stays under this.
constexpr std::uint64_t kWork = std::uint64_t{1} << 28;

// A parity the circuit visits: after gate `at`, on `wire`; `flip` when the
// gate at `at` is a T or T-dagger on that wire, changed in place.
struct Visit {
  std::uint32_t at;
  std::uint32_t wire;
  bool flip;
};

struct Visits {
  std::size_t words = 0;
  std::vector<Visit> visits;
  std::vector<std::uint64_t> parities;  // per visit
};

// The parities of weight two or more, each once: T and T-dagger gates
// first (changing one costs no gate), then the cx targets.
Visits visits_of(std::uint32_t n, std::span<const PlacedGate> gates) {
  Visits out;
  out.words = words_for(n);
  const std::size_t words = out.words;
  struct Hash {
    std::size_t words;
    const std::vector<std::uint64_t>* bits;
    std::size_t operator()(std::uint32_t v) const { return hash_words(bits->data() + v * words, words); }
  };
  struct Equal {
    std::size_t words;
    const std::vector<std::uint64_t>* bits;
    bool operator()(std::uint32_t a, std::uint32_t b) const {
      return equal_words(bits->data() + a * words, bits->data() + b * words, words);
    }
  };
  boost::unordered_flat_set<std::uint32_t, Hash, Equal> seen(0, Hash{words, &out.parities},
                                                            Equal{words, &out.parities});
  for (bool flips : {true, false}) {
    BitMatrix rows = BitMatrix::identity(n);
    for (std::uint32_t k = 0; k < gates.size(); ++k) {
      const PlacedGate& g = gates[k];
      const ElementaryInfo& info = elementary_info(g.gate);
      std::uint32_t wire = kNone;
      if (g.gate == Elementary::CX) {
        rows.add_row(checked_index(n, g.b), checked_index(n, g.a));
        if (!flips) wire = g.b;
      } else {
        check(info.qubits == 1 && info.diagonal != kNotDiagonal, "a circuit of cx and phase gates");
        checked_index(n, g.a);
        if (flips && (g.gate == Elementary::T || g.gate == Elementary::Tdg)) wire = g.a;
      }
      if (wire == kNone || count_bits(rows.row(wire), words) < 2) continue;
      const auto id = static_cast<std::uint32_t>(out.visits.size());
      out.parities.insert(out.parities.end(), rows.row(wire), rows.row(wire) + words);
      if (seen.insert(id).second) {
        out.visits.push_back({k, wire, flips});
      } else {
        out.parities.resize(out.parities.size() - words);
      }
    }
  }
  return out;
}

// The index of the pair i < k among the n (n - 1) / 2 pairs.
std::size_t pair_index(std::size_t n, std::size_t i, std::size_t k) {
  return i * n - i * (i + 1) / 2 + (k - i - 1);
}

// Gaussian elimination on rows of `pair_words` words of pairs, then
// `use_words` words naming the visits combined.
class PairElimination {
 public:
  PairElimination(std::size_t pairs, std::size_t visits)
      : pair_words_(words_for(pairs)), width_(pair_words_ + words_for(visits)),
        pivot_(pairs, kNone) {}

  std::vector<std::uint64_t> row() const { return std::vector<std::uint64_t>(width_, 0); }
  std::uint64_t* pairs_of(std::vector<std::uint64_t>& r) const { return r.data(); }
  std::uint64_t* uses_of(std::vector<std::uint64_t>& r) const { return r.data() + pair_words_; }

  // Reduces `r` by the rows kept; keeps it when something is left.
  void add(std::vector<std::uint64_t> r) { reduce(r, true); }
  // Reduces `r` by the rows kept, leaving the pairs no row reaches.
  void reduce(std::vector<std::uint64_t>& r) { reduce(r, false); }

 private:
  void reduce(std::vector<std::uint64_t>& r, bool keep) {
    for (std::size_t w = 0; w < pair_words_; ++w) {
      while (true) {
        std::uint64_t word = r[w];
        // The lowest bit of this word with a row for it.
        std::uint32_t found = kNone;
        for (; word != 0; word &= word - 1) {
          const std::size_t p = w * 64 + static_cast<std::size_t>(std::countr_zero(word));
          if (pivot_[p] != kNone) {
            found = pivot_[p];
            break;
          }
          if (keep) {
            pivot_[p] = static_cast<std::uint32_t>(rows_.size() / width_);
            rows_.insert(rows_.end(), r.begin(), r.end());
            return;
          }
        }
        if (found == kNone) break;
        xor_words(r.data(), rows_.data() + std::size_t{found} * width_, width_);
      }
    }
  }

  std::size_t pair_words_;              // words of pairs per row
  std::size_t width_;                   // words per row
  std::vector<std::uint32_t> pivot_;    // per pair: the row whose lowest pair it is, or kNone
  std::vector<std::uint64_t> rows_;     // the rows kept
};

// The wires of a parity, in order.
void wires_of(const std::uint64_t* parity, std::size_t words, std::vector<std::size_t>& out) {
  out.clear();
  for_each_bit(parity, words, [&](std::size_t i) { out.push_back(i); });
}

// The visits whose graphs sum to the pairs `left` leaves of the cz gates:
// by elimination on the first visits (as many as kWork allows), then by
// turning single visits on or off wherever that leaves fewer pairs.
std::vector<bool> choose_visits(std::size_t n, const Visits& visits,
                                std::span<const std::pair<std::uint32_t, std::uint32_t>> cz,
                                std::vector<std::uint64_t>& left) {
  const std::size_t pairs = n * (n - 1) / 2, pair_words = words_for(pairs);
  std::vector<bool> used(visits.visits.size(), false);
  left.assign(pair_words, 0);
  for (const auto& [a, b] : cz) {
    check(a < b && b < n, "a cz names two wires in order");
    flip_bit(left.data(), pair_index(n, a, b));
  }
  std::vector<std::size_t> members;
  const auto parity = [&](std::size_t v) { return visits.parities.data() + v * visits.words; };
  std::size_t count = visits.visits.size();
  const auto work = [&](std::size_t c) {
    return std::uint64_t{c} * std::min(c, pairs) * (pair_words + words_for(c));
  };
  while (count > 0 && work(count) > kWork) count = count * 3 / 4;
  if (count > 0) {
    PairElimination elimination(pairs, count);
    for (std::size_t v = 0; v < count; ++v) {
      std::vector<std::uint64_t> r = elimination.row();
      wires_of(parity(v), visits.words, members);
      for (std::size_t x = 0; x < members.size(); ++x) {
        for (std::size_t y = x + 1; y < members.size(); ++y) {
          set_bit(elimination.pairs_of(r), pair_index(n, members[x], members[y]));
        }
      }
      set_bit(elimination.uses_of(r), v);
      elimination.add(std::move(r));
    }
    std::vector<std::uint64_t> target = elimination.row();
    std::copy(left.begin(), left.end(), target.begin());
    elimination.reduce(target);
    if (count_bits(target.data(), pair_words) < cz.size()) {
      std::copy(target.begin(), target.begin() + static_cast<std::ptrdiff_t>(pair_words), left.begin());
      for_each_bit(elimination.uses_of(target), words_for(count), [&](std::size_t v) { used[v] = true; });
    }
  }
  for (int pass = 0; pass < 3; ++pass) {
    bool changed = false;
    for (std::size_t v = 0; v < visits.visits.size(); ++v) {
      wires_of(parity(v), visits.words, members);
      std::size_t met = 0, all = 0;
      for (std::size_t x = 0; x < members.size(); ++x) {
        for (std::size_t y = x + 1; y < members.size(); ++y, ++all) {
          met += test_bit(left.data(), pair_index(n, members[x], members[y]));
        }
      }
      if (2 * met <= all) continue;
      for (std::size_t x = 0; x < members.size(); ++x) {
        for (std::size_t y = x + 1; y < members.size(); ++y) {
          flip_bit(left.data(), pair_index(n, members[x], members[y]));
        }
      }
      used[v] = !used[v];
      changed = true;
    }
    if (!changed) break;
  }
  return used;
}

}  // namespace

CzAbsorption absorb_cz(std::uint32_t wires, std::span<const PlacedGate> gates,
                       std::span<const std::pair<std::uint32_t, std::uint32_t>> cz) {
  CzAbsorption out;
  out.gates.assign(gates.begin(), gates.end());
  out.cz.assign(cz.begin(), cz.end());
  out.s_powers.assign(wires, 0);
  if (cz.empty()) return out;
  const std::size_t n = wires, pairs = n * (n - 1) / 2;
  const Visits visits = visits_of(wires, gates);
  std::vector<std::uint64_t> left;
  const std::vector<bool> used = choose_visits(n, visits, cz, left);
  if (count_bits(left.data(), words_for(pairs)) >= cz.size()) return out;

  // The visits used: an S-dagger at each (a T turned into a T-dagger, or a
  // T-dagger into a T, which is an S), and S powers on their wires to undo
  // the single-wire part.
  out.cz.clear();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = i + 1; k < n; ++k) {
      if (test_bit(left.data(), pair_index(n, i, k))) {
        out.cz.emplace_back(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(k));
      }
    }
  }
  std::vector<std::vector<PlacedGate>> after(gates.size());
  for (std::size_t v = 0; v < used.size(); ++v) {
    if (!used[v]) continue;
    const Visit& visit = visits.visits[v];
    const std::uint64_t* parity = visits.parities.data() + v * visits.words;
    // Adding 2 s (a.x) adds s to each wire's S power and the pairs' CZ
    // gates, so the start takes -s.
    int s = -1;
    if (visit.flip) {
      PlacedGate& g = out.gates[visit.at];
      s = g.gate == Elementary::T ? -1 : 1;
      g.gate = g.gate == Elementary::T ? Elementary::Tdg : Elementary::T;
    } else {
      after[visit.at].push_back({Elementary::Sdg, visit.wire, 0});
    }
    for_each_bit(parity, visits.words, [&](std::size_t i) {
      out.s_powers[i] = static_cast<std::uint8_t>((out.s_powers[i] + 4 - s) % 4);
    });
  }
  std::vector<PlacedGate> written;
  written.reserve(out.gates.size() + used.size());
  for (std::size_t k = 0; k < out.gates.size(); ++k) {
    written.push_back(out.gates[k]);
    written.insert(written.end(), after[k].begin(), after[k].end());
  }
  out.gates = std::move(written);
  return out;
}

}  // namespace kestrel
