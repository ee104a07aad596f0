// The pipeline's ways through a text (one wire by saturation or by the
// normal form, or a whole program), the methods on a program read, and the
// adapter for one qubit's segment.
#include "src/pipeline/pipeline.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <variant>

#include "engine/fault.h"
#include "src/circuit/chain.h"
#include "src/clifford_t/clifford_t.h"
#include "src/circuit/global_phase.h"
#include "src/normal_form/normal_form.h"
#include "src/per_qubit/per_qubit.h"
#include "src/program/program_stats.h"
#include "src/program/reversal.h"
#include "src/program/writer.h"
#include "src/phase_polynomial/cost.h"
#include "src/phase_polynomial/phase_polynomial.h"
#include "src/gf2/reduction.h"
#include "src/rotation_merging/rotation_merging.h"
#include "src/synthesis/rz_synthesis.h"

namespace kestrel {
namespace {

// The normal-form method on a text read as one wire. The gates go straight
// from the lines into the wire, with no expression in between. Its phase
// holds whatever two-qubit gate each CNOT stands for, as long as two in a
// row cancel (the wire changes nothing else about them), so it is the phase
// between the one-qubit gates read and written with every CNOT left out.
PipelineResult normal_form_pipeline(std::string_view text, bool want_phase) {
  PipelineResult result;
  NormalFormWire wire;
  GateProduct before;
  WireCheck check;
  for_each_gate_line(text, [&](OpKind gate) {
    result.before.add(gate);
    wire.add(gate);
    if (want_phase && gate != OpKind::CNOT) before.add(gate);
  }, &check);
  result.wire = std::move(check).finish();
  result.before.depth = result.before.gates;
  std::vector<OpKind> gates;
  wire.write(gates);
  if (want_phase) {
    GateProduct after;
    for (OpKind gate : gates) {
      if (gate != OpKind::CNOT) after.add(gate);
    }
    result.phase = phase_between(before, after);
  }
  result.after = wire_stats(gates);
  result.qasm = print_qasm(gates);
  return result;
}

// The tolerance of a whole-program method's merging: finer with `epsilon`,
// so that no angle is rounded by more than the synthesis may be off by.
double merging_tolerance(const PipelineOptions& options) {
  return options.epsilon ? std::min(kAngleTolerance, 2 * *options.epsilon) : kAngleTolerance;
}

// The phase `phase` of a whole-program method as reported: a multiple of
// pi/8 as k, any other in radians.
void report_phase(const Phase& phase, ProgramEdits& out) {
  if (const std::optional<std::uint8_t> k = phase.as_eighths()) {
    out.phase = *k;
  } else {
    out.phase_radians = phase.total_radians();
  }
}

// The phase a method reported with `phase` asked for.
Phase phase_of(const ProgramEdits& edited) {
  if (edited.phase_radians) return Phase{0, *edited.phase_radians};
  return Phase{edited.phase.value_or(0), 0};
}

// `text` as a program; the text must be one (a program written by a method).
QasmProgram read_written(std::string_view text) {
  auto read = read_program(text);
  check(std::holds_alternative<QasmProgram>(read), "a program written reads back");
  return std::get<QasmProgram>(std::move(read));
}

// Rounds of rotation merging on a program in Clifford+T at most: each may
// bring gates together that the next merges (the sequences of small angles
// share their last gates), and the rounds end where the T count stops falling.
constexpr int kMergeRounds = 4;

// `text` (a program in Clifford+T) merged by `run` (rotation merging) again
// and again, in place, its phase added to `phase` and its roundings to
// `error`; returns the program read from the final text, which points into
// `text`.
QasmProgram merge_again(std::string& text, const PipelineOptions& run, Phase& phase,
                        double& error) {
  QasmProgram program = read_written(text);
  for (int round = 0; round < kMergeRounds; ++round) {
    const ProgramEdits merged = optimize_program(program, run);
    if (merged.refusal) break;  // too large to read again: kept as written
    const ProgramStats stats = program_stats(program, merged.edits);
    if (stats.after.t >= stats.before.t) break;
    phase += phase_of(merged);
    error += merged.rounded;
    std::string next = write_program(text, program, merged.edits);
    text = std::move(next);
    program = read_written(text);
  }
  return program;
}

// The counts of a program read and optimised (`stats`), and the figures the
// method gave (`method_figures`), as the result reports them: the counts
// before and after; with a whole-program method, its rotations; with the
// phase-polynomial method, its two-qubit gates, its own figures and, with
// extra qubits allowed, the measurements it added.
void add_program_figures(PipelineResult& result, const PipelineOptions& options,
                         const ProgramStats& stats,
                         const std::vector<std::pair<std::string_view, std::uint64_t>>& method_figures) {
  result.before = stats.before;
  result.after = stats.after;
  if (method_info(options.method).reading == Reading::WholeProgram) {
    result.figures.emplace_back("rotations_before", stats.before.rotations);
    result.figures.emplace_back("rotations_after", stats.after.rotations);
  }
  if (options.method == Method::PhasePolynomial) {
    result.figures.emplace_back("two_qubit_before", stats.two_qubit_before);
    result.figures.emplace_back("two_qubit_after", stats.two_qubit_after);
    for (const auto& figure : method_figures) result.figures.push_back(figure);
    if (options.ancillas > 0) result.figures.emplace_back("measurements", stats.measurements_after);
  }
}

// A whole program through a whole-program method with `options.epsilon`:
// the method (its merging's tolerance min(kAngleTolerance, 2 epsilon)), the
// rotations its result holds written in Clifford+T, and rotation merging on
// that (merge_again), for the T gates the sequences and their neighbours
// share. Each step reads the text the step before wrote. (The phase-polynomial method run
// again instead found no T gate more on the shared programs with angles,
// at 60 times rotation merging's time.)
PipelineResult clifford_t_pipeline(std::string_view text, const QasmProgram& program,
                                   const PipelineOptions& options) {
  PipelineResult result;
  const double epsilon = *options.epsilon;
  if (!synthesis::valid_epsilon(epsilon)) {
    result.refusal = "epsilon below 1e-30 is beyond this synthesis's precision";
    return result;
  }
  PipelineOptions run = options;
  run.phase = true;
  ProgramEdits first = optimize_program(program, run);
  if (first.refusal) {
    result.refusal = std::move(first.refusal);
    return result;
  }
  Phase phase = phase_of(first);
  double error = first.rounded;
  const std::string merged = write_program(text, program, first.edits);
  const QasmProgram merged_program = read_written(merged);
  const CliffordTResult written = write_clifford_t(merged_program, epsilon);
  phase += written.phase;
  error += written.error;
  std::string synthesised = write_program(merged, merged_program, written.edits);
  run.epsilon.reset();
  run.method = Method::RotationMerging;
  const QasmProgram last = merge_again(synthesised, run, phase, error);

  ProgramStats stats = program_stats(program, Edits{});
  const ProgramStats after = program_stats(last, Edits{});  // before `last`'s text moves
  stats.after = after.after;
  stats.two_qubit_after = after.two_qubit_after;
  if (options.ancillas > 0) {
    stats.measurements_after = program_stats(program, first.edits).measurements_after;
  }
  result.reading = TextReading::Program;
  result.qasm = program.statements.empty() ? std::string(kQasmHeader) : std::move(synthesised);
  if (options.phase) result.phase_radians = phase.total_radians();
  result.synthesis_error = error;
  add_program_figures(result, options, stats, first.figures);
  result.figures.emplace_back("rotations_synthesised", written.rotations);
  result.figures.emplace_back("synthesised_angles", written.distinct);
  return result;
}

// Rounds of the phase-polynomial method, at most, on a result without
// extra qubits (the later rounds take none): each reads the program the
// round before wrote, where other blocks and stretches form, and the rounds
// end where T + c (two-qubit gates) stops falling. On the T-count programs:
// csla_mux_3 81 -> 78 two-qubit gates, qcla_adder_10 206 -> 190, adder_8
// 168 -> 166 T, fprenorm 92 -> 89 T and 115 -> 110; a fourth round found
// nothing more. The loop is merge_again's (above) with another test for
// going on and the round's statistics kept. Programs of more gates
// than kRoundsGates take one round (on gf2^32_mult, 13,562 gates, a second
// found nothing in a third of the first's time).
constexpr int kPolynomialRounds = 3;
constexpr std::uint64_t kRoundsGates = 8192;

// The extra qubits a phase-polynomial result uses (none without `ancillas`).
std::uint64_t extra_qubits(const ProgramEdits& edited) {
  for (const auto& [name, value] : edited.figures) {
    if (name == "extra_qubits") return value;
  }
  return 0;
}

// Turns of the phase-polynomial method with `both_ways`, at most, each
// way: the method's choices go from a program's start to its end (which
// block a gate joins, which pair cancels first, where a stretch begins),
// and on the program's inverse, read from its end, other blocks and pairs
// form. A turn writes the inverse of the result so far (where every gate
// of it has one the library names: src/program/reversal.h), runs the
// method and its rounds on that, and keeps what they give where it is
// cheaper by the cost rule, read the other way from then on; a result read
// backward at the end is written forward again. The turns go on from the rounds' result, and
// again from the program read, its first turn being the method on its
// inverse; the cheaper of the two ways is given (the first on a tie). On
// the T-count programs: qcla_adder_10 157 -> 148 T (187 -> 204 two-qubit
// gates), csla_mux_3 49 -> 42 T (70 -> 74), gf2^7_mult 141 -> 131 (279 ->
// 248), gf2^8_mult 177 -> 173 (364 -> 314), gf2^4_mult 49 -> 45 (84 ->
// 108), fprenorm 89 -> 85 (109 -> 113), tof_10 68 -> 54 two-qubit gates; a
// third turn each way gained nothing there, at up to twice the time. Only
// on programs of at most kTurnsGates gates: each turn runs the whole method
// again, and gf2^16_mult (3,435 gates) would take twice its second. Not by
// default: up to ten times the method's time (qcla_adder_10 0.12 -> 0.99
// s), and results that do not follow the program's order any more, which
// an equivalence check that cancels the two programs from the middle out
// may not get through (a random Toffoli network of 40 qubits, 1,880 gates).
constexpr int kTurns = 2;
constexpr std::uint64_t kTurnsGates = 2048;

// Where the method's rounds stand: the program written, its phase and its
// counts, and whether it is the program read or its inverse (read backward:
// the one read is e^(i phase) times the one written, or its inverse is).
struct Rounds {
  std::string written;
  Phase phase;
  ProgramStats stats;
  bool backward = false;
};

Phase negated(const Phase& phase) {
  return Phase{static_cast<std::uint8_t>((16 - phase.eighths) % 16), -phase.radians};
}

// Rounds of the method on `at.written` while they pay, kPolynomialRounds
// in all counting the one that wrote it.
void more_rounds(Rounds& at, const PipelineOptions& options, const PipelineOptions& run,
                 const Deadline& deadline) {
  for (int round = 1; round < kPolynomialRounds && !deadline.passed(); ++round) {
    const QasmProgram again = read_written(at.written);  // points into `at.written`
    const ProgramEdits next = optimize_program(again, run, deadline);
    if (next.refusal) break;
    const ProgramStats next_stats = program_stats(again, next.edits);
    if (!rewrite_pays(at.stats.after.t, at.stats.two_qubit_after, next_stats.after.t,
                      next_stats.two_qubit_after, options.two_qubit_cost)) {
      break;
    }
    at.stats.after = next_stats.after;
    at.stats.two_qubit_after = next_stats.two_qubit_after;
    at.phase += phase_of(next);
    std::string rewritten = write_program(at.written, again, next.edits);
    at.written = std::move(rewritten);
  }
}

// One turn on `at` (above): true where it paid, `at` then the turn's result,
// read the other way. A result whose inverse cannot be written is not taken.
bool turn(Rounds& at, const PipelineOptions& options, const PipelineOptions& run, const Deadline& deadline) {
  std::optional<std::string> inverse = reversed_program(read_written(at.written));
  if (!inverse) return false;
  const QasmProgram program = read_written(*inverse);  // points into `inverse`
  const ProgramEdits first = optimize_program(program, run, deadline);
  if (first.refusal) return false;
  Rounds turned{write_program(*inverse, program, first.edits), phase_of(first), program_stats(program, first.edits),
                !at.backward};
  more_rounds(turned, options, run, deadline);
  if (!rewrite_pays(at.stats.after.t, at.stats.two_qubit_after, turned.stats.after.t,
                    turned.stats.two_qubit_after, options.two_qubit_cost) ||
      !reversed_program(read_written(turned.written))) {
    return false;
  }
  // The program at.written stands for is e^(i at.phase) times it, so its
  // inverse is e^(-i at.phase) times `inverse`.
  turned.phase += negated(at.phase);
  at.written = std::move(turned.written);
  at.phase = turned.phase;
  at.stats.after = turned.stats.after;  // the counts before stay those of the program read
  at.stats.two_qubit_after = turned.stats.two_qubit_after;
  at.backward = turned.backward;
  return true;
}

// Turns on `at` while they pay, `most` at most.
void turns(Rounds& at, int most, const PipelineOptions& options, const PipelineOptions& run,
           const Deadline& deadline) {
  for (int k = 0; k < most && !deadline.passed() && turn(at, options, run, deadline); ++k) {
  }
}

// The phase-polynomial method's later rounds and turns on `first`, its
// first round's result on `program` (read from `text`), run with `run` (the
// phase asked for, no extra qubits); the result as program_pipeline gives it.
PipelineResult polynomial_rounds(std::string_view text, const QasmProgram& program, const PipelineOptions& options,
                                 const PipelineOptions& run, const Deadline& deadline, const ProgramEdits& first) {
  Rounds at{write_program(text, program, first.edits), phase_of(first), program_stats(program, first.edits)};
  if (options.both_ways && at.stats.before.gates <= kTurnsGates) {
    more_rounds(at, options, run, deadline);
    turns(at, kTurns, options, run, deadline);
    // The same from the program read backward, the cheaper kept (the one
    // above on a tie).
    Rounds other{std::string(text), Phase{}, program_stats(program, Edits{})};
    if (!deadline.passed() && turn(other, options, run, deadline)) {
      turns(other, kTurns - 1, options, run, deadline);
      if (rewrite_pays(at.stats.after.t, at.stats.two_qubit_after, other.stats.after.t,
                       other.stats.two_qubit_after, options.two_qubit_cost)) {
        at = std::move(other);
      }
    }
  } else if (at.stats.before.gates <= kRoundsGates) {
    more_rounds(at, options, run, deadline);
  }
  if (at.backward) {  // turned back, which turn() made sure it can be
    const std::optional<std::string> inverse = reversed_program(read_written(at.written));
    check(inverse.has_value(), "a turned result reads forward again");
    at.written = *inverse;
    at.phase = negated(at.phase);
    const ProgramStats counted = program_stats(read_written(at.written), Edits{});
    at.stats.after = counted.after;
    at.stats.two_qubit_after = counted.two_qubit_after;
  }
  PipelineResult result;
  result.reading = TextReading::Program;
  result.qasm = std::move(at.written);
  if (options.phase) {
    ProgramEdits reported;
    report_phase(at.phase, reported);
    result.phase = reported.phase;
    result.phase_radians = reported.phase_radians;
  }
  add_program_figures(result, options, at.stats, first.figures);
  return result;
}

// What follows a whole-program method, in multiples of the reading's time.
constexpr int kAfterMethod = 4;

// A whole program read, optimised by `options.method`, counted and written.
// The time limit holds from the start of the reading to the end of the
// writing: the method must end early enough for what follows its last
// look at the clock (composing its result, counting and writing it), which
// takes up to about four times as long as the reading did (gf2^128_mult by
// the phase-polynomial method: 3.4 times).
PipelineResult program_pipeline(std::string_view text, const PipelineOptions& options) {
  PipelineResult result;
  const Deadline::Clock::time_point start = Deadline::Clock::now();
  auto read = read_program(text);
  if (auto* error = std::get_if<InputError>(&read)) {
    result.error = std::move(*error);
    return result;
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  if (options.epsilon && method_info(options.method).reading == Reading::WholeProgram) {
    return clifford_t_pipeline(text, program, options);
  }
  const Deadline::Clock::duration reading = Deadline::Clock::now() - start;
  const std::chrono::nanoseconds limit = options.limits.time_limit;
  const Deadline deadline(std::max(std::chrono::nanoseconds(0), limit - kAfterMethod * reading), start);
  const bool polynomial = options.method == Method::PhasePolynomial;
  PipelineOptions run = options;
  run.phase = run.phase || polynomial;  // the rounds' phases add up
  ProgramEdits edited = optimize_program(program, run, deadline);
  if (edited.refusal) {
    result.refusal = std::move(edited.refusal);
    return result;
  }
  if (polynomial && !program.statements.empty() && extra_qubits(edited) == 0) {
    run.ancillas = 0;
    return polynomial_rounds(text, program, options, run, deadline, edited);
  }
  const ProgramStats stats = program_stats(program, edited.edits);
  if (polynomial && !program.statements.empty() && stats.before.gates <= kRoundsGates && !deadline.passed()) {
    // A result with gadgets takes no later round, but the result without
    // them may gain in its rounds what the gadgets gained in the first: on
    // a program the rounds take, that one is given where it is cheaper by
    // the cost rule (src/phase_polynomial/cost.h; as cheap and fewer T
    // too), so that extra qubits never cost a T gate (t q[0] four times, a
    // measurement and two Toffoli gates around an h on their target: 10 T
    // with one extra qubit, 9 without).
    PipelineOptions plain = run;
    plain.ancillas = 0;
    ProgramEdits without = optimize_program(program, plain, deadline);
    if (!without.refusal && extra_qubits(without) == 0) {
      without.figures.emplace_back("extra_qubits", 0);
      PipelineResult alternative = polynomial_rounds(text, program, options, plain, deadline, without);
      std::uint64_t alone = 0;  // its two-qubit gates
      for (const auto& [name, value] : alternative.figures) {
        if (name == "two_qubit_after") alone = value;
      }
      const double c = options.two_qubit_cost;
      const std::uint64_t t = stats.after.t, alone_t = alternative.after.t;
      if (rewrite_pays(t, stats.two_qubit_after, alone_t, alone, c) ||
          (!rewrite_pays(alone_t, alone, t, stats.two_qubit_after, c) && alone_t < t)) {
        return alternative;
      }
    }
  }
  result.reading = method_info(options.method).reading == Reading::WholeProgram
                       ? TextReading::Program
                       : TextReading::PerQubit;
  // A text without a statement (an empty file) comes back as the header, as
  // the one-wire methods write it, so that every method gives a program.
  result.qasm = program.statements.empty() ? std::string(kQasmHeader)
                                           : write_program(text, program, edited.edits);
  result.phase = edited.phase;
  result.phase_radians = edited.phase_radians;
  add_program_figures(result, options, stats, edited.figures);
  return result;
}

// Whether a one-wire method reads a text whose one-wire reading found
// `wire` per qubit instead: the text is not one wire, or holds lines the
// one-wire reader drops. A text without any statement but those the reader
// reads or passes over ("", the header alone) keeps its one-wire reading.
bool not_one_wire(const WireFinding& wire) {
  return wire.kind != WireFinding::Kind::None && wire.kind != WireFinding::Kind::NoGate;
}

// `text`, whose one-wire reading found `wire`, read per qubit by the same
// method; nothing when the text is no program, which then keeps its
// one-wire reading and `wire` learns why in `not_a_program`.
std::optional<PipelineResult> per_qubit_instead(std::string_view text,
                                                const PipelineOptions& options,
                                                WireFinding& wire) {
  PipelineOptions whole = options;
  whole.per_qubit = true;
  PipelineResult result = program_pipeline(text, whole);
  // An angle that is no finite number is refused whatever the reading.
  if (result.error && result.error->not_finite) return result;
  if (result.error) {
    wire.not_a_program =
        result.error->text() + ": \"" + quoted_line(text, result.error->line) + "\"";
    return std::nullopt;
  }
  result.per_qubit_reason = std::move(wire);
  return result;
}

}  // namespace

PipelineResult run_pipeline(std::string_view text, const PipelineOptions& options,
                            ReportRequest request) {
  if (method_info(options.method).reading == Reading::WholeProgram || options.per_qubit) {
    return program_pipeline(text, options);
  }
  if (options.method == Method::NormalForm) {
    PipelineResult result = normal_form_pipeline(text, options.phase);
    if (not_one_wire(result.wire)) {
      if (auto whole = per_qubit_instead(text, options, result.wire)) return std::move(*whole);
    }
    return result;
  }
  WireGates read = read_wire(text);
  if (not_one_wire(read.wire)) {
    if (auto whole = per_qubit_instead(text, options, read.wire)) return std::move(*whole);
  }
  PipelineResult result;
  result.wire = std::move(read.wire);
  // Saturation's identities hold exactly, global phase included.
  if (options.phase) result.phase = 0;
  result.before = read.stats;
  if (request.report == nullptr && !read.gates.empty() &&
      past_node_limit(read.gates.size() - 1, read.kinds, options.limits.node_limit)) {
    // A circuit too long to be rewritten comes back as it was read, written
    // without building the chain.
    result.after = read.stats;
    result.qasm = print_qasm(read.gates);
    return result;
  }
  Chain chain(read.gates.size());
  for (OpKind gate : read.gates) chain.add(gate);
  std::vector<OpKind>().swap(read.gates);  // the chain holds them now
  const RecExpr<Op> best = optimize_expr(std::move(chain).take(), options.limits, request);
  result.after = wire_stats(best);
  result.qasm = print_qasm(best);
  return result;
}

ProgramEdits optimize_program(const QasmProgram& program, const PipelineOptions& options) {
  return optimize_program(program, options, Deadline(options.limits.time_limit));
}

ProgramEdits optimize_program(const QasmProgram& program, const PipelineOptions& options,
                              const Deadline& deadline) {
  ProgramEdits out;
  if (options.method == Method::PhasePolynomial) {
    if (auto why = too_large_for_phase_polynomial(program)) {
      out.refusal = std::move(*why);
      return out;
    }
    PhasePolynomialOptions method;
    method.deadline = deadline;
    method.ancillas = static_cast<std::uint32_t>(std::min<std::size_t>(options.ancillas, kMaxBits));
    method.effort = reduction_effort(options.limits.time_limit);
    method.two_qubit_cost = options.two_qubit_cost;
    method.cap = reduction_cap(options.limits.time_limit);
    method.tolerance = merging_tolerance(options);
    PhasePolynomialResult result = reduce_phase_polynomials(program, method);
    out.edits = std::move(result.edits);
    out.rounded = result.rounded;
    if (options.phase) report_phase(result.phase, out);
    if (options.ancillas > 0) out.figures.emplace_back("extra_qubits", result.extra_qubits);
    return out;
  }
  if (options.method == Method::RotationMerging) {
    // `per_qubit` changes nothing: the method always keeps the program whole.
    if (auto why = too_large_for_rotation_merging(program)) {
      out.refusal = std::move(*why);
      return out;
    }
    RotationMergingResult merged =
        merge_rotations(program, deadline, merging_tolerance(options));
    out.edits = std::move(merged.edits);
    out.rounded = merged.rounded;
    if (options.phase) report_phase(merged.phase, out);
    return out;
  }
  // One time limit for the whole call, not one per segment.
  PerQubitEdits edited = per_qubit_edits(
      program,
      [&](std::span<const Op> segment) { return optimize_segment(segment, options, &deadline); },
      options.phase);
  out.edits = std::move(edited.edits);
  out.phase = edited.phase;
  return out;
}

std::vector<Op> optimize_segment(std::span<const Op> segment, const PipelineOptions& options,
                                 const Deadline* deadline) {
  check(method_info(options.method).reading == Reading::OneWire, "a one-wire method");
  std::vector<Op> out;
  if (options.method == Method::NormalForm) {
    NormalFormWire wire;
    for (const Op& gate : segment) wire.add(gate.op());
    std::vector<OpKind> gates;
    wire.write(gates);
    out.reserve(gates.size());
    for (OpKind gate : gates) out.emplace_back(gate);
    return out;
  }
  // The chain the line reader builds: Seq(Seq(g0, g1), g2) ...
  RunLimits limits = options.limits;
  if (deadline != nullptr) {
    const std::optional<std::chrono::nanoseconds> left = deadline->left(limits.time_limit);
    if (!left) return std::vector<Op>(segment.begin(), segment.end());
    limits.time_limit = *left;
  }
  Chain chain(segment.size());
  for (const Op& gate : segment) chain.add(gate.op());
  if (chain.empty()) return out;
  const RecExpr<Op> best = optimize_expr(std::move(chain).take(), limits);
  emit(best.root(), best, out);
  return out;
}

}  // namespace kestrel
