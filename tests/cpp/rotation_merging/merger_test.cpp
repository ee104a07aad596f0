// Rotation merging on small programs: a table of cases that show each kind
// of merge, pass and stop, for T gates and for rotations of any angle;
// random programs whose written form is checked against the input as dense
// matrices, global phase included; wide registers (where searches walk the
// program first) merged as narrow ones; and the fast search against the
// search as stated on registers of many words.
#include "src/rotation_merging/merger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "src/circuit/elementary.h"
#include "src/pauli/pauli.h"
#include "tests/cpp/helpers.h"
#include "tests/cpp/pauli/dense.h"

// Small programs read by the shared parse_gates (tests/cpp/helpers.h): gates named
// as in OpenQASM plus "b" for a boundary, fed to a RotationMerger, and
// replayed on dense matrices beside their written form. "t 0; cx 1 0; b 0 1;
// rz(0.3) 1" is a T on qubit 0, a CNOT with control 1, a boundary on qubits
// 0 and 1, and a rotation by 0.3.
namespace kestrel::testing {

using Operation = GateText;

inline bool is_rotation(const std::string& name) {
  return name == "t" || name == "tdg" || name[0] == 'r';
}

// `stride` spreads the qubits, to put the program on a wide register.
inline MergeResult merge(std::uint32_t qubits, const std::vector<Operation>& program, std::uint32_t stride = 1) {
  RotationMerger merger(qubits);
  for (const Operation& op : program) {
    std::vector<std::uint32_t> on;
    for (std::uint32_t q : op.qubits) on.push_back(q * stride);
    if (op.name == "t" || op.name == "tdg") {
      merger.rotation(on[0], op.name == "tdg");
    } else if (op.name[0] == 'r') {
      const Elementary g = gate_named(op.name);
      merger.rotation(on[0], g == Elementary::Rx   ? RotationAxis::X
                             : g == Elementary::Ry ? RotationAxis::Y
                                                   : RotationAxis::Z, op.angle);
    } else if (op.name == "b") {
      merger.boundary(on);
    } else {
      merger.clifford(gate_named(op.name), on[0], on.size() > 1 ? on[1] : 0);
    }
  }
  return merger.finish();
}

// A boundary on `qubits`: gates no Clifford frame follows.
inline void apply_boundary(Dense& d, const std::vector<std::uint32_t>& qubits) {
  if (qubits.size() >= 2) d.apply(model::controlled(1, gate_rx(0.9)), std::vector{qubits[0], qubits[1]});
  for (std::uint32_t q : qubits) d.apply(gate_rx(0.37 + q), q);
}

// What a rotation written as `w` does about the axis of `name` on qubit q:
// the phase gate diag(1, e^(i w pi/4)), one rotation by `angle`
// (kRotation), or nothing (kMerged).
inline void apply_written(Dense& d, const std::string& name, std::int8_t w, double angle, int q) {
  constexpr double kPi = std::numbers::pi;
  if (w == MergeResult::kMerged) return;
  const std::string axis = name[0] == 'r' ? name : "rz";
  if (w == MergeResult::kRotation) {
    apply_elementary(d, gate_named(axis), q, 0, angle);
    return;
  }
  // diag(1, e^(i w pi/4)) about the axis: h around it for X, sdg h .. h s for Y.
  if (axis == "ry") d.apply(phase_gate(-kPi / 2), q);
  if (axis != "rz") d.apply(gate_h(), q);
  d.apply(phase_gate(w * kPi / 4), q);
  if (axis != "rz") d.apply(gate_h(), q);
  if (axis == "ry") d.apply(phase_gate(kPi / 2), q);
}

// What random programs draw from: T gates among Clifford gates and
// boundaries, and the same with rotations of any angle about X, Y and Z.
inline constexpr const char* kTGateDraws[] = {"h", "s", "sdg", "x", "y", "z", "cx", "cz",
                                              "swap", "t", "t", "tdg", "t", "tdg", "b"};
inline constexpr const char* kAngleDraws[] = {"h", "s", "sdg", "x", "y", "z", "cx", "cz", "swap",
                                              "t", "tdg", "rz", "rz", "rx", "ry", "rz", "b"};

// A seeded program of `length` draws from `names` on `qubits` qubits: a
// boundary is kept one draw in `boundary_odds` and takes a second qubit half
// the time when `pair_boundaries`; rotations take an angle from a few, some
// summing to multiples of pi/4, so that groups land on T, Clifford and
// nothing as well as on new angles.
inline std::vector<Operation> random_program(std::mt19937& rng, std::uint32_t qubits, int length,
                                             std::span<const char* const> names,
                                             unsigned boundary_odds, bool pair_boundaries) {
  constexpr double kPi = std::numbers::pi;
  const double angles[] = {0.3, -0.3, kPi / 8, -kPi / 8, kPi / 4 - 0.3, 1.1, kPi / 16};
  std::vector<Operation> program;
  for (int k = 0; k < length; ++k) {
    Operation op{names[rng() % names.size()], {}};
    const bool pair = op.name == "cx" || op.name == "cz" || op.name == "swap";
    if (pair && qubits < 2) continue;
    if (op.name == "b" && rng() % boundary_odds != 0) continue;
    const std::uint32_t a = rng() % qubits;
    op.qubits.push_back(a);
    if (pair) op.qubits.push_back((a + 1 + rng() % (qubits - 1)) % qubits);
    if (op.name == "b" && pair_boundaries && qubits > 1 && rng() % 2) {
      op.qubits.push_back((a + 1) % qubits);
    }
    if (op.name[0] == 'r') op.angle = angles[rng() % std::size(angles)];
    program.push_back(op);
  }
  return program;
}

// Whether `program` equals its written form `result` times the phase, as
// dense matrices; counts the merged rotations, and the rotations of any
// angle written as phase gates, into `merged` and `landed`.
inline bool equals_its_written_form(std::uint32_t qubits, const std::vector<Operation>& program,
                                    const MergeResult& result, int& merged, int& landed) {
  Dense in(static_cast<int>(qubits)), out(static_cast<int>(qubits));
  std::size_t rotation = 0;
  for (const Operation& op : program) {
    const int a = static_cast<int>(op.qubits[0]);
    const int b = op.qubits.size() > 1 ? static_cast<int>(op.qubits[1]) : 0;
    if (op.name == "b") {
      apply_boundary(in, op.qubits);
      apply_boundary(out, op.qubits);
      continue;
    }
    apply_elementary(in, gate_named(op.name), a, b, op.angle);
    if (!is_rotation(op.name)) {
      apply_elementary(out, gate_named(op.name), a, b);
      continue;
    }
    if (rotation >= result.written.size()) return false;
    const std::int8_t w = result.written[rotation];
    merged += w == MergeResult::kMerged;
    landed += op.name[0] == 'r' && w != MergeResult::kMerged && w != MergeResult::kRotation;
    apply_written(out, op.name, w, result.angles.at(rotation), a);
    ++rotation;
  }
  return rotation == result.written.size() && result.phase < 16 && in.equals(out, result.phase * std::numbers::pi / 8);
}

}  // namespace kestrel::testing

