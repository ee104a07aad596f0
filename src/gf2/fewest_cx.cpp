// Best-first search over the wires' values and the parities met, with a
// parent per state to read the gates back.
#include "src/gf2/fewest_cx.h"

#include <algorithm>
#include <array>
#include <bit>
#include <queue>

#include "engine/fault.h"
#include "engine/hashing.h"

namespace kestrel {
namespace {

// A state: the n rows, kRowBits bits each, then the mask of parities met.
constexpr std::uint32_t kRowBits = kFewestCxWires;
constexpr std::uint32_t kRowsBits = kRowBits * kFewestCxWires;
constexpr std::uint32_t kRowMask = (1u << kRowBits) - 1;
using Rows = std::uint64_t;
using Met = std::uint16_t;
static_assert(kRowsBits <= 64 && kFewestCxParities <= 16);
// A state: the rows, then the parities met above them. On up to
// kFewestCxNarrow wires the rows take 48 bits and a state fits 64; wider
// ones take 128. (Only the size differs: the search is the same.)
struct Narrow {
  using State = std::uint64_t;
  using Hash = IntHash;
  static constexpr std::uint32_t kMetShift = kRowBits * kFewestCxNarrow;
};
struct Wide {
  using State = unsigned __int128;
  struct Hash {
    using is_avalanching = void;
    std::size_t operator()(State s) const noexcept {
      return mix64(static_cast<std::uint64_t>(s) ^ mix64(static_cast<std::uint64_t>(s >> 64)));
    }
  };
  static constexpr std::uint32_t kMetShift = 64;
};
static_assert(Narrow::kMetShift + kFewestCxParities <= 64);
template <class P>
typename P::State pack(Rows rows, Met met) {
  return typename P::State{rows} | (typename P::State{met} << P::kMetShift);
}
template <class P>
Rows rows_of(typename P::State state) {
  return static_cast<Rows>(state & ((typename P::State{1} << P::kMetShift) - 1));
}
template <class P>
Met met_of(typename P::State state) {
  return static_cast<Met>(state >> P::kMetShift);
}

// Ones per byte.
constexpr std::array<std::uint8_t, 256> kOnes = [] {
  std::array<std::uint8_t, 256> ones{};
  for (std::size_t b = 1; b < 256; ++b) ones[b] = static_cast<std::uint8_t>(ones[b / 2] + (b & 1));
  return ones;
}();

std::uint8_t row(Rows rows, std::uint32_t w) { return (rows >> (kRowBits * w)) & kRowMask; }
// The rows after cx(c, t): row t gains row c.
Rows after_cx(Rows rows, std::uint32_t c, std::uint32_t t) { return rows ^ (Rows{row(rows, c)} << (kRowBits * t)); }


}  // namespace

std::optional<FewestCxAnswer> fewest_cx(const FewestCxQuestion& q, FewestCxSearch& search) {
  const std::uint32_t n = q.wires;
  check(n >= 1 && n <= kFewestCxWires && q.map.size() == n, "a map of one to eight wires");
  check(q.parities.size() <= kFewestCxParities, "at most sixteen parities asked for");
  std::vector<std::uint8_t> key{static_cast<std::uint8_t>(n),
                                static_cast<std::uint8_t>(std::min<std::size_t>(q.below, 255))};
  key.insert(key.end(), q.map.begin(), q.map.end());
  key.insert(key.end(), q.parities.begin(), q.parities.end());
  if (q.below == 0) return std::nullopt;
  if (const auto found = search.cache.find(key); found != search.cache.end()) return found->second;

  std::array<std::int8_t, std::size_t{1} << kFewestCxWires> index;  // per parity value: its place among those asked, or -1
  index.fill(-1);
  for (std::size_t k = 0; k < q.parities.size(); ++k) {
    check(q.parities[k] != 0 && q.parities[k] < (1u << n), "a parity on the wires");
    index[q.parities[k]] = static_cast<std::int8_t>(k);
  }
  const auto full = static_cast<Met>((1u << q.parities.size()) - 1);
  Rows target = 0, start = 0;
  for (std::uint32_t w = 0; w < n; ++w) {
    check(q.map[w] < (1u << n), "a map row on the wires");
    for (std::uint32_t v = 0; v < w; ++v) check(q.map[v] != q.map[w], "the map's rows differ");
    target |= Rows{q.map[w]} << (kRowBits * w);
    start |= Rows{1u << w} << (kRowBits * w);
  }
  const auto meets = [&](Rows rows, Met met, std::uint32_t w) {
    const std::int8_t k = index[row(rows, w)];
    return k < 0 ? met : static_cast<Met>(met | (1u << k));
  };
  Met met0 = 0;
  for (std::uint32_t w = 0; w < n; ++w) met0 = meets(start, met0, w);

  // The lower bound on the cx gates still needed from a state. A cx
  // changes one wire, so it meets at most one parity more and brings at
  // most one wire to its row of the map; it does both only where the
  // parity it meets is that wire's row. So the parities not yet met that
  // are no row of a wire still off each take a gate of their own, besides
  // the larger of the wires off and the parities unmet among their rows.
  // The bound falls by at most one a gate (a wire leaving its row adds
  // its row to those, taking the parity from the first count), so the
  // first state at the goal taken below is reached by the fewest.
  std::array<Met, std::size_t{1} << kFewestCxWires> asked_bit{};  // per parity value, its bit in the mask
  for (std::size_t k = 0; k < q.parities.size(); ++k) asked_bit[q.parities[k]] = static_cast<Met>(1u << k);
  // Per state, kept from one gate to the next: the wires off their row and
  // the parities asked for that are rows of those wires (the map's rows
  // differ, so a wire's bit there is its own).
  struct Off {
    std::uint32_t wires = 0;
    Met rows = 0;
  };
  const auto off_of = [&](Rows rows) {
    Off off;
    for (std::uint32_t w = 0; w < n; ++w) {
      if (row(rows, w) == q.map[w]) continue;
      ++off.wires;
      off.rows |= asked_bit[q.map[w]];
    }
    return off;
  };
  // The same after cx(c, t) on `rows`, which changes wire t alone.
  const auto off_after = [&](Off off, Rows rows, Rows next, std::uint32_t t) {
    const bool was_on = row(rows, t) == q.map[t], now_on = row(next, t) == q.map[t];
    off.wires = off.wires + was_on - now_on;
    off.rows = now_on ? static_cast<Met>(off.rows & ~asked_bit[q.map[t]]) : static_cast<Met>(off.rows | asked_bit[q.map[t]]);
    return off;
  };
  const auto ones = [](Met m) { return static_cast<std::uint32_t>(kOnes[m & 255] + kOnes[m >> 8]); };
  const auto still = [&](Off off, Met met) {
    const Met unmet = full & ~met;
    return ones(unmet & ~off.rows) + std::max(off.wires, ones(unmet & off.rows));
  };
  std::uint64_t& left = n <= kFewestCxNarrow ? search.states_left : search.wide_states_left;
  const std::uint64_t bound = std::min({kFewestCxStates, search.states_per_search, left});
  // The best-first search: the gates to the goal, if found.
  std::optional<std::vector<std::pair<std::uint8_t, std::uint8_t>>> found;
  const auto best_first = [&]<class P>(P) {
    struct Node {
      typename P::State state;
      std::uint32_t parent;
      std::uint8_t c, t;
      std::uint32_t depth;
    };
    std::vector<Node> nodes{{pack<P>(start, met0), 0, 0, 0, 0}};
    // The states seen, with the fewest gates found to each.
    HashMap<typename P::State, std::uint32_t, typename P::Hash> fewest{{nodes[0].state, 0}};
    // Best first by gates so far plus the bound; among equals the deeper,
    // then the earlier kept.
    struct Open {
      std::uint32_t f, depth, node;
      bool operator<(const Open& o) const {  // "taken later than"
        return f != o.f ? f > o.f : depth != o.depth ? depth < o.depth : node > o.node;
      }
    };
    std::priority_queue<Open> open;
    open.push({still(off_of(start), met0), 0, 0});
    std::optional<std::uint32_t> goal;
    bool full_up = false;
    while (!open.empty() && !goal && !full_up) {
      const Open top = open.top();
      open.pop();
      const Node node = nodes[top.node];
      if (node.depth > fewest.at(node.state)) continue;  // reached by fewer since
      const Rows rows = rows_of<P>(node.state);
      const Met met = met_of<P>(node.state);
      if (rows == target && met == full) {
        goal = top.node;
        break;
      }
      const Off off = off_of(rows);
      for (std::uint8_t c = 0; c < n && !full_up; ++c) {
        for (std::uint8_t t = 0; t < n; ++t) {
          if (c == t) continue;
          const Rows next = after_cx(rows, c, t);
          const Met met_next = meets(next, met, t);
          const std::uint32_t depth = node.depth + 1, f = depth + still(off_after(off, rows, next, t), met_next);
          if (f >= q.below) continue;
          const typename P::State state = pack<P>(next, met_next);
          const auto seen = fewest.find(state);
          if (seen != fewest.end() && seen->second <= depth) continue;
          if (nodes.size() >= bound) {
            full_up = true;
            break;
          }
          fewest.insert_or_assign(state, depth);
          open.push({f, depth, static_cast<std::uint32_t>(nodes.size())});
          nodes.push_back({state, top.node, c, t, depth});
        }
      }
    }
    // Stopped at the bound: a goal kept but not yet taken, the fewest gates
    // first.
    for (std::size_t k = 0; k < nodes.size() && full_up; ++k) {
      const bool at_goal = rows_of<P>(nodes[k].state) == target && met_of<P>(nodes[k].state) == full;
      if (at_goal && (!goal || nodes[k].depth < nodes[*goal].depth)) goal = static_cast<std::uint32_t>(k);
    }
    left -= std::min<std::uint64_t>(left, nodes.size());
    if (!goal) return;
    found.emplace();
    for (std::uint32_t k = *goal; k != 0; k = nodes[k].parent) found->emplace_back(nodes[k].c, nodes[k].t);
    std::reverse(found->begin(), found->end());
  };
  if (n <= kFewestCxNarrow) {
    best_first(Narrow{});
  } else {
    best_first(Wide{});
  }
  std::optional<FewestCxAnswer> answer;
  if (found) {
    FewestCxAnswer a;
    a.cx = std::move(*found);
    // Replay for where each parity is first met.
    a.met.assign(q.parities.size(), {0, 0});
    std::vector<bool> done(q.parities.size(), false);
    Rows rows = start;
    const auto note = [&](std::uint32_t after, std::uint32_t w) {
      const std::int8_t k = index[row(rows, w)];
      if (k >= 0 && !done[k]) done[k] = true, a.met[k] = {after, static_cast<std::uint8_t>(w)};
    };
    for (std::uint32_t w = 0; w < n; ++w) note(0, w);
    for (std::uint32_t g = 0; g < a.cx.size(); ++g) {
      const auto [c, t] = a.cx[g];
      rows = after_cx(rows, c, t);
      note(g + 1, t);
    }
    check(rows == target && std::all_of(done.begin(), done.end(), [](bool d) { return d; }),
          "the gates found end at the map with every parity met");
    answer = std::move(a);
  }
  search.cache.emplace(std::move(key), answer);
  return answer;
}

}  // namespace kestrel
