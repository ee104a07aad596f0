// The reduction's search for the best kernel move (src/gf2/reduction.h):
// a move as a search finds it, linear fingerprints of columns, and the
// search over the free slots' kernel vectors (KernelSearch). Included by the
// reduction's passes only.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/reduction_echelon.h"

namespace kestrel {
namespace reduction_detail {

// A move found by a search: the gain (columns fewer after it), the kernel
// vector's weight, z's weight, the free slot whose kernel vector it is and z.
struct Move {
  long gain = 0;
  std::size_t weight = 0;
  std::size_t z_weight = 0;
  std::uint32_t slot = kNone;
  std::vector<std::uint64_t> z;
};

// Linear fingerprints of columns: f(a) is the xor of a fixed pseudo-random
// word per variable of a, so f(a + b) = f(a) ^ f(b), and the fingerprint of
// the z two columns differ by costs one xor.
class Fingerprints {
 public:
  explicit Fingerprints(std::uint32_t n) : words_(n) {
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (std::uint64_t& w : words_) {
      state += 0x9e3779b97f4a7c15ULL;
      std::uint64_t x = state;
      x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
      x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
      w = x ^ (x >> 31);
    }
  }
  std::uint64_t of(const std::uint64_t* value, std::size_t words) const {
    std::uint64_t f = 0;
    for_each_bit(value, words, [&](std::size_t v) { f ^= words_[v]; });
    return f;
  }

 private:
  std::vector<std::uint64_t> words_;
};

// The search for the best kernel move over the free slots' kernel vectors.
//
// A candidate z is scored for every kernel vector at once: the pairs of
// columns that differ by z (the zero column counted in, so that z itself
// pairs with it) each add the vector of kernel bits that split them (one
// column moved, the other not) to bit-sliced counters. The candidates are a
// pool of the z values most pairs differ by, found by counting pairs now
// and then (a sample of them when there are many), each with its list of
// pairs kept exact from move to move; they are tried in order of their
// pair counts while twice the count can still beat the best gain. When the
// pool gives nothing, the pairs of columns are tried in slot order.
class KernelSearch {
 public:
  static constexpr std::size_t kPool = 4096;         // most candidates kept
  static constexpr std::size_t kPairCap = 1u << 21;  // most pairs counted to find candidates

  KernelSearch(Echelon& echelon, Budget& budget, bool light_z = false)
      : e_(echelon),
        budget_(budget),
        light_z_(light_z),
        fingerprints_(echelon.variables()),
        zero_row_(static_cast<std::uint32_t>(echelon.slots())),
        print_(echelon.slots(), 0),
        live_now_(echelon.slots(), 0),
        pool_index_(1, 0),  // sized when the pool is made (index_pool)
        z_(echelon.words()) {}

  // The best move found, or one of no gain when none gains or the deadline
  // passed during the search (cut()).
  Move best() {
    Move best;
    sync();
    if (cut_) return best;
    build_rows();
    if (!splittable()) return best;
    bool refreshed = false;
    if (pool_.empty()) {
      refresh();
      refreshed = true;
    }
    try_pool(best);
    if (!refreshed && (best.gain <= 0 || 2 * best.gain < refresh_gain_)) {
      refresh();
      refreshed = true;
      best = Move{};
      try_pool(best);
    }
    if (cut_) return Move{};
    if (refreshed) refresh_gain_ = best.gain;
    if (best.gain <= 0) try_pairs(best);
    return best;
  }

  bool cut() const { return cut_; }

  // The kernel vector of the move's slot.
  void kernel_vector(const Move& move, std::vector<std::uint64_t>& y) {
    y.assign(e_.slot_words(), 0);
    e_.kernel_vector(move.slot, y.data());
  }

 private:
  using Pair = std::pair<std::uint32_t, std::uint32_t>;
  struct Candidate {
    std::vector<std::uint64_t> z;
    std::vector<Pair> pairs;  // the pairs of slots differing by z, (slot, zero_row_) for z itself
  };

  static constexpr std::size_t kPairTries = 64;      // z values tried pair by pair

  const std::uint64_t* row(std::size_t s) const { return &rows_[s * kw_]; }

