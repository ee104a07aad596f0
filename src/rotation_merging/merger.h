// Rotation merging: the T gates of a whole program as pi/8 rotations about
// Pauli products, and its rotations of any angle alike, merged where the
// products match.
//
// Read in order, a program is Clifford gates, T and T-dagger gates, and
// operations the method does not follow (boundaries). With C the product of
// the Clifford gates read before it, a T gate on qubit q is, up to a global
// phase, the rotation exp(-i pi/8 P) with P = C^-1 Z_q C (a T-dagger the
// rotation by -pi/8) placed before all the Clifford gates; the Clifford
// gates then multiply to the same C at the end, whatever is done to the
// rotations. A rotation searches back through the groups of rotations kept
// so far, newest first:
//
// - a group whose product is +-P takes it: the group's angle, kept relative
//   to the signed product P1 of its first member, grows by +-pi/8;
// - a group whose product commutes with P is passed;
// - a group whose angle is a multiple of pi/4 (a Clifford rotation R) is
//   passed too, the rotation's product becoming R^-1 P R for the rest of the
//   search (R P = R^-1 P R R, exactly); any other group that anticommutes
//   with P ends the search;
// - a boundary on qubits A, with D the product of the Clifford gates before
//   it, is passed only when P commutes with D^-1 X_a D and D^-1 Z_a D for
//   every a in A: then D P D^-1 is the identity on A, so the rotation and
//   the boundary act on different qubits at that point and commute, whatever
//   the boundary does (a measurement, a reset, a gate controlled by bits);
//
// and a rotation that joins no group starts its own, with its own product.
//
// A rotation of any angle, exp(-i angle/2 A_q) for A = X, Y or Z, searches
// the same way with P = C^-1 A_q C, and its group keeps the sum of such
// angles in radians beside its eighths; the sums are formed in the order
// the rotations are read. Such a group is passed as a Clifford rotation
// only while its sum is an even multiple of pi/4 within the tolerance
// (kAngleTolerance unless the merger is made with a finer one; it becomes
// exactly that rotation then); any other is never passed. A group is
// written as phase gates where its sum is a multiple of pi/4 within the
// tolerance, else as one rotation about its first member's axis; each such
// rounding's distance (`rounding_distance`) is summed in
// `MergeResult::rounded`.
// Every step is an identity of the whole product, so the groups' rotations,
// each written as the phase gate for its angle at its first member's place
// (in that member's frame, where P1 is Z_q), equal the program up to the
// global phase that `MergeResult::phase` records.
//
// For `t q[0]; cx q[1],q[0]; t q[0]; cx q[1],q[0]; t q[0];` the products are
// Z_0, Z_0 Z_1 and Z_0: the third rotation passes the second (they commute)
// and joins the first, which is written as `s q[0];` at its place; the third
// T goes, the second stays.
//
// A search costs a hash look-up for the matching group and a walk back
// through a `SupportIndex` to the newest item it anticommutes with, which
// skips runs of items that surely commute with it. In a wide program, where
// testing an item costs many words, the index settles first only what it
// can settle by runs alone (a product that commutes with every item, as the
// products of a program's phase-polynomial parts do with each other);
// otherwise the search walks back through the program itself with its
// product in the local frame (`LocalPauli`), a few bit operations a gate,
// and asks the index to test single items only past a number of gates
// proportional to the qubits: most rotations find their group or their
// blocker within the recent gates. The operations are recorded for walks
// from the first search the index cannot settle by runs; a walk that passes
// all that are recorded leaves the older items to the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <vector>

#include <boost/container/deque.hpp>

#include "engine/hashing.h"
#include "src/circuit/angle.h"
#include "src/rotation_merging/local_pauli.h"
#include "src/rotation_merging/support_index.h"
#include "src/pauli/tableau.h"

namespace kestrel {

struct MergeResult {
  static constexpr std::int8_t kMerged = std::numeric_limits<std::int8_t>::min();
  // A rotation written as one rotation of angle `angles[number]` about the
  // axis it was read with (rz, rx or ry).
  static constexpr std::int8_t kRotation = std::numeric_limits<std::int8_t>::max();

