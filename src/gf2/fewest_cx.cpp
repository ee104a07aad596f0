// Breadth-first search over the wires' values and the parities met, with a
// parent per state to read the gates back.
#include "src/gf2/fewest_cx.h"

#include <algorithm>
#include <array>
#include <bit>

#include "engine/fault.h"

namespace kestrel {
namespace {

// A state: the n rows, four bits each, then the mask of parities met.
std::uint32_t pack(std::uint16_t rows, std::uint16_t met) { return rows | (std::uint32_t{met} << 16); }

std::uint8_t row(std::uint16_t rows, std::uint32_t w) { return (rows >> (4 * w)) & 15; }

// No state: its mask would meet more parities than are asked.
constexpr std::uint32_t kEmpty = 0xffffffffu;

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
  std::vector<Node> nodes{{pack(start, met0), 0, 0, 0, 0}};
  // The states seen: an open-addressing set in the search's scratch table
  // (twice the most states a search visits), emptied again at the end.
  std::vector<std::uint32_t>& seen = search.seen;
  if (seen.empty()) seen.assign(2 * kFewestCxStates, kEmpty);
  const auto slot = [&](std::uint32_t state) {
    std::size_t k = (state * 0x9e3779b1u) & (seen.size() - 1);
    while (seen[k] != kEmpty && seen[k] != state) k = (k + 1) & (seen.size() - 1);
    return k;
  };
  std::vector<std::size_t> filled{slot(nodes[0].state)};
  seen[filled[0]] = nodes[0].state;
  std::optional<std::uint32_t> goal;
  const std::uint64_t bound = std::min(kFewestCxStates, search.states_left);
  for (std::size_t head = 0; head < nodes.size() && !goal; ++head) {
    const Node node = nodes[head];
    const auto rows = static_cast<std::uint16_t>(node.state & 0xffff);
    const auto met = static_cast<std::uint16_t>(node.state >> 16);
    if (rows == target && met == full) {
      goal = static_cast<std::uint32_t>(head);
      break;
    }
    for (std::uint8_t c = 0; c < n && !goal; ++c) {
      for (std::uint8_t t = 0; t < n; ++t) {
        if (c == t) continue;
        const auto next = static_cast<std::uint16_t>(rows ^ (row(rows, c) << (4 * t)));
        const std::uint16_t met_next = meets(next, met, t);
        // Each cx changes one wire: it meets at most one parity more and
        // brings at most one wire to its row of the map.
        std::uint32_t rows_off = 0;
        for (std::uint32_t w = 0; w < n; ++w) rows_off += row(next, w) != q.map[w];
        const auto unmet = static_cast<std::uint32_t>(std::popcount(static_cast<unsigned>(full & ~met_next)));
        if (node.depth + 1 + std::max(rows_off, unmet) >= q.below) continue;
        const std::uint32_t state = pack(next, met_next);
        const std::size_t at = slot(state);
        if (seen[at] == state) continue;
        if (nodes.size() >= bound) break;
        seen[at] = state;
        filled.push_back(at);
        nodes.push_back({state, static_cast<std::uint32_t>(head), c, t, node.depth + 1});
      }
    }
    if (nodes.size() >= bound) break;
  }
  // The goal may be among the states added last.
  if (!goal) {
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      if ((nodes[k].state & 0xffff) == target && (nodes[k].state >> 16) == full) {
        goal = static_cast<std::uint32_t>(k);
        break;
      }
    }
  }
  for (std::size_t k : filled) seen[k] = kEmpty;
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
