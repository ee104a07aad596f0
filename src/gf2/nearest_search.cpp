// The nearest-term search for a parity network: the term with the fewest
// wires in their present values is brought onto one of them, then the next
// (parity_network_terms.h); the wire it is brought onto chosen one of two
// ways.
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

// The live terms in lists by weight, so that the lightest is found at once.
struct WeightLists {
  WeightLists(std::uint32_t n, std::size_t m) : weight(m, 0), next(m, kNone), prev(m, kNone), head(n + 1, kNone),
                                                lightest(n + 1) {}

  void unlink(std::uint32_t p) {
    if (prev[p] != kNone) {
      next[prev[p]] = next[p];
    } else {
      head[weight[p]] = next[p];
    }
    if (next[p] != kNone) prev[next[p]] = prev[p];
  }
  void link(std::uint32_t p) {
    prev[p] = kNone;
    next[p] = head[weight[p]];
    if (next[p] != kNone) prev[next[p]] = p;
    head[weight[p]] = p;
    lightest = std::min(lightest, weight[p]);
  }
  // The lightest term listed, or kNone.
  std::uint32_t first() {
    const auto n = static_cast<std::uint32_t>(head.size() - 1);
    while (lightest <= n && head[lightest] == kNone) ++lightest;
    return lightest > n ? kNone : head[lightest];
  }

  std::vector<std::uint32_t> weight, next, prev, head;
  std::uint32_t lightest;
};

// Whether wire `wire` of `map` holds its input.
bool at_input(const BitMatrix& map, std::uint32_t wire) {
  const std::uint64_t* row = map.row(wire);
  bool at = true;
  for (std::size_t w = 0; w < map.words(); ++w) {
    const std::uint64_t unit = wire / 64 == w ? std::uint64_t{1} << (wire % 64) : 0;
    at = at && row[w] == unit;
  }
  return at;
}

// The first of `support` that holds something other than its input, or
// its first.
std::uint32_t first_moved(const std::vector<std::uint32_t>& support, const std::vector<bool>& moved) {
  for (std::uint32_t j : support) {
    if (moved[j]) return j;
  }
  return support.front();
}

// The wire of `support` that the most live terms include, among those that
// hold something other than their inputs where there are some; the first
// on a tie.
std::uint32_t most_shared(const Network& net, const std::vector<std::uint32_t>& support,
                          const std::vector<bool>& moved) {
  const bool any_moved = std::any_of(support.begin(), support.end(), [&](std::uint32_t j) { return moved[j]; });
  std::uint32_t best = kNone;
  std::size_t most = 0;
  for (std::uint32_t j : support) {
    if (any_moved && !moved[j]) continue;
    std::size_t terms = 0;
    for (std::size_t w = 0; w < net.row_words(); ++w) terms += count_ones(net.row(j)[w] & net.live_words()[w]);
    if (best == kNone || terms > most) best = j, most = terms;
  }
  return best;
}

}  // namespace

// The nearest-term search: repeatedly the term with the fewest wires (in the
// wires' present values) is brought onto one of them by cx gates from the
// others, onto a wire that already holds something other than its input
// where there is one (so that fewer wires wander from their inputs): the
// first such, or with `shared` the one the most terms still to write
// include (so that the sum it comes to hold is on the wire most of them
// need). Every
// term that a cx leaves on its target alone is written on the spot. Terms
// sit in lists by weight, so the lightest is found at once and a cx moves
// only the terms that include its target.
OpenParityNetwork nearest_search(const Terms& terms, bool shared) {
  Network net(terms);
  const std::uint32_t n = net.wires();
  const std::size_t m = net.terms();
  WeightLists lists(n, m);
  std::vector<std::uint32_t>& weight = lists.weight;
  for (std::uint32_t j = 0; j < n; ++j) {
    for (std::size_t p = 0; p < m; ++p) weight[p] += net.bit(j, p);
  }
  for (std::size_t p = 0; p < m; ++p) {
    if (weight[p] == 1) {
      std::uint32_t j = 0;
      while (!net.bit(j, p)) ++j;
      net.realise(p, j);
    } else {
      lists.link(static_cast<std::uint32_t>(p));
    }
  }
  std::vector<bool> moved(n, false);  // wire j holds something other than x_j
  std::vector<std::uint32_t> support;
  const std::size_t row_words = net.row_words();
  for (std::uint32_t p = lists.first(); p != kNone; p = lists.first()) {
    support.clear();
    for (std::uint32_t j = 0; j < n; ++j) {
      if (net.bit(j, p)) support.push_back(j);
    }
    const std::uint32_t target = shared ? most_shared(net, support, moved) : first_moved(support, moved);
    for (std::uint32_t control : support) {
      if (control == target) continue;
      net.cx(control, target);
      moved[target] = !at_input(net.map(), target);
      // The terms including the target gained or lost the control.
      const std::uint64_t* with_target = net.row(target);
      const std::uint64_t* with_control = net.row(control);
      const std::uint64_t* live = net.live_words();
      for (std::size_t w = 0; w < row_words; ++w) {
        for (std::uint64_t word = with_target[w] & live[w]; word != 0; word &= word - 1) {
          const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
          lists.unlink(q);
          if ((with_control[w] >> (q % 64)) & 1) {
            ++weight[q];
          } else {
            --weight[q];
          }
          if (weight[q] == 1) {
            net.realise(q, target);
          } else {
            lists.link(q);
          }
        }
      }
    }
    check(!net.live(p), "the nearest term is written once its wires are gathered");
  }
  return net.take();
}

}  // namespace network_detail
}  // namespace kestrel
