// New gates written into a list of items, each right after an item there.
//
// The passes over a program's items (pair_cancellation.h and those after
// it) change or remove the gates there; one that writes gates anew
// (pair_merging.h) says where as additions: `{7, s q[2]}` is an s on q[2]
// written right after item 7 (which a merge has usually removed: the gates
// take its place). `splice_items` makes of them one longer list, each item
// followed by its additions in the order given, that the passes after read
// as they read any, and says where each item of the first list went, so
// that what is written for item k is the spliced items from `start[k]` (k
// itself) to `start[k + 1]`.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

struct ItemAddition {
  std::uint32_t item;  // the item it is written after
  PlacedGate gate;     // the gate written
};
static_assert(std::is_trivially_copyable_v<ItemAddition>);

struct SplicedItems {
  std::vector<CancelItem> items;      // every item, each followed by its additions
  std::vector<bool> removed;          // per spliced item; additions there
  std::vector<Elementary> now;        // per spliced item, its gate as left
  std::vector<std::uint32_t> start;   // per item given, its place in `items`; then their count
};

// The spliced list of `items` (with `removed` and `now` as the passes
// left them) and `additions` (their items in order, ascending).
SplicedItems splice_items(std::span<const CancelItem> items, const std::vector<bool>& removed,
                          const std::vector<Elementary>& now, std::span<const ItemAddition> additions);

}  // namespace kestrel