namespace kestrel {
namespace {

using testing::merge;
using testing::Operation;
constexpr double kPi = std::numbers::pi;

// Each kind of merge, pass and stop, for T gates and then for rotations of
// any angle, for which what is new is how angles add and land. (Sums that
// land on nothing, T or S, and a sum written at a T's place, are
// test_angles.py's, end to end with the exact phase; that nothing merges
// that should not, the random programs' below.)
TEST(MergerTest, Cases) {
  constexpr std::int8_t M = MergeResult::kMerged, R = MergeResult::kRotation;
  struct Case {
    const char* why;
    std::uint32_t qubits;
    const char* program;
    std::vector<std::int8_t> written;  // per rotation
    std::vector<double> angles = {};   // per rotation, where written is R
  };
  const Case cases[] = {
      {"two T gates are one S", 1, "t 0; t 0", {2, M}},
      {"T and T-dagger cancel", 1, "t 0; tdg 0", {0, M}},
      {"eight T gates are nothing", 1, "t 0; t 0; t 0; t 0; t 0; t 0; t 0; t 0",
       {0, M, M, M, M, M, M, M}},
      {"five T gates: Z then T", 1, "t 0; t 0; t 0; t 0; t 0", {-3, M, M, M, M}},
      {"X between flips the sign", 1, "t 0; x 0; t 0", {0, M}},
      {"merged across a CNOT pair, passing a commuting rotation", 2, "t 0; cx 1 0; t 0; cx 1 0; t 0", {2, 1, M}},
      {"rotations about X and Z do not merge", 1, "t 0; h 0; t 0", {1, 1}},
      {"C^-1 Z C, not C Z C^-1: h t h s h t stays", 1, "h 0; t 0; h 0; s 0; h 0; t 0", {1, 1}},
      {"a group of angle pi/4 is passed with the product conjugated", 1,
       "t 0; h 0; s 0; t 0; t 0; h 0; t 0", {0, 2, M, M}},
      {"a boundary on an unrelated qubit is passed", 2, "t 0; b 1; t 0", {2, M}},
      {"a boundary on the rotation's qubit stops it", 1, "t 0; b 0; t 0", {1, 1}},
      {"a reset between two CNOTs stops it, though the T gates are on q1", 2, "t 1; cx 0 1; b 0; cx 0 1; t 1", {1, 1}},
      {"a boundary on every qubit stops every search", 2, "t 0; b 0 1; t 0", {1, 1}},
      {"a boundary whose qubits the product does not reach is passed", 3, "t 0; cx 1 2; b 2; cx 1 2; t 0", {2, M}},
      {"two rotations about Z add", 2, "rz(0.3) 0; rz(0.4) 0", {R, M}, {0.7, 0}},
      {"a T joins a rotation: pi/4 more", 2, "rz(0.3) 0; t 0", {R, M}, {0.3 + kPi / 4, 0}},
      {"H turns Z into X", 2, "rx(0.3) 0; h 0; rz(0.2) 0", {R, M}, {0.5, 0}},
      {"S turns X into -Y", 2, "ry(0.3) 0; s 0; rx(0.2) 0", {R, M}, {0.1, 0}},
      {"an anticommuting rotation of any angle is never passed", 2, "rz(0.1) 0; rx(0.2) 0; rz(0.3) 0",
       {R, R, R}, {0.1, 0.2, 0.3}},
      {"a Clifford group (two T gates) is passed, a group with an angle is not", 2,
       "t 0; t 0; h 0; rz(0.3) 0; h 0; rz(0.5) 0", {2, M, R, R}, {0, 0, 0.3, 0.5}},
      {"angles summing to pi/2 are an S, passed: X becomes -Y and joins the ry", 2,
       "ry(0.5) 0; rz(0.3) 0; rz(1.2707963267948965) 0; rx(0.2) 0", {R, 2, M, M}, {0.3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const MergeResult result = merge(c.qubits, parse_gates(c.program));
    EXPECT_EQ(result.written, c.written) << c.why;
    for (std::size_t k = 0; k < c.angles.size() && k < result.written.size(); ++k) {
      if (c.written[k] == R) {
        EXPECT_DOUBLE_EQ(result.angles[k], c.angles[k]) << c.why << " " << k;
      }
    }
  }
}

TEST(MergingAngles, WideRegistersMergeAsNarrowOnes) {
  // On 300 qubits (five words a half row) searches walk the program first.
  std::mt19937 rng(36);
  for (int trial = 0; trial < 100; ++trial) {
    const std::vector<Operation> program = testing::random_program(rng, 4, 400, testing::kAngleDraws, 3, false);
    const MergeResult narrow = merge(4, program);
    const MergeResult wide = merge(300, program, 70);
    EXPECT_EQ(wide.written, narrow.written) << trial;
    EXPECT_EQ(wide.angles, narrow.angles) << trial;
    EXPECT_EQ(wide.phase, narrow.phase) << trial;
  }
}

// Random programs, checked against their written form as dense matrices,
// global phase included: T gates with boundaries on one or two qubits, and
// T gates mixed with rotations of any angle about X, Y and Z.
TEST(MergerTest, RandomProgramsEqualTheirWrittenFormTimesThePhase) {
  const struct {
    std::span<const char* const> names;
    unsigned seed, max_qubits, boundary_odds;
    bool pair_boundaries;
    int min_merged, min_landed;  // the programs do exercise merging
  } families[] = {{testing::kTGateDraws, 3, 4, 4, true, 100, 0},
                  {testing::kAngleDraws, 35, 3, 3, false, 200, 6}};
  for (const auto& f : families) {
    std::mt19937 rng(f.seed);
    int merged = 0, landed = 0;
    for (int trial = 0; trial < 400; ++trial) {
      const std::uint32_t qubits = 1 + rng() % f.max_qubits;
      const auto program = testing::random_program(rng, qubits, 1 + static_cast<int>(rng() % 40),
                                                   f.names, f.boundary_odds, f.pair_boundaries);
      EXPECT_TRUE(testing::equals_its_written_form(qubits, program, merge(qubits, program), merged, landed))
          << "seed " << f.seed << ", trial " << trial;
    }
    EXPECT_GT(merged, f.min_merged);
    EXPECT_GE(landed, f.min_landed);  // groups of rotations that land on multiples of pi/4
  }
}

TEST(MergerTest, AProgramWithoutQubitsHasNothingToMerge) {
  RotationMerger merger(0);
  merger.boundary({});
  const MergeResult result = merger.finish();
  EXPECT_TRUE(result.written.empty());
  EXPECT_EQ(result.phase, 0);
}

TEST(MergerTest, AfterStopSearchingRotationsStayAsTheyWere) {
  RotationMerger merger(1);
  merger.rotation(0, false);
  merger.rotation(0, false);  // merges: the group is an S
  merger.stop_searching();
  merger.rotation(0, false);
  merger.rotation(0, true);
  const MergeResult result = merger.finish();
  EXPECT_EQ(result.written, (std::vector<std::int8_t>{2, MergeResult::kMerged, 1, -1}));
  EXPECT_EQ(result.phase, 0);
}

// The search as stated, for comparison: every group and boundary row kept
// in a list, searched newest first one by one.
class PlainMerger {
 public:
  explicit PlainMerger(std::uint32_t qubits) : frame_(qubits), words_(frame_.words()) {}

  void clifford(CliffordGate g, std::uint32_t a, std::uint32_t b = 0) { frame_.apply(g, a, b); }

  void boundary(const std::vector<std::uint32_t>& qubits) {
    for (std::uint32_t q : qubits) {
      add(frame_.x_row(q), frame_.x_phase(q), -1);
      add(frame_.z_row(q), frame_.z_phase(q), -1);
    }
  }

  void rotation(std::uint32_t q, bool dagger) {
    const int sign = dagger ? -1 : 1;
    written_.push_back(static_cast<std::int8_t>(sign));
    std::vector<std::uint64_t> p(frame_.z_row(q), frame_.z_row(q) + 2 * words_);
    std::uint8_t k = frame_.z_phase(q);
    for (std::size_t i = items_.size(); i-- > 0;) {
      Item& item = items_[i];
      if (item.group >= 0 && same_bits(p.data(), item.row.data(), words_)) {
        Group& g = groups_[static_cast<std::size_t>(item.group)];
        g.angle = (g.angle + (((k - item.phase) & 3) == 0 ? sign : -sign)) & 15;
        written_.back() = MergeResult::kMerged;
        return;
      }
      if (!anticommute(p.data(), item.row.data(), words_)) continue;
      if (item.group < 0) break;
      const int angle = groups_[static_cast<std::size_t>(item.group)].angle & 7;
      if (angle & 1) break;
      if (angle == 4) k = (k + 2) & 3;
      if (angle == 2 || angle == 6) {
        k = multiply(item.row.data(), item.phase, p.data(), k, p.data(), words_);
        k = (k + (angle == 2 ? 1 : 3)) & 3;
      }
    }
    groups_.push_back(Group{written_.size() - 1, sign & 15});
    add(frame_.z_row(q), frame_.z_phase(q), static_cast<int>(groups_.size() - 1));
  }

  std::vector<std::int8_t> written() const {
    std::vector<std::int8_t> out = written_;
    for (const Group& g : groups_) {
      const int r = g.angle & 7;
      out[g.first] = static_cast<std::int8_t>(r <= 4 ? r : r - 8);
    }
    return out;
  }

 private:
  struct Group {
    std::size_t first;
    int angle;
  };
  struct Item {
    std::vector<std::uint64_t> row;
    std::uint8_t phase;
    int group;  // -1 for a boundary row
  };
  void add(const std::uint64_t* row, std::uint8_t phase, int group) {
    items_.push_back(Item{std::vector<std::uint64_t>(row, row + 2 * words_), phase, group});
  }

  Tableau frame_;
  std::size_t words_;
  std::vector<Item> items_;
  std::vector<Group> groups_;
  std::vector<std::int8_t> written_;
};

TEST(MergerTest, AgreesWithThePlainSearchAtEveryWidth) {
  // 300 qubits are wide enough for the searches to walk the program first.
  struct Width {
    std::uint32_t qubits;
    int programs;
    int length;
    int active;  // qubits the program uses
  };
  // The long programs on many active qubits make walks reach their limit
  // and products spread past the walk's light cone; on 700 qubits (eleven
  // words a half row) the index reads only the words a product reaches.
  const Width widths[] = {{3, 200, 60, 3},   {70, 60, 400, 6},     {300, 40, 400, 6},
                          {300, 4, 8000, 6}, {300, 4, 8000, 120},  {700, 24, 3000, 8}};
  std::mt19937 rng(17);
  for (const Width& w : widths) {
    for (int trial = 0; trial < w.programs; ++trial) {
      // A few active qubits, spread over the words, so that groups meet.
      std::vector<std::uint32_t> active;
      for (int k = 0; k < w.active; ++k) active.push_back(rng() % w.qubits);
      RotationMerger fast(w.qubits);
      PlainMerger plain(w.qubits);
      // Some programs have only cx, t and tdg (diagonal rotations), some
      // only cx and h t h (rotations about products of X), whose rotations
      // all commute: there searches go far back.
      const int shape = trial % 4;
      const auto rotate = [&](std::uint32_t q, bool dagger) {
        if (shape == 1) {
          fast.clifford(CliffordGate::H, q);
          plain.clifford(CliffordGate::H, q);
        }
        fast.rotation(q, dagger);
        plain.rotation(q, dagger);
        if (shape == 1) {
          fast.clifford(CliffordGate::H, q);
          plain.clifford(CliffordGate::H, q);
        }
      };
      for (int k = 0; k < w.length; ++k) {
        const std::uint32_t a = active[rng() % active.size()];
        std::uint32_t b = active[rng() % active.size()];
        const unsigned pick = rng() % (shape < 2 ? 3 : 12);
        if (pick == 0 || pick == 1) {
          rotate(a, pick == 1);
        } else if (pick == 11 && rng() % 3 == 0) {
          const std::vector<std::uint32_t> qubits{a};
          fast.boundary(qubits);
          plain.boundary(qubits);
        } else {
          CliffordGate g = testing::kCliffordGates[shape < 2 ? 6 : rng() % std::size(testing::kCliffordGates)];
          const bool pair = g == CliffordGate::CX || g == CliffordGate::CZ || g == CliffordGate::Swap;
          if (pair && a == b) b = (a + 1) % w.qubits;
          fast.clifford(g, a, b);
          plain.clifford(g, a, b);
        }
      }
      EXPECT_EQ(fast.finish().written, plain.written()) << w.qubits << " qubits, program " << trial;
    }
  }
}

}  // namespace
}  // namespace kestrel
