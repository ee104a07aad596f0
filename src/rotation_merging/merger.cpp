// The search of one rotation: the newest group with its bits comes from a
// hash table, the newest item it anticommutes with from the support index;
// a Clifford group met on the way changes the rotation's product, and the
// search goes on below it. In wide programs the search first walks back
// through the operations on the qubits its product reaches. A boundary on
// every qubit ends all searches at once: everything before it is dropped.
#include "src/rotation_merging/merger.h"

#include <algorithm>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>

#include "engine/fault.h"
#include "src/circuit/angle.h"
#include "src/pauli/pauli.h"

namespace kestrel {
namespace {

// Programs wider than this many words a half row walk before they ask the
// index: there an item's test reads many words, a walk's step a few bits.
constexpr std::size_t kWalkWords = 4;
// A walk goes back at most this many gates per qubit (and at least 1,024).
constexpr std::size_t kWalkGatesPerQubit = 16;
constexpr std::size_t kAllTests = std::numeric_limits<std::size_t>::max();
// While the walking product acts on at most this many qubits, the walk
// follows only the operations on them; past it, every operation in turn.
constexpr std::uint32_t kLightCone = 64;

}  // namespace

std::uint64_t RotationMerger::hash_row(const std::uint64_t* row) const {
  // The X half and the Z half in two chains, which the processor runs side
  // by side: a wide row's words are otherwise one long chain of multiplies.
  std::uint64_t hx = 0, hz = 0;
  for (std::size_t w = 0; w < words_; ++w) {
    hx = (hx ^ row[w]) * 0x9e3779b97f4a7c15ULL;
    hz = (hz ^ row[words_ + w]) * 0xc2b2ae3d27d4eb4fULL;
  }
  return mix64(hx ^ (hz << 31 | hz >> 33));
}

std::uint64_t RotationMerger::probe_hash() {
  if (!probe_hashed_) probe_hash_ = hash_row(probe_.data());
  probe_hashed_ = true;
  return probe_hash_;
}

RotationMerger::RotationMerger(std::uint32_t qubits, double tolerance)
    : tableau_(qubits),
      words_(tableau_.words()),
      index_(words_),
      walks_(words_ > kWalkWords),
      walk_budget_(std::max<std::size_t>(1024, kWalkGatesPerQubit * qubits)),
      last_event_(walks_ ? qubits : 0, kNone),
      next_event_(walks_ ? qubits : 0, kNone),
      local_(walks_ ? qubits : 0),
      y_row_(2 * words_),
      probe_(2 * words_),
      stamps_(qubits, 0),
      tolerance_(tolerance) {
  check(tolerance <= kAngleTolerance, "a tolerance no coarser than the reader's");
}

void RotationMerger::clifford(CliffordGate gate, std::uint32_t a, std::uint32_t b) {
  tableau_.apply(gate, a, b);
  if (recording_ && searching_) {
    record(Event{EventKind::Clifford, gate, a, b, kNone, kNone, kNone});
  }
}

// Appends an event, chained to the events before it on its qubits.
void RotationMerger::record(Event event) {
  const auto e = static_cast<std::uint32_t>(events_.size());
  check(e != kNone, "fewer events than an index can number");
  if (event.kind == EventKind::Boundary) {
    // A walk that reaches a boundary by one of its qubits stops there, so
    // the boundary needs no link to the events before it.
    for (std::uint32_t k = 0; k < event.b; ++k) last_event_[boundary_qubits_[event.a + k]] = e;
  } else {
    event.before_a = std::exchange(last_event_[event.a], e);
    const bool pair = event.kind == EventKind::Clifford &&
                      (event.gate == CliffordGate::CX || event.gate == CliffordGate::CZ ||
                       event.gate == CliffordGate::Swap);
    if (pair) event.before_b = std::exchange(last_event_[event.b], e);
  }
  events_.push_back(event);
}

// After an event on `qubit`: where its walk goes on, if the product still
// acts on it.
void RotationMerger::follow(std::uint32_t qubit, std::uint32_t event) {
  if (!local_.x(qubit) && !local_.z(qubit)) event = kNone;
  next_event_[qubit] = event;
  if (event == kNone) return;
  cursors_.push_back(Cursor{event, qubit});
  std::push_heap(cursors_.begin(), cursors_.end());
}

std::uint32_t RotationMerger::add_item(const std::uint64_t* row, std::uint8_t phase,
                                       std::uint32_t first, std::uint8_t angle) {
  const auto item = static_cast<std::uint32_t>(items_.size());
  check(item != kNone, "fewer items than the stamps can count");
  items_.push_back(Item{first, kNone, phase, angle, RotationAxis::Z, false, false, 0.0});
  index_.push_back(row);
  return item;
}

// The newest group item below `below` with the bits of the probe, or kNone.
std::uint32_t RotationMerger::match(std::uint32_t below) {
  // Groups enter the table when a search first needs it.
  for (; hashed_ < items_.size(); ++hashed_) {
    if (items_[hashed_].first == kNone) continue;
    const auto key = static_cast<std::uint32_t>(hash_row(item_row(hashed_)) >> 32);
    const auto [it, added] = newest_.try_emplace(key, hashed_);
    if (!added) {
      items_[hashed_].same = it->second;
      it->second = hashed_;
    }
  }
  const auto it = newest_.find(static_cast<std::uint32_t>(probe_hash() >> 32));
  if (it == newest_.end()) return kNone;
  // The chain holds every group item whose bits have those 32 bits of hash;
  // other bits with the same are passed over.
  for (std::uint32_t item = it->second; item != kNone; item = items_[item].same) {
    if (item < below && same_bits(probe_.data(), item_row(item), words_)) return item;
  }
  return kNone;
}

// The rotation `number`, whose product is `phase` times that of group item
// `item`'s first member up to sign, joins that group.
void RotationMerger::join(std::uint32_t item, std::uint8_t phase, const Turn& turn,
                          std::uint32_t number) {
  Item& it = items_[item];
  const int relative = (phase - it.phase) & 3;  // 0: +P1, 2: -P1
  check(relative == 0 || relative == 2, "a Hermitian product differs from another by a sign");
  const int sign = relative == 0 ? 1 : -1;
  it.angle = static_cast<std::uint8_t>((it.angle + sign * turn.eighths) & 15);
  if (turn.arbitrary) {
    it.radians += sign * turn.radians;
    it.arbitrary = true;
  }
  it.joined = true;
  written_[number] = MergeResult::kMerged;
}

// The angle of a group's rotation exp(-i sum/2 P1): its rotations of any
// angle, then its T gates.
double RotationMerger::group_sum(const Item& item) {
  const int signed_eighths = item.angle <= 8 ? item.angle : item.angle - 16;
  return item.radians + signed_eighths * (std::numbers::pi / 4);
}

// Passes item `item`, which anticommutes with the probe: a Clifford group's
// rotation R changes the probe to R^-1 P R (and the walk's local product
// alike); a T group or a boundary cannot be passed.
bool RotationMerger::pass(std::uint32_t item, std::uint8_t& phase) {
  Item& it = items_[item];
  if (it.first == kNone) return false;  // a boundary
  if (it.arbitrary) {
    // A group of rotations of any angle is passed only where its sum is
    // an even multiple of pi/4 (within the tolerance): it becomes exactly
    // that Clifford rotation, as it would be written.
    const std::optional<std::uint8_t> k = quarter_turns(group_sum(it), tolerance_);
    if (!k || *k % 2 == 1) return false;
    rounded_ += rounding_distance(group_sum(it));
    it.angle = *k;
    it.radians = 0;
    it.arbitrary = false;
  }
  const std::uint8_t angle = it.angle & 7;
  if (angle & 1) return false;  // a T rotation: no identity passes it
  if (angle == 4) {
    phase = (phase + 2) & 3;  // a Pauli: R^-1 P R = -P
  } else if (angle != 0) {
    // exp(-i pi/4 G) and its inverse: R^-1 P R = +-i G P.
    phase = multiply(item_row(item), it.phase, probe_.data(), phase, probe_.data(), words_);
    phase = (phase + (angle == 2 ? 1 : 3)) & 3;
    probe_hashed_ = false;
  }
  return true;
}

RotationMerger::Found RotationMerger::search_index(const Turn& turn, std::uint32_t number,
                                                   std::uint8_t& phase, std::uint32_t& below,
                                                   std::size_t tests) {
  for (;;) {
    const std::uint32_t group = match(below);
    const std::uint32_t blocker = index_.latest(probe_.data(), below, group, tests);
    if (blocker == SupportIndex::kUnknown) return Found::Unknown;
    if (group != kNone && blocker == kNone) {
      join(group, phase, turn, number);
      return Found::Merged;
    }
    if (blocker == kNone || !pass(blocker, phase)) return Found::Own;
    below = blocker;
  }
}

// Before a walk: a product that commutes with every item, as a diagonal
// product (Z bits only) does with the diagonal items of a program's
// phase-polynomial parts, is found so by the index at once, where a walk
// would go far. Settles the search only when no single test is needed, and
// so before any hash is worked out.
RotationMerger::Found RotationMerger::quick_search(const Turn& turn, std::uint32_t number,
                                                   std::uint8_t& phase, std::uint32_t& below) {
  if (index_.latest(probe_.data(), below, kNone, 0) != kNone) return Found::Unknown;
  const std::uint32_t group = match(below);
  if (group == kNone) return Found::Own;
  join(group, phase, turn, number);
  return Found::Merged;
}

// A walk that has passed every operation recorded: the items from the first
// recorded on are passed, and those before, if any, are the index's.
RotationMerger::Found RotationMerger::recorded(std::uint32_t& below) const {
  below = first_recorded_;
  return below == 0 ? Found::Own : Found::Unknown;
}

// Walks back from the newest operation with the rotation's product in the
// local frame, where a group's first member is Z_a and a boundary's rows are
// the X and Z of its qubits, so each test reads a bit or two. While the
// product acts on few qubits the walk follows the chains of events on those
// qubits only, newest first: the others act where the product is the
// identity. Keeps the probe (the product in the frame of the program's
// start) in step, and `below` at the first item not yet passed, for the
// index to go on from.
RotationMerger::Found RotationMerger::walk(std::uint32_t qubit, RotationAxis axis,
                                          const Turn& turn, std::uint32_t number,
                                          std::uint8_t& phase, std::uint32_t& below) {
  local_.reset(qubit, axis);
  cursors_.clear();
  follow(qubit, last_event_[qubit]);
  std::size_t steps = 0;
  std::size_t position = kNone;  // walking every event: the last one walked
  for (;;) {
    std::uint32_t e = kNone;
    if (position == kNone) {
      // The newest event a cursor stands for; stale cursors are dropped.
      while (!cursors_.empty()) {
        std::pop_heap(cursors_.begin(), cursors_.end());
        const Cursor c = cursors_.back();
        cursors_.pop_back();
        if (next_event_[c.qubit] == c.event && c.event != e) {
          e = c.event;
          break;
        }
      }
      if (e == kNone) return recorded(below);  // no operation recorded reaches the product
    } else {
      if (position == 0) return recorded(below);
      e = static_cast<std::uint32_t>(--position);
    }
    if (++steps > walk_budget_) return Found::Unknown;
    const Event& event = events_[e];
    switch (event.kind) {
      case EventKind::Clifford:
        local_.step_back(event.gate, event.a, event.b);
        if (position == kNone) {
          follow(event.a, event.before_a);
          if (event.before_b != kNone || event.gate == CliffordGate::CX ||
              event.gate == CliffordGate::CZ || event.gate == CliffordGate::Swap) {
            follow(event.b, event.before_b);
          }
        }
        break;
      case EventKind::Group: {
        below = event.item;
        const RotationAxis group_axis = items_[event.item].axis;
        if (local_.is_axis(event.a, group_axis)) {
          join(event.item, phase, turn, number);
          return Found::Merged;
        }
        if (local_.anticommutes(event.a, group_axis)) {
          if (!pass(event.item, phase)) return Found::Own;
          const std::uint8_t angle = items_[event.item].angle & 7;
          if (angle == 4) {
            local_.times_i(2);
          } else if (angle != 0) {
            local_.times_axis(event.a, group_axis);
            local_.times_i(angle == 2 ? 1 : 3);
          }
        }
        if (position == kNone) follow(event.a, event.before_a);
        break;
      }
      case EventKind::Boundary:
        below = event.item;
        for (std::uint32_t k = 0; k < event.b; ++k) {
          const std::uint32_t q = boundary_qubits_[event.a + k];
          if (local_.x(q) || local_.z(q)) return Found::Own;
        }
        break;
    }
    if (position == kNone && local_.weight() > kLightCone) position = e;
  }
}

void RotationMerger::rotation(std::uint32_t qubit, bool dagger) {
  checked_index(tableau_.qubits(), qubit);
  const int sign = dagger ? -1 : 1;
  const auto number = static_cast<std::uint32_t>(written_.size());
  written_.push_back(static_cast<std::int8_t>(sign));
  angles_.push_back(0);
  // A rotation read after stop_searching stays as read, with no phase.
  if (!searching_) return;
  phase_ += sign;
  search(qubit, RotationAxis::Z, tableau_.z_row(qubit), tableau_.z_phase(qubit),
         Turn{sign, 0.0, false}, number);
}

void RotationMerger::rotation(std::uint32_t qubit, RotationAxis axis, double angle) {
  checked_index(tableau_.qubits(), qubit);
  const auto number = static_cast<std::uint32_t>(written_.size());
  written_.push_back(MergeResult::kRotation);
  angles_.push_back(angle);
  if (!searching_) return;
  const std::uint64_t* own = tableau_.z_row(qubit);
  std::uint8_t own_phase = tableau_.z_phase(qubit);
  if (axis == RotationAxis::X) {
    own = tableau_.x_row(qubit);
    own_phase = tableau_.x_phase(qubit);
  } else if (axis == RotationAxis::Y) {
    // Y = i X Z, in the frame alike.
    own_phase = multiply(tableau_.x_row(qubit), tableau_.x_phase(qubit), tableau_.z_row(qubit),
                         tableau_.z_phase(qubit), y_row_.data(), words_);
    own_phase = (own_phase + 1) & 3;
    own = y_row_.data();
  }
  search(qubit, axis, own, own_phase, Turn{0, large_angle_reduced(angle), true}, number);
}

// The search of rotation `number` about `axis` on `qubit`, whose product in
// the frame of the program's start is `own` with phase `own_phase`: it
// joins a group or starts its own.
void RotationMerger::search(std::uint32_t qubit, RotationAxis axis, const std::uint64_t* own,
                            std::uint8_t own_phase, Turn turn, std::uint32_t number) {
  std::copy(own, own + 2 * words_, probe_.begin());
  probe_hashed_ = false;
  std::uint8_t phase = own_phase;
  auto below = static_cast<std::uint32_t>(items_.size());
  Found found = walks_ ? quick_search(turn, number, phase, below)
                       : search_index(turn, number, phase, below, kAllTests);
  if (found == Found::Unknown && !recording_) {
    // The first search the index cannot settle by runs: from now on the
    // operations are recorded for walks.
    recording_ = true;
    first_recorded_ = static_cast<std::uint32_t>(items_.size());
  }
  if (found == Found::Unknown) found = walk(qubit, axis, turn, number, phase, below);
  if (found == Found::Unknown) found = search_index(turn, number, phase, below, kAllTests);
  if (found == Found::Merged) return;

  const std::uint32_t item =
      add_item(own, own_phase, number, static_cast<std::uint8_t>(turn.eighths & 15));
  Item& it = items_[item];
  it.axis = axis;
  it.arbitrary = turn.arbitrary;
  it.radians = turn.radians;
  if (recording_) record(Event{EventKind::Group, CliffordGate::H, qubit, 0, item, kNone, kNone});
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
  if (recording_) {
    for (std::uint32_t q : qubits) {
      if (stamps_[q] == stamp_) boundary_qubits_.push_back(q);
    }
    record(Event{EventKind::Boundary, CliffordGate::H,
                 static_cast<std::uint32_t>(boundary_qubits_.size() - distinct),
                 static_cast<std::uint32_t>(distinct), static_cast<std::uint32_t>(items_.size()),
                 kNone, kNone});
  }
  for (std::uint32_t q : qubits) {
    if (stamps_[q] != stamp_) continue;  // added already
    stamps_[q] = stamp_ - 1;
    add_item(tableau_.x_row(q), tableau_.x_phase(q), kNone, 0);
    add_item(tableau_.z_row(q), tableau_.z_phase(q), kNone, 0);
  }
}

// A boundary on every qubit: its rows span every product, so no search
// passes it, and nothing before it is looked at again.
void RotationMerger::wall() {
  settle();
  items_.clear();
  index_.clear();
  newest_.clear();
  hashed_ = 0;
  events_.clear();
  boundary_qubits_.clear();
  std::fill(last_event_.begin(), last_event_.end(), kNone);
  first_recorded_ = 0;
}

void RotationMerger::settle() {
  for (const Item& item : items_) {
    if (item.first == kNone) continue;
    int turns = item.angle;  // the group's angle in eighths of pi, mod 16
    if (item.arbitrary) {
      // A lone rotation stays as read.
      if (!item.joined) continue;
      const double sum = group_sum(item);
      const std::optional<std::uint8_t> k = quarter_turns(sum, tolerance_);
      if (!k) {
        written_[item.first] = MergeResult::kRotation;
        angles_[item.first] = reduced_angle(sum);
        continue;
      }
      turns = *k;
      rounded_ += rounding_distance(sum);
    }
    const int residue = turns & 7;
    const int written = residue <= 4 ? residue : residue - 8;  // -3 to 4
    // diag(1, e^(i r pi/4)) = e^(i r pi/8) exp(-i r pi/8 Z); r and the
    // group's angle differ by 0 or 8 eighths, and exp(-i pi Z) = -1.
    phase_ -= written;
    if (((written - turns) & 15) == 8) phase_ += 8;
    written_[item.first] = static_cast<std::int8_t>(written);
  }
}

MergeResult RotationMerger::finish() {
  settle();
  MergeResult result;
  result.written = std::move(written_);
  result.angles = std::move(angles_);
  result.phase = static_cast<std::uint8_t>(phase_ & 15);
  result.rounded = rounded_;
  return result;
}

}  // namespace kestrel
