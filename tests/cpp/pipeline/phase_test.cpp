// Tests of the global phase the pipeline reports when asked: per method and
// way of reading, on programs whose phase is known exactly, and nothing when
// not asked.
#include "src/pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kestrel {
namespace {

const std::string kHead = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\n";
// (S H)^3 = e^(i pi/4): phase 2, and the normal form writes nothing for it.
const std::string kCube = "h q[0];\ns q[0];\nh q[0];\ns q[0];\nh q[0];\ns q[0];\n";
const std::string kCube1 = "h q[1];\ns q[1];\nh q[1];\ns q[1];\nh q[1];\ns q[1];\n";

struct PhaseCase {
  std::string_view name;
  Method method;
  bool per_qubit;
  std::string text;
  int phase;
};

TEST(PipelinePhase, KnownPhases) {
  const PhaseCase cases[] = {
      {"normal form, one wire", Method::NormalForm, false, kHead + kCube, 2},
      {"normal form, one wire, across a CNOT pair that cancels", Method::NormalForm, false,
       kHead + kCube + "cx q[0],q[1];\n" + kCube + "cx q[0],q[1];\n" + kCube, 6},
      {"normal form, one wire: X Z X Z = -I", Method::NormalForm, false,
       kHead + "x q[0];\nz q[0];\nx q[0];\nz q[0];\n", 8},
      {"normal form per qubit: the runs' phases add up", Method::NormalForm, true,
       kHead + kCube + kCube1 + "cx q[0],q[1];\n" + kCube, 6},
      {"normal form per qubit, a repeated run counted each time", Method::NormalForm, true,
       kHead + kCube + "cx q[0],q[1];\n" + kCube + "cx q[0],q[1];\n" + kCube + kCube1, 8},
      {"saturation, one wire: exact identities", Method::Saturation, false,
       kHead + "t q[0];\nt q[0];\nh q[0];\nz q[0];\nh q[0];\n", 0},
      {"saturation per qubit", Method::Saturation, true, kHead + kCube + kCube1, 0},
      {"rotation merging: T T = S exactly", Method::RotationMerging, false,
       kHead + "t q[0];\ncx q[1],q[0];\nt q[0];\ncx q[1],q[0];\nt q[0];\n", 0},
  };
  for (const PhaseCase& c : cases) {
    PipelineOptions options;
    options.method = c.method;
    options.per_qubit = c.per_qubit;
    EXPECT_FALSE(run_pipeline(c.text, options).phase.has_value()) << c.name;
    options.phase = true;
    const PipelineResult result = run_pipeline(c.text, options);
    ASSERT_TRUE(result.phase.has_value()) << c.name;
    EXPECT_EQ(*result.phase, c.phase) << c.name;
  }
}

}  // namespace
}  // namespace kestrel
