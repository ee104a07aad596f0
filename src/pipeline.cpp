#include "src/pipeline.h"

namespace kestrel {

PipelineResult run_pipeline(std::string_view text, const PipelineOptions& options,
                            ReportRequest request) {
  if (options.method != Method::Saturation || options.per_qubit) {
    fault("internal error: entered unreachable code");
  }
  const RecExpr<Op> expr = parse_qasm(text);
  const RecExpr<Op> best = optimize_expr(expr, options.limits, request);
  PipelineResult result;
  result.before = stats(expr);
  result.after = stats(best);
  result.qasm = print_qasm(best);
  return result;
}

}  // namespace kestrel
