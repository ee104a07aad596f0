// Two passes over the items: the first counts each qubit's entries, the
// second places them, `start_[q + 1]` moving from where q's line starts to
// where it ends.
#include "src/cancellation/item_lines.h"

#include "engine/fault.h"

namespace kestrel {

ItemLines::ItemLines(std::uint32_t qubits, std::span<const CancelItem> items,
                     std::span<const std::uint32_t> barrier_qubits, const std::vector<bool>& removed,
                     const std::vector<Elementary>& now)
    : start_(qubits + std::size_t{1}, 0), place_(items.size(), {0, 0}) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  std::vector<std::size_t> begin;
  for (int placing = 0; placing < 2; ++placing) {
    for (std::uint32_t i = 0; i < items.size(); ++i) {
      if (removed[i]) continue;
      const CancelItem& item = items[i];
      const auto put = [&](std::uint32_t q) {
        q = static_cast<std::uint32_t>(checked_index(qubits, q));
        if (!placing) {
          ++start_[q + 1];
          return std::uint32_t{0};
        }
        const std::size_t at = start_[q + 1]++;
        entries_[at] = i;
        return static_cast<std::uint32_t>(at - begin[q]);
      };
      if (item.count != 0) {
        check(std::size_t{item.first} + item.count <= barrier_qubits.size(), "a barrier's qubits");
        for (std::uint32_t k = 0; k < item.count; ++k) put(barrier_qubits[item.first + k]);
        continue;
      }
      place_[i][0] = put(item.gate.a);
      if (elementary_info(now[i]).qubits == 2) place_[i][1] = put(item.gate.b);
    }
    if (placing) break;
    for (std::size_t q = 1; q < start_.size(); ++q) start_[q] += start_[q - 1];
    entries_.resize(start_.back());
    for (std::size_t q = start_.size() - 1; q > 0; --q) start_[q] = start_[q - 1];
    begin.assign(start_.begin() + 1, start_.end());
  }
}

}  // namespace kestrel
