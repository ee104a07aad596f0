// Equality saturation: the `Runner`, its per-iteration reports and the
// backoff scheduler that keeps exploding rules from flooding the e-graph.
//
// A run repeats iterations of searching every rule, applying every kept match
// and rebuilding, until an iteration changes nothing (`Saturated`) or a time,
// node or iteration limit is reached. Under the defaults, the rule
// (seq ?a ?b) => (seq (par ?a ?b) ?b) over (seq T T) adds a node in every
// iteration and the run ends with `IterationLimit(30)` and thirty reports.
//
// The scheduler decides what a search passes on. `BackoffScheduler` bans a
// rule whose search finds more than its threshold (1000 substitutions at
// first) for 5 iterations, and doubles both the threshold and the ban with
// every further ban. An iteration that applies nothing while rules are banned
// does not end the run: it shortens every ban so that the soonest-ending ones
// are searched again next.
#pragma once

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/egraph.h"
#include "engine/fault.h"
#include "engine/hashing.h"
#include "engine/language.h"
#include "engine/pattern.h"
#include "engine/rewrite.h"
#include "engine/symbol.h"

namespace kestrel {

// A map from interned names to values that iterates in insertion order, for
// the applied counts of a report and the scheduler's rule records.
template <class V>
class SymbolMap {
 public:
  // The value of `key`; when absent, `init` is appended as its value.
  V& get_or_insert(GlobalSymbol key, V init = V{}) {
    auto [it, inserted] = index_.try_emplace(key, keys_.size());
    if (inserted) {
      keys_.push_back(key);
      values_.push_back(std::move(init));
    }
    return values_[it->second];
  }

  // The value of `key`, or null when absent.
  const V* find(GlobalSymbol key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &values_[it->second];
  }
  V* find(GlobalSymbol key) { return const_cast<V*>(std::as_const(*this).find(key)); }

  std::size_t size() const noexcept { return keys_.size(); }
  bool empty() const noexcept { return keys_.empty(); }
  // Keys and values side by side, first insertion first.
  std::span<const GlobalSymbol> keys() const noexcept { return keys_; }
  std::span<const V> values() const noexcept { return values_; }
  std::span<V> values() noexcept { return values_; }

  // Equal when the same keys map to the same values in the same order.
  bool operator==(const SymbolMap& other) const {
    return keys_ == other.keys_ && values_ == other.values_;
  }

 private:
  std::vector<GlobalSymbol> keys_;            // first insertion first
  std::vector<V> values_;                     // values_[k] belongs to keys_[k]
  HashMap<GlobalSymbol, std::size_t> index_;  // key -> its position
};

// Seconds as whole seconds plus nanoseconds / 1e9, the unit of every report.
inline double duration_seconds(std::chrono::nanoseconds d) {
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(d);
  return static_cast<double>(whole.count()) + static_cast<double>((d - whole).count()) / 1e9;
}

// Why a run stopped.
struct StopReason {
  enum class Kind {
    Saturated,       // an iteration changed nothing while no rule was banned
    IterationLimit,  // `count` reports reached the iteration limit
    NodeLimit,       // the node count `count` exceeded the node limit
    TimeLimit,       // `seconds` elapsed exceeded the time limit
    Other,           // a hook failed with `text`
  };

  Kind kind = Kind::Saturated;
  std::size_t count = 0;  // reports for IterationLimit, nodes for NodeLimit
  double seconds = 0;     // elapsed time for TimeLimit
  std::string text;       // a hook's error for Other

  static StopReason saturated() { return {}; }
  static StopReason iteration_limit(std::size_t n) { return {Kind::IterationLimit, n, 0, {}}; }
  static StopReason node_limit(std::size_t n) { return {Kind::NodeLimit, n, 0, {}}; }
  static StopReason time_limit(double s) { return {Kind::TimeLimit, 0, s, {}}; }
  static StopReason other(std::string t) { return {Kind::Other, 0, 0, std::move(t)}; }

