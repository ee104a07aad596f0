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

// A state: the n rows, four bits each, then the mask of parities met.
std::uint32_t pack(std::uint16_t rows, std::uint16_t met) { return rows | (std::uint32_t{met} << 16); }

std::uint8_t row(std::uint16_t rows, std::uint32_t w) { return (rows >> (4 * w)) & 15; }


}  // namespace

std::optional<FewestCxAnswer> fewest_cx(const FewestCxQuestion& q, FewestCxSearch& search) {
  const std::uint32_t n = q.wires;
  check(n >= 1 && n <= kFewestCxWires && q.map.size() == n, "a map of one to four wires");
  check(q.parities.size() <= kFewestCxParities, "at most twelve parities asked for");
  std::vector<std::uint8_t> key{static_cast<std::uint8_t>(n),
                                static_cast<std::uint8_t>(std::min<std::size_t>(q.below, 255))};
  key.insert(key.end(), q.map.begin(), q.map.end());
  key.insert(key.end(), q.parities.begin(), q.parities.end());
  if (q.below == 0) return std::nullopt;
  if (const auto found = search.cache.find(key); found != search.cache.end()) return found->second;

  std::array<std::int8_t, 16> index;  // per parity value, its place among those asked, or -1
  index.fill(-1);
  for (std::size_t k = 0; k < q.parities.size(); ++k) {
    check(q.parities[k] != 0 && q.parities[k] < (1u << n), "a parity on the wires");
    index[q.parities[k]] = static_cast<std::int8_t>(k);
  }
  const auto full = static_cast<std::uint16_t>((1u << q.parities.size()) - 1);
  std::uint16_t target = 0, start = 0;
  for (std::uint32_t w = 0; w < n; ++w) {
    target |= static_cast<std::uint16_t>(q.map[w] << (4 * w));
    start |= static_cast<std::uint16_t>((1u << w) << (4 * w));
  }
  const auto meets = [&](std::uint16_t rows, std::uint16_t met, std::uint32_t w) {
    const std::int8_t k = index[row(rows, w)];
    return k < 0 ? met : static_cast<std::uint16_t>(met | (1u << k));
  };
  std::uint16_t met0 = 0;
  for (std::uint32_t w = 0; w < n; ++w) met0 = meets(start, met0, w);

  struct Node {
    std::uint32_t state;
    std::uint32_t parent;
    std::uint8_t c, t;
    std::uint32_t depth;
  };
  // The lower bound on the cx gates still needed from a state: each cx
  // changes one wire, so it meets at most one parity more and brings at
  // most one wire to its row of the map. It falls by at most one a gate,
  // so the first state at the goal taken below is reached by the fewest.
  const auto still = [&](std::uint16_t rows, std::uint16_t met) {
    std::uint32_t off = 0;
    for (std::uint32_t w = 0; w < n; ++w) off += row(rows, w) != q.map[w];
    return std::max(off, static_cast<std::uint32_t>(std::popcount(static_cast<unsigned>(full & ~met))));
  };
  std::vector<Node> nodes{{pack(start, met0), 0, 0, 0, 0}};
  // The states seen, with the fewest gates found to each.
  HashMap<std::uint32_t, std::uint32_t, IntHash> fewest{{nodes[0].state, 0}};
  // Best first by gates so far plus the bound; among equals the deeper,
  // then the earlier kept.
  struct Open {
    std::uint32_t f, depth, node;
    bool operator<(const Open& o) const {  // "taken later than"
      return f != o.f ? f > o.f : depth != o.depth ? depth < o.depth : node > o.node;
    }
  };
  std::priority_queue<Open> open;
  open.push({still(start, met0), 0, 0});
  std::optional<std::uint32_t> goal;
  const std::uint64_t bound = std::min(kFewestCxStates, search.states_left);
  bool full_up = false;
  while (!open.empty() && !goal && !full_up) {
    const Open top = open.top();
    open.pop();
    const Node node = nodes[top.node];
    if (node.depth > fewest.at(node.state)) continue;  // reached by fewer since
    const auto rows = static_cast<std::uint16_t>(node.state & 0xffff);
    const auto met = static_cast<std::uint16_t>(node.state >> 16);
    if (rows == target && met == full) {
      goal = top.node;
      break;
    }
    for (std::uint8_t c = 0; c < n && !full_up; ++c) {
      for (std::uint8_t t = 0; t < n; ++t) {
        if (c == t) continue;
        const auto next = static_cast<std::uint16_t>(rows ^ (row(rows, c) << (4 * t)));
        const std::uint16_t met_next = meets(next, met, t);
        const std::uint32_t depth = node.depth + 1, f = depth + still(next, met_next);
        if (f >= q.below) continue;
        const std::uint32_t state = pack(next, met_next);
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
    const bool at_goal = (nodes[k].state & 0xffff) == target && (nodes[k].state >> 16) == full;
    if (at_goal && (!goal || nodes[k].depth < nodes[*goal].depth)) goal = static_cast<std::uint32_t>(k);
  }
  search.states_left -= std::min<std::uint64_t>(search.states_left, nodes.size());
  std::optional<FewestCxAnswer> answer;
  if (goal) {
    FewestCxAnswer a;
    for (std::uint32_t k = *goal; k != 0; k = nodes[k].parent) a.cx.emplace_back(nodes[k].c, nodes[k].t);
    std::reverse(a.cx.begin(), a.cx.end());
    // Replay for where each parity is first met.
    a.met.assign(q.parities.size(), {0, 0});
    std::vector<bool> done(q.parities.size(), false);
    std::uint16_t rows = start;
    const auto note = [&](std::uint32_t after, std::uint32_t w) {
      const std::int8_t k = index[row(rows, w)];
      if (k >= 0 && !done[k]) done[k] = true, a.met[k] = {after, static_cast<std::uint8_t>(w)};
    };
    for (std::uint32_t w = 0; w < n; ++w) note(0, w);
    for (std::uint32_t g = 0; g < a.cx.size(); ++g) {
      const auto [c, t] = a.cx[g];
      rows = static_cast<std::uint16_t>(rows ^ (row(rows, c) << (4 * t)));
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
