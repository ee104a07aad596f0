// Broken invariants throw a Fault with their fixed message, which becomes
// kestrel.PanicException at the module's boundary.
#include "engine/fault.h"

#include <gtest/gtest.h>

#include "engine/run.h"
#include "src/text/qasm.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

TEST(Fault, MessagesOfBrokenInvariants) {
  RecExpr<Op> hx({Op(OpKind::H), Op(OpKind::X)});
  const RecExpr<Op> none;
  ASSERT_TRUE(none.empty());
  EGraph<Op> dirty;  // rebuilt once, so that its kind index is filled
  add(dirty, "(seq H Z)");
  dirty.rebuild();
  add(dirty, "T");
  Subst bound;
  bound.insert(Var(GlobalSymbol("?a")), 7);
  Runner<Op> ran = Runner<Op>().with_egraph(EGraph<Op>()).run({});
  const Rewrite<Op> tt = rule("t-t-s", "(seq T T)", "S");
  const struct {
    std::function<void()> call;
    const char* message;  // the whole message, or its start
  } cases[] = {
      {[&] { (void)hx[2]; }, "index out of bounds: the len is 2 but the index is 2"},
      {[&] { hx[4294967295u] = Op(); }, "index out of bounds: the len is 2 but the index is 4294967295"},
      {[&] { (void)none.root(); }, "index out of bounds: the len is 0 but the index is 0"},
      {[] { EGraph<Op>().add_expr_internal({}); }, "index out of bounds: the len is 0 but the index is 0"},
      {[] { EGraph<Op>().add_expr_internal(RecExpr<Op>({Op::seq(0, 1)})); },
       "index out of bounds: the len is 0 but the index is 0"},
      {[] { (void)EGraph<Op>().find(7); }, "index out of bounds: the len is 0 but the index is 7"},
      {[] { print_qasm(RecExpr<Op>({Op(OpKind::T), Op::seq(0, 5)})); },
       "index out of bounds: the len is 2 but the index is 5"},
      {[] { (void)GlobalSymbol::from_handle(0).as_str(); }, "index out of bounds: the len is "},
      {[] { symbol_handle(2, 0x0FFFFFFE); }, "Can't represent index 268435455 in a Symbol"},
      {[&] { (void)bound[Var(GlobalSymbol("?c"))]; }, "Var '?c=?c' not found in {?a: 7}"},
      {[] { compact(RecExpr<Op>({Op::seq(0, 0)})); }, "no entry found for key"},
      {[] { compact(RecExpr<Op>({Op(OpKind::I), Op::seq(0, 5)})); }, "no entry found for key"},
      // The dirty check comes before the limit, and the ground shortcut makes it too.
      {[&] { pat("H").program().run_with_limit(dirty, 0, 0); }, "Tried to search a dirty e-graph!"},
      {[&] { pat("(seq H Z)").search_with_limit(dirty, 10); }, "Tried to search a dirty e-graph!"},
      {[&] { ran.run({}); }, "assertion failed: self.stop_reason.is_none()"},
      {[&] {
         BackoffScheduler<Op> s;
         s.rule_stats(tt.name).times_banned = 64;
         s.search_rewrite(0, dirty, tt);
       },
       "called `Option::unwrap()` on a `None` value"},
  };
  for (const auto& c : cases) EXPECT_TRUE(fault_of(c.call).starts_with(c.message)) << c.message;
}

}  // namespace
}  // namespace kestrel
