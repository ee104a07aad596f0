#include "engine/run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/parser.h"
#include "src/lang.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using Kind = StopReason::Kind;

Pattern<Op> pat(std::string_view text) {
  auto p = Pattern<Op>::from_str(text);
  if (auto* e = std::get_if<1>(&p)) ADD_FAILURE() << text << ": " << e->debug();
  return std::get<0>(std::move(p));
}

Rewrite<Op> rule(std::string name, std::string_view lhs, std::string_view rhs) {
  auto r = Rewrite<Op>::new_(std::move(name), pat(lhs), pat(rhs));
  if (auto* e = std::get_if<1>(&r)) ADD_FAILURE() << *e;
  return std::get<0>(std::move(r));
}

// An e-graph holding `text`, not rebuilt: the runner rebuilds before searching.
EGraph<Op> graph_of(std::string_view text) {
  auto e = from_str<Op>(text);
  EGraph<Op> g;
  g.add_expr_internal(std::get<0>(e));
  return g;
}

// The right-leaning chain Seq(T, Seq(T, ... Seq(T, T))) with `seqs` Seq
// nodes: "(seq T ?x)" matches in each of its `seqs` classes exactly once.
EGraph<Op> t_chain(std::size_t seqs) {
  EGraph<Op> g;
  Op t(OpKind::T);
  const Id leaf = g.add_internal(t);
  Id tail = leaf;
  for (std::size_t k = 0; k < seqs; ++k) {
    Op s = Op::seq(leaf, tail);
    tail = g.add_internal(s);
  }
  return g;
}

// The class of the term `text` in `g`, if `g` holds it.
std::optional<Id> class_of(const EGraph<Op>& g, std::string_view text) {
  const RecExpr<Op> e = std::get<0>(from_str<Op>(text));
  std::vector<Id> ids;
  for (Op node : e.nodes()) {
    for (Id& c : node.children_mut()) c = ids[c];
    auto id = g.lookup(node);
    if (!id) return std::nullopt;
    ids.push_back(*id);
  }
  return ids.back();
}

bool contains(const EGraph<Op>& g, std::string_view text) { return class_of(g, text).has_value(); }

std::size_t applied(const Iteration& it, std::string_view name) {
  const std::size_t* n = it.applied.find(GlobalSymbol(name));
  return n ? *n : 0;
}

// A backoff scheduler that notes the iterations in which `can_stop` and
// `search_rewrite` were called, and can take its time over every search.
struct RecordingScheduler : BackoffScheduler<Op> {
  std::chrono::milliseconds search_delay{0};
  std::shared_ptr<std::vector<std::size_t>> can_stop_calls =
      std::make_shared<std::vector<std::size_t>>();
  std::shared_ptr<std::vector<std::size_t>> search_calls =
      std::make_shared<std::vector<std::size_t>>();

  bool can_stop(std::size_t iteration) override {
    can_stop_calls->push_back(iteration);
    return BackoffScheduler<Op>::can_stop(iteration);
  }
  std::vector<SearchMatches> search_rewrite(std::size_t iteration, const EGraph<Op>& egraph,
                                            const Rewrite<Op>& rewrite) override {
    search_calls->push_back(iteration);
    std::this_thread::sleep_for(search_delay);
    return BackoffScheduler<Op>::search_rewrite(iteration, egraph, rewrite);
  }
};

std::size_t total_substs(const std::vector<SearchMatches>& matches) {
  std::size_t n = 0;
  for (const SearchMatches& m : matches) n += m.substs.size();
  return n;
}

// ---------------------------------------------------------------------------
// The backoff scheduler on its own.

TEST(Backoff, ThresholdIsInclusive) {
  const Rewrite<Op> r = rule("t-left", "(seq T ?x)", "(seq Z ?x)");
  for (std::size_t seqs : {999u, 1000u}) {
    EGraph<Op> g = t_chain(seqs);
    g.rebuild();
    BackoffScheduler<Op> s;
    EXPECT_EQ(total_substs(s.search_rewrite(0, g, r)), seqs);
    EXPECT_EQ(s.rule_stats(r.name), (RuleStats{1, 0, 0, 1000, 5})) << seqs;
  }
  EGraph<Op> g = t_chain(1001);
  g.rebuild();
  BackoffScheduler<Op> s;
  EXPECT_TRUE(s.search_rewrite(3, g, r).empty());
  EXPECT_EQ(s.rule_stats(r.name), (RuleStats{0, 8, 1, 1000, 5}));
}

