// The backoff scheduler, and the runner told by traces of whole runs.
#include "engine/run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// Seq(T, Seq(T, ... Seq(T, T))) with `seqs` Seq nodes: "(seq T ?x)" matches
// once in each of its Seq classes.
std::string t_chain(std::size_t seqs) {
  std::string text;
  for (std::size_t k = 0; k < seqs; ++k) text += "(seq T ";
  return text + "T" + std::string(seqs, ')');
}

EGraph<Op> graph(std::string_view text) {
  EGraph<Op> g;
  add(g, text);
  return g;
}

// Each iteration as "<nodes>/<classes> <rule>=<applied> ...", then the stop
// reason: "2/2 t-t-s=1 | 3/2 | Saturated".
std::string trace(const Runner<Op>& r) {
  std::ostringstream out;
  for (const Iteration& it : r.iterations) {
    out << it.egraph_nodes << "/" << it.egraph_classes;
    for (std::size_t k = 0; k < it.applied.size(); ++k) {
      out << " " << it.applied.keys()[k].as_str() << "=" << it.applied.values()[k];
    }
    out << " | ";
  }
  if (r.stop_reason) out << *r.stop_reason;
  return out.str();
}

const Rewrite<Op> kTTS = rule("t-t-s", "(seq T T)", "S");
const Rewrite<Op> kGrow = rule("grow", "(seq ?a ?b)", "(seq (par ?a ?b) ?b)");
const Rewrite<Op> kTLeft = rule("t-left", "(seq T ?x)", "(seq Z ?x)");

TEST(Runner, Traces) {
  const struct {
    std::string term;
    std::vector<Rewrite<Op>> rules;
    std::size_t iter_limit, node_limit;
    const char* expected;
  } cases[] = {
      {"(seq H (seq X Z))", {kTTS, rule("same", "(seq ?a ?b)", "(seq ?a ?b)")}, 30, 10000, "5/5 | Saturated"},
      {"(seq T T)", {kTTS}, 30, 10000, "2/2 t-t-s=1 | 3/2 | Saturated"},
      {"(seq T T)", {kGrow}, 1, 10000, "2/2 grow=1 | IterationLimit(1)"},
      {"(seq T T)", {kGrow}, 0, 10000, "2/2 | IterationLimit(0)"},
      // The limit is tested after each rule's application: t-x never applies,
      // and the closing rebuild still merges Seq(H, T) with Seq(Z, T).
      {"(par (seq H T) (seq Z T))",
       {rule("h-z", "H", "Z"), rule("par-swap", "(par ?a ?b)", "(par ?b ?a)"), rule("t-x", "T", "X")},
       30, 6, "6/6 h-z=1 par-swap=1 | NodeLimit(7)"},
      // A thousand matches are applied, one more bans the rule; a ban that
      // leaves nothing to apply is cut short, and the threshold has doubled.
      {t_chain(1000), {kTLeft}, 30, 10000, "1001/1001 t-left=1000 | 2002/1002 | Saturated"},
      {t_chain(1001), {kTLeft}, 30, 10000, "1002/1002 | 1002/1002 t-left=1001 | 2004/1003 | Saturated"},
      {t_chain(2500), {kTLeft}, 30, 10000, "2501/2501 | 2501/2501 | 2501/2501 t-left=2500 | 5002/2502 | Saturated"},
      // While another rule applies in every iteration no ban is cut short:
      // t-left, banned in iteration 0, is searched again in iteration 5.
      {"(par " + t_chain(1001) + " (seq H H))", {kTLeft, rule("h-grow", "(seq ?a H)", "(seq (par ?a H) H)")},
       7, 10000,
       "1005/1005 h-grow=1 | 1007/1006 h-grow=1 | 1009/1007 h-grow=1 | 1011/1008 h-grow=1 | "
       "1013/1009 h-grow=1 | 1015/1010 t-left=1001 h-grow=1 | 2019/1012 h-grow=1 | IterationLimit(7)"},
  };
  for (const auto& c : cases) {
    Runner<Op> r = Runner<Op>().with_egraph(graph(c.term)).with_iter_limit(c.iter_limit).with_node_limit(c.node_limit);
    EXPECT_EQ(trace(r.run(c.rules)), c.expected) << c.term.substr(0, 40);
    EXPECT_TRUE(r.egraph.clean());
  }

  // The plain scheduler neither bans nor holds a run back.
  Runner<Op> plain = Runner<Op>().with_egraph(graph(t_chain(1500)));
  plain.with_scheduler(std::make_unique<RewriteScheduler<Op>>()).run(std::vector{kTLeft});
  EXPECT_EQ(trace(plain), "1501/1501 t-left=1500 | 3002/1502 | Saturated");

  // The first search phase gets a rebuilt e-graph: H = Z merges the Seqs.
  EGraph<Op> merged = graph("(par (seq H T) (seq Z T))");
  merged.union_(0, 3);
  EXPECT_EQ(trace(Runner<Op>().with_egraph(std::move(merged)).run({})), "7/4 | Saturated");
}

