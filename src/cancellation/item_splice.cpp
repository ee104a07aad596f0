// One pass over the items given, the additions taken as their items come.
#include "src/cancellation/item_splice.h"

#include "engine/fault.h"

namespace kestrel {

SplicedItems splice_items(std::span<const CancelItem> items, const std::vector<bool>& removed,
                          const std::vector<Elementary>& now, std::span<const ItemAddition> additions) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  SplicedItems out;
  const std::size_t size = items.size() + additions.size();
  out.items.reserve(size);
  out.removed.reserve(size);
  out.now.reserve(size);
  out.start.reserve(items.size() + 1);
  std::size_t next = 0;
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    out.start.push_back(static_cast<std::uint32_t>(out.items.size()));
    out.items.push_back(items[i]);
    out.removed.push_back(removed[i]);
    out.now.push_back(now[i]);
    for (; next < additions.size() && additions[next].item == i; ++next) {
      out.items.push_back({additions[next].gate, 0, 0});
      out.removed.push_back(false);
      out.now.push_back(additions[next].gate.gate);
    }
  }
  check(next == additions.size(), "additions after items there, in order");
  out.start.push_back(static_cast<std::uint32_t>(out.items.size()));
  return out;
}

}  // namespace kestrel