TEST(Backoff, BanLengthAndThresholdDoubleWithEveryBan) {
  const Rewrite<Op> r = rule("t-left", "(seq T ?x)", "(seq Z ?x)");
  EGraph<Op> g = t_chain(2500);
  g.rebuild();
  BackoffScheduler<Op> s;

  EXPECT_TRUE(s.search_rewrite(0, g, r).empty());  // 2500 > 1000
  EXPECT_EQ(s.rule_stats(r.name), (RuleStats{0, 5, 1, 1000, 5}));
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_TRUE(s.search_rewrite(i, g, r).empty());
    EXPECT_EQ(s.rule_stats(r.name), (RuleStats{0, 5, 1, 1000, 5})) << "not searched in " << i;
  }
  EXPECT_TRUE(s.search_rewrite(5, g, r).empty());  // 2500 > 2000
  EXPECT_EQ(s.rule_stats(r.name), (RuleStats{0, 15, 2, 1000, 5}));
  EXPECT_TRUE(s.search_rewrite(14, g, r).empty());
  EXPECT_EQ(total_substs(s.search_rewrite(15, g, r)), 2500u);  // 2500 <= 4000
  EXPECT_EQ(s.rule_stats(r.name), (RuleStats{1, 15, 2, 1000, 5}));
}

TEST(Backoff, SearchAfterSixtyFourBansFaults) {
  const Rewrite<Op> r = rule("t-left", "(seq T ?x)", "(seq Z ?x)");
  EGraph<Op> g = t_chain(1);
  g.rebuild();
  BackoffScheduler<Op> s;
  s.rule_stats(r.name).times_banned = 64;
  try {
    s.search_rewrite(0, g, r);
    FAIL() << "no fault";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "called `Option::unwrap()` on a `None` value");
  }
}

TEST(Backoff, CanStopShortensEveryBanBySoonestEnd) {
  BackoffScheduler<Op> s;
  s.rule_stats(GlobalSymbol("a")).banned_until = 9;
  s.rule_stats(GlobalSymbol("b")).banned_until = 6;
  s.rule_stats(GlobalSymbol("c")).banned_until = 2;  // ends now: not banned past 2
  s.rule_stats(GlobalSymbol("d")).banned_until = 6;
  s.rule_stats(GlobalSymbol("e")).banned_until = 0;

  EXPECT_FALSE(s.can_stop(2));
  EXPECT_EQ(s.rule_stats(GlobalSymbol("a")).banned_until, 5u);
  EXPECT_EQ(s.rule_stats(GlobalSymbol("b")).banned_until, 2u);
  EXPECT_EQ(s.rule_stats(GlobalSymbol("c")).banned_until, 2u);
  EXPECT_EQ(s.rule_stats(GlobalSymbol("d")).banned_until, 2u);
  EXPECT_EQ(s.rule_stats(GlobalSymbol("e")).banned_until, 0u);

  EXPECT_FALSE(s.can_stop(3));  // a: 5 -> 3
  EXPECT_EQ(s.rule_stats(GlobalSymbol("a")).banned_until, 3u);
  EXPECT_EQ(s.rule_stats(GlobalSymbol("b")).banned_until, 2u);

  EXPECT_TRUE(s.can_stop(3));
  EXPECT_EQ(s.rule_stats(GlobalSymbol("a")).banned_until, 3u);
  EXPECT_TRUE(BackoffScheduler<Op>().can_stop(0));
}

TEST(Backoff, PlainSchedulerNeverBansAndApplyReturnsChangedClasses) {
  const Rewrite<Op> r = rule("t-left", "(seq T ?x)", "(seq Z ?x)");
  EGraph<Op> g = t_chain(1500);
  g.rebuild();
  RewriteScheduler<Op> plain;
  EXPECT_TRUE(plain.can_stop(0));
  std::vector<SearchMatches> m = plain.search_rewrite(0, g, r);
  EXPECT_EQ(total_substs(m), 1500u);
  EXPECT_EQ(plain.apply_rewrite(0, g, r, m), 1500u);
  g.rebuild();
  EXPECT_EQ(plain.apply_rewrite(0, g, r, plain.search_rewrite(1, g, r)), 0u);  // all merged
}

