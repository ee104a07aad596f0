// The matching machine's reading of large classes, and searches whose
// matches are counted first and produced again from the layout while rules
// are being applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/machine.h"
#include "engine/expr_reader.h"
#include "engine/pattern.h"
#include "src/circuit/op.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// A Bind of one variable over a class of 60 pattern variables: every
// variable has the same kind, and `matches` tells them apart, so a scan that
// stopped at the first non-matching node of the kind would miss most of them.
TEST(Machine, BindTestsEveryNodeOfItsKindInALargeClass) {
  using P = ENodeOrVar<Op>;
  EGraph<P> g;
  std::vector<Id> ids;
  for (int k = 0; k < 60; ++k) {
    P v(Var(GlobalSymbol("?v" + std::to_string(k))));
    ids.push_back(g.add_internal(v));
  }
  for (Id id : ids) g.union_(ids[0], id);
  g.rebuild();
  const Id c = g.find(ids[0]);
  ASSERT_EQ(g[c].nodes.size(), 60u);
  for (int k : {0, 1, 30, 59}) {
    Program<P> program;
    Instruction<P> bind;
    bind.node = P(Var(GlobalSymbol("?v" + std::to_string(k))));
    program.instructions = {bind};
    EXPECT_EQ(program.run_with_limit(g, c, 10).size(), 1u) << k;
  }
}

// seq-assoc over a chain of 12 gates merged with regroupings: classes with
// several Seq nodes, so matches nest.
EGraph<Op> regrouped_chain() {
  EGraph<Op> g;
  g.add_expr_internal(read(
      "(seq (seq (seq (seq (seq (seq (seq (seq (seq (seq (seq H T) T) H) S) T) H) T) T) X) Z) H)"));
  g.rebuild();
  const Pattern<Op> lhs = pat("(seq (seq ?a ?b) ?c)");
  const Pattern<Op> rhs = pat("(seq ?a (seq ?b ?c))");
  for (int round = 0; round < 2; ++round) {
    rhs.apply_matches(g, lhs.search_with_limit(g, 10'000), GlobalSymbol("r"));
    g.rebuild();
  }
  return g;
}

// Deferred searches, with one count carried across the searches of an
// unchanged e-graph and limits that shrink and grow, find what a fresh
// search finds (the first `limit` of all the matches), and produce the same
// substitutions though the e-graph changes before they are produced, as
// when earlier rules of an iteration are applied; once the e-graph has
// changed and been rebuilt, the count starts over. Programs of two Binds
// (the first four patterns) are counted without the interpreter; the others
// go through it. Hash-cons lookups (the last two) are never deferred.
TEST(DeferredSearch, CountsAndThenProducesWhatTheSearchFinds) {
  const auto summary = [](const std::vector<SearchMatches>& found) {
    std::vector<std::pair<Id, std::size_t>> out;
    for (const SearchMatches& m : found) out.emplace_back(m.eclass, m.substs.size());
    return out;
  };
  for (const char* text : {"(seq (seq ?a ?b) ?c)", "(seq ?a (seq ?b ?c))", "(seq ?x H)", "(seq T ?x)",
                           "(seq (seq ?a ?b) (seq ?c ?d))", "(seq ?x ?x)", "(seq T T)", "(seq (seq ?a ?b) (seq T H))"}) {
    EGraph<Op> g = regrouped_chain();
    const Pattern<Op> p = pat(text);
    const bool lookup = std::string_view(text).ends_with("T T)") || std::string_view(text).ends_with("T H))");
    CountedMatches counted;
    for (int round = 0; round < 2; ++round) {
      for (std::size_t limit : {5u, 0u, 1u, 40u, 13u, 10'000u, 2u}) {
        const std::vector<SearchMatches> found = p.search_with_limit(g, limit);
        std::size_t total = 0;
        for (const SearchMatches& m : found) total += m.substs.size();
        EXPECT_EQ(total, std::min(limit, p.n_matches(g))) << text << " " << limit;
        std::vector<SearchMatches> deferred = p.search_with_limit_deferred(g, limit, counted);
        EXPECT_EQ(summary(deferred), summary(found)) << text << " " << round << " " << limit;
        for (const SearchMatches& m : deferred) EXPECT_FALSE(lookup && m.substs.deferred()) << text;
        Op x(OpKind::X), z(OpKind::Z);
        g.union_(g.add_internal(x), g.add_internal(z));
        p.fill_deferred(g, deferred);
        for (std::size_t k = 0; k < found.size() && k < deferred.size(); ++k) {
          EXPECT_FALSE(deferred[k].substs.deferred());
          EXPECT_EQ(deferred[k].substs, found[k].substs) << text << " " << limit << " " << k;
        }
        g.rebuild();
      }
      Op t(OpKind::T), s(OpKind::S);
      g.union_(g.add_internal(t), g.add_internal(s));
      g.rebuild();
    }
  }
}

// Applying each substitution as the layout yields it does what producing
// the deferred substitutions and then applying them does: the same merges,
// ids, classes and nodes, including searches cut short by their limit and
// matches that are stored rather than deferred. An applier variable that
// the searcher does not bind leaves the e-graph untouched.
TEST(DeferredSearch, ApplyingAsFoundEqualsProducingThenApplying) {
  struct Case {
    const char* lhs;
    const char* rhs;
    std::size_t limit;
  };
  const Case cases[] = {
      {"(seq (seq ?a ?b) ?c)", "(seq ?a (seq ?b ?c))", 10'000},
      {"(seq ?a (seq ?b ?c))", "(seq (seq ?a ?b) ?c)", 10'000},
      {"(seq (seq ?a ?b) ?c)", "(seq ?a (seq ?b ?c))", 5},
      {"(seq ?x ?y)", "(par ?y ?x)", 10'000},
      {"(seq ?x ?x)", "I", 10'000},
      {"(seq T T)", "S", 10'000},
      {"(seq (seq ?a ?b) (seq T H))", "(seq ?b ?a)", 10'000},
  };
  for (const Case& c : cases) {
    const Pattern<Op> lhs = pat(c.lhs), rhs = pat(c.rhs);
    EGraph<Op> two_steps = regrouped_chain();
    EGraph<Op> as_found = regrouped_chain();
    std::vector<SearchMatches> found = lhs.search_with_limit_deferred(two_steps, c.limit);
    ASSERT_FALSE(found.empty()) << c.lhs;
    const std::vector<SearchMatches> same = lhs.search_with_limit_deferred(as_found, c.limit);
    lhs.fill_deferred(two_steps, found);
    const std::size_t merged = rhs.apply_matches(two_steps, found, GlobalSymbol("r")).size();
    EXPECT_EQ(rhs.apply_as_found(lhs, as_found, same), merged) << c.lhs;
    EXPECT_EQ(as_found.id_count(), two_steps.id_count()) << c.lhs;
    EXPECT_EQ(as_found.rebuild(), two_steps.rebuild()) << c.lhs;
    EXPECT_EQ(show(as_found), show(two_steps)) << c.lhs;
    EXPECT_EQ(as_found.node_count(), two_steps.node_count()) << c.lhs;
  }

  EGraph<Op> g = regrouped_chain();
  const std::string before = show(g);
  const std::size_t ids = g.id_count();
  const Pattern<Op> lhs = pat("(seq ?a ?b)");
  EXPECT_EQ(pat("(seq ?a ?z)").apply_as_found(lhs, g, lhs.search_with_limit_deferred(g, 100)), std::nullopt);
  EXPECT_EQ(g.id_count(), ids);
  EXPECT_TRUE(g.clean());
  EXPECT_EQ(show(g), before);
}

}  // namespace
}  // namespace kestrel