  // Per rotation, in the order read: kMerged where it went into an earlier
  // rotation's group; kRotation where its group writes a rotation of any
  // angle at its place; else the phase gate its group writes at its place,
  // as the power r of e^(i pi/4) that the gate diag(1, e^(i r pi/4))
  // applies to |1>, from -3 to 4: 1 is t, 2 s, 3 s and t, 4 z, -1 tdg, -2
  // sdg, -3 sdg and tdg, 0 nothing (about the rotation's own axis: for a
  // group about X or Y, those gates turned by h, or by sdg, h and h, s).
  std::vector<std::int8_t> written;
  // Per rotation: where `written` is kRotation, the angle written.
  std::vector<double> angles;
  // The program read equals e^(i phase pi/8) times the program written,
  // from 0 to 15.
  std::uint8_t phase = 0;
  // The operator-norm distances, up to a global phase, of the sums of any
  // angle taken for multiples of pi/4, summed: with them, the program
  // written is within this distance of the program read.
  double rounded = 0;
};

class RotationMerger {
 public:
  // `tolerance`: within how many radians of a multiple of pi/4 a sum of any
  // angle is taken for it (at most kAngleTolerance).
  explicit RotationMerger(std::uint32_t qubits, double tolerance = kAngleTolerance);
  RotationMerger(const RotationMerger&) = delete;
  RotationMerger& operator=(const RotationMerger&) = delete;

  // Reads a Clifford gate (Tableau::apply).
  void clifford(CliffordGate gate, std::uint32_t a, std::uint32_t b = 0);
  // Reads a T gate, or a T-dagger when `dagger`, on qubit `qubit`.
  void rotation(std::uint32_t qubit, bool dagger);
  // Reads exp(-i angle/2 A_qubit) for the axis A; `angle` is finite and no
  // multiple of pi/4 (those come as T gates and Clifford gates).
  void rotation(std::uint32_t qubit, RotationAxis axis, double angle);
  // Reads an operation the method does not follow, acting on these qubits
  // (in any order, repeats allowed).
  void boundary(std::span<const std::uint32_t> qubits);
  // From now on every rotation read stays as it was; for a deadline.
  void stop_searching() { searching_ = false; }

  // The rotations' fates and the global phase. Call once, last.
  MergeResult finish();

 private:
  static constexpr std::uint32_t kNone = SupportIndex::kNone;

  // A product the search looks at: a group's, or a boundary's row. A group
  // lives in the item of its product until a wall drops the items or the
  // merger finishes; then its angle is settled as the phase gate written at
  // its first member's place (settle).
  // A group's angle is exp(-i (angle pi/8 + radians/2) P1) for its first
  // member's product P1.
  struct Item {
    std::uint32_t first;  // for a group: the number of its first rotation; kNone for a boundary's row
    std::uint32_t same;   // for a group: the group item before it whose bits have the same hash, or kNone
    std::uint8_t phase;   // the power of i of its product
    std::uint8_t angle;   // for a group: in eighths of pi, mod 16, relative to its first member's product
    RotationAxis axis;    // for a group: the axis its first member was read about
    bool arbitrary;       // for a group: whether its angle has a part in radians
    bool joined;          // for a group: whether a rotation joined it
    double radians;       // for a group: the sum of its rotations of any angle, in order
  };

  const std::uint64_t* item_row(std::uint32_t item) const { return index_.row(item); }
  // What one way of searching settled for a rotation: it joined a group,
  // it starts its own, or the search gave up and another way goes on.
  enum class Found : std::uint8_t { Merged, Own, Unknown };
  // An operation of the program as the walk reads it.
  enum class EventKind : std::uint8_t { Clifford, Group, Boundary };
  struct Event {
    EventKind kind;        // what it is
    CliffordGate gate;     // for a Clifford gate
    std::uint32_t a;       // its qubit, a group's qubit, or a boundary's first qubit in boundary_qubits_
    std::uint32_t b;       // its second qubit, or a boundary's number of qubits
    std::uint32_t item;    // for a group or boundary: its first item
    std::uint32_t before_a;  // the event before it on qubit a, or kNone
    std::uint32_t before_b;  // the event before it on qubit b, or kNone
  };
  // A qubit of the walking product and its next event back, in a heap.
  struct Cursor {
    std::uint32_t event;   // an event on the qubit
    std::uint32_t qubit;   // the qubit
    bool operator<(const Cursor& o) const { return event < o.event; }
  };
  // The items, in blocks of 4,096 (96 KiB), so that adding one never moves
  // or copies the others: a program of a million gates keeps a hundred
  // thousand of them.
  using Items = boost::container::deque<
      Item, void, boost::container::deque_options_t<boost::container::block_size<4096>>>;
  static_assert(std::is_trivially_copyable_v<Item> &&
                std::is_trivially_copyable_v<Event> && std::is_trivially_copyable_v<Cursor>);

