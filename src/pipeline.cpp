#include "src/pipeline.h"

#include <utility>
#include <variant>

#include "src/per_qubit.h"

namespace kestrel {

std::vector<Op> optimize_run(std::span<const Op> run, const PipelineOptions& options) {
  if (options.method != Method::Saturation) {
    fault("internal error: entered unreachable code");
  }
  if (run.empty()) return {};
  // The chain the line reader builds: Seq(Seq(g0, g1), g2) ...
  RecExpr<Op> chain;
  chain.reserve(2 * run.size());
  Id root = chain.add(run[0]);
  for (std::size_t k = 1; k < run.size(); ++k) root = chain.add(Op::seq(root, chain.add(run[k])));
  const RecExpr<Op> best = optimize_expr(chain, options.limits);
  std::vector<Op> gates;
  emit(best.root(), best, gates);
  return gates;
}

PipelineResult run_pipeline(std::string_view text, const PipelineOptions& options) {
  PipelineResult result;
  if (options.per_qubit) {
    auto read = read_program(text);
    if (auto* error = std::get_if<InputError>(&read)) {
      result.error = std::move(*error);
      return result;
    }
    PerQubitResult out = optimize_per_qubit(
        text, std::get<Program>(read),
        [&](std::span<const Op> run) { return optimize_run(run, options); });
    result.qasm = std::move(out.qasm);
    result.before = out.before;
    result.after = out.after;
    return result;
  }
  if (options.method != Method::Saturation) {
    fault("internal error: entered unreachable code");
  }
  const RecExpr<Op> expr = parse_qasm(text);
  const RecExpr<Op> best = optimize_expr(expr, options.limits);
  result.before = stats(expr);
  result.after = stats(best);
  result.qasm = print_qasm(best);
  return result;
}

}  // namespace kestrel
