// What the fuzz targets of the whole-program methods check of one input,
// with the method and mode as options (the per-qubit mode with saturation or
// the normal form, rotation merging, the phase-polynomial method without
// extra qubits).
//
// A text is either an input error, the statement reader's own with a
// position inside the text and a message saying what was expected, or a
// program. For a program the method's text must read again as a program on
// the same registers that keeps the statements it does not rewrite byte for
// byte and in order; its statistics before and after are those counted by
// fuzz/program_model.h on the two programs; the T count never grows (in
// rotation merging, which may write a statement it sees through as its
// gates, counted with those gates; the phase-polynomial method likewise);
// and on up to kModelQubits qubits the two programs map two pseudo-random states
// to the same states, on the branches of the likelier and of the rarer
// outcomes, up to exactly the global phase the method reports (none for
// saturation, whose rules are exact identities). The options must ask for
// the phase.
#pragma once

#include <cmath>
#include <numbers>
#include <optional>
#include <cstddef>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz/invariant.h"
#include "fuzz/program_model.h"
#include "src/pipeline/pipeline.h"
#include "src/program/instance_walk.h"
#include "src/program/program.h"
#include "src/program/writer.h"
#include "src/text/qasm.h"

namespace kestrel {

// Whether a method rewrites whole programs through rotation merging:
// rotation merging itself and the phase-polynomial method built on it.
inline bool merges(Method method) {
  return method == Method::RotationMerging || method == Method::PhasePolynomial;
}

// Whether a method may rewrite statement `st` (its text may change or go):
// the run gates in the per-qubit mode; in the merging methods, any gate
// statement without a condition, which they may replace by its gates.
inline bool rewritable(const Statement& st, Method method) {
  if (merges(method)) {
    return st.condition == kNoCondition &&
           (st.kind == StatementKind::RunGate || st.kind == StatementKind::Gate);
  }
  return st.kind == StatementKind::RunGate;
}

// The texts of the statements a method keeps, in order.
inline std::vector<std::string_view> kept(std::string_view text, const QasmProgram& program,
                                          Method method) {
  std::vector<std::string_view> out;
  for (const Statement& st : program.statements) {
    if (!rewritable(st, method)) out.push_back(text.substr(st.begin, st.end - st.begin));
  }
  return out;
}

// Whether the statements `method` keeps of `in` are those of `out`, in
// order. In the merging methods `out` may hold any gate statements without
// a condition beside them: a rewritten statement's gates.
inline bool keeps_its_statements(std::string_view in_text, const QasmProgram& in,
                                 std::string_view out_text, const QasmProgram& out, Method method) {
  const std::vector<std::string_view> fixed = kept(in_text, in, method);
  if (!merges(method)) return fixed == kept(out_text, out, method);
  std::size_t next = 0;
  for (const Statement& st : out.statements) {
    const std::string_view body = out_text.substr(st.begin, st.end - st.begin);
    if (next < fixed.size() && body == fixed[next]) {
      ++next;
    } else if (!rewritable(st, method)) {
      return false;
    }
  }
  return next == fixed.size();
}

// The T gates and gates of a program with every statement that rotation
// merging sees through counted as its elementary gates, and every other
// statement instance as one gate (a T gate for t and tdg).
inline CircuitStats content(const QasmProgram& program) {
  struct Count : InstanceVisitor {
    const QasmProgram* program;
    CircuitStats stats;
    void gate(PlacedGate g, std::uint32_t, std::uint32_t) { stats.add(g.gate); }
    void boundary(std::uint32_t s, std::uint32_t, std::span<const std::uint32_t>) {
      const Statement& st = program->statements[s];
      if (st.kind == StatementKind::Gate) stats.add(st.gate);
    }
  } count;
  count.program = &program;
  InstanceWalk(program, Sight::CliffordT).run(count);
  return count.stats;
}

// Checks the method's result on `text`, as the header says.
inline void check_program_method(std::string_view text, const PipelineOptions& options) {
  const PipelineResult result = run_pipeline(text, options);
  const bool merging = merges(options.method);
  const auto read = read_program(text);
  if (const auto* error = std::get_if<InputError>(&read)) {
    require(result.error == *error, "the reader's error");
    require(error->line >= 1 && error->column >= 1, "an error position is 1-based");
    require(error->message.starts_with("expected "), "an error says what was expected");
    require(result.qasm.empty() && !result.phase && !result.phase_radians,
            "nothing else of an input error");
    return;
  }
  require(!result.error, "a program is no input error");
  if (result.refusal) {
    require(merging, "only the merging methods refuse a program");
    return;
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  require(write_program(text, program, Edits{}) == text, "no edits write the text as it is");
  if (program.statements.empty()) {
    // A text with no statement (an empty file, blanks, comments) comes back
    // as the header the one-wire methods write, on one qubit.
    require(result.qasm == kQasmHeader, "a text with no statement gives the header");
    return;
  }
  require(result.phase.has_value() != result.phase_radians.has_value(), "the phase asked for");
  const auto again = read_program(result.qasm);
  require(std::holds_alternative<QasmProgram>(again), "the output reads as a program");
  const QasmProgram& written = std::get<QasmProgram>(again);
  require(written.qubits == program.qubits && written.clbits == program.clbits,
          "the same registers");
  require(keeps_its_statements(text, program, result.qasm, written, options.method),
          "the statements not rewritten are kept, in order");
  // Gates and depth as the model counts them; the T gates inside other gates
  // (a ccx's seven, a rotation by pi/4) and rotations of any angle are counted
  // by the statistics alone, so the model's t and tdg statements are a floor.
  const auto agree = [](const CircuitStats& stats, const CircuitStats& model) {
    return stats.gates == model.gates && stats.depth == model.depth && stats.t >= model.t;
  };
  require(agree(result.before, program_counts(program)), "the statistics of the input");
  require(agree(result.after, program_counts(written)), "the statistics of the output");
  if (merging) {
    // Counted with the gates of every statement merging sees through.
    const CircuitStats before = content(program), after = content(written);
    // A group of rotations of any angle may land on an odd multiple of pi/4: one T.
    const std::uint64_t merged = result.before.rotations - std::min(result.before.rotations,
                                                                    result.after.rotations);
    // The input's T gates as the statistics see them, inside every gate: a
    // statement with angles of both kinds (u3(pi/4,pi/3,-pi/4): two T gates
    // and a rotation) is no Clifford+T statement to `content`, but merging
    // writes it as gates, its T gates then in plain sight. (`agree` above
    // holds the statistics to at least `content`'s count.)
    require(after.t <= std::max(before.t, result.before.t) + merged,
            "the T count never grows but for merged rotations");
    if (options.method == Method::RotationMerging && result.before.rotations == 0) {
      require(after.gates <= before.gates, "merging never adds gates");
    }
  } else {
    require(result.after.t <= result.before.t, "the T count never grows");
  }

  const ProgramModel in(text, program), out(result.qasm, written);
  if (!in.covered()) return;
  // The input is e^(i phase pi/8) times the output.
  const Complex phase = std::polar(
      1.0, result.phase ? -*result.phase * std::numbers::pi / 8 : -*result.phase_radians);
  if (options.method == Method::Saturation) require(result.phase == 0, "saturation is exact");
  for (const Pick pick : {Pick::Likelier, Pick::Rarer}) {
    const Amplitudes start = in.random_state(pick == Pick::Likelier ? 1 : 2);
    std::vector<Outcome> outcomes;
    const Amplitudes a = *in.run(start, pick, outcomes, false);
    // An angle the text makes infinite (pi/0) leaves the model nothing to compare.
    for (const Complex& amplitude : a) {
      if (!std::isfinite(amplitude.real()) || !std::isfinite(amplitude.imag())) return;
    }
    const std::optional<Amplitudes> b = out.run(start, pick, outcomes, true);
    require(b.has_value(), "the same measurements and resets");
    require(same_states(a, *b, phase), "the same states up to the global phase");
  }
}

}  // namespace kestrel
