// The search of one rotation: the newest group with its bits comes from a
// hash table, the newest item it anticommutes with from the support index;
// a Clifford group met on the way changes the rotation's product, and the
// search goes on below it. A boundary on every qubit ends all searches at
// once: everything before it is dropped.
#include "src/rotation_merging/merger.h"

#include <algorithm>

#include "engine/fault.h"
#include "src/rotation_merging/pauli.h"

namespace kestrel {
std::size_t RotationMerger::hash_row(const std::uint64_t* row) const {
  std::uint64_t h = 0;
  for (std::size_t w = 0; w < 2 * words_; ++w) h = hash_combine(h, row[w]);
  return h;
}

std::size_t RotationMerger::BitsHash::operator()(std::uint32_t item) const {
  return owner->hash_row(owner->item_row(item));
}
std::size_t RotationMerger::BitsHash::operator()(const std::uint64_t* row) const {
  return owner->hash_row(row);
}
bool RotationMerger::BitsEqual::operator()(std::uint32_t a, std::uint32_t b) const {
  return same_bits(owner->item_row(a), owner->item_row(b), owner->words_);
}
bool RotationMerger::BitsEqual::operator()(const std::uint64_t* row, std::uint32_t b) const {
  return same_bits(row, owner->item_row(b), owner->words_);
}

RotationMerger::RotationMerger(std::uint32_t qubits)
    : tableau_(qubits),
      words_(tableau_.words()),
      index_(words_),
      newest_(0, BitsHash{this}, BitsEqual{this}),
      probe_(2 * words_),
      stamps_(qubits, 0) {}

std::uint32_t RotationMerger::add_item(const std::uint64_t* row, std::uint8_t phase,
                                       std::uint32_t group) {
  const auto item = static_cast<std::uint32_t>(items_.size());
  check(item != kNone, "fewer items than the stamps can count");
  items_.push_back(Item{group, kNone, phase});
  index_.push_back(row);
  return item;
}

// The newest group item below `below` with the bits of the probe, or kNone.
std::uint32_t RotationMerger::match(std::uint32_t below) const {
  const auto it = newest_.find(probe_.data());
  if (it == newest_.end()) return kNone;
  std::uint32_t item = it->second;
  while (item != kNone && item >= below) item = items_[item].same;
  return item;
}

void RotationMerger::rotation(std::uint32_t qubit, bool dagger) {
  checked_index(tableau_.qubits(), qubit);
  const int sign = dagger ? -1 : 1;
  phase_ += sign;
  const auto number = static_cast<std::uint32_t>(written_.size());
  written_.push_back(static_cast<std::int8_t>(sign));
  const std::uint64_t* own = tableau_.z_row(qubit);
  const std::uint8_t own_phase = tableau_.z_phase(qubit);

  if (searching_) {
    std::copy(own, own + 2 * words_, probe_.begin());
    std::uint8_t phase = own_phase;
    auto below = static_cast<std::uint32_t>(items_.size());
    for (;;) {
      const std::uint32_t group = match(below);
      const std::uint32_t blocker = index_.latest(probe_.data(), below, group);
      if (group != kNone && blocker == kNone) {
        Group& g = groups_[items_[group].group];
        const int relative = (phase - items_[group].phase) & 3;  // 0: +P1, 2: -P1
        check(relative == 0 || relative == 2, "a Hermitian product differs from another by a sign");
        g.angle = static_cast<std::uint8_t>((g.angle + (relative == 0 ? sign : -sign)) & 15);
        written_[number] = MergeResult::kMerged;
        return;
      }
      if (blocker == kNone) break;
      const Item& item = items_[blocker];
      if (item.group == kNone) break;  // a boundary
      const std::uint8_t angle = groups_[item.group].angle & 7;
      if (angle & 1) break;  // a T rotation: no identity passes it
      if (angle == 4) {
        phase = (phase + 2) & 3;  // a Pauli: R^-1 P R = -P
      } else if (angle != 0) {
        // exp(-i pi/4 G) and its inverse: R^-1 P R = +-i G P.
        phase = multiply_left(item_row(blocker), item.phase, probe_.data(), phase, words_);
        phase = (phase + (angle == 2 ? 1 : 3)) & 3;
      }
      below = blocker;
    }
  }

  const auto group = static_cast<std::uint32_t>(groups_.size());
  groups_.push_back(Group{number, static_cast<std::uint8_t>(sign & 15)});
  if (!searching_) return;
  const std::uint32_t item = add_item(own, own_phase, group);
  const auto [it, added] = newest_.try_emplace(item, item);
  if (!added) {
    items_[item].same = it->second;
    it->second = item;
  }
}

void RotationMerger::boundary(std::span<const std::uint32_t> qubits) {
  if (!searching_) return;
  if (++stamp_ == 0) {
    std::fill(stamps_.begin(), stamps_.end(), 0);
    stamp_ = 1;
  }
  std::size_t distinct = 0;
  for (std::uint32_t q : qubits) {
    std::uint32_t& seen = stamps_[checked_index(stamps_.size(), q)];
    distinct += seen != stamp_;
    seen = stamp_;
  }
  if (distinct == tableau_.qubits()) return wall();
  for (std::uint32_t q : qubits) {
    if (stamps_[q] != stamp_) continue;  // added already
    stamps_[q] = stamp_ - 1;
    add_item(tableau_.x_row(q), tableau_.x_phase(q), kNone);
    add_item(tableau_.z_row(q), tableau_.z_phase(q), kNone);
  }
}

// A boundary on every qubit: its rows span every product, so no search
// passes it, and nothing before it is looked at again.
void RotationMerger::wall() {
  items_.clear();
  index_.clear();
  newest_.clear();
}

MergeResult RotationMerger::finish() {
  MergeResult result;
  int phase = phase_;
  for (const Group& g : groups_) {
    const int residue = g.angle & 7;
    const int written = residue <= 4 ? residue : residue - 8;  // -3 to 4
    // diag(1, e^(i r pi/4)) = e^(i r pi/8) exp(-i r pi/8 Z); r and the
    // group's angle differ by 0 or 8 eighths, and exp(-i pi Z) = -1.
    phase -= written;
    if (((written - g.angle) & 15) == 8) phase += 8;
    written_[g.first] = static_cast<std::int8_t>(written);
  }
  result.written = std::move(written_);
  result.phase = static_cast<std::uint8_t>(phase & 15);
  return result;
}

}  // namespace kestrel