  bool operator==(const StopReason&) const = default;

  // "Saturated", "IterationLimit(30)", "NodeLimit(10001)", "TimeLimit(5.02)",
  // "Other(\"hook failed\")".
  std::string debug() const {
    switch (kind) {
      case Kind::Saturated:
        return "Saturated";
      case Kind::IterationLimit:
        return "IterationLimit(" + std::to_string(count) + ")";
      case Kind::NodeLimit:
        return "NodeLimit(" + std::to_string(count) + ")";
      case Kind::TimeLimit: {
        char buf[64];
        auto end = std::to_chars(buf, buf + sizeof buf, seconds).ptr;
        std::string digits(buf, end);
        if (digits.find_first_of(".eni") == std::string::npos) digits += ".0";
        return "TimeLimit(" + digits + ")";
      }
      case Kind::Other:
        return "Other(" + quote_text(text) + ")";
    }
    return {};
  }
  friend std::ostream& operator<<(std::ostream& out, const StopReason& r) {
    return out << r.debug();
  }
};

// The report of one iteration.
struct Iteration {
  // Per rule that changed the e-graph, the sum of what its applications
  // returned; rules that changed nothing are absent.
  SymbolMap<std::size_t> applied;
  std::optional<StopReason> stop_reason;  // set only in the last iteration of a run
  std::size_t egraph_nodes = 0;    // node count before the hooks and rewrites
  std::size_t egraph_classes = 0;  // class count before the hooks and rewrites
  double hook_time = 0;     // seconds spent in hooks
  double search_time = 0;   // seconds of the search phase
  double apply_time = 0;    // seconds of the apply phase
  double rebuild_time = 0;  // seconds of the closing rebuild
  double total_time = 0;    // seconds from the search phase to the end, hooks excluded
  std::size_t n_rebuilds = 0;  // what the closing rebuild returned
};

// Decides which matches of a rule an iteration applies and whether the run
// may be declared saturated. The runner asks it once per rule per iteration.
template <Language L>
class RewriteScheduler {
 public:
  virtual ~RewriteScheduler() = default;

  // May the run stop now, in an iteration that applied nothing?
  virtual bool can_stop(std::size_t /*iteration*/) { return true; }

  // The matches of `rewrite` to apply in `iteration`.
  virtual std::vector<SearchMatches> search_rewrite(std::size_t /*iteration*/,
                                                    const EGraph<L>& egraph,
                                                    const Rewrite<L>& rewrite) {
    return rewrite.searcher->search(egraph);
  }

  // Applies `matches`; returns the number of class ids the applier reports
  // as changed. Deferred substitutions are produced a batch of classes at a
  // time, just before they are applied, and released after, so that a
  // search of a million matches never holds them all.
  virtual std::size_t apply_rewrite(std::size_t /*iteration*/, EGraph<L>& egraph,
                                    const Rewrite<L>& rewrite,
                                    std::vector<SearchMatches> matches) {
    constexpr std::size_t kBatch = 4096;  // substitutions per batch, unless one class has more
    std::size_t total = 0;
    for (const SearchMatches& m : matches) total += m.substs.size();
    const std::size_t per_match = rewrite.applier->max_nodes_per_match();
    if (per_match > 0 && total > 0) {
      // Saturating: a bound past any real size only caps the room reserved.
      const std::size_t bound = total > SIZE_MAX / per_match ? SIZE_MAX : total * per_match;
      egraph.reserve_more(bound);
    }
    // Two patterns need no batches: each substitution is applied as it is
    // produced, in the order the batches would take.
    const auto* lhs = dynamic_cast<const Pattern<L>*>(rewrite.searcher.get());
    const auto* rhs = dynamic_cast<const Pattern<L>*>(rewrite.applier.get());
    if (lhs != nullptr && rhs != nullptr) {
      if (const std::optional<std::size_t> n = rhs->apply_as_found(*lhs, egraph, matches)) return *n;
    }
    std::size_t changed = 0;
    for (std::size_t begin = 0; begin < matches.size();) {
      std::size_t end = begin + 1;
      std::size_t substs = matches[begin].substs.size();
      while (end < matches.size() && substs + matches[end].substs.size() <= kBatch) {
        substs += matches[end++].substs.size();
      }
      const std::span<SearchMatches> batch(matches.data() + begin, end - begin);
      rewrite.searcher->fill_deferred(egraph, batch);
      changed += rewrite.applier->apply_matches(egraph, batch, rewrite.name).size();
      for (SearchMatches& m : batch) m.substs = SubstList();
      begin = end;
    }
    return changed;
  }
};

// The backoff scheduler's record of one rule name.
struct RuleStats {
  std::size_t times_applied = 0;  // searches whose matches were passed on
  std::size_t banned_until = 0;   // first iteration in which the rule is searched again
  std::size_t times_banned = 0;   // bans so far
  std::size_t match_limit = 0;    // base of the ban threshold
  std::size_t ban_length = 0;     // base of the ban length

