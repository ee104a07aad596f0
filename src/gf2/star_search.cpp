// The star search for a parity network: every wire but one target keeps
// its input value while the target walks through its terms in Gray-code
// order and back (parity_network_terms.h).
#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/parity_network_terms.h"

namespace kestrel {
namespace network_detail {
namespace {

// How many sets ahead in Gray-code order a walk looks for the nearest.
constexpr std::size_t kWindow = 64;
// How many of the wires between two sets a walk tries, for one that lands
// on a set still to visit.
constexpr std::size_t kFlipsTried = 16;

// The walks of one target at a time through its sets (each term's wires
// but the target), with what they share: the sets in Gray-code order, by
// hash (the xor of a random key per wire), and under the hash of each set
// less one of its wires, so that the sets one flip away from where the
// walk stands are found at once.
class TargetWalks {
 public:
  // `position` ranks the wires, the most significant (in most terms) first.
  TargetWalks(const Terms& terms, std::vector<std::uint32_t> position)
      : terms_(terms), n_(terms.qubits), words_(terms.words), position_(std::move(position)),
        current_(words_), keys_(n_) {
    for (std::uint32_t q = 0; q < n_; ++q) {
      std::uint64_t z = 0x9e3779b97f4a7c15ULL * (q + 1);  // splitmix64
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      keys_[q] = z ^ (z >> 31);
    }
  }

  // The shorter of the two walks of target t through the terms of `group`
  // (k of them), appended to `gates`; false once `deadline` has passed.
  bool write(std::uint32_t t, const std::uint32_t* group, std::size_t k, std::vector<PlacedGate>& gates,
             const Deadline& deadline) {
    t_ = t;
    group_ = group;
    k_ = k;
    read_sets();
    index_sets();
    walked_[0].clear();
    walked_[1].clear();
    if (!walk(false, walked_[0], deadline) || !walk(true, walked_[1], deadline)) return false;
    const std::vector<PlacedGate>& shorter = cx_count(walked_[1]) < cx_count(walked_[0]) ? walked_[1] : walked_[0];
    gates.insert(gates.end(), shorter.begin(), shorter.end());
    return true;
  }

 private:
  struct Below {
    std::uint64_t hash;  // of the set less `wire`
    std::uint32_t wire;
    std::uint32_t set;
    auto operator<=>(const Below&) const = default;
  };

  const std::uint64_t* set_of(std::uint32_t s) const { return sets_.data() + std::size_t{s} * words_; }
  bool held(std::uint32_t q) const { return (current_[q / 64] >> (q % 64)) & 1; }

  // The sets, each with its Gray rank, and the order of their ranks.
  void read_sets() {
    sets_.assign(k_ * words_, 0);
    ranks_.assign(k_ * words_, 0);
    for (std::size_t s = 0; s < k_; ++s) {
      std::uint64_t* set = sets_.data() + s * words_;
      std::copy(terms_.column(group_[s]), terms_.column(group_[s]) + words_, set);
      set[t_ / 64] &= ~(std::uint64_t{1} << (t_ % 64));
      // Gray rank: bit i (from the top) is the parity of the set's first i + 1
      // wires in significance order, so ones run from the first wire of the
      // set to the second, from the third to the fourth, and so on.
      std::uint64_t* rank = ranks_.data() + s * words_;
      positions_.clear();
      for_each_bit(set, words_, [&](std::size_t q) { positions_.push_back(position_[q]); });
      std::sort(positions_.begin(), positions_.end());
      positions_.push_back(n_);
      for (std::size_t r = 0; r + 1 < positions_.size(); r += 2) {
        for (std::uint32_t i = positions_[r]; i < positions_[r + 1]; ++i) {
          rank[i / 64] |= std::uint64_t{1} << (63 - i % 64);
        }
      }
    }
    walk_order_.resize(k_);
    std::iota(walk_order_.begin(), walk_order_.end(), 0u);
    const auto rank_of = [&](std::uint32_t s) { return ranks_.data() + std::size_t{s} * words_; };
    std::stable_sort(walk_order_.begin(), walk_order_.end(), [&](std::uint32_t a, std::uint32_t b) {
      return std::lexicographical_compare(rank_of(a), rank_of(a) + words_, rank_of(b), rank_of(b) + words_);
    });
  }

  // The sets by hash, for finding the set a flip lands on in constant time,
  // and each set T under the hash of T less one of its wires q: the sets one
  // added wire away from a set are then found under its own hash.
  void index_sets() {
    slots_ = 4;
    while (slots_ < 2 * k_) slots_ *= 2;
    table_.assign(slots_, kNone);
    hashes_.resize(k_);
    set_weight_.resize(k_);
    for (std::uint32_t s = 0; s < k_; ++s) {
      std::uint64_t h = 0;
      for_each_bit(set_of(s), words_, [&](std::size_t q) { h ^= keys_[q]; });
      hashes_[s] = h;
      set_weight_[s] = 0;
      for (std::size_t w = 0; w < words_; ++w) set_weight_[s] += count_ones(set_of(s)[w]);
      std::size_t slot = h & (slots_ - 1);
      while (table_[slot] != kNone) slot = (slot + 1) & (slots_ - 1);
      table_[slot] = s;
    }
    below_.clear();
    for (std::uint32_t s = 0; s < k_; ++s) {
      for_each_bit(set_of(s), words_, [&](std::size_t q) {
        below_.push_back({hashes_[s] ^ keys_[q], static_cast<std::uint32_t>(q), s});
      });
    }
    std::sort(below_.begin(), below_.end());
  }