// ---------------------------------------------------------------------------
// The runner.

TEST(Runner, RulesThatChangeNothingSaturateAfterOneIteration) {
  const std::vector<Rewrite<Op>> rules = {
      rule("t-t-s", "(seq T T)", "S"),                // no match
      rule("seq-same", "(seq ?a ?b)", "(seq ?a ?b)"),  // matches, merges nothing
  };
  auto sched = std::make_unique<RecordingScheduler>();
  auto can_stop_calls = sched->can_stop_calls;
  Runner<Op> runner;
  runner.with_egraph(graph_of("(seq H (seq X Z))")).with_scheduler(std::move(sched));
  runner.run(rules);

  ASSERT_EQ(runner.iterations.size(), 1u);
  EXPECT_EQ(runner.stop_reason, StopReason::saturated());
  const Iteration& it = runner.iterations[0];
  EXPECT_EQ(it.stop_reason, StopReason::saturated());
  EXPECT_TRUE(it.applied.empty());
  EXPECT_EQ(it.egraph_nodes, 5u);
  EXPECT_EQ(it.egraph_classes, 5u);
  EXPECT_EQ(it.n_rebuilds, 0u);
  EXPECT_EQ(*can_stop_calls, std::vector<std::size_t>{0});
}

TEST(Runner, EmptyRuleSetSaturatesOnTheInitiallyRebuiltGraph) {
  EGraph<Op> g = graph_of("(par (seq H T) (seq Z T))");
  g.rebuild();
  g.union_(*class_of(g, "H"), *class_of(g, "Z"));
  ASSERT_FALSE(g.clean());
  Runner<Op> runner = Runner<Op>().with_egraph(std::move(g)).run({});
  ASSERT_EQ(runner.iterations.size(), 1u);
  EXPECT_EQ(runner.stop_reason, StopReason::saturated());
  EXPECT_EQ(runner.iterations[0].egraph_classes, 4u);  // seq(H,T) = seq(Z,T) before iteration 0
  EXPECT_EQ(runner.iterations[0].n_rebuilds, 0u);
}

TEST(Runner, ReportsCountBeforeTheIterationAndSumWhatWasApplied) {
  const std::vector<Rewrite<Op>> rules = {rule("t-t-s", "(seq T T)", "S")};
  Runner<Op> runner = Runner<Op>().with_egraph(graph_of("(seq T T)")).run(rules);
  ASSERT_EQ(runner.iterations.size(), 2u);
  EXPECT_EQ(applied(runner.iterations[0], "t-t-s"), 1u);
  EXPECT_EQ(runner.iterations[0].applied.size(), 1u);
  EXPECT_EQ(runner.iterations[0].egraph_nodes, 2u);  // T, Seq; S comes later
  EXPECT_EQ(runner.iterations[0].egraph_classes, 2u);
  EXPECT_FALSE(runner.iterations[0].stop_reason.has_value());
  EXPECT_TRUE(runner.iterations[1].applied.empty());
  EXPECT_EQ(runner.iterations[1].egraph_nodes, 3u);
  EXPECT_EQ(runner.iterations[1].egraph_classes, 2u);
  EXPECT_EQ(runner.iterations[1].stop_reason, StopReason::saturated());
  EXPECT_TRUE(contains(runner.egraph, "S"));
}

TEST(Runner, HookChangesCountAfterTheReportAndPreventSaturation) {
  // The hook adds one gate in iteration 0 only. Nothing is ever applied, but
  // iteration 0 cannot saturate since the hook grew the e-graph.
  Runner<Op> runner = Runner<Op>()
                          .with_egraph(graph_of("(seq H T)"))
                          .with_hook([](Runner<Op>& r) -> std::optional<std::string> {
                            if (r.iterations.empty()) {
                              Op x(OpKind::X);
                              r.egraph.add_internal(x);
                              r.egraph.rebuild();
                            }
                            return std::nullopt;
                          });
  runner.run(std::vector{rule("t-t-s", "(seq T T)", "S")});
  ASSERT_EQ(runner.iterations.size(), 2u);
  EXPECT_EQ(runner.iterations[0].egraph_nodes, 3u);
  EXPECT_EQ(runner.iterations[0].egraph_classes, 3u);
  EXPECT_FALSE(runner.iterations[0].stop_reason.has_value());
  EXPECT_EQ(runner.iterations[1].egraph_nodes, 4u);
  EXPECT_EQ(runner.iterations[1].stop_reason, StopReason::saturated());
}