  bool operator==(const RuleStats&) const = default;
};

template <Language L>
class BackoffScheduler : public RewriteScheduler<L> {
 public:
  std::size_t default_match_limit = 1000;  // match limit of new rule records
  std::size_t default_ban_length = 5;      // ban length of new rule records

  // The record of `name`, created with the defaults on first use.
  RuleStats& rule_stats(GlobalSymbol name) {
    return stats_.get_or_insert(name, RuleStats{.match_limit = default_match_limit,
                                                .ban_length = default_ban_length});
  }
  // Every record, in order of first use.
  const SymbolMap<RuleStats>& all_stats() const noexcept { return stats_; }

  // False while some rule is banned past `iteration`; every such ban is then
  // shortened by the same amount, so that the soonest-ending ones end now.
  bool can_stop(std::size_t iteration) override {
    std::span<RuleStats> records = stats_.values();
    std::vector<RuleStats*> banned;
    for (RuleStats& r : records) {
      if (r.banned_until > iteration) banned.push_back(&r);
    }
    if (banned.empty()) return true;

    std::size_t min_ban = std::numeric_limits<std::size_t>::max();
    for (const RuleStats* r : banned) min_ban = std::min(min_ban, r->banned_until);
    check(min_ban >= iteration, "min_ban >= iteration");
    const std::size_t delta = min_ban - iteration;

    std::size_t unbanned = 0;
    for (RuleStats* r : banned) {
      r->banned_until -= delta;
      if (r->banned_until == iteration) ++unbanned;
    }
    check(unbanned != 0, "!unbanned.is_empty()");
    return false;
  }

  // Nothing while the rule is banned. Otherwise searches for at most
  // threshold + 1 substitutions, threshold = match_limit << times_banned,
  // deferring them where the searcher can; a search that exceeds the
  // threshold bans the rule for ban_length << times_banned iterations and
  // its matches are dropped.
  std::vector<SearchMatches> search_rewrite(std::size_t iteration, const EGraph<L>& egraph,
                                            const Rewrite<L>& rewrite) override {
    RuleStats& stats = rule_stats(rewrite.name);
    if (iteration < stats.banned_until) return {};

    if (stats.times_banned >= 64) fault("called `Option::unwrap()` on a `None` value");
    const std::size_t threshold = stats.match_limit << stats.times_banned;
    const std::size_t limit = threshold == std::numeric_limits<std::size_t>::max()
                                  ? threshold
                                  : threshold + 1;
    CountedMatches& counted =
        counted_[reinterpret_cast<std::uintptr_t>(rewrite.searcher.get())];
    std::vector<SearchMatches> matches =
        rewrite.searcher->search_with_limit_deferred(egraph, limit, counted);
    std::size_t total = 0;
    for (const SearchMatches& m : matches) total += m.substs.size();

    if (total > threshold) {
      stats.banned_until = iteration + (stats.ban_length << stats.times_banned);
      ++stats.times_banned;
      return {};
    }
    ++stats.times_applied;
    return matches;
  }