  // The set still to visit that the current set with wire q flipped (none:
  // as it is) equals, or kNone.
  std::uint32_t unvisited_after(std::uint32_t q) const {
    const std::uint64_t h = q == kNone ? current_hash_ : current_hash_ ^ keys_[q];
    for (std::size_t slot = h & (slots_ - 1); table_[slot] != kNone; slot = (slot + 1) & (slots_ - 1)) {
      const std::uint32_t s = table_[slot];
      if (hashes_[s] != h || visited_[s]) continue;
      bool equal = true;
      for (std::size_t w = 0; w < words_ && equal; ++w) {
        const std::uint64_t flipped = q != kNone && q / 64 == w ? std::uint64_t{1} << (q % 64) : 0;
        equal = set_of(s)[w] == (current_[w] ^ flipped);
      }
      if (equal) return s;
    }
    return kNone;
  }

  // A cx from wire q onto the target, and the term of the set it lands on,
  // if one is still to visit.
  void flip(std::uint32_t q, std::vector<PlacedGate>& gates) {
    current_[q / 64] ^= std::uint64_t{1} << (q % 64);
    current_hash_ ^= keys_[q];
    gates.push_back({Elementary::CX, q, t_});
    const std::uint32_t s = unvisited_after(kNone);
    if (s != kNone) {
      visited_[s] = true;
      --left_;
      write_phase(gates, terms_.coefficients[group_[s]], t_);
    }
  }

  // The lowest wire whose flip lands on a set still to visit, or kNone.
  std::uint32_t one_flip() const {
    std::uint32_t step = kNone;
    for (std::size_t w = 0; w < words_; ++w) {
      for (std::uint64_t word = current_[w]; word != 0; word &= word - 1) {
        const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
        if (q < step && unvisited_after(q) != kNone) step = q;
      }
    }
    const Below key{current_hash_, 0, 0};
    for (auto it = std::lower_bound(below_.begin(), below_.end(), key);
         it != below_.end() && it->hash == current_hash_; ++it) {
      if (it->wire < step && !visited_[it->set] && !held(it->wire) && unvisited_after(it->wire) == it->set) {
        step = it->wire;
      }
    }
    return step;
  }

  // The nearest of the next kWindow sets still to visit in Gray-code order,
  // from `cursor_` on. |s xor current| = |s| + |current| - 2 |s and
  // current|, the last counted over current's wires when it has few.
  std::uint32_t nearest_ahead() {
    while (visited_[walk_order_[cursor_]]) ++cursor_;
    std::uint32_t next = kNone;
    std::size_t nearest = 0;
    held_.clear();
    for (std::size_t w = 0; w < words_ && held_.size() <= words_; ++w) {
      for (std::uint64_t word = current_[w]; word != 0 && held_.size() <= words_; word &= word - 1) {
        held_.push_back(static_cast<std::uint32_t>(64 * w + std::countr_zero(word)));
      }
    }
    const bool few = held_.size() <= words_;
    for (std::size_t i = cursor_, seen = 0; i < k_ && seen < kWindow; ++i) {
      const std::uint32_t s = walk_order_[i];
      if (visited_[s]) continue;
      ++seen;
      std::size_t d = 0;
      if (few) {
        std::size_t both = 0;
        for (std::uint32_t q : held_) both += (set_of(s)[q / 64] >> (q % 64)) & 1;
        d = set_weight_[s] + held_.size() - 2 * both;
      } else {
        for (std::size_t w = 0; w < words_; ++w) d += count_ones(set_of(s)[w] ^ current_[w]);
      }
      if (next == kNone || d < nearest) {
        next = s;
        nearest = d;
      }
    }
    return next;
  }

  // Of the wires to flip on the way to set `next` (the first kFlipsTried),
  // one that lands on a set still to visit if any, else the first.
  std::uint32_t flip_towards(std::uint32_t next) const {
    std::uint32_t chosen = kNone;
    std::size_t tried = 0;
    for (std::size_t w = 0; w < words_ && tried < kFlipsTried; ++w) {
      for (std::uint64_t diff = set_of(next)[w] ^ current_[w]; diff != 0 && tried < kFlipsTried;
           diff &= diff - 1) {
        const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(diff));
        if (chosen == kNone) chosen = q;
        ++tried;
        if (unvisited_after(q) != kNone) {
          chosen = q;
          tried = kFlipsTried;
        }
      }
    }
    return chosen;
  }