TEST(Runner, ThousandMatchesAreAppliedOneMoreIsBanned) {
  const std::vector<Rewrite<Op>> rules = {rule("t-left", "(seq T ?x)", "(seq Z ?x)")};
  Runner<Op> exact = Runner<Op>().with_egraph(t_chain(1000)).run(rules);
  ASSERT_EQ(exact.iterations.size(), 2u);
  EXPECT_EQ(applied(exact.iterations[0], "t-left"), 1000u);
  EXPECT_EQ(exact.stop_reason, StopReason::saturated());

  // Banned in iteration 0, nothing applied: can_stop ends the ban at once,
  // the search of iteration 1 has threshold 2000 and applies everything.
  auto sched = std::make_unique<RecordingScheduler>();
  auto can_stop_calls = sched->can_stop_calls;
  Runner<Op> over = Runner<Op>().with_egraph(t_chain(1001)).with_scheduler(std::move(sched));
  over.run(rules);
  ASSERT_EQ(over.iterations.size(), 3u);
  EXPECT_TRUE(over.iterations[0].applied.empty());
  EXPECT_FALSE(over.iterations[0].stop_reason.has_value());
  EXPECT_EQ(over.iterations[1].egraph_nodes, 1002u);  // nothing of the banned search applied
  EXPECT_EQ(applied(over.iterations[1], "t-left"), 1001u);
  EXPECT_EQ(over.stop_reason, StopReason::saturated());
  EXPECT_EQ(*can_stop_calls, (std::vector<std::size_t>{0, 2}));
  auto& backoff = dynamic_cast<BackoffScheduler<Op>&>(*over.scheduler);
  EXPECT_EQ(backoff.rule_stats(GlobalSymbol("t-left")), (RuleStats{2, 0, 1, 1000, 5}));
}

TEST(Runner, RepeatedBansAreShortenedWhileNothingElseApplies) {
  // 2500 matches: banned in iteration 0 (until 5) and 1 (until 11), each ban
  // cut short by can_stop; applied in iteration 2 with threshold 4000.
  const std::vector<Rewrite<Op>> rules = {rule("t-left", "(seq T ?x)", "(seq Z ?x)")};
  auto sched = std::make_unique<RecordingScheduler>();
  auto can_stop_calls = sched->can_stop_calls;
  Runner<Op> runner = Runner<Op>().with_egraph(t_chain(2500)).with_scheduler(std::move(sched));
  runner.run(rules);
  ASSERT_EQ(runner.iterations.size(), 4u);
  EXPECT_TRUE(runner.iterations[0].applied.empty());
  EXPECT_TRUE(runner.iterations[1].applied.empty());
  EXPECT_EQ(applied(runner.iterations[2], "t-left"), 2500u);
  EXPECT_EQ(runner.stop_reason, StopReason::saturated());
  EXPECT_EQ(*can_stop_calls, (std::vector<std::size_t>{0, 1, 3}));
  auto& backoff = dynamic_cast<BackoffScheduler<Op>&>(*runner.scheduler);
  EXPECT_EQ(backoff.rule_stats(GlobalSymbol("t-left")), (RuleStats{2, 1, 2, 1000, 5}));
}