 private:
  SymbolMap<RuleStats> stats_;  // one record per rule name, in order of first search
  // Per searcher, what its deferred searches have counted on the current
  // layout; an iteration that changes nothing leaves them to the next one.
  HashMap<std::uintptr_t, CountedMatches, IntHash> counted_;
};

// Runs rewrites over an owned e-graph until saturation or a limit. A runner
// runs once: after `run` it holds one report per iteration and a stop reason,
// and running it again is a fault.
template <Language L>
class Runner {
 public:
  // Called at the start of every iteration, after the limit test; returns an
  // error text to end the run. A hook that changes the e-graph must leave it
  // rebuilt.
  using Hook = std::function<std::optional<std::string>(Runner&)>;
  using Clock = std::chrono::steady_clock;

  EGraph<L> egraph;                  // owned; rebuilt when a run ends
  std::vector<Iteration> iterations;  // one report per iteration, in order
  std::vector<Id> roots;             // for the caller; the run does not read it
  std::vector<Hook> hooks;           // called in order
  std::optional<StopReason> stop_reason;  // set when a run ends
  std::chrono::nanoseconds time_limit = std::chrono::seconds(5);
  std::optional<Clock::time_point> start_time;  // set by the first iteration
  std::unique_ptr<RewriteScheduler<L>> scheduler = std::make_unique<BackoffScheduler<L>>();
  static constexpr std::size_t kDefaultNodeLimit = 10000;

  std::size_t iter_limit = 30;    // reports at which the run stops
  std::size_t node_limit = kDefaultNodeLimit;  // node count above which the run stops

  Runner() = default;
  Runner(Runner&&) noexcept = default;
  Runner& operator=(Runner&&) noexcept = default;

  // Builder-style settings: on an lvalue they change it and return it, on an
  // rvalue they return the changed runner by value, so that
  // `Runner<Op>().with_egraph(std::move(g)).with_iter_limit(5)` works.
  Runner& with_egraph(EGraph<L> g) & { egraph = std::move(g); return *this; }
  Runner with_egraph(EGraph<L> g) && { return std::move(with_egraph(std::move(g))); }
  Runner& with_iter_limit(std::size_t n) & { iter_limit = n; return *this; }
  Runner with_iter_limit(std::size_t n) && { return std::move(with_iter_limit(n)); }
  Runner& with_node_limit(std::size_t n) & { node_limit = n; return *this; }
  Runner with_node_limit(std::size_t n) && { return std::move(with_node_limit(n)); }
  Runner& with_time_limit(std::chrono::nanoseconds d) & { time_limit = d; return *this; }
  Runner with_time_limit(std::chrono::nanoseconds d) && { return std::move(with_time_limit(d)); }
  Runner& with_scheduler(std::unique_ptr<RewriteScheduler<L>> s) & {
    scheduler = std::move(s);
    return *this;
  }
  Runner with_scheduler(std::unique_ptr<RewriteScheduler<L>> s) && {
    return std::move(with_scheduler(std::move(s)));
  }
  Runner& with_hook(Hook h) & { hooks.push_back(std::move(h)); return *this; }
  Runner with_hook(Hook h) && { return std::move(with_hook(std::move(h))); }

  // Runs `rules` (only read) to saturation or a limit.
  Runner& run(std::span<const Rewrite<L>> rules) & {
    warn_duplicate_names(rules);
    egraph.rebuild();  // the first search phase needs a clean e-graph
    while (true) {
      check(!stop_reason.has_value(), "self.stop_reason.is_none()");
      iterations.push_back(run_one(rules));
      std::optional<StopReason> reason = iterations.back().stop_reason;
      if (!reason) reason = check_limits();
      if (reason) {
        stop_reason = std::move(reason);
        break;
      }
    }
    check(!iterations.empty(), "!self.iterations.is_empty()");
    check(stop_reason.has_value(), "self.stop_reason.is_some()");
    return *this;
  }
  Runner run(std::span<const Rewrite<L>> rules) && { return std::move(run(rules)); }

