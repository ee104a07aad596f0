#include "src/optimize.h"

#include "engine/egraph.h"
#include "engine/extract.h"
#include "engine/run.h"
#include "src/cost.h"
#include "src/rules.h"

namespace kestrel {

RecExpr<Op> optimize_expr(const RecExpr<Op>& expr) {
  EGraph<Op> egraph;
  const Id root = egraph.find(egraph.add_expr_internal(expr));

  Runner<Op> runner;
  runner.with_egraph(std::move(egraph));
  {
    const std::vector<Rewrite<Op>> rule_set = rules();
    runner.run(rule_set);
  }

  const Extractor<Op, TCost> extractor(runner.egraph, TCost{});
  return extractor.best_term(runner.egraph.find(root)).second;
}

}  // namespace kestrel