  // Brings the slots' fingerprints up to date and the candidates' pairs
  // with them: pairs with a changed slot go, and each changed live slot is
  // paired anew with every live slot.
  void sync() {
    live_.clear();
    std::vector<std::uint32_t> changed;
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      const bool live = e_.state(s) != Echelon::kDead;
      const std::uint64_t print = live ? fingerprints_.of(e_.value(s), e_.words()) : 0;
      if (live) live_.push_back(static_cast<std::uint32_t>(s));
      if (live != (live_now_[s] != 0) || print != print_[s]) changed.push_back(static_cast<std::uint32_t>(s));
      live_now_[s] = live;
      print_[s] = print;
    }
    if (pool_.empty() || changed.empty()) return;
    budget_.work += changed.size() * live_.size();
    std::vector<std::uint8_t> is_changed(e_.slots() + 1, 0);
    for (const std::uint32_t s : changed) is_changed[s] = 1;
    for (Candidate& c : pool_) {
      std::erase_if(c.pairs, [&](const Pair& p) { return is_changed[p.first] || is_changed[p.second]; });
    }
    for (std::size_t c = 0; c < changed.size(); ++c) {
      const std::uint32_t s = changed[c];
      if (c % 64 == 63 && stop()) return;
      if (!live_now_[s]) continue;
      pair_with_pool(s, zero_row_);
      const std::uint64_t print = print_[s];
      for (const std::uint32_t k : live_) {
        if (in_pool(print ^ print_[k]) && k != s && (!is_changed[k] || k > s)) pair_with_pool(s, k);
      }
    }
  }

  // Adds the pair (s, k) to the candidate whose z the two slots differ by
  // (k == zero_row_: the slot's own column), if there is one.
  inline void pair_with_pool(std::uint32_t s, std::uint32_t k) {
    const std::uint64_t print = k == zero_row_ ? print_[s] : print_[s] ^ print_[k];
    if (!in_pool(print)) return;
    const std::uint32_t c = pool_index_.find(&print);
    if (c == kNone) return;
    const std::uint64_t* z = pool_[c].z.data();
    for (std::size_t w = 0; w < e_.words(); ++w) {
      if ((e_.value(s)[w] ^ (k == zero_row_ ? 0 : e_.value(k)[w])) != z[w]) return;
    }
    pool_[c].pairs.push_back(k == zero_row_ || s < k ? Pair{s, k} : Pair{k, s});
  }

  // Whether the deadline passed; then the candidates go (their pairs may be
  // half updated) and the search gives no move from now on.
  bool stop() {
    if (!budget_.stop()) return false;
    cut_ = true;
    pool_.clear();
    return true;
  }
  // The same at the deadline alone, for a step whose work is counted
  // before it starts (the cap and the effort then cut it nowhere).
  bool late() {
    if (!budget_.deadline.passed()) return false;
    cut_ = true;
    pool_.clear();
    return true;
  }

  // Whether a candidate may have this fingerprint (a bit per bucket of
  // fingerprints, set for the candidates').
  bool in_pool(std::uint64_t print) const {
    const std::uint64_t b = (print * 0x9e3779b97f4a7c15ULL) >> 48;
    return (pool_filter_[b / 64] >> (b % 64)) & 1;
  }

  // The kernel vectors' bits per slot: rows_[s] bit q is y_(free_[q]) at
  // slot s; the row of the virtual zero column holds each vector's parity.
  void build_rows() {
    free_.clear();
    for (const std::uint32_t s : live_) {
      if (e_.state(s) == Echelon::kFree) free_.push_back(s);
    }
    kw_ = words_for(free_.size());
    rows_.assign((e_.slots() + 1) * kw_, 0);
    weights_.assign(free_.size(), 0);
    std::vector<std::uint64_t> y(e_.slot_words());
    budget_.work += rows_.size() + free_.size() * e_.slot_words() * 8;
    for (std::size_t q = 0; q < free_.size(); ++q) {
      e_.kernel_vector(free_[q], y.data());
      std::size_t weight = 0;
      for_each_bit(y.data(), y.size(), [&](std::size_t s) {
        flip_bit(&rows_[s * kw_], q);
        ++weight;
      });
      weights_[q] = weight;
      if (weight % 2 == 1) flip_bit(&rows_[zero_row_ * kw_], q);
    }
  }

  // Whether some kernel vector splits some pair: a live row differs from
  // the zero column's (then it differs from another live row or from the
  // zero column itself).
  bool splittable() const {
    if (free_.empty()) return false;
    for (const std::uint32_t s : live_) {
      if (!equal_words(row(s), row(zero_row_), kw_)) return true;
    }
    return false;
  }

