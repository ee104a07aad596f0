// The items still there on each qubit, in order: one array for every
// qubit's line, counted first and then filled, so that a pass over a whole
// program allocates the same few arrays however many qubits it has. Read by
// the passes that walk along qubits after the pair cancellation
// (cz_to_phases.h, pairs_across_h.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "src/cancellation/pair_cancellation.h"

namespace kestrel {

class ItemLines {
 public:
  // The items not `removed`, each on its qubits: a barrier on those in
  // `barrier_qubits`, a gate on its first qubit and, when `now` makes it a
  // two-qubit gate, its second.
  ItemLines(std::uint32_t qubits, std::span<const CancelItem> items,
            std::span<const std::uint32_t> barrier_qubits, const std::vector<bool>& removed,
            const std::vector<Elementary>& now);

  // Qubit q's items in order.
  std::span<const std::uint32_t> on(std::uint32_t q) const {
    return std::span<const std::uint32_t>(entries_).subspan(start_[q], start_[q + 1] - start_[q]);
  }
  // Where gate `item` stands on the line of its first (`which` 0) or
  // second (1) qubit.
  std::uint32_t place(std::uint32_t item, int which) const { return place_[item][which]; }
  // Where qubit q's line starts among all lines' entries, and how many
  // entries the lines hold in all.
  std::size_t offset(std::uint32_t q) const { return start_[q]; }
  std::size_t size() const { return entries_.size(); }

 private:
  std::vector<std::size_t> start_;                   // per qubit, where its line starts; then the end
  std::vector<std::uint32_t> entries_;               // every line's items, line by line
  std::vector<std::array<std::uint32_t, 2>> place_;  // per gate, its places on its qubits' lines
};

}  // namespace kestrel
