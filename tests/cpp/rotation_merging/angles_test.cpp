// Rotation merging with rotations of any angle: a table of merges and
// stops, and random programs mixing T gates and rotations about X, Y and Z
// on a wide register (where searches walk the program first) merged as on a
// narrow one. merger_test.cpp checks such programs against dense matrices.
#include <gtest/gtest.h>

#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "src/rotation_merging/merger.h"
#include "tests/cpp/rotation_merging/programs.h"

namespace kestrel {
namespace {

using testing::merge;
using testing::Operation;
constexpr double kPi = std::numbers::pi;

TEST(MergingAngles, Cases) {
  constexpr std::int8_t M = MergeResult::kMerged, R = MergeResult::kRotation;
  struct Case {
    const char* why;
    std::vector<Operation> program;
    std::vector<std::int8_t> written;
    std::vector<double> angles;  // where written is R
  };
  const Case cases[] = {
      {"two rotations about Z add", {{"rz", {0}, 0.3}, {"rz", {0}, 0.4}}, {R, M}, {0.7, 0}},
      {"a T joins a rotation: pi/4 more", {{"rz", {0}, 0.3}, {"t", {0}}}, {R, M}, {0.3 + kPi / 4, 0}},
      {"a rotation joins a T, written as rz at the T's place",
       {{"t", {0}}, {"rz", {0}, 0.3}}, {R, M}, {0.3 + kPi / 4, 0}},
      {"opposite angles: nothing", {{"rz", {0}, 0.3}, {"rz", {0}, -0.3}}, {0, M}, {0, 0}},
      {"a sum of pi/4 is a T", {{"rz", {0}, 0.3}, {"rz", {0}, kPi / 4 - 0.3}}, {1, M}, {0, 0}},
      {"a sum of pi/2 about X is an S about X",
       {{"rx", {0}, 1.0}, {"rx", {0}, kPi / 2 - 1.0}}, {2, M}, {0, 0}},
      {"X flips the sign of a Z rotation", {{"rz", {0}, 0.3}, {"x", {0}}, {"rz", {0}, 0.5}},
       {R, M}, {-0.2, 0}},
      {"rotations about X and Z stay apart", {{"rz", {0}, 0.3}, {"rx", {0}, 0.3}}, {R, R}, {0.3, 0.3}},
      {"H turns Z into X", {{"rx", {0}, 0.3}, {"h", {0}}, {"rz", {0}, 0.2}}, {R, M}, {0.5, 0}},
      {"S turns X into -Y", {{"ry", {0}, 0.3}, {"s", {0}}, {"rx", {0}, 0.2}}, {R, M}, {0.1, 0}},
      {"across a CNOT pair, past a commuting rotation",
       {{"rz", {0}, 0.1}, {"cx", {1, 0}}, {"rz", {0}, 0.2}, {"cx", {1, 0}}, {"rz", {0}, 0.3}},
       {R, R, M}, {0.4, 0.2, 0}},
      {"an anticommuting rotation of any angle is never passed",
       {{"rz", {0}, 0.1}, {"rx", {0}, 0.2}, {"rz", {0}, 0.3}}, {R, R, R}, {0.1, 0.2, 0.3}},
      {"a boundary on the qubit stops it", {{"rz", {0}, 0.1}, {"b", {0}}, {"rz", {0}, 0.3}},
       {R, R}, {0.1, 0.3}},
      {"a Clifford group (two T gates) is passed, a group with an angle is not",
       {{"t", {0}}, {"t", {0}}, {"h", {0}}, {"rz", {0}, 0.3}, {"h", {0}}, {"rz", {0}, 0.5}},
       {2, M, R, R}, {0, 0, 0.3, 0.5}},
      {"angles summing to pi/2 are an S, passed: X becomes -Y and joins the ry",
       {{"ry", {0}, 0.5}, {"rz", {0}, 0.3}, {"rz", {0}, kPi / 2 - 0.3}, {"rx", {0}, 0.2}},
       {R, 2, M, M}, {0.3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const MergeResult result = merge(2, c.program);
    EXPECT_EQ(result.written, c.written) << c.why;
    for (std::size_t k = 0; k < c.written.size() && k < result.written.size(); ++k) {
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

}  // namespace
}  // namespace kestrel