  // Finds the z values most pairs differ by: counts the fingerprints of the
  // pairs (i, k > i) and (i, zero column), of every row i or of every
  // step-th when there are too many, sorted by bucket; keeps the kPool most
  // counted, then lists their pairs over all pairs.
  void refresh() {
    const std::size_t m = live_.size();
    std::vector<std::uint64_t> key(m);
    for (std::size_t i = 0; i < m; ++i) key[i] = print_[live_[i]];
    std::size_t step = 1;
    while (m * (m + 1) / (2 * step) > kPairCap) ++step;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < m; i += step) pairs += m - i;
    budget_.work += 4 * pairs + m * m / 2;
    std::vector<std::uint64_t> sorted;
    sorted.reserve(pairs);
    for (std::size_t i = 0; i < m; i += step) {
      if (i % 64 == 63 && stop()) return;
      const std::uint64_t a = key[i];
      sorted.push_back(a);
      for (std::size_t k = i + 1; k < m; ++k) sorted.push_back(a ^ key[k]);
    }
    std::vector<Run> runs = repeated_prints(sorted);
    if (cut_) return;
    const auto more = [](const Run& x, const Run& y) {
      return x.first != y.first ? x.first > y.first : x.second < y.second;
    };
    if (runs.size() > kPool) {
      std::nth_element(runs.begin(), runs.begin() + kPool, runs.end(), more);
      runs.resize(kPool);
    }
    std::sort(runs.begin(), runs.end(), more);
    index_pool(runs);
    pair_pool(key);
  }

  // A fingerprint and how many times it came: (count, fingerprint).
  using Run = std::pair<std::uint32_t, std::uint64_t>;

  // Sorts `from` (size values) into `to` by `bits` bits of a mix of each
  // value, past its top `skip` bits; `start` gets each bucket's first index
  // (2^bits + 1 entries, at most 2^kSortBits + 1).
  static constexpr unsigned kSortBits = 11;
  static void counting_sort(const std::uint64_t* from, std::uint64_t* to, std::size_t size, unsigned skip,
                            unsigned bits, std::uint32_t* start) {
    const std::size_t buckets = std::size_t{1} << bits;
    const auto digit = [&](std::uint64_t k) {
      return ((k * 0x9e3779b97f4a7c15ULL) >> (64 - skip - bits)) & (buckets - 1);
    };
    std::fill(start, start + buckets + 1, 0);
    for (std::size_t i = 0; i < size; ++i) ++start[digit(from[i]) + 1];
    for (std::size_t d = 1; d <= buckets; ++d) start[d] += start[d - 1];
    std::uint32_t at[std::size_t{1} << kSortBits];
    std::copy(start, start + buckets, at);
    for (std::size_t i = 0; i < size; ++i) to[at[digit(from[i])]++] = from[i];
  }

  // The nonzero values of `sorted` that come at least twice, each with its
  // count: grouped by two rounds of counting sort on bits of a mix of them
  // (kSortBits bits, then as many as leave about four a bucket), the few in
  // each final bucket then sorted by insertion. Leaves `sorted` grouped.
  // Stops at the deadline (late()), read every 64 buckets: on wide tables
  // the pairs number millions.
  std::vector<Run> repeated_prints(std::vector<std::uint64_t>& sorted) {
    constexpr std::size_t kBuckets = std::size_t{1} << kSortBits;
    std::vector<std::uint64_t> spare(sorted.size());
    const unsigned inner_bits =
        std::clamp<unsigned>(std::bit_width(sorted.size() >> kSortBits), 3, kSortBits + 1) - 2;
    std::vector<std::uint32_t> outer(kBuckets + 1), inner(kBuckets + 1);
    counting_sort(sorted.data(), spare.data(), sorted.size(), 0, kSortBits, outer.data());
    std::vector<Run> runs;
    for (std::size_t d = 0; d < kBuckets; ++d) {
      if (d % 64 == 63 && late()) return {};
      std::uint64_t* part = &sorted[outer[d]];
      const std::size_t size = outer[d + 1] - outer[d];
      counting_sort(&spare[outer[d]], part, size, kSortBits, inner_bits, inner.data());
      for (std::size_t e = 0; e < (std::size_t{1} << inner_bits); ++e) {
        const std::size_t first = inner[e], last = inner[e + 1];
        for (std::size_t i = first + 1; i < last; ++i) {
          const std::uint64_t v = part[i];
          std::size_t j = i;
          for (; j > first && part[j - 1] > v; --j) part[j] = part[j - 1];
          part[j] = v;
        }
        for (std::size_t i = first; i < last;) {
          std::size_t j = i + 1;
          while (j < last && part[j] == part[i]) ++j;
          if (j - i >= 2 && part[i] != 0) runs.push_back({static_cast<std::uint32_t>(j - i), part[i]});
          i = j;
        }
      }
    }
    return runs;
  }

