// The methods and the options of a call, each in one table that every front
// end reads: the Python argument reader (binding/arguments.h), the module's
// signatures and docstrings, the command line and its `--help`
// (binding/cli.cpp), and the test that compares the type stub and
// kestrel.qiskit with them.
//
// A row of `kOptions` says an option's Python name, its command-line
// spelling, its kind (which says how a value is read and checked), who takes
// it, the methods it applies to, its help line and the field of `Invocation`
// that holds its value; the field's initial value is the default. A value is
// checked once, here, so both front ends take the same values and refuse the
// others with the same message, each in its own spelling:
//
//   --iter-limit must be a whole number of at least 1, not '0'
//   iter_limit must be a whole number of at least 1, not 0
//
// A new method is a row of `kMethods` and its value of `Method` (and its
// case in src/pipeline/pipeline.cpp). A new option is a row of `kOptions` and
// the field it sets: `ancillas`, the phase-polynomial method's own, is read,
// checked (at least 0), refused with another method, shown in the
// signatures and in `--help` as `--ancillas K`, from these rows alone
// (tests/cpp/pipeline/options_test.cpp builds such tables).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "src/phase_polynomial/cost.h"
#include "src/saturation/optimize.h"
#include "src/text/wire_check.h"

namespace kestrel {

// How a text is optimised.
enum class Method : std::uint8_t {
  Saturation,       // equality saturation with the gate identities (the default)
  NormalForm,       // the T-optimal normal form of every single-qubit run
  RotationMerging,  // T gates of the whole program merged as pi/8 Pauli rotations
  PhasePolynomial,  // blocks of commuting rotations rewritten as reduced phase polynomials
};

// How a method reads a text.
enum class Reading : std::uint8_t {
  OneWire,       // line by line, as one wire (src/text/qasm.h), unless per_qubit asks
                 // for the whole program, whose every qubit's runs it then optimises
  WholeProgram,  // always as a whole program (src/program/program.h)
};

// A method, as the options name it.
struct MethodInfo {
  std::string_view name;     // as the option takes it
  Method method;             // what it selects
  Reading reading;           // the text it accepts; its options are those of kOptions
                             // whose `methods` hold it
  std::string_view summary;  // what it does, for --help and the docstring
};

// The methods, the default first.
inline constexpr MethodInfo kMethods[] = {
    {"saturation", Method::Saturation, Reading::OneWire,
     "equality saturation with the gate identities"},
    {"normal-form", Method::NormalForm, Reading::OneWire,
     "the T-optimal normal form of every single-qubit run"},
    {"rotation-merging", Method::RotationMerging, Reading::WholeProgram,
     "the T gates of a whole program merged across its Clifford gates"},
    {"phase-polynomial", Method::PhasePolynomial, Reading::WholeProgram,
     "rotation merging, then each block of commuting rotations as a reduced phase polynomial"},
};


// The row of `method` in kMethods.
constexpr const MethodInfo& method_info(Method method) {
  for (const MethodInfo& info : kMethods) {
    if (info.method == method) return info;
  }
  return kMethods[0];  // unreachable: every method has its row (checked below)
}
static_assert(std::size(kMethods) == static_cast<std::size_t>(Method::PhasePolynomial) + 1 &&
              method_info(Method::PhasePolynomial).method == Method::PhasePolynomial);

// A set of methods: bit k for the method of value k.
using MethodSet = std::uint32_t;
inline constexpr MethodSet kEveryMethod = ~MethodSet{0};
constexpr MethodSet only(Method method) { return MethodSet{1} << static_cast<unsigned>(method); }

// What a run does: the method and its settings.
struct PipelineOptions {
  Method method = Method::Saturation;  // how the text is optimised
  bool per_qubit = false;              // a one-wire method reads the whole program
  RunLimits limits;                    // where saturation stops (the defaults live there)
  bool phase = false;                  // report the exact global phase in the result
  std::size_t ancillas = 0;            // phase-polynomial: Hadamard gadgets, one extra qubit each
  // phase-polynomial: what a two-qubit gate costs against a T gate in the
  // rule that keeps a rewrite (src/phase_polynomial/cost.h)
  double two_qubit_cost = kDefaultTwoQubitCost;
  // phase-polynomial: the method run on the program's inverse too, and on
  // its result's (src/pipeline/pipeline.cpp, turns)
  bool both_ways = false;
  // The whole-program methods: every rotation of any angle left written in
  // Clifford+T within this operator-norm distance (src/clifford_t/clifford_t.h),
  // the tolerance of merging min(kAngleTolerance, 2 epsilon). For --rz, its
  // precision.
  std::optional<double> epsilon;
};

// Everything one call asks for: the run, and what the caller does with its
// result. The command line's own fields are not read elsewhere.
struct Invocation {
  PipelineOptions pipeline;           // the run
  bool strict = false;                // a one-wire finding is an error, not a warning
  std::optional<std::string> in;      // command line: the file to read, "-" standard input
  std::optional<std::string> out;     // command line: the file to write, else standard output
  std::optional<std::string> dot;     // command line: the file to draw the e-graph in
  bool stats = false;                 // command line: print the statistics
  bool json = false;                  // command line: print the result and statistics as JSON
  bool report = false;                // command line: print the saturation run's report
  bool help = false;                  // command line: print the help and stop
  bool version = false;               // command line: print the version and stop
  std::optional<double> rz;           // command line: synthesise rz(this angle) instead
};

// How an option's value is read and checked.
enum class OptionKind : std::uint8_t {
  Switch,   // on when given: per_qubit=True, --per-qubit
  Count,    // a whole number of at least `minimum`; one beyond 64 bits is the largest
            // (for a limit: no limit)
  Seconds,  // a positive finite number of seconds; one too large for the clock: no limit
  Method,   // the name of a method of kMethods
  File,     // a file name, as the operating system's bytes (command line only)
  Number,   // a finite number; with `maximum` above 0, one in (0, maximum]; with
            // `nonnegative`, one of at least 0
};

// Who takes an option: a bit each.
enum Caller : std::uint8_t {
  kOptimizeQasm = 1,  // kestrel.optimize_qasm
  kExplain = 2,       // kestrel.explain
  kGateList = 4,      // kestrel._optimize_gates, which kestrel.qiskit's pass calls
  kCommandLine = 8,   // kestrel, python -m kestrel
};
inline constexpr std::uint8_t kEveryCaller = kOptimizeQasm | kExplain | kGateList | kCommandLine;

// Where an option's value goes: a field of Invocation, by kind (in the
// order of OptionKind; a Number's field is an optional, or a plain number
// with a default, the last alternative).
using Slot = std::variant<bool& (*)(Invocation&), std::size_t& (*)(Invocation&),
                          std::chrono::nanoseconds& (*)(Invocation&), Method& (*)(Invocation&),
                          std::optional<std::string>& (*)(Invocation&),
                          std::optional<double>& (*)(Invocation&), double& (*)(Invocation&)>;

struct Option {
  std::string_view name = {};       // the Python keyword; "" for the command line's own
  std::string_view flag = {};       // the command-line spelling
  std::string_view alias = {};      // a short spelling, or ""
  std::string_view metavar = {};    // the value as --help names it; "" for a switch
  OptionKind kind = OptionKind::Switch;
  std::uint8_t callers = 0;         // the Callers that take it
  MethodSet methods = kEveryMethod;  // the methods it applies to; given with another, refused
  std::int64_t minimum = 0;         // Count: the least value
  double maximum = 0;               // Number: when above 0, the value lies in (0, maximum]
  bool nonnegative = false;         // Number: the value is at least 0
  std::string_view help = {};       // one line for --help and the docstrings
  Slot slot = {};                   // its field
};

// The options, in the order of the signatures and of --help (the command
// line's own first and last).
inline constexpr Option kOptions[] = {
    {.flag = "--in", .metavar = "FILE", .kind = OptionKind::File, .callers = kCommandLine,
     .help = "the OpenQASM 2.0 file to read; - is standard input",
     .slot = [](Invocation& o) -> std::optional<std::string>& { return o.in; }},
    {.flag = "--out", .metavar = "FILE", .kind = OptionKind::File, .callers = kCommandLine,
     .help = "write the result to FILE instead of standard output",
     .slot = [](Invocation& o) -> std::optional<std::string>& { return o.out; }},
    {.flag = "--stats", .kind = OptionKind::Switch, .callers = kCommandLine,
     .help = "print the statistics on standard error",
     .slot = [](Invocation& o) -> bool& { return o.stats; }},
    {.flag = "--json", .kind = OptionKind::Switch, .callers = kCommandLine,
     .help = "print the result and its statistics as one JSON object on standard output, "
             "{\"qasm\": ..., \"stats\": {...}}",
     .slot = [](Invocation& o) -> bool& { return o.json; }},
    {.name = "method", .flag = "--method", .metavar = "NAME", .kind = OptionKind::Method,
     .callers = kOptimizeQasm | kGateList | kCommandLine,
     .help = "how to optimise",
     .slot = [](Invocation& o) -> Method& { return o.pipeline.method; }},
    {.name = "per_qubit", .flag = "--per-qubit", .kind = OptionKind::Switch,
     .callers = kOptimizeQasm | kCommandLine,
     .help = "read the whole program, optimising each qubit's gate runs",
     .slot = [](Invocation& o) -> bool& { return o.pipeline.per_qubit; }},
    {.name = "phase", .flag = "--phase", .kind = OptionKind::Switch,
     .callers = kOptimizeQasm | kCommandLine,
     .help = "add the exact global phase to the statistics",
     .slot = [](Invocation& o) -> bool& { return o.pipeline.phase; }},
    {.name = "strict", .flag = "--strict", .kind = OptionKind::Switch,
     .callers = kOptimizeQasm | kExplain | kCommandLine,
     .help = "stop with an error where a one-wire method warns",
     .slot = [](Invocation& o) -> bool& { return o.strict; }},
    {.name = "iter_limit", .flag = "--iter-limit", .metavar = "N", .kind = OptionKind::Count,
     .callers = kEveryCaller, .minimum = 1,
     .help = "iterations of saturation at most",
     .slot = [](Invocation& o) -> std::size_t& { return o.pipeline.limits.iter_limit; }},
    {.name = "node_limit", .flag = "--node-limit", .metavar = "N", .kind = OptionKind::Count,
     .callers = kEveryCaller, .minimum = 1,
     .help = "e-graph nodes past which saturation stops",
     .slot = [](Invocation& o) -> std::size_t& { return o.pipeline.limits.node_limit; }},
    {.name = "time_limit", .flag = "--time-limit", .metavar = "SECONDS",
     .kind = OptionKind::Seconds, .callers = kEveryCaller,
     .help = "time a call may take, in seconds",
     .slot = [](Invocation& o) -> std::chrono::nanoseconds& {
       return o.pipeline.limits.time_limit;
     }},
    {.name = "ancillas", .flag = "--ancillas", .metavar = "K", .kind = OptionKind::Count,
     .callers = kOptimizeQasm | kCommandLine, .methods = only(Method::PhasePolynomial),
     .minimum = 0,
     .help = "extra qubits for Hadamard gadgets, measured at the end (phase-polynomial)",
     .slot = [](Invocation& o) -> std::size_t& { return o.pipeline.ancillas; }},
    {.flag = "--rz", .metavar = "ANGLE", .kind = OptionKind::Number, .callers = kCommandLine,
     .help = "instead of reading a file, write rz(ANGLE) (radians) as Clifford+T gates "
             "within --epsilon, with the fewest T gates, as a one-qubit program",
     .slot = [](Invocation& o) -> std::optional<double>& { return o.rz; }},
    {.name = "epsilon", .flag = "--epsilon", .metavar = "E", .kind = OptionKind::Number,
     .callers = kOptimizeQasm | kCommandLine,
     .methods = only(Method::RotationMerging) | only(Method::PhasePolynomial), .maximum = 0.1,
     .help = "write every rotation of any angle left as Clifford+T gates within operator-norm "
             "distance E of it up to a global phase, in (0, 0.1] (rotation-merging, "
             "phase-polynomial; also the precision of --rz)",
     .slot = [](Invocation& o) -> std::optional<double>& { return o.pipeline.epsilon; }},
    {.name = "two_qubit_cost", .flag = "--two-qubit-cost", .metavar = "C",
     .kind = OptionKind::Number, .callers = kOptimizeQasm | kCommandLine,
     .methods = only(Method::PhasePolynomial), .nonnegative = true,
     .help = "keep a rewrite only where it lowers T + C x (two-qubit gates); 0 looks at T "
             "alone (phase-polynomial)",
     .slot = [](Invocation& o) -> double& { return o.pipeline.two_qubit_cost; }},
    {.name = "both_ways", .flag = "--both-ways", .kind = OptionKind::Switch,
     .callers = kOptimizeQasm | kCommandLine, .methods = only(Method::PhasePolynomial),
     .help = "also run on the inverse of the program and of the result, keeping what is cheaper "
             "by the cost rule (programs of at most 2,048 gates with inverses in qelib1; up to "
             "ten times the time; phase-polynomial)",
     .slot = [](Invocation& o) -> bool& { return o.pipeline.both_ways; }},
    {.flag = "--report", .kind = OptionKind::Switch, .callers = kCommandLine,
     .help = "print how the text was read and what the saturation run did on standard error",
     .slot = [](Invocation& o) -> bool& { return o.report; }},
    {.flag = "--dot", .metavar = "FILE", .kind = OptionKind::File, .callers = kCommandLine,
     .help = "write the final e-graph to FILE as Graphviz dot",
     .slot = [](Invocation& o) -> std::optional<std::string>& { return o.dot; }},
    {.flag = "--help", .alias = "-h", .kind = OptionKind::Switch, .callers = kCommandLine,
     .help = "print this help and exit",
     .slot = [](Invocation& o) -> bool& { return o.help; }},
    {.flag = "--version", .kind = OptionKind::Switch, .callers = kCommandLine,
     .help = "print the version and exit",
     .slot = [](Invocation& o) -> bool& { return o.version; }},
};

// Whether `option` is unset unless given: a Number without a default, which
// Python takes as None too.
constexpr bool unset_unless_given(const Option& option) {
  return std::holds_alternative<std::optional<double>& (*)(Invocation&)>(option.slot);
}

// Whether a table of options is well formed: each row's slot has its kind,
// names and spellings are unique, and a value's kind has a metavar.
constexpr bool well_formed(std::span<const Option> options) {
  for (std::size_t k = 0; k < options.size(); ++k) {
    const Option& o = options[k];
    // A Number fills an optional (given or not) or a plain number with a default.
    const std::size_t kind = o.slot.index() == std::variant_size_v<Slot> - 1
                                 ? static_cast<std::size_t>(OptionKind::Number)
                                 : o.slot.index();
    if (kind != static_cast<std::size_t>(o.kind) || o.flag.empty() || o.callers == 0) {
      return false;
    }
    if ((o.kind == OptionKind::Switch) != o.metavar.empty()) return false;
    if (o.name.empty() != (o.callers == kCommandLine)) return false;
    for (std::size_t j = 0; j < k; ++j) {
      const Option& p = options[j];
      if (p.flag == o.flag || (!o.name.empty() && p.name == o.name) ||
          (!o.alias.empty() && p.alias == o.alias)) {
        return false;
      }
    }
  }
  return options.size() <= 64;  // the given options are a 64-bit set
}
static_assert(well_formed(kOptions));

// The two tables, as the functions below read them: kMethods and kOptions
// unless a test gives others.
struct Tables {
  std::span<const MethodInfo> methods = kMethods;
  std::span<const Option> options = kOptions;
};

// A set of options given: bit k for row k of kOptions.
using OptionSet = std::uint64_t;

// How a message spells an option: as Python names it or as the command line does.
enum class Spelling : std::uint8_t { Python, CommandLine };

// The option's name in that spelling: "iter_limit" or "--iter-limit".
std::string_view spelled(const Option& option, Spelling spelling);

// A whole number as given: its value when it fits 64 bits, else the side of
// the range it lies beyond.
struct WholeNumber {
  std::int64_t value = 0;  // when `beyond` is 0
  int beyond = 0;          // +1 above the 64-bit range, -1 below it
};

// A number of seconds (or any number) as given: a double, or a finite number
// too large for one.
struct Seconds {
  double value = 0;        // when not `too_large`; may be infinite or NaN
  bool too_large = false;  // a positive finite number beyond every double
};

// A value as a front end read it, before its check: nothing when it is not
// of the option's kind at all (the command line's "--iter-limit ten").
using OptionValue = std::variant<std::monostate, bool, std::optional<WholeNumber>,
                                 std::optional<Seconds>, std::string_view>;

// Sets option `option` from `value` in `into`; `shown` is the value as its
// user wrote it, for the message. Returns the message refusing the value, or
// nothing when it is set.
std::optional<std::string> set_option(const Option& option, const OptionValue& value,
                                      std::string_view shown, Spelling spelling,
                                      Invocation& into, const Tables& tables = {});

// The message refusing an option of `given` that does not apply to the
// method `into` chose, or nothing when all apply:
// "ancillas applies to method 'phase-polynomial' only, not 'saturation'".
std::optional<std::string> check_methods(OptionSet given, const Invocation& into,
                                         Spelling spelling, const Tables& tables = {});

// The method names for people: "'saturation', 'normal-form' or
// 'rotation-merging'" with `quote` "'".
std::string method_list(std::string_view quote, const Tables& tables = {});

// The default of an option for people, from a default Invocation: "30",
// "5.0" or "'saturation'" for Python, "30", "5" or "saturation" for the
// command line; "" for a file.
std::string default_text(const Option& option, Spelling spelling, const Tables& tables = {});

// The Python signature of a function of the module as its docstring's first
// line gives it: "optimize_qasm(qasm, *, method='saturation', ...)", with the
// options `caller` takes.
std::string python_signature(std::string_view function, std::span<const char* const> positional,
                             Caller caller, const Tables& tables = {});

// The lines on the options `caller` takes, for its docstring: "method:
// how to optimise: 'saturation' (equality ...), ... (default 'saturation')".
std::string python_option_help(Caller caller, const Tables& tables = {});

// `text` with its spaces turned into line breaks where a line would pass
// `width` columns, each new line indented by `indent` spaces; the first
// word starts at `column`.
std::string wrap_words(std::string_view text, std::size_t width, std::size_t indent,
                       std::size_t column);

// The message for a text read as one wire with finding `wire` (not None):
// that it holds no gate, or what was found, the line, and why the text is no
// whole program either (a text that is one would have been read whole).
std::string one_wire_message(const WireFinding& wire, Spelling spelling);

// A finding (not None or NoGate) and its line, as the message above says
// them: "line 3 declares more than one qubit (3 in all): "qreg q[3];"".
std::string finding_text(const WireFinding& wire);

}  // namespace kestrel