TEST(Runner, OtherRulesKeepApplyingWhileOneIsBanned) {
  // t-left is banned in iteration 0 while seq-par grows the graph in every
  // iteration, so no can_stop shortens the ban: t-left is next searched in
  // iteration 5.
  const std::vector<Rewrite<Op>> rules = {
      rule("t-left", "(seq T ?x)", "(seq Z ?x)"),
      rule("h-grow", "(seq ?a H)", "(seq (par ?a H) H)"),
  };
  EGraph<Op> g = t_chain(1001);
  Op h(OpKind::H);
  const Id hid = g.add_internal(h);
  Op hh = Op::seq(hid, hid);
  g.add_internal(hh);
  auto sched = std::make_unique<RecordingScheduler>();
  auto can_stop_calls = sched->can_stop_calls;
  Runner<Op> runner = Runner<Op>()
                          .with_egraph(std::move(g))
                          .with_scheduler(std::move(sched))
                          .with_iter_limit(7);
  runner.run(rules);
  ASSERT_EQ(runner.iterations.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(applied(runner.iterations[i], "h-grow"), 1u) << i;
    EXPECT_EQ(applied(runner.iterations[i], "t-left"), i == 5 ? 1001u : 0u) << i;
  }
  EXPECT_TRUE(can_stop_calls->empty());
  EXPECT_EQ(runner.stop_reason, StopReason::iteration_limit(7));
}

TEST(Runner, GrowingGraphStopsAtTheIterationLimit) {
  // Each iteration adds one Par class and one Seq node: the graph never
  // saturates and stays far below the node limit.
  const std::vector<Rewrite<Op>> rules = {rule("grow", "(seq ?a ?b)", "(seq (par ?a ?b) ?b)")};
  Runner<Op> runner = Runner<Op>().with_egraph(graph_of("(seq T T)")).run(rules);
  ASSERT_EQ(runner.iterations.size(), 30u);
  EXPECT_EQ(runner.stop_reason, StopReason::iteration_limit(30));
  for (std::size_t i = 0; i < 30; ++i) {
    const Iteration& it = runner.iterations[i];
    EXPECT_EQ(it.egraph_nodes, 2 + 2 * i) << i;
    EXPECT_EQ(applied(it, "grow"), 1u) << i;
    EXPECT_FALSE(it.stop_reason.has_value()) << i;
  }

  Runner<Op> one = Runner<Op>().with_egraph(graph_of("(seq T T)")).with_iter_limit(1).run(rules);
  ASSERT_EQ(one.iterations.size(), 1u);
  EXPECT_EQ(one.stop_reason, StopReason::iteration_limit(1));
  EXPECT_EQ(applied(one.iterations[0], "grow"), 1u);

  // A limit reached before the first iteration still gives one report, in
  // which neither hooks nor rules ran.
  int hook_calls = 0;
  Runner<Op> none = Runner<Op>()
                        .with_egraph(graph_of("(seq T T)"))
                        .with_iter_limit(0)
                        .with_hook([&hook_calls](Runner<Op>&) -> std::optional<std::string> {
                          ++hook_calls;
                          return std::nullopt;
                        })
                        .run(rules);
  ASSERT_EQ(none.iterations.size(), 1u);
  EXPECT_EQ(none.stop_reason, StopReason::iteration_limit(0));
  EXPECT_EQ(none.iterations[0].stop_reason, StopReason::iteration_limit(0));
  EXPECT_TRUE(none.iterations[0].applied.empty());
  EXPECT_EQ(hook_calls, 0);
}

TEST(Runner, AssociativityOnALongChainRunsToTheIterationLimit) {
  // Associativity keeps finding new bracketings of an 80-gate chain; as the
  // matches pass the thresholds, the backoff scheduler bans the rule, and the
  // iterations that only shorten bans do not end the run.
  RecExpr<Op> chain;
  Id tail = chain.add(Op(OpKind::T));
  for (int k = 0; k < 79; ++k) {
    const Id leaf = chain.add(Op(k % 2 ? OpKind::H : OpKind::T));
    tail = chain.add(Op::seq(leaf, tail));
  }
  EGraph<Op> g;
  g.add_expr_internal(chain);
  const std::vector<Rewrite<Op>> rules = {
      rule("seq-assoc-rl", "(seq ?a (seq ?b ?c))", "(seq (seq ?a ?b) ?c)"),
      rule("seq-assoc-lr", "(seq (seq ?a ?b) ?c)", "(seq ?a (seq ?b ?c))"),
  };
  // The time limit is out of reach, so that a slow machine or a sanitizer
  // build cannot stop the run first.
  Runner<Op> runner = Runner<Op>()
                          .with_egraph(std::move(g))
                          .with_node_limit(1'000'000)
                          .with_time_limit(std::chrono::hours(1))
                          .run(rules);
  EXPECT_EQ(runner.stop_reason, StopReason::iteration_limit(30));
  ASSERT_EQ(runner.iterations.size(), 30u);
  std::size_t idle = 0;
  for (std::size_t i = 0; i < 30; ++i) {
    const Iteration& it = runner.iterations[i];
    EXPECT_FALSE(it.stop_reason.has_value()) << i;
    if (it.applied.empty()) ++idle;
    if (i > 0) {
      EXPECT_GE(it.egraph_nodes, runner.iterations[i - 1].egraph_nodes) << i;
    }
  }
  EXPECT_GT(idle, 0u);
  EXPECT_GT(runner.egraph.node_count(), 10 * runner.iterations[0].egraph_nodes);
}

