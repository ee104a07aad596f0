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

// The elimination takes no new visit once its work (words read or written)
// passes this, or once its kept rows hold this many words.
constexpr std::uint64_t kWork = std::uint64_t{1} << 28;
constexpr std::uint64_t kKeptWords = std::uint64_t{1} << 22;

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

// Gaussian elimination over the pairs, rows kept with their lowest pair as
// pivot (so a kept row has no bit below it: it is stored, and reduces, from
// its pivot's word on). How each kept row was made is recorded as
// the earlier kept rows added to its visit (a bit each, triangular), not as a
// set of visits carried through every addition: that costs the rank, not the
// number of visits, and the visits a reduced row stands for are recovered at
// the end by one pass down the kept rows (those records hold no more words
// than the rows: row j's takes j / 64, and the rows' distinct pivots make
// them at least that long on the whole). Every word read or written is
// counted in `work`.
class PairElimination {
 public:
  // `hold`: the words the kept rows may reach (one row past it at most).
  PairElimination(std::size_t pairs, std::uint64_t hold)
      : words_(words_for(pairs)), pivot_(pairs, kNone), reached_(words_, 0) {
    rows_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(hold + words_, std::uint64_t{pairs} * words_)));
  }

  std::size_t rank() const { return visit_.size(); }
  std::uint64_t work() const { return work_; }
  std::uint64_t kept_words() const { return rows_.size(); }

  // Reduces the pairs `r` of `visit`; keeps the row when something is left.
  // Returns the pivot kept, or kNone.
  std::uint32_t add(std::vector<std::uint64_t>& r, std::uint32_t visit) {
    std::vector<std::uint64_t> made(words_for(rank() + 1), 0);
    const std::uint32_t p = reduce(r, made, true);
    if (p == kNone) return kNone;
    pivot_[p] = static_cast<std::uint32_t>(rank());
    set_bit(reached_.data(), p);
    start_.push_back(rows_.size());
    rows_.insert(rows_.end(), r.begin() + p / 64, r.end());
    work_ += words_ - p / 64 + made.size();
    made_.push_back(std::move(made));
    visit_.push_back(visit);
    return p;
  }

  // Reduces `r` by the rows kept, leaving the pairs no row reaches;
  // `made` (a bit per kept row) flips at each row added.
  void reduce(std::vector<std::uint64_t>& r, std::vector<std::uint64_t>& made) {
    made.resize(words_for(rank()), 0);
    reduce(r, made, false);
  }

  // The visits whose rows sum to the kept rows named in `made`.
  std::vector<std::uint32_t> visits_of(std::vector<std::uint64_t> made) const {
    std::vector<std::uint32_t> out;
    for (std::size_t j = rank(); j-- > 0;) {
      if (!test_bit(made.data(), j)) continue;
      out.push_back(visit_[j]);
      xor_words(made.data(), made_[j].data(), made_[j].size());
      work_ += made_[j].size();
    }
    return out;
  }

 private:
  // The lowest bit left without a row when `keep` (the row is then kept
  // with it as pivot, by the caller), else kNone once nothing reachable is
  // left.
  std::uint32_t reduce(std::vector<std::uint64_t>& r, std::vector<std::uint64_t>& made, bool keep) {
    for (std::size_t w = 0; w < words_; ++w) {
      ++work_;
      while (r[w] != 0) {
        const std::uint64_t reached = r[w] & reached_[w], free = r[w] & ~reached_[w];
        if (keep && free != 0 && (reached == 0 || std::countr_zero(free) < std::countr_zero(reached))) {
          return static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(free)));
        }
        if (reached == 0) break;
        const std::uint32_t row = pivot_[w * 64 + static_cast<std::size_t>(std::countr_zero(reached))];
        xor_words(r.data() + w, rows_.data() + start_[row], words_ - w);
        work_ += words_ - w;
        flip_bit(made.data(), row);
      }
    }
    return kNone;
  }

  std::size_t words_;                            // words of pairs per row
  std::vector<std::uint32_t> pivot_;             // per pair: the kept row whose lowest pair it is, or kNone
  std::vector<std::uint64_t> reached_;           // a bit per pair: it has a kept row
  std::vector<std::uint64_t> rows_;              // the kept rows, each from its pivot's word on
  std::vector<std::size_t> start_;               // per kept row: where it starts in `rows_`
  std::vector<std::vector<std::uint64_t>> made_; // per kept row: the earlier kept rows added to its visit
  std::vector<std::uint32_t> visit_;             // per kept row: its visit
  mutable std::uint64_t work_ = 0;               // words read or written
};

// The complete graph of a parity, as runs of pairs: the pairs (x, y), y > x,
// of a wire x of the parity are its bits above x, placed where x's pairs
// start. With the parity shifted down by one (bit y - 1 for wire y), wire
// x's pairs (x, y) sit at pair_index(n, x, x + 1) - x + (y - 1), a shift
// that is never negative, so each word of the shifted parity lands whole at
// one offset.
class GraphOf {
 public:
  GraphOf(std::size_t n, const std::uint64_t* parity, std::size_t words) : n_(n), shifted_(words) {
    for (std::size_t k = 0; k < words; ++k) {
      shifted_[k] = (parity[k] >> 1) | (k + 1 < words ? parity[k + 1] << 63 : 0);
      wires_ += count_ones(parity[k]);
    }
    for_each_bit(parity, words, [&](std::size_t x) { members_.push_back(x); });
  }

