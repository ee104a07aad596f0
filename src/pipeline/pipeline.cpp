// The pipeline's three ways through a text (one wire by saturation or by the
// normal form, or a whole program per qubit) and the per-run adapter.
#include "src/pipeline/pipeline.h"

#include <optional>
#include <utility>
#include <variant>

#include "engine/fault.h"
#include "src/circuit/chain.h"
#include "src/normal_form/normal_form.h"
#include "src/per_qubit/per_qubit.h"
#include "src/program/stats.h"
#include "src/program/writer.h"
#include "src/rotation_merging/rotation_merging.h"

namespace kestrel {
namespace {

// The normal-form method on a text read as one wire. The gates go straight
// from the lines into the wire, with no expression in between.
PipelineResult normal_form_pipeline(std::string_view text) {
  PipelineResult result;
  NormalFormWire wire;
  for_each_gate_line(text, [&](OpKind gate) {
    result.before.add(gate);
    wire.add(gate);
  });
  result.before.depth = result.before.gates;
  std::vector<OpKind> gates;
  wire.write(gates);
  result.after = wire_stats(gates);
  result.qasm = print_qasm(gates);
  return result;
}

// The whole program kept, each qubit's runs optimised by `options.method`.
PipelineResult per_qubit_pipeline(std::string_view text, const PipelineOptions& options) {
  PipelineResult result;
  auto read = read_program(text);
  if (auto* error = std::get_if<InputError>(&read)) {
    result.error = std::move(*error);
    return result;
  }
  // One time limit for the whole call, not one per run.
  const Deadline deadline(options.limits.time_limit);
  PerQubitResult out = optimize_per_qubit(
      text, std::get<QasmProgram>(read),
      [&](std::span<const Op> run) { return optimize_run(run, options, &deadline); });
  result.qasm = std::move(out.qasm);
  result.before = out.before;
  result.after = out.after;
  return result;
}

// The whole program, its T gates merged across it. `per_qubit` changes
// nothing: the method always keeps the program whole.
PipelineResult rotation_merging_pipeline(std::string_view text, const PipelineOptions& options) {
  PipelineResult result;
  auto read = read_program(text);
  if (auto* error = std::get_if<InputError>(&read)) {
    result.error = std::move(*error);
    return result;
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  if (auto why = too_large_for_rotation_merging(program)) {
    result.refusal = std::move(*why);
    return result;
  }
  std::optional<std::chrono::steady_clock::time_point> deadline;
  const auto now = std::chrono::steady_clock::now();
  if (options.limits.time_limit < std::chrono::steady_clock::time_point::max() - now) {
    deadline = now + options.limits.time_limit;
  }
  const RotationMergingResult merged = merge_rotations(program, deadline);
  const ProgramStats stats = program_stats(program, merged.edits);
  result.qasm = write_program(text, program, merged.edits);
  result.before = stats.before;
  result.after = stats.after;
  result.phase = merged.phase;
  return result;
}

}  // namespace

PipelineResult run_pipeline(std::string_view text, const PipelineOptions& options,
                            ReportRequest request) {
  if (options.method == Method::RotationMerging) return rotation_merging_pipeline(text, options);
  if (options.per_qubit) return per_qubit_pipeline(text, options);
  if (options.method == Method::NormalForm) return normal_form_pipeline(text);
  if (request.report == nullptr) {
    // A circuit too long to be rewritten comes back as it was read: its gates
    // are written from the text in one pass, without building the chain.
    GateTally tally = tally_gates(text);
    if (past_node_limit(tally, options.limits.node_limit)) {
      PipelineResult result;
      result.before = result.after = tally.stats;
      result.qasm = std::move(tally.qasm);
      return result;
    }
  }
  const RecExpr<Op> expr = parse_qasm(text);
  const RecExpr<Op> best = optimize_expr(expr, options.limits, request);
  PipelineResult result;
  result.before = wire_stats(expr);
  result.after = wire_stats(best);
  result.qasm = print_qasm(best);
  return result;
}

std::vector<Op> optimize_run(std::span<const Op> run, const PipelineOptions& options,
                             const Deadline* deadline) {
  check(options.method != Method::RotationMerging, "rotation merging reads whole programs");
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