TEST(Runner, NodeLimitInTheApplyPhaseSkipsLaterRulesButRebuilds) {
  // 6 nodes, limit 6. h-z adds no node; par-swap adds one (7 > 6), so x-t is
  // never applied. The rebuild still merges Seq(H, T) with Seq(Z, T).
  const std::vector<Rewrite<Op>> rules = {
      rule("h-z", "H", "Z"),
      rule("par-swap", "(par ?a ?b)", "(par ?b ?a)"),
      rule("t-x", "T", "X"),
  };
  Runner<Op> runner =
      Runner<Op>().with_egraph(graph_of("(par (seq H T) (seq Z T))")).with_node_limit(6);
  runner.run(rules);
  ASSERT_EQ(runner.iterations.size(), 1u);
  const Iteration& it = runner.iterations[0];
  EXPECT_EQ(it.stop_reason, StopReason::node_limit(7));
  EXPECT_EQ(runner.stop_reason, StopReason::node_limit(7));
  EXPECT_EQ(applied(it, "h-z"), 1u);
  EXPECT_EQ(applied(it, "par-swap"), 1u);
  EXPECT_EQ(it.applied.size(), 2u);
  EXPECT_FALSE(contains(runner.egraph, "X"));
  EXPECT_EQ(it.n_rebuilds, 1u);
  EXPECT_TRUE(runner.egraph.clean());
  EXPECT_EQ(runner.egraph.class_count(), 4u);
}

TEST(Runner, TimeLimitInTheFirstIterationStillReports) {
  // With a zero limit the run stops at the first limit test that sees any
  // time pass; the hook makes sure some has by the end of the first search.
  const std::vector<Rewrite<Op>> rules = {rule("t-t-s", "(seq T T)", "S"),
                                          rule("t-t-x", "(seq T T)", "X")};
  auto sched = std::make_unique<RecordingScheduler>();
  auto search_calls = sched->search_calls;
  Runner<Op> runner = Runner<Op>()
                          .with_egraph(graph_of("(seq T T)"))
                          .with_time_limit(0ns)
                          .with_scheduler(std::move(sched))
                          .with_hook([](Runner<Op>&) -> std::optional<std::string> {
                            std::this_thread::sleep_for(1ms);
                            return std::nullopt;
                          });
  runner.run(rules);
  ASSERT_EQ(runner.iterations.size(), 1u);
  ASSERT_TRUE(runner.stop_reason.has_value());
  EXPECT_EQ(runner.stop_reason->kind, Kind::TimeLimit);
  EXPECT_GT(runner.stop_reason->seconds, 0.0);
  EXPECT_EQ(runner.iterations[0].stop_reason, runner.stop_reason);
  EXPECT_TRUE(runner.iterations[0].applied.empty());
  EXPECT_LE(search_calls->size(), 1u);  // the second rule is never searched
  EXPECT_FALSE(contains(runner.egraph, "S"));
}