  std::size_t pairs() const { return wires_ * (wires_ - (wires_ > 0)) / 2; }

  // f(at, m) for each run: bit i of m is the pair at index at + i.
  template <typename F>
  void for_each_run(F&& f) const {
    for (const std::size_t x : members_) {
      if (x + 1 >= n_) continue;
      const std::size_t start = pair_index(n_, x, x + 1) - x;
      for (std::size_t k = x / 64; k < shifted_.size(); ++k) {
        std::uint64_t m = shifted_[k];
        if (k == x / 64) m &= ~std::uint64_t{0} << (x % 64);
        if (m != 0) f(start + 64 * k, m);
      }
    }
  }

  // Flips the graph's pairs in `r` (`size` words).
  void flip_in(std::uint64_t* r, std::size_t size) const {
    for_each_run([&](std::size_t at, std::uint64_t m) {
      const std::size_t w = at / 64, s = at % 64;
      r[w] ^= m << s;
      if (s != 0 && (m >> (64 - s)) != 0) r[checked_index(size, w + 1)] ^= m >> (64 - s);
    });
  }

  // The graph's pairs set in `r` (`size` words).
  std::size_t met_in(const std::uint64_t* r, std::size_t size) const {
    std::size_t met = 0;
    for_each_run([&](std::size_t at, std::uint64_t m) {
      const std::size_t w = at / 64, s = at % 64;
      std::uint64_t bits = r[w] >> s;
      if (s != 0 && w + 1 < size) bits |= r[w + 1] << (64 - s);
      met += count_ones(bits & m);
    });
    return met;
  }

 private:
  std::size_t n_;                       // wires
  std::size_t wires_ = 0;               // wires of the parity
  std::vector<std::uint64_t> shifted_;  // the parity, bit y - 1 for wire y
  std::vector<std::size_t> members_;    // the parity's wires, in order
};

// The visits whose graphs sum to the pairs `left` leaves of the cz gates:
// by elimination on the visits in order (while kWork and kKeptWords allow,
// stopping once the cz gates are reached), then by turning single visits on
// or off wherever that leaves fewer pairs; either stops at the deadline.
std::vector<bool> choose_visits(std::size_t n, const Visits& visits,
                                std::span<const std::pair<std::uint32_t, std::uint32_t>> cz,
                                std::vector<std::uint64_t>& left, const Deadline& deadline) {
  const auto late = [&](std::size_t v) { return v % 64 == 63 && deadline.passed(); };
  const std::size_t pairs = n * (n - 1) / 2, pair_words = words_for(pairs);
  std::vector<bool> used(visits.visits.size(), false);
  left.assign(pair_words, 0);
  for (const auto& [a, b] : cz) {
    check(a < b && b < n, "a cz names two wires in order");
    flip_bit(left.data(), pair_index(n, a, b));
  }
  const auto parity = [&](std::size_t v) { return visits.parities.data() + v * visits.words; };
  // The target is kept reduced as rows arrive: only a new pivot it holds
  // needs it reduced again, and once nothing is left the search stops.
  PairElimination elimination(pairs, kKeptWords);
  std::vector<std::uint64_t> target = left, made, r(pair_words);
  for (std::size_t v = 0; v < visits.visits.size() && elimination.work() < kWork &&
                          elimination.kept_words() < kKeptWords;
       ++v) {
    if (late(v)) break;
    std::fill(r.begin(), r.end(), 0);
    GraphOf(n, parity(v), visits.words).flip_in(r.data(), pair_words);
    const std::uint32_t p = elimination.add(r, static_cast<std::uint32_t>(v));
    if (p == kNone || !test_bit(target.data(), p)) continue;
    elimination.reduce(target, made);
    if (zero_words(target.data(), pair_words)) break;
  }
  elimination.reduce(target, made);
  if (count_bits(target.data(), pair_words) < cz.size()) {
    left = target;
    for (const std::uint32_t v : elimination.visits_of(made)) used[v] = !used[v];
  }
  for (int pass = 0; pass < 3 && !zero_words(left.data(), pair_words); ++pass) {
    bool changed = false;
    for (std::size_t v = 0; v < visits.visits.size(); ++v) {
      if (late(v)) return used;
      const GraphOf graph(n, parity(v), visits.words);
      if (2 * graph.met_in(left.data(), pair_words) <= graph.pairs()) continue;
      graph.flip_in(left.data(), pair_words);
      used[v] = !used[v];
      changed = true;
    }
    if (!changed) break;
  }
  return used;
}

}  // namespace

CzAbsorption absorb_cz(std::uint32_t wires, std::span<const PlacedGate> gates,
                       std::span<const std::pair<std::uint32_t, std::uint32_t>> cz,
                       const Deadline& deadline) {
  CzAbsorption out;
  out.gates.assign(gates.begin(), gates.end());
  out.cz.assign(cz.begin(), cz.end());
  out.s_powers.assign(wires, 0);
  if (cz.empty()) return out;
  const std::size_t n = wires, pairs = n * (n - 1) / 2;
  const Visits visits = visits_of(wires, gates);
  std::vector<std::uint64_t> left;
  const std::vector<bool> used = choose_visits(n, visits, cz, left, deadline);
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
