// The tables of methods and options as the front ends read them: values and
// their messages in both spellings, the command line's words, the help made
// from the tables, tables that break their rules, and the one-wire reading
// of texts that are no programs.
#include "src/pipeline/options.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "src/pipeline/command_line.h"
#include "src/pipeline/pipeline.h"

namespace kestrel {
namespace {

const Option& row(std::string_view flag, const Tables& tables = {}) {
  for (const Option& option : tables.options) {
    if (option.flag == flag) return option;
  }
  throw std::logic_error("no row " + std::string(flag));
}

CommandLine words(std::vector<std::string> list, const Tables& tables = {}) {
  return read_command_line(list, tables);
}

// Seconds past what a double holds; the messages of values in range are
// checked through the module (test_report.py, test_phase_polynomial.py) and
// the command line (test_cli.py and the words below), and so are whole
// numbers past 64 bits (ancillas=±2**70 there: the path of every count).
TEST(Options, ValuesPastTheirTypes) {
  Invocation into;
  EXPECT_FALSE(set_option(row("--time-limit"), std::optional(Seconds{0, true}), "'1e400'",
                          Spelling::CommandLine, into));  // no limit
  EXPECT_EQ(set_option(row("--two-qubit-cost"), std::optional(Seconds{0, true}), "'1e400'",
                       Spelling::CommandLine, into),
            "--two-qubit-cost must be a finite number of at least 0, not '1e400'");
  EXPECT_FALSE(set_option(row("--time-limit"), std::optional(Seconds{0.25}), "", Spelling::Python, into));
  EXPECT_EQ(into.pipeline.limits.time_limit, std::chrono::milliseconds(250));
}

// The signatures the tables write are held to the stub by test_module.py,
// and the options the help lists to the docs' by test_cli.py; a method's own
// options are read from the command line in test_program.py and refused
// with another method in test_report.py (and by the words below).
TEST(Options, HelpFromTheTables) {
  const std::string help = help_text();
  for (std::string_view line :
       {"  --iter-limit N        iterations of saturation at most (default 30)\n",
        "  -h, --help            print this help and exit\n",
        "  rotation-merging      the T gates of a whole program merged across its\n",
        "  phase-polynomial      rotation merging, then", "  --ancillas K", "  --two-qubit-cost C", "0.01)\n"}) {
    EXPECT_NE(help.find(line), std::string::npos) << line << "\nin\n" << help;
  }
}

TEST(CommandLine, Words) {
  const CommandLine plain = words({"--in", "c.qasm", "--method=normal-form", "--stats",
                                   "--iter-limit", "7", "--in", "d.qasm", "--phase", "--strict", "--json"});
  ASSERT_FALSE(plain.error) << *plain.error;
  const Invocation& o = plain.invocation;
  EXPECT_EQ(o.in, "d.qasm");  // a later --in replaces the earlier one
  EXPECT_EQ(o.pipeline.method, Method::NormalForm);
  EXPECT_EQ(o.pipeline.limits.iter_limit, 7u);
  EXPECT_TRUE(o.stats && o.json && o.strict && o.pipeline.phase);
  EXPECT_FALSE(o.pipeline.per_qubit || o.report || o.out || o.help);
  EXPECT_EQ(words({"-"}).invocation.in, "-");
  EXPECT_EQ(words({"--in", "--stats"}).invocation.in, "--stats");  // the next word, whatever it is
  EXPECT_TRUE(words({"--bogus", "-h"}).invocation.help);
  EXPECT_FALSE(words({"--version", "--in"}).error);

  // test_cli.py runs the messages it shares with this table end to end.
  const struct {
    std::vector<std::string> words;
    std::string error;
  } errors[] = {
      {{}, "no input file: give one as FILE or --in FILE (- is standard input)"},
      {{"a.qasm", "-iter_limit=3"}, "unknown option '-iter_limit=3' (did you mean '--iter-limit'?)"},
      {{"a.qasm", "---"}, "unknown option '---'"},
      {{"a.qasm", "--IN", "a.qasm"}, "unknown option '--IN'"},
      {{"a.qasm", "-x"}, "unknown option '-x'"},
      {{"a.qasm", "b.qasm"}, "unexpected argument 'b.qasm': the input is already 'a.qasm'"},
      {{"a.qasm", "--in", "b.qasm"}, "unexpected argument 'b.qasm': the input is already 'a.qasm'"},
      {{"--in", "a.qasm", "--", "-"}, "unexpected argument '-': the input is already 'a.qasm'"},
      {{"a.qasm", "--iter-limit"}, "--iter-limit needs a value (N)"},
      {{"a.qasm", "--node-limit", "1e4"}, "--node-limit must be a whole number of at least 1, not '1e4'"},
      {{"a.qasm", "--time-limit", "1e-400"}, "--time-limit must be a positive finite number of seconds, not '1e-400'"},
      {{"a.qasm", "--stats=yes"}, "--stats takes no value"},
      {{"a.qasm", "--report", "--per-qubit"},
       "--report and --dot describe a saturation run on one wire, not --per-qubit or another --method"},
      // Synthesis of one rotation: both values, no file; with a file, the
      // precision of the whole-program methods' synthesis.
      {{"--rz=-2", "--epsilon=0.1"}, "(accepted)"},
      {{"--rz", "0.5"}, "--rz needs --epsilon E, the precision, in (0, 0.1]"},
      {{"a.qasm", "--epsilon", "1e-3"},
       "--epsilon applies to method 'rotation-merging' or 'phase-polynomial' only, not 'saturation'"},
      {{"a.qasm", "--method", "phase-polynomial", "--epsilon", "1e-3"}, "(accepted)"},
      {{"--rz", "0.5", "--epsilon", "1e-3", "a.qasm"}, "--rz reads no input file, but 'a.qasm' was given"},
      {{"--rz", "0.5", "--epsilon", "0.2"}, "--epsilon must be a number in (0, 0.1], not '0.2'"},
      {{"--rz", "0.5", "--epsilon", "0"}, "--epsilon must be a number in (0, 0.1], not '0'"},
      {{"--rz", "inf", "--epsilon", "1e-3"}, "--rz must be a finite number, not 'inf'"},
  };
  for (const auto& c : errors) {
    const CommandLine read = read_command_line(c.words);
    EXPECT_EQ(read.error.value_or("(accepted)"), c.error) << c.words.size();
  }
}

TEST(Options, AMalformedTableIsRefused) {
  constexpr Option kTwice[] = {
      {.name = "a", .flag = "--a", .kind = OptionKind::Switch, .callers = kOptimizeQasm,
       .slot = [](Invocation& o) -> bool& { return o.stats; }},
      {.name = "b", .flag = "--a", .kind = OptionKind::Switch, .callers = kOptimizeQasm,
       .slot = [](Invocation& o) -> bool& { return o.json; }},
  };
  static_assert(!well_formed(kTwice));
  constexpr Option kWrongSlot[] = {
      {.name = "a", .flag = "--a", .metavar = "N", .kind = OptionKind::Count,
       .callers = kOptimizeQasm, .slot = [](Invocation& o) -> bool& { return o.stats; }},
  };
  static_assert(!well_formed(kWrongSlot));
}

// A text past the node limit is read as one wire, and so is one that is
// no program (with the finding and the reader's message: test_one_wire.py,
// whose warnings say both; a program that is not one wire is read per
// qubit there too, every method).
TEST(Options, OneWireReadingsOfTextsThatAreNoPrograms) {
  std::string long_text = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\n";
  for (int k = 0; k < 20'000; ++k) long_text += "t q[0];\n";
  EXPECT_EQ(run_pipeline(long_text).reading, TextReading::OneWire);
  const PipelineResult wider = run_pipeline(long_text + "t q[1];\n");
  EXPECT_EQ(wider.reading, TextReading::OneWire);  // q[1] is no qubit of the program
  EXPECT_EQ(wider.wire.kind, WireFinding::Kind::OtherQubit);
}

}  // namespace
}  // namespace kestrel