 private:
  static void warn_duplicate_names(std::span<const Rewrite<L>> rules) {
    SymbolMap<std::size_t> counts;
    for (const Rewrite<L>& r : rules) ++counts.get_or_insert(r.name);
    bool warned = false;
    for (std::size_t k = 0; k < counts.size(); ++k) {
      if (counts.values()[k] < 2) continue;
      if (!warned) {
        std::cerr << "WARNING: Duplicated rule names may affect rule reporting and scheduling.\n";
        warned = true;
      }
      std::cerr << "Rule '" << counts.keys()[k].as_str() << "' appears " << counts.values()[k]
                << " times\n";
    }
  }

  // The first limit reached, tested in the order time, nodes, iterations.
  std::optional<StopReason> check_limits() const {
    if (!start_time) fault("called `Option::unwrap()` on a `None` value");
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - *start_time);
    if (elapsed > time_limit) return StopReason::time_limit(duration_seconds(elapsed));
    if (egraph.node_count() > node_limit) return StopReason::node_limit(egraph.node_count());
    if (iterations.size() >= iter_limit) return StopReason::iteration_limit(iterations.size());
    return std::nullopt;
  }

  static double seconds_since(Clock::time_point start) {
    return duration_seconds(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start));
  }

  Iteration run_one(std::span<const Rewrite<L>> rules) {
    const std::size_t i = iterations.size();
    if (!start_time) start_time = Clock::now();
    std::optional<StopReason> result = check_limits();

    Iteration report;
    report.egraph_nodes = egraph.node_count();
    report.egraph_classes = egraph.class_count();

    // Hooks see the runner without its hook list; whatever a hook puts there
    // is replaced when the list comes back.
    const auto hook_start = Clock::now();
    std::vector<Hook> taken = std::move(hooks);
    hooks.clear();
    if (!result) {
      for (Hook& hook : taken) {
        if (std::optional<std::string> error = hook(*this)) {
          result = StopReason::other(std::move(*error));
          break;
        }
      }
    }
    hooks = std::move(taken);
    report.hook_time = seconds_since(hook_start);

    const std::size_t nodes_after_hooks = egraph.node_count();
    const std::size_t classes_after_hooks = egraph.class_count();

    const auto search_start = Clock::now();
    std::vector<std::vector<SearchMatches>> matches;
    if (!result) {
      matches.reserve(rules.size());
      for (const Rewrite<L>& rule : rules) {
        matches.push_back(scheduler->search_rewrite(i, egraph, rule));
        if ((result = check_limits())) break;
      }
    }
    report.search_time = seconds_since(search_start);

    const auto apply_start = Clock::now();
    if (!result) {
      for (std::size_t k = 0; k < rules.size(); ++k) {
        const std::size_t n = scheduler->apply_rewrite(i, egraph, rules[k], std::move(matches[k]));
        if (n > 0) report.applied.get_or_insert(rules[k].name) += n;
        if ((result = check_limits())) break;
      }
    }
    matches.clear();
    report.apply_time = seconds_since(apply_start);

    const auto rebuild_start = Clock::now();
    report.n_rebuilds = egraph.rebuild();
    report.rebuild_time = seconds_since(rebuild_start);

    // can_stop runs whenever nothing was applied, since it may shorten bans.
    const bool saturated = report.applied.empty() && scheduler->can_stop(i) &&
                           report.egraph_nodes == nodes_after_hooks &&
                           report.egraph_classes == classes_after_hooks &&
                           report.egraph_nodes == egraph.node_count() &&
                           report.egraph_classes == egraph.class_count();
    if (saturated && !result) result = StopReason::saturated();

    report.total_time = seconds_since(search_start);
    report.stop_reason = std::move(result);
    return report;
  }
};

}  // namespace kestrel