  // Walks the target through its sets and back: to a set one flip away
  // whenever there is one (with `one_flip_first`), else towards the nearest
  // in the window. False once `deadline` has passed (read every 256 moves).
  bool walk(bool one_flip_first, std::vector<PlacedGate>& gates, const Deadline& deadline) {
    visited_.assign(k_, false);
    std::fill(current_.begin(), current_.end(), 0);
    current_hash_ = 0;
    cursor_ = 0;
    left_ = k_;
    for (std::size_t sets = 0; left_ > 0; ++sets) {
      if (sets % 256 == 255 && deadline.passed()) return false;
      const std::uint32_t step = one_flip_first ? one_flip() : kNone;
      if (step != kNone) {
        flip(step, gates);
        continue;
      }
      const std::uint32_t next = nearest_ahead();
      while (!visited_[next]) flip(flip_towards(next), gates);
    }
    for_each_bit(current_.data(), words_, [&](std::size_t q) {
      gates.push_back({Elementary::CX, static_cast<std::uint32_t>(q), t_});
    });
    return true;
  }

  const Terms& terms_;
  std::uint32_t n_;
  std::size_t words_;
  std::vector<std::uint32_t> position_;    // per wire: its rank by significance
  std::vector<std::uint64_t> current_;     // the set the target holds now
  std::vector<std::uint64_t> keys_;        // per wire: its random hash key
  std::uint64_t current_hash_ = 0;
  // The target at hand and its sets.
  std::uint32_t t_ = 0;
  const std::uint32_t* group_ = nullptr;   // its terms
  std::size_t k_ = 0;
  std::vector<std::uint64_t> sets_, ranks_, hashes_;
  std::vector<std::uint32_t> walk_order_, table_, set_weight_, positions_, held_;
  std::size_t slots_ = 0;
  std::vector<Below> below_;
  // The walk at hand.
  std::vector<bool> visited_;
  std::size_t cursor_ = 0, left_ = 0;
  std::vector<PlacedGate> walked_[2];
};

}  // namespace

// The star search: every wire but one target keeps its input value, and each
// target visits its terms one after the other. A term goes to the wire of
// its parity that the most terms include; a term a with target t is then the
// set a \ {t} of the other wires, and holding the target at t + (the sum of a
// set) costs one cx per wire the set gains or loses from the last one. So
// each target walks from the empty set through its sets and back, and the
// network is the sum of these walks, with the wires at their inputs between
// them: no linear map is left to undo. A walk goes to a set one flip away
// when there is one (found by hash), else to the nearest of the next 64 sets
// in the order of the reflected binary Gray code (the wires in the most terms
// as the most significant bits), flipping first a wire that lands on another
// set still to visit; a walk that always takes the nearest of the 64 is
// tried as well, and each target keeps the shorter of its two walks.
OpenParityNetwork star_search(const Terms& terms) { return *star_search(terms, Deadline()); }

std::optional<OpenParityNetwork> star_search(const Terms& terms, const Deadline& deadline) {
  const std::uint32_t n = terms.qubits;
  const std::size_t m = terms.size(), words = terms.words;
  OpenParityNetwork out{{}, BitMatrix::identity(n)};
  std::vector<std::size_t> frequency(n, 0);
  for (std::size_t p = 0; p < m; ++p) {
    for_each_bit(terms.column(p), words, [&](std::size_t q) { ++frequency[q]; });
  }
  // Each term's target; a term of one wire is written on it at once.
  std::vector<std::uint32_t> target(m, kNone), per_target(n + 1, 0);
  for (std::size_t p = 0; p < m; ++p) {
    std::uint32_t best = kNone, weight = 0;
    for_each_bit(terms.column(p), words, [&](std::size_t bit) {
      const auto q = static_cast<std::uint32_t>(bit);
      ++weight;
      if (best == kNone || frequency[q] > frequency[best]) best = q;
    });
    if (weight == 1) {
      write_phase(out.gates, terms.coefficients[p], best);
    } else {
      target[p] = best;
      ++per_target[best + 1];
    }
  }
  for (std::uint32_t t = 0; t < n; ++t) per_target[t + 1] += per_target[t];
  std::vector<std::uint32_t> by_target(per_target[n]);
  {
    std::vector<std::uint32_t> at(per_target.begin(), per_target.end() - 1);
    for (std::size_t p = 0; p < m; ++p) {
      if (target[p] != kNone) by_target[at[target[p]]++] = static_cast<std::uint32_t>(p);
    }
  }
  // The wires from the most significant: those in the most terms first.
  std::vector<std::uint32_t> significance(n);
  std::iota(significance.begin(), significance.end(), 0u);
  std::stable_sort(significance.begin(), significance.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return frequency[a] > frequency[b]; });
  std::vector<std::uint32_t> position(n);
  for (std::uint32_t i = 0; i < n; ++i) position[significance[i]] = i;
  TargetWalks walks(terms, std::move(position));
  for (std::uint32_t t = 0; t < n; ++t) {
    const std::size_t k = per_target[t + 1] - per_target[t];
    if (k == 0) continue;
    if (deadline.passed()) return std::nullopt;
    if (!walks.write(t, by_target.data() + per_target[t], k, out.gates, deadline)) return std::nullopt;
  }
  return out;
}

}  // namespace network_detail
}  // namespace kestrel
