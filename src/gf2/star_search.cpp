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
OpenParityNetwork star_search(const Terms& terms) {
  const std::uint32_t n = terms.qubits;
  const std::size_t m = terms.size(), words = terms.words;
  constexpr std::size_t kWindow = 64;
  OpenParityNetwork out{{}, BitMatrix::identity(n)};
  std::vector<std::size_t> frequency(n, 0);
  for (std::size_t p = 0; p < m; ++p) {
    const std::uint64_t* c = terms.column(p);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t word = c[w]; word != 0; word &= word - 1) {
        ++frequency[64 * w + std::countr_zero(word)];
      }
    }
  }
  // Each term's target; a term of one wire is written on it at once.
  std::vector<std::uint32_t> target(m, kNone), per_target(n + 1, 0);
  for (std::size_t p = 0; p < m; ++p) {
    const std::uint64_t* c = terms.column(p);
    std::uint32_t best = kNone, weight = 0;
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t word = c[w]; word != 0; word &= word - 1) {
        const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
        ++weight;
        if (best == kNone || frequency[q] > frequency[best]) best = q;
      }
    }
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
  std::vector<std::uint32_t> position(n), positions;
  for (std::uint32_t i = 0; i < n; ++i) position[significance[i]] = i;

  std::vector<std::uint64_t> sets, ranks, current(words), hashes, keys(n);
  std::vector<std::uint32_t> walk_order, table;
  std::vector<bool> visited;
  std::vector<PlacedGate> walked[2];
  struct Below {
    std::uint64_t hash;  // of the set less `wire`
    std::uint32_t wire;
    std::uint32_t set;
    auto operator<=>(const Below&) const = default;
  };
  std::vector<Below> below;
  std::vector<std::uint32_t> held, set_weight;  // wires of the current set; weight per set
  const auto bit_of = [](const std::vector<std::uint64_t>& bits, std::uint32_t q) {
    return (bits[q / 64] >> (q % 64)) & 1;
  };
  for (std::uint32_t q = 0; q < n; ++q) {
    std::uint64_t z = 0x9e3779b97f4a7c15ULL * (q + 1);  // splitmix64
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    keys[q] = z ^ (z >> 31);
  }
  for (std::uint32_t t = 0; t < n; ++t) {
    const std::size_t k = per_target[t + 1] - per_target[t];
    if (k == 0) continue;
    const std::uint32_t* group = by_target.data() + per_target[t];
    sets.assign(k * words, 0);
    ranks.assign(k * words, 0);
    for (std::size_t s = 0; s < k; ++s) {
      std::uint64_t* set = sets.data() + s * words;
      std::copy(terms.column(group[s]), terms.column(group[s]) + words, set);
      set[t / 64] &= ~(std::uint64_t{1} << (t % 64));
      // Gray rank: bit i (from the top) is the parity of the set's first i + 1
      // wires in significance order, so ones run from the first wire of the
      // set to the second, from the third to the fourth, and so on.
      std::uint64_t* rank = ranks.data() + s * words;
      positions.clear();
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = set[w]; word != 0; word &= word - 1) {
          positions.push_back(position[64 * w + std::countr_zero(word)]);
        }
      }
      std::sort(positions.begin(), positions.end());
      positions.push_back(n);
      for (std::size_t r = 0; r + 1 < positions.size(); r += 2) {
        for (std::uint32_t i = positions[r]; i < positions[r + 1]; ++i) {
          rank[i / 64] |= std::uint64_t{1} << (63 - i % 64);
        }
      }
    }
    const auto set_of = [&](std::uint32_t s) { return sets.data() + std::size_t{s} * words; };
    const auto less_words = [&](const std::uint64_t* a, const std::uint64_t* b) {
      return std::lexicographical_compare(a, a + words, b, b + words);
    };
    walk_order.resize(k);
    std::iota(walk_order.begin(), walk_order.end(), 0u);
    std::stable_sort(walk_order.begin(), walk_order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return less_words(ranks.data() + std::size_t{a} * words, ranks.data() + std::size_t{b} * words);
    });
    // The sets by hash (the xor of a random key per wire), for finding the
    // set a flip lands on in constant time.
    std::size_t slots = 4;
    while (slots < 2 * k) slots *= 2;
    table.assign(slots, kNone);
    hashes.resize(k);
    set_weight.resize(k);
    for (std::uint32_t s = 0; s < k; ++s) {
      std::uint64_t h = 0;
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = set_of(s)[w]; word != 0; word &= word - 1) {
          h ^= keys[64 * w + std::countr_zero(word)];
        }
      }
      hashes[s] = h;
      set_weight[s] = 0;
      for (std::size_t w = 0; w < words; ++w) set_weight[s] += count_ones(set_of(s)[w]);
      std::size_t slot = h & (slots - 1);
      while (table[slot] != kNone) slot = (slot + 1) & (slots - 1);
      table[slot] = s;
    }
    // Each set T under the hash of T less one of its wires q: the sets one
    // added wire away from a set are then found under its own hash.
    below.clear();
    for (std::uint32_t s = 0; s < k; ++s) {
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = set_of(s)[w]; word != 0; word &= word - 1) {
          const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
          below.push_back({hashes[s] ^ keys[q], q, s});
        }
      }
    }
    std::sort(below.begin(), below.end());
    // Walks the target through its sets and back; the walk that lands on a
    // set one flip away whenever there is one, and the one that keeps to
    // the window, are both tried and the shorter kept.
    const auto walk = [&](bool one_flip_first, std::vector<PlacedGate>& gates) {
      visited.assign(k, false);
      std::fill(current.begin(), current.end(), 0);
      std::uint64_t current_hash = 0;
      // The set still to visit that `current` with wire q flipped (none: as it
      // is) equals, or kNone.
      const auto unvisited_after = [&](std::uint32_t q) -> std::uint32_t {
        const std::uint64_t h = q == kNone ? current_hash : current_hash ^ keys[q];
        for (std::size_t slot = h & (slots - 1); table[slot] != kNone; slot = (slot + 1) & (slots - 1)) {
          const std::uint32_t s = table[slot];
          if (hashes[s] != h || visited[s]) continue;
          bool equal = true;
          for (std::size_t w = 0; w < words && equal; ++w) {
            const std::uint64_t flipped = q != kNone && q / 64 == w ? std::uint64_t{1} << (q % 64) : 0;
            equal = set_of(s)[w] == (current[w] ^ flipped);
          }
          if (equal) return s;
        }
        return kNone;
      };
      std::size_t cursor = 0, left = k;
      const auto flip = [&](std::uint32_t q) {
        current[q / 64] ^= std::uint64_t{1} << (q % 64);
        current_hash ^= keys[q];
        gates.push_back({Elementary::CX, q, t});
        const std::uint32_t s = unvisited_after(kNone);
        if (s != kNone) {
          visited[s] = true;
          --left;
          write_phase(gates, terms.coefficients[group[s]], t);
        }
      };
      while (left > 0) {
        // A set one flip away if there is one, else the nearest in the window.
        std::uint32_t step = kNone;
        if (one_flip_first) {
          for (std::size_t w = 0; w < words; ++w) {
            for (std::uint64_t word = current[w]; word != 0; word &= word - 1) {
              const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
              if (q < step && unvisited_after(q) != kNone) step = q;
            }
          }
          const Below key{current_hash, 0, 0};
          for (auto it = std::lower_bound(below.begin(), below.end(), key);
               it != below.end() && it->hash == current_hash; ++it) {
            if (it->wire < step && !visited[it->set] && !bit_of(current, it->wire) &&
                unvisited_after(it->wire) == it->set) {
              step = it->wire;
            }
          }
        }
        if (step != kNone) {
          flip(step);
          continue;
        }
        while (visited[walk_order[cursor]]) ++cursor;
        std::uint32_t next = kNone;
        std::size_t nearest = 0;
        // |s xor current| = |s| + |current| - 2 |s and current|, the last
        // counted over current's wires when it has few.
        held.clear();
        for (std::size_t w = 0; w < words && held.size() <= words; ++w) {
          for (std::uint64_t word = current[w]; word != 0 && held.size() <= words; word &= word - 1) {
            held.push_back(static_cast<std::uint32_t>(64 * w + std::countr_zero(word)));
          }
        }
        const bool few = held.size() <= words;
        for (std::size_t i = cursor, seen = 0; i < k && seen < kWindow; ++i) {
          const std::uint32_t s = walk_order[i];
          if (visited[s]) continue;
          ++seen;
          std::size_t d = 0;
          if (few) {
            std::size_t both = 0;
            for (std::uint32_t q : held) both += (set_of(s)[q / 64] >> (q % 64)) & 1;
            d = set_weight[s] + held.size() - 2 * both;
          } else {
            for (std::size_t w = 0; w < words; ++w) d += count_ones(set_of(s)[w] ^ current[w]);
          }
          if (next == kNone || d < nearest) {
            next = s;
            nearest = d;
          }
        }
        while (!visited[next]) {
          // Of the wires to flip (the first 16), one that lands on a set still
          // to visit if any.
          std::uint32_t chosen = kNone;
          std::size_t tried = 0;
          for (std::size_t w = 0; w < words && tried < 16; ++w) {
            for (std::uint64_t diff = set_of(next)[w] ^ current[w]; diff != 0 && tried < 16; diff &= diff - 1) {
              const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(diff));
              if (chosen == kNone) chosen = q;
              ++tried;
              if (unvisited_after(q) != kNone) {
                chosen = q;
                tried = 16;
              }
            }
          }
          flip(chosen);
        }
      }
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = current[w]; word != 0; word &= word - 1) {
          gates.push_back({Elementary::CX, static_cast<std::uint32_t>(64 * w + std::countr_zero(word)), t});
        }
      }
    };
    walked[0].clear();
    walked[1].clear();
    walk(false, walked[0]);
    walk(true, walked[1]);
    const std::vector<PlacedGate>& shorter =
        cx_count(walked[1]) < cx_count(walked[0]) ? walked[1] : walked[0];
    out.gates.insert(out.gates.end(), shorter.begin(), shorter.end());
  }
  return out;
}

}  // namespace network_detail
}  // namespace kestrel