  std::uint32_t add_item(const std::uint64_t* row, std::uint8_t phase, std::uint32_t first,
                         std::uint8_t angle);
  // What a searching rotation adds to the group it joins.
  struct Turn {
    int eighths;       // +-1 for a T gate, else 0
    double radians;    // a rotation of any angle's angle, else 0
    bool arbitrary;    // whether it is one
  };
  void search(std::uint32_t qubit, RotationAxis axis, const std::uint64_t* own,
              std::uint8_t own_phase, Turn turn, std::uint32_t number);
  std::uint32_t match(std::uint32_t below);
  void record(Event event);
  void follow(std::uint32_t qubit, std::uint32_t event);
  void join(std::uint32_t item, std::uint8_t phase, const Turn& turn, std::uint32_t number);
  bool pass(std::uint32_t item, std::uint8_t& phase);
  static double group_sum(const Item& item);
  // The search as the probe (in phase `phase`) stands below item `below`,
  // asking the index with at most `tests` single tests per query.
  Found search_index(const Turn& turn, std::uint32_t number, std::uint8_t& phase,
                     std::uint32_t& below, std::size_t tests);
  Found quick_search(const Turn& turn, std::uint32_t number, std::uint8_t& phase,
                     std::uint32_t& below);
  Found recorded(std::uint32_t& below) const;
  Found walk(std::uint32_t qubit, RotationAxis axis, const Turn& turn, std::uint32_t number,
             std::uint8_t& phase, std::uint32_t& below);
  void wall();

  // The hash of the probe's bits, worked out once for each product it takes.
  std::uint64_t probe_hash();
  std::uint64_t hash_row(const std::uint64_t* row) const;
  // Writes the phase gate of each group that has an item at its first
  // member's place, with the global phase that gate leaves.
  void settle();

  Tableau tableau_;                      // the Clifford frame
  std::size_t words_;                    // words per half row
  Items items_;                          // the groups and boundary rows a search may meet, in order
  SupportIndex index_;                   // the items' products, numbered as the items
  HashMap<std::uint32_t, std::uint32_t, IntHash> newest_;
                                         // 32 bits of a hash of some bits -> newest group item with them
  std::uint32_t hashed_ = 0;             // items entered into newest_ (groups only)
  bool walks_;                           // whether searches walk the program first
  bool recording_ = false;               // walks: whether operations are recorded, from the
                                         // first search the index could not settle by runs
  std::uint32_t first_recorded_ = 0;     // walks: the first item recorded as an event
  std::size_t walk_budget_ = 0;          // gates a walk goes back at most
  std::vector<Event> events_;            // walks: the operations recorded since the last wall
  std::vector<std::uint32_t> boundary_qubits_;  // walks: the boundaries' qubits
  std::vector<std::uint32_t> last_event_;       // walks: per qubit, its newest event, or kNone
  std::vector<std::uint32_t> next_event_;       // walks: per qubit, the event its cursor stands for
  std::vector<Cursor> cursors_;          // walks: a heap, newest event first
  LocalPauli local_;                     // walks: the walking rotation's product
  std::vector<std::int8_t> written_;     // per rotation, as MergeResult::written
  std::vector<double> angles_;           // per rotation, as MergeResult::angles
  std::vector<std::uint64_t> y_row_;     // a Y product's row, worked out for its search
  std::vector<std::uint64_t> probe_;     // the searching rotation's product
  std::uint64_t probe_hash_ = 0;         // the hash of its bits, when probe_hashed_
  bool probe_hashed_ = false;            // whether probe_hash_ is that of probe_'s bits
  std::vector<std::uint32_t> stamps_;    // per qubit: the last boundary that named it
  std::uint32_t stamp_ = 0;              // one per boundary
  int phase_ = 0;                        // eighths of pi: +1 per T searched, -1 per T-dagger,
                                         // less the phase gates settled
  bool searching_ = true;                // whether rotations still search
  double tolerance_ = kAngleTolerance;   // how near a multiple of pi/4 a sum is taken for it
  double rounded_ = 0;                   // as MergeResult::rounded
};

}  // namespace kestrel