  // The pool anew: a candidate per run, in order, indexed and filtered by
  // its fingerprint.
  void index_pool(const std::vector<Run>& runs) {
    pool_.assign(runs.size(), Candidate{});
    pool_index_ = WordMap(1, std::max<std::size_t>(runs.size(), 1));
    pool_filter_.assign(std::size_t{1} << 10, 0);
    for (std::size_t c = 0; c < runs.size(); ++c) {
      pool_index_.at(&runs[c].second, static_cast<std::uint32_t>(c));
      const std::uint64_t b = (runs[c].second * 0x9e3779b97f4a7c15ULL) >> 48;
      pool_filter_[b / 64] |= std::uint64_t{1} << (b % 64);
    }
  }

  // The z of each candidate from its first pair, then every pair of the
  // live rows (fingerprints `key`) and the zero column that differ by it.
  void pair_pool(const std::vector<std::uint64_t>& key) {
    const std::size_t words = e_.words();
    const std::size_t m = live_.size();
    for (std::size_t i = 0; i < m; ++i) {
      if (i % 64 == 63 && stop()) return;
      for (std::size_t k = i; k < m; ++k) {
        const std::uint64_t f = k == i ? key[i] : key[i] ^ key[k];
        if (!in_pool(f)) continue;
        const std::uint32_t c = pool_index_.find(&f);
        if (c == kNone) continue;
        std::vector<std::uint64_t>& z = pool_[c].z;
        if (z.empty()) {
          z.resize(words);
          for (std::size_t w = 0; w < words; ++w) {
            z[w] = e_.value(live_[i])[w] ^ (k == i ? 0 : e_.value(live_[k])[w]);
          }
        }
        pair_with_pool(live_[i], k == i ? zero_row_ : live_[k]);
      }
    }
  }

