// Tests of the per-qubit pass with model segment optimisers: where segments
// end and where their results are written, what happens to the text around
// removed gates, that each distinct segment is optimised once, and the
// statistics.
#include "src/per_qubit/per_qubit.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/fault.h"
#include "src/pipeline/pipeline.h"
#include "src/program/program_stats.h"
#include "src/program/writer.h"

namespace kestrel {
namespace {

constexpr std::string_view kHead = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[3];\n";

// Returns each segment as it is.
std::vector<Op> unchanged(std::span<const Op> segment) { return {segment.begin(), segment.end()}; }

// Returns S for every segment: shows where each segment's result is written.
std::vector<Op> one_s(std::span<const Op>) { return {Op(OpKind::S)}; }

// Returns nothing for every segment.
std::vector<Op> nothing(std::span<const Op>) { return {}; }

struct Written {
  std::string qasm;     // the program with every segment optimised
  CircuitStats before;  // of the program read
  CircuitStats after;   // of the program written
};

// The pass's edits on `text`, counted and written as the pipeline does.
Written pass(std::string_view text, const SegmentOptimizer& optimize) {
  auto read = read_program(text);
  if (const auto* error = std::get_if<InputError>(&read)) {
    ADD_FAILURE() << error->text();
    return {};
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  const Edits edits = per_qubit_edits(program, optimize, false).edits;
  const ProgramStats stats = program_stats(program, edits);
  return {write_program(text, program, edits), stats.before, stats.after};
}

struct WriteCase {
  std::string_view name;       // what the row shows
  std::string_view in;         // after kHead
  std::vector<Op> (*optimize)(std::span<const Op>);
  std::string_view out;        // after kHead
};

TEST(PerQubitPass, WhereResultsAreWritten) {
  const WriteCase cases[] = {
      {"each segment at its last gate", "t q[0];\nh q[1];\nt q[0];\ncx q[0],q[1];\nx q[1];\n", one_s,
       "s q[1];\ns q[0];\ncx q[0],q[1];\ns q[1];\n"},
      {"a statement sharing a line leaves its blanks", "t q[0]; t q[0];\nh q[1]; // why\n",
       one_s, " s q[0];\ns q[1]; // why\n"},
      {"a segment ends at each statement naming its qubit, and only there",
       "h q[0];\nbarrier q;\nh q[0];\nmeasure q[0] -> c[0];\nh q[0];\nreset q[0];\n"
       "h q[0];\nif (c==1) x q[2];\nh q[0];\nt q;\nh q[0];\n", one_s,
       "s q[0];\nbarrier q;\ns q[0];\nmeasure q[0] -> c[0];\ns q[0];\nreset q[0];\n"
       "if (c==1) x q[2];\ns q[0];\nt q;\ns q[0];\n"},
      {"an empty result removes lines that held only gates",
       "  t q[0];\n\t tdg q[0] ;\r\nx q[1]; cx q[1],q[2];\n", nothing, " cx q[1],q[2];\n"},
      {"also lines that held several of them", "  t q[0];  tdg q[0]; \nh q[1];\th q[1];\n// c\n",
       nothing, "// c\n"},
      {"but not a line that holds something else too", "t q[0]; h q[1]; // c\nh q[0];\n", nothing,
       "  // c\n"},
      {"several gates are written one per line, indented like the last",
       "h q[0];\n   t q[0];\ncx q[0],q[1];\n", unchanged, "   h q[0];\n   t q[0];\ncx q[0],q[1];\n"},
      {"a gate in a definition's body is not a segment; a defined gate, parameterised too, ends one",
       "gate g(theta) a { t a; rz(theta) a; }\nt q[0];\ng(0.5) q[0];\nh q[0];\n", one_s,
       "gate g(theta) a { t a; rz(theta) a; }\ns q[0];\ng(0.5) q[0];\ns q[0];\n"},
      {"the operand is written plainly", "t q [ 2 ] ;", unchanged, "t q[2];"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string in = std::string(kHead);
    if (c.in.find("c[") != std::string_view::npos || c.in.find("c==") != std::string_view::npos) {
      in += "creg c[1];\n";
    }
    const std::string head = in;
    in += c.in;
    EXPECT_EQ(pass(in, c.optimize).qasm, head + std::string(c.out));
  }
}

TEST(PerQubitPass, WindowsLineEndsJoinWrittenGates) {
  const std::string in = "OPENQASM 2.0;\r\ninclude \"qelib1.inc\";\r\nqreg q[1];\r\nh q[0];\r\nt q[0];\r\n";
  EXPECT_EQ(pass(in, unchanged).qasm, in);
}

TEST(PerQubitPass, EachDistinctSegmentIsOptimisedOnce) {
  std::vector<std::vector<Op>> seen;
  const SegmentOptimizer recording = [&](std::span<const Op> r) {
    seen.emplace_back(r.begin(), r.end());
    return std::vector<Op>(r.begin(), r.end());
  };
  const std::string in = std::string(kHead) +
                         "h q[0]; t q[0]; h q[1]; t q[1]; cx q[0],q[1];\n"
                         "h q[0]; t q[0]; t q[1]; cx q[0],q[1];\nh q[2]; t q[2]; t q[1];\n";
  pass(in, recording);
  const Op h(OpKind::H), t(OpKind::T);
  const std::vector<std::vector<Op>> expected = {{h, t}, {t}};
  EXPECT_EQ(seen, expected);
}

TEST(PerQubitPass, SaturationAfterTheCallsDeadlineLeavesSegmentsAsTheyWere) {
  const std::vector<Op> segment = {Op(OpKind::T), Op(OpKind::T)};
  const PipelineOptions options;
  const Deadline passed(std::chrono::seconds(1), Deadline::Clock::now() - std::chrono::hours(1));
  EXPECT_EQ(optimize_segment(segment, options, &passed), segment);
  const Deadline ahead(std::chrono::hours(1));
  EXPECT_EQ(optimize_segment(segment, options, &ahead), std::vector<Op>{Op(OpKind::S)});
  EXPECT_EQ(optimize_segment(segment, options), std::vector<Op>{Op(OpKind::S)});
}

TEST(PerQubitPass, AResultOutsideTheSevenGatesIsAFault) {
  const SegmentOptimizer bad = [](std::span<const Op>) { return std::vector<Op>{Op(OpKind::CNOT)}; };
  EXPECT_THROW(pass(std::string(kHead) + "t q[0];\n", bad), Fault);
}

TEST(PerQubitPass, StatisticsOfWholePrograms) {
  // Barriers, broadcasts, defined gates, measurements and conditioned
  // gates are checked against Qiskit's counts on random programs
  // (tests/python/test_per_qubit.py and others); conditioned measurements
  // and resets, and a second register, only here; and the counts after of
  // results other than the segments read.
  struct Case {
    std::string_view in;  // after the head and "creg c[2];"
    std::vector<Op> (*optimize)(std::span<const Op>);
    CircuitStats before, after;
  };
  const Case cases[] = {
      {"", unchanged, {0, 0, 0}, {0, 0, 0}},
      {"h q[1]; h q[1]; if (c==0) measure q[0] -> c[0]; h q[2];", unchanged, {0, 3, 2}, {0, 3, 2}},
      {"h q[1]; if (c==0) measure q[1] -> c[1]; measure q[0] -> c[0];", unchanged, {0, 1, 3}, {0, 1, 3}},
      {"h q[0]; h q[0]; if(c==0) reset q[2]; creg d[1]; if (d==0) h q[1];", unchanged, {0, 3, 2}, {0, 3, 2}},
      {"t q[0]; t q[0]; t q[0]; cx q[0],q[1]; t q[1];", one_s, {4, 5, 5}, {0, 3, 3}},
  };
  for (const Case& c : cases) {
    const std::string in = std::string(kHead) + "creg c[2];\n" + std::string(c.in);
    SCOPED_TRACE(in);
    const Written result = pass(in, c.optimize);
    EXPECT_EQ(result.before, c.before);
    EXPECT_EQ(result.after, c.after);
  }
}

}  // namespace
}  // namespace kestrel