TEST(Runner, TimeLimitIsTestedAfterEverySearch) {
  // The first search alone outlasts the limit: the second rule is never
  // searched and nothing is applied.
  const std::vector<Rewrite<Op>> rules = {rule("t-t-s", "(seq T T)", "S"),
                                          rule("t-t-x", "(seq T T)", "X")};
  auto sched = std::make_unique<RecordingScheduler>();
  sched->search_delay = 250ms;
  auto search_calls = sched->search_calls;
  Runner<Op> runner = Runner<Op>()
                          .with_egraph(graph_of("(seq T T)"))
                          .with_time_limit(200ms)
                          .with_scheduler(std::move(sched));
  runner.run(rules);
  ASSERT_EQ(runner.iterations.size(), 1u);
  ASSERT_TRUE(runner.stop_reason.has_value());
  EXPECT_EQ(runner.stop_reason->kind, Kind::TimeLimit);
  EXPECT_GT(runner.stop_reason->seconds, 0.25);
  EXPECT_EQ(*search_calls, std::vector<std::size_t>{0});
  EXPECT_TRUE(runner.iterations[0].applied.empty());
  EXPECT_GE(runner.iterations[0].search_time, 0.25);
  EXPECT_GE(runner.iterations[0].total_time, runner.iterations[0].search_time);
}

TEST(Runner, HookErrorEndsTheRunAfterTheRebuild) {
  const std::vector<Rewrite<Op>> rules = {rule("grow", "(seq ?a ?b)", "(seq (par ?a ?b) ?b)")};
  auto first = std::make_shared<std::vector<std::size_t>>();
  auto third = std::make_shared<std::vector<std::size_t>>();
  Runner<Op> runner = Runner<Op>().with_egraph(graph_of("(seq T T)"));
  runner.with_hook([first](Runner<Op>& r) -> std::optional<std::string> {
    first->push_back(r.iterations.size());
    EXPECT_TRUE(r.hooks.empty());  // taken out while hooks run
    return std::nullopt;
  });
  runner.with_hook([](Runner<Op>& r) -> std::optional<std::string> {
    if (r.iterations.size() == 2) return "enough";
    return std::nullopt;
  });
  runner.with_hook([third](Runner<Op>& r) -> std::optional<std::string> {
    third->push_back(r.iterations.size());
    return std::nullopt;
  });
  runner.run(rules);
  ASSERT_EQ(runner.iterations.size(), 3u);
  EXPECT_EQ(runner.stop_reason, StopReason::other("enough"));
  EXPECT_EQ(runner.iterations[2].stop_reason, StopReason::other("enough"));
  EXPECT_TRUE(runner.iterations[2].applied.empty());
  EXPECT_EQ(*first, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(*third, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(runner.hooks.size(), 3u);
  EXPECT_TRUE(runner.egraph.clean());
}

TEST(Runner, DuplicateNamesWarnAndShareRecordAndCounts) {
  const std::vector<Rewrite<Op>> rules = {
      rule("dup", "(seq T T)", "S"),   rule("b", "(seq T T)", "Z"), rule("dup", "(seq T T)", "X"),
      rule("c", "(seq H H)", "I"),     rule("b", "(seq T T)", "Z"), rule("dup", "(seq T T)", "X"),
  };
  testing::internal::CaptureStderr();
  Runner<Op> runner = Runner<Op>().with_egraph(graph_of("(seq T T)")).with_iter_limit(1).run(rules);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: Duplicated rule names may affect rule reporting and scheduling.\n"
            "Rule 'dup' appears 3 times\n"
            "Rule 'b' appears 2 times\n");
  const Iteration& it = runner.iterations[0];
  ASSERT_EQ(it.applied.size(), 2u);
  EXPECT_EQ(it.applied.keys()[0], GlobalSymbol("dup"));
  EXPECT_EQ(it.applied.values()[0], 2u);  // S and X each merged once
  EXPECT_EQ(it.applied.keys()[1], GlobalSymbol("b"));
  EXPECT_EQ(it.applied.values()[1], 1u);
  auto& backoff = dynamic_cast<BackoffScheduler<Op>&>(*runner.scheduler);
  EXPECT_EQ(backoff.rule_stats(GlobalSymbol("dup")).times_applied, 3u);

  testing::internal::CaptureStderr();
  Runner<Op>().with_egraph(graph_of("(seq T T)")).run(std::vector{rule("t-t-s", "(seq T T)", "S")});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Runner, RunningTwiceFaults) {
  const std::vector<Rewrite<Op>> rules = {rule("t-t-s", "(seq T T)", "S")};
  Runner<Op> runner = Runner<Op>().with_egraph(graph_of("(seq T T)"));
  runner.run(rules);
  try {
    runner.run(rules);
    FAIL() << "no fault";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "assertion failed: self.stop_reason.is_none()");
  }
}

}  // namespace
}  // namespace kestrel
