// The split search for a parity network (GraySynth): terms split by one
// wire's bit at a time, depth first (parity_network_terms.h).
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

// The split search. A group is a set of terms (a range of `pool`), the wires
// its split may still use, and its target wire: a wire every term of the
// group includes, or none. While some other wire is included in every term of
// the group, a cx from it onto the target removes it from all of them at
// once; a term left with the target alone is written there. Otherwise the
// group is split by the bit of the usable wire that is most uneven (the
// larger side as large as it can be), and the side with the bit set, which
// takes that wire as its target if it had none, is searched first. Groups
// left on the stack are brought up to date when taken: the cx gates written
// meanwhile may have changed their terms, but only alike. (A cx written for
// the side searched first has that side's target, which its sibling shares,
// or a target its sibling's terms all lack; so the sibling's terms keep their
// target and keep agreeing on every wire outside its usable ones, and two
// of them always differ on a usable wire.)
OpenParityNetwork split_search(const Terms& terms) {
  Network net(terms);
  const std::uint32_t n = net.wires();
  const std::size_t m = net.terms(), qw = words_for(n);
  struct Group {
    std::uint32_t begin, end;  // its terms: pool[begin, end)
    std::uint32_t target;      // a wire or kNone
  };
  std::vector<std::uint32_t> pool(m);
  std::iota(pool.begin(), pool.end(), 0u);
  std::vector<Group> stack;
  std::vector<std::uint64_t> usable_stack;  // per group on the stack, qw words
  std::vector<std::uint64_t> usable(qw, 0);
  for (std::uint32_t j = 0; j < n; ++j) usable[j / 64] |= std::uint64_t{1} << (j % 64);
  const auto push = [&](std::uint32_t begin, std::uint32_t end, std::uint32_t target,
                        const std::vector<std::uint64_t>& wires) {
    if (begin == end) return;
    stack.push_back({begin, end, target});
    usable_stack.insert(usable_stack.end(), wires.begin(), wires.end());
  };
  push(0, static_cast<std::uint32_t>(m), kNone, usable);

  std::vector<std::uint32_t> count(n), weight(m), some_wire(m), scratch;
  const auto has = [](const std::vector<std::uint64_t>& set, std::uint32_t j) {
    return (set[j / 64] >> (j % 64)) & 1;
  };
  // Moves the terms of [begin, end) without wire j to the front, keeping
  // their order; returns where the others start.
  const auto partition = [&](std::uint32_t begin, std::uint32_t end, std::uint32_t j) {
    scratch.clear();
    std::uint32_t out = begin;
    for (std::uint32_t k = begin; k < end; ++k) {
      if (net.bit(j, pool[k])) {
        scratch.push_back(pool[k]);
      } else {
        pool[out++] = pool[k];
      }
    }
    std::copy(scratch.begin(), scratch.end(), pool.begin() + out);
    return out;
  };

  while (!stack.empty()) {
    const Group group = stack.back();
    stack.pop_back();
    std::copy(usable_stack.end() - static_cast<std::ptrdiff_t>(qw), usable_stack.end(),
              usable.begin());
    usable_stack.resize(usable_stack.size() - qw);
    std::uint32_t begin = group.begin, end = group.begin, target = group.target;
    for (std::uint32_t k = group.begin; k < group.end; ++k) {
      if (net.live(pool[k])) pool[end++] = pool[k];
    }
    if (begin == end) continue;

    // Each term's weight and the number of terms including each wire.
    for (std::uint32_t k = begin; k < end; ++k) weight[pool[k]] = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
      const std::uint64_t* row = net.row(j);
      std::uint32_t c = 0;
      for (std::uint32_t k = begin; k < end; ++k) {
        const std::uint32_t p = pool[k];
        const std::uint32_t b = (row[p / 64] >> (p % 64)) & 1;
        c += b;
        weight[p] += b;
        if (b) some_wire[p] = j;
      }
      count[j] = c;
    }
    // Drops the terms written; a term of weight one is on some_wire now.
    const auto write_units = [&](std::uint32_t wire_or_none) {
      std::uint32_t out = begin;
      for (std::uint32_t k = begin; k < end; ++k) {
        const std::uint32_t p = pool[k];
        if (weight[p] == 1) {
          const std::uint32_t wire = wire_or_none == kNone ? some_wire[p] : wire_or_none;
          net.realise(p, wire);
          --count[wire];
        } else {
          pool[out++] = p;
        }
      }
      end = out;
    };
    write_units(kNone);
    if (begin == end) continue;

    check(target == kNone || count[target] == end - begin, "a group's terms all hold its target");
    for (;;) {
      if (target != kNone) {
        // A term written may leave a wire in all the others: scan again
        // after each cx.
        for (std::uint32_t j = 0; j < n && begin != end;) {
          if (j == target || count[j] != end - begin) {
            ++j;
            continue;
          }
          net.cx(j, target);
          count[j] = 0;
          for (std::uint32_t k = begin; k < end; ++k) --weight[pool[k]];
          write_units(target);
          j = 0;
        }
        if (begin == end) break;
      }
      for (std::uint32_t j = 0; j < n; ++j) {
        if (has(usable, j) && count[j] == 0) usable[j / 64] &= ~(std::uint64_t{1} << (j % 64));
      }
      if (target == kNone) {
        std::uint32_t all = kNone;
        for (std::uint32_t j = 0; j < n && all == kNone; ++j) {
          if (has(usable, j) && count[j] == end - begin) all = j;
        }
        if (all != kNone) {
          target = all;
          usable[all / 64] &= ~(std::uint64_t{1} << (all % 64));
          continue;
        }
      }
      break;
    }
    if (begin == end) continue;

    std::uint32_t split = kNone, best = 0;
    const std::uint32_t size = end - begin;
    for (std::uint32_t j = 0; j < n; ++j) {
      if (!has(usable, j) || count[j] == 0 || count[j] == size) continue;
      const std::uint32_t larger = std::max(count[j], size - count[j]);
      if (larger > best) {
        best = larger;
        split = j;
      }
    }
    check(split != kNone, "distinct terms differ on a wire left to split on");
    const std::uint32_t middle = partition(begin, end, split);
    usable[split / 64] &= ~(std::uint64_t{1} << (split % 64));
    push(begin, middle, target, usable);
    push(middle, end, target == kNone ? split : target, usable);
  }
  return net.take();
}

}  // namespace network_detail
}  // namespace kestrel