  // Tries the candidates, most pairs first, while twice their count can
  // beat the best gain.
  void try_pool(Move& best) {
    std::vector<std::uint32_t> order(pool_.size());
    for (std::uint32_t c = 0; c < order.size(); ++c) order[c] = c;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
      return pool_[x].pairs.size() > pool_[y].pairs.size();
    });
    for (const std::uint32_t c : order) {
      if (2 * static_cast<long>(pool_[c].pairs.size()) < best.gain || pool_[c].pairs.empty()) break;
      score(pool_[c].z.data(), pool_[c].pairs, best);
    }
  }

  // Tries the z of the pairs of columns some kernel vector splits, in slot
  // order, until kPairTries values were tried.
  void try_pairs(Move& best) {
    const std::size_t words = e_.words();
    std::size_t tries = 0;
    std::vector<std::uint64_t> z(words);
    for (std::size_t i = 0; i < live_.size() && tries < kPairTries; ++i) {
      const std::uint32_t s = live_[i];
      if (!equal_words(row(s), row(zero_row_), kw_)) {
        try_z(e_.value(s), best);
        ++tries;
      }
      for (std::size_t k = i + 1; k < live_.size() && tries < kPairTries; ++k) {
        if (equal_words(row(s), row(live_[k]), kw_)) continue;
        for (std::size_t w = 0; w < words; ++w) z[w] = e_.value(s)[w] ^ e_.value(live_[k])[w];
        try_z(z.data(), best);
        ++tries;
      }
    }
  }

  // Scores z, finding its pairs by looking up each column plus z.
  void try_z(const std::uint64_t* z, Move& best) {
    const std::size_t words = e_.words();
    pairs_.clear();
    for (const std::uint32_t i : live_) {
      for (std::size_t w = 0; w < words; ++w) z_[w] = e_.value(i)[w] ^ z[w];
      const std::uint32_t k = e_.slot_of(z_.data());
      if (k != kNone && k > i) pairs_.push_back({i, k});
    }
    const std::uint32_t column = e_.slot_of(z);
    if (column != kNone) pairs_.push_back({column, zero_row_});
    score(z, pairs_, best);
  }

  // Scores z, the pairs differing by it given, for every kernel vector.
  void score(const std::uint64_t* z, const std::vector<Pair>& pairs, Move& best) {
    if (pairs.empty()) return;
    std::uint32_t column = kNone;
    std::size_t planes = 1;
    while ((std::size_t{1} << planes) <= pairs.size()) ++planes;
    budget_.work += pairs.size() * kw_ * 2 + planes * kw_;
    planes_.assign(planes * kw_, 0);
    for (const auto& [i, k] : pairs) {
      if (k == zero_row_) column = i;
      const std::uint64_t* a = row(i);
      const std::uint64_t* b = row(k);
      for (std::size_t w = 0; w < kw_; ++w) {
        std::uint64_t carry = a[w] ^ b[w];
        for (std::size_t p = 0; carry != 0 && p < planes; ++p) {
          const std::uint64_t next = planes_[p * kw_ + w] & carry;
          planes_[p * kw_ + w] ^= carry;
          carry = next;
        }
      }
    }
    // The kernel vectors splitting the most pairs: from the top plane down,
    // keep those with a 1 wherever some kept one has.
    most_.assign(kw_, ~std::uint64_t{0});
    if (free_.size() % 64 != 0) most_[kw_ - 1] = (std::uint64_t{1} << (free_.size() % 64)) - 1;
    long split = 0;
    for (std::size_t p = planes; p-- > 0;) {
      bool any = false;
      for (std::size_t w = 0; w < kw_; ++w) any |= (most_[w] & planes_[p * kw_ + w]) != 0;
      if (!any) continue;
      split |= long{1} << p;
      for (std::size_t w = 0; w < kw_; ++w) most_[w] &= planes_[p * kw_ + w];
    }
    if (split == 0) return;
    // One zero column left after the move goes too: the moved column equal
    // to z or, when |y| is even, the virtual zero column.
    const std::uint64_t* zero = row(zero_row_);
    const auto odd = [&](std::size_t w) { return column != kNone ? row(column)[w] ^ zero[w] : zero[w]; };
    bool one_zero = false;
    for (std::size_t w = 0; w < kw_; ++w) one_zero |= (most_[w] & ~odd(w)) != 0;
    if (one_zero) {
      for (std::size_t w = 0; w < kw_; ++w) most_[w] &= ~odd(w);
    }
    const long gain = 2 * split - 1 + (one_zero ? 1 : 0);
    if (gain < best.gain) return;
    // Among vectors of equal odd weight the lightest z: the move appends z,
    // and a narrower column needs fewer cx gates in the network
    // (gf2^6_mult: 227 two-qubit gates instead of 238 at the same T). With
    // `light_z`, at any equal weight: the moved columns become a_j + z.
    const std::size_t z_weight = count_bits(z, e_.words());
    budget_.work += e_.words();
    for_each_bit(most_.data(), kw_, [&](std::size_t q) {
      if (gain > best.gain || weights_[q] < best.weight ||
          (weights_[q] == best.weight && (light_z_ || weights_[q] % 2 == 1) && z_weight < best.z_weight)) {
        best.gain = gain;
        best.weight = weights_[q];
        best.z_weight = z_weight;
        best.slot = free_[q];
        best.z.assign(z, z + e_.words());
      }
    });
  }

  Echelon& e_;
  Budget& budget_;
  bool light_z_;                          // the lightest z among equal moves whatever |y|
  bool cut_ = false;                      // the budget ran out during a search
  Fingerprints fingerprints_;
  std::uint32_t zero_row_;                // the virtual zero column's slot number
  std::vector<std::uint64_t> print_;      // each slot's column's fingerprint (0 when dead)
  std::vector<std::uint8_t> live_now_;    // each slot's liveness at the last sync
  std::vector<std::uint32_t> live_;       // the live slots, ascending
  std::vector<std::uint32_t> free_;       // the free slots, ascending
  std::size_t kw_ = 0;                    // words per row of kernel bits
  std::vector<std::uint64_t> rows_;       // kernel bits per slot, then the zero row
  std::vector<std::size_t> weights_;      // each kernel vector's weight
  std::vector<Candidate> pool_;           // the candidates
  WordMap pool_index_;                    // a candidate's fingerprint -> its place in pool_
  std::vector<std::uint64_t> pool_filter_ = std::vector<std::uint64_t>(std::size_t{1} << 10, 0);  // see in_pool
  long refresh_gain_ = 0;                 // the best gain right after the last count
  std::vector<Pair> pairs_;               // scratch: pairs differing by a z
  std::vector<std::uint64_t> planes_;     // scratch: bit-sliced split counts
  std::vector<std::uint64_t> most_;       // scratch: the kernel vectors splitting most pairs
  std::vector<std::uint64_t> z_;          // scratch: a partner column
};

}  // namespace reduction_detail
}  // namespace kestrel
