// The pipeline's ways through a text (one wire by saturation or by the
// normal form, or a whole program), the methods on a program read, and the
// per-run adapter.
#include "src/pipeline/pipeline.h"

#include <optional>
#include <utility>
#include <variant>

#include "engine/fault.h"
#include "src/circuit/chain.h"
#include "src/circuit/global_phase.h"
#include "src/normal_form/normal_form.h"
#include "src/per_qubit/per_qubit.h"
#include "src/program/stats.h"
#include "src/program/writer.h"
#include "src/phase_polynomial/phase_polynomial.h"
#include "src/phase_polynomial/reduction.h"
#include "src/rotation_merging/rotation_merging.h"

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

// The time by which rotation merging stops searching, if the clock can hold it.
std::optional<std::chrono::steady_clock::time_point> merging_deadline(
    std::chrono::nanoseconds limit) {
  const auto now = std::chrono::steady_clock::now();
  if (limit < std::chrono::steady_clock::time_point::max() - now) return now + limit;
  return std::nullopt;
}

// A whole program read, optimised by `options.method`, counted and written.
PipelineResult program_pipeline(std::string_view text, const PipelineOptions& options) {
  PipelineResult result;
  auto read = read_program(text);
  if (auto* error = std::get_if<InputError>(&read)) {
    result.error = std::move(*error);
    return result;
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  ProgramEdits edited = optimize_program(program, options);
  if (edited.refusal) {
    result.refusal = std::move(edited.refusal);
    return result;
  }
  const ProgramStats stats = program_stats(program, edited.edits);
  result.qasm = write_program(text, program, edited.edits);
  result.before = stats.before;
  result.after = stats.after;
  result.phase = edited.phase;
  if (options.method == Method::PhasePolynomial) {
    result.figures.emplace_back("two_qubit_before", stats.two_qubit_before);
    result.figures.emplace_back("two_qubit_after", stats.two_qubit_after);
    for (const auto& figure : edited.figures) result.figures.push_back(figure);
    if (options.ancillas > 0) result.figures.emplace_back("measurements", stats.measurements_after);
  }
  return result;
}

}  // namespace

PipelineResult run_pipeline(std::string_view text, const PipelineOptions& options,
                            ReportRequest request) {
  if (method_info(options.method).reading == Reading::WholeProgram || options.per_qubit) {
    return program_pipeline(text, options);
  }
  if (options.method == Method::NormalForm) return normal_form_pipeline(text, options.phase);
  // Saturation's identities hold exactly, global phase included.
  const std::optional<std::uint8_t> phase =
      options.phase ? std::optional<std::uint8_t>(0) : std::nullopt;
  std::optional<WireFinding> checked;  // what the tally found, when it ran
  if (request.report == nullptr) {
    // A circuit too long to be rewritten comes back as it was read: its gates
    // are written from the text in one pass, without building the chain.
    GateTally tally = tally_gates(text);
    if (past_node_limit(tally, options.limits.node_limit)) {
      PipelineResult result;
      result.before = result.after = tally.stats;
      result.qasm = std::move(tally.qasm);
      result.phase = phase;
      result.wire = std::move(tally.wire);
      return result;
    }
    checked = std::move(tally.wire);
  }
  PipelineResult result;
  const RecExpr<Op> expr = parse_qasm(text, checked ? nullptr : &result.wire);
  if (checked) result.wire = std::move(*checked);
  const RecExpr<Op> best = optimize_expr(expr, options.limits, request);
  result.before = wire_stats(expr);
  result.after = wire_stats(best);
  result.qasm = print_qasm(best);
  result.phase = phase;
  return result;
}

ProgramEdits optimize_program(const QasmProgram& program, const PipelineOptions& options) {
  ProgramEdits out;
  if (options.method == Method::PhasePolynomial) {
    if (auto why = too_large_for_phase_polynomial(program)) {
      out.refusal = std::move(*why);
      return out;
    }
    PhasePolynomialOptions method;
    method.deadline = merging_deadline(options.limits.time_limit);
    method.ancillas = static_cast<std::uint32_t>(std::min<std::size_t>(options.ancillas, kMaxBits));
    method.effort = reduction_effort(options.limits.time_limit);
    PhasePolynomialResult result = reduce_phase_polynomials(program, method);
    out.edits = std::move(result.edits);
    if (options.phase) out.phase = result.phase;
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
        merge_rotations(program, merging_deadline(options.limits.time_limit));
    out.edits = std::move(merged.edits);
    if (options.phase) out.phase = merged.phase;
    return out;
  }
  // One time limit for the whole call, not one per run.
  const Deadline deadline(options.limits.time_limit);
  PerQubitEdits edited = per_qubit_edits(
      program, [&](std::span<const Op> run) { return optimize_run(run, options, &deadline); },
      options.phase);
  out.edits = std::move(edited.edits);
  out.phase = edited.phase;
  return out;
}

std::vector<Op> optimize_run(std::span<const Op> run, const PipelineOptions& options,
                             const Deadline* deadline) {
  check(method_info(options.method).reading == Reading::OneWire, "a method of runs");
  std::vector<Op> out;
  if (options.method == Method::NormalForm) {
    NormalFormWire wire;
    for (const Op& gate : run) wire.add(gate.op());
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
    if (!left) return std::vector<Op>(run.begin(), run.end());
    limits.time_limit = *left;
  }
  Chain chain(run.size());
  for (const Op& gate : run) chain.add(gate.op());
  if (chain.empty()) return out;
  const RecExpr<Op> best = optimize_expr(std::move(chain).take(), limits);
  emit(best.root(), best, out);
  return out;
}

}  // namespace kestrel