TEST(Runner, Hooks) {
  // A hook that grows the e-graph keeps that iteration from saturating.
  Runner<Op> grown = Runner<Op>().with_egraph(graph("(seq H T)")).with_hook([](Runner<Op>& r) {
    Op x(OpKind::X);
    if (r.iterations.empty()) r.egraph.add_internal(x);
    r.egraph.rebuild();
    return std::optional<std::string>();
  });
  EXPECT_EQ(trace(grown.run(std::vector{kTTS})), "3/3 | 4/4 | Saturated");

  // An error ends the run after that iteration's rebuild; hooks after it
  // are not called, and the hook list is away while hooks run.
  std::vector<std::string> calls;
  Runner<Op> r = Runner<Op>().with_egraph(graph("(seq T T)"));
  for (const char* name : {"a", "b", "c"}) {
    r.with_hook([&calls, name](Runner<Op>& runner) -> std::optional<std::string> {
      calls.push_back(name + std::to_string(runner.iterations.size()) + (runner.hooks.empty() ? "" : "!"));
      if (name == std::string("b") && runner.iterations.size() == 2) return "enough";
      return std::nullopt;
    });
  }
  EXPECT_EQ(trace(r.run(std::vector{kGrow})), "2/2 grow=1 | 4/3 grow=1 | 6/4 | Other(\"enough\")");
  EXPECT_EQ(calls, (std::vector<std::string>{"a0", "b0", "c0", "a1", "b1", "c1", "a2", "b2"}));
  EXPECT_EQ(r.hooks.size(), 3u);
}

// A backoff scheduler whose every search takes 150 ms, counting them. The
// time limit of the test below is 100 ms: a loaded machine may well pause a
// thread for a millisecond between two statements, hardly for 100.
struct SlowScheduler : BackoffScheduler<Op> {
  std::shared_ptr<int> searches = std::make_shared<int>(0);
  std::vector<SearchMatches> search_rewrite(std::size_t i, const EGraph<Op>& g, const Rewrite<Op>& r) override {
    ++*searches;
    std::this_thread::sleep_for(150ms);
    return BackoffScheduler<Op>::search_rewrite(i, g, r);
  }
};

TEST(Runner, TimeLimitIsTestedAfterEverySearch) {
  auto slow = std::make_unique<SlowScheduler>();
  const auto searches = slow->searches;
  Runner<Op> r = Runner<Op>().with_egraph(graph("(seq T T)")).with_time_limit(100ms).with_scheduler(std::move(slow));
  EXPECT_EQ(trace(r.run(std::vector{kTTS, rule("t-t-x", "(seq T T)", "X")})).substr(0, 16), "2/2 | TimeLimit(");
  EXPECT_EQ(*searches, 1);
  EXPECT_EQ(r.iterations[0].stop_reason, r.stop_reason);  // found within the iteration
}

TEST(Runner, DuplicateNamesWarnAndShareCounts) {
  const std::vector<Rewrite<Op>> rules = {
      rule("dup", "(seq T T)", "S"), rule("b", "(seq T T)", "Z"), rule("dup", "(seq T T)", "X"),
      rule("c", "(seq H H)", "I"), rule("b", "(seq T T)", "Z"), rule("dup", "(seq T T)", "X")};
  testing::internal::CaptureStderr();
  Runner<Op> r = Runner<Op>().with_egraph(graph("(seq T T)")).with_iter_limit(1).run(rules);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: Duplicated rule names may affect rule reporting and scheduling.\n"
            "Rule 'dup' appears 3 times\nRule 'b' appears 2 times\n");
  EXPECT_EQ(trace(r), "2/2 dup=2 b=1 | IterationLimit(1)");
  EXPECT_EQ(r.iterations[0].applied.find(GlobalSymbol("c")), nullptr);  // it changed nothing
  EXPECT_EQ(dynamic_cast<BackoffScheduler<Op>&>(*r.scheduler).rule_stats(GlobalSymbol("dup")).times_applied, 3u);
}

TEST(Backoff, BansDoubleInLengthAndThreshold) {
  EGraph<Op> g = graph(t_chain(2500));
  g.rebuild();
  BackoffScheduler<Op> s;
  const struct {
    std::size_t iteration, passed_on;
    RuleStats after;
  } steps[] = {
      {0, 0, {0, 5, 1, 1000, 5}},       // 2500 > 1000: banned for 5 iterations
      {4, 0, {0, 5, 1, 1000, 5}},       // banned: not searched
      {5, 0, {0, 15, 2, 1000, 5}},      // 2500 > 2000: banned for 10
      {15, 2500, {1, 15, 2, 1000, 5}},  // 2500 <= 4000
  };
  for (const auto& step : steps) {
    std::size_t passed_on = 0;
    for (const SearchMatches& m : s.search_rewrite(step.iteration, g, kTLeft)) passed_on += m.substs.size();
    EXPECT_EQ(passed_on, step.passed_on) << step.iteration;
    EXPECT_EQ(s.rule_stats(kTLeft.name), step.after) << step.iteration;
  }
}

TEST(Backoff, CanStopShortensEveryBanBySoonestEnd) {
  BackoffScheduler<Op> s;
  for (const auto& [name, until] : {std::pair{"a", 9}, {"b", 6}, {"c", 2}, {"d", 6}, {"e", 0}}) {
    s.rule_stats(GlobalSymbol(name)).banned_until = until;
  }
  const auto bans = [&] {
    std::string out;
    for (const RuleStats& r : s.all_stats().values()) out += std::to_string(r.banned_until);
    return out;
  };
  EXPECT_FALSE(s.can_stop(2));  // c's ban ends in 2 itself, so b and d end first
  EXPECT_EQ(bans(), "52220");
  EXPECT_FALSE(s.can_stop(3));
  EXPECT_EQ(bans(), "32220");
  EXPECT_TRUE(s.can_stop(3));
  EXPECT_EQ(bans(), "32220");
}

}  // namespace
}  // namespace kestrel
