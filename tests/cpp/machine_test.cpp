#include "engine/machine.h"

#include <gtest/gtest.h>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

static_assert(std::is_trivially_copyable_v<Instruction<Op>>);

TEST(Compiler, Programs) {
  const struct {
    const char* pattern;
    const char* program;
  } cases[] = {
      {"?x", "{?x: 0}\n"},
      {"I", "Bind I i=0 out=1\n{}\n"},
      {"(seq I ?x)", "Bind Seq([0, 0]) i=0 out=1\nBind I i=1 out=3\n{?x: 2}\n"},
      {"(seq (seq ?a ?b) ?c)",
       "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=1 out=3\n{?c: 2, ?a: 3, ?b: 4}\n"},
      {"(seq ?a (seq ?b ?c))",
       "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=2 out=3\n{?a: 1, ?b: 3, ?c: 4}\n"},
      {"(seq T T)", "Lookup [T, Seq([0, 0])] i=0\n{}\n"},
      {"(seq (seq ?a ?b) (seq H Z))",
       "Bind Seq([0, 0]) i=0 out=1\nLookup [Z, H, Seq([1, 0])] i=2\n"
       "Bind Seq([0, 0]) i=1 out=3\n{?a: 3, ?b: 4}\n"},
      {"(seq ?x ?x)", "Bind Seq([0, 0]) i=0 out=1\nCompare i=2 j=1\n{?x: 1}\n"},
      {"(par ?x (seq ?x H))",
       "Bind Par([0, 0]) i=0 out=1\nLookup [H, r1, Seq([1, 0])] i=2\n{?x: 1}\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(pat(c.pattern).program().dump(), c.program) << c.pattern;
}

// The matches of `pattern` in class `eclass`, as text.
std::string matches(const EGraph<Op>& g, const char* pattern, Id eclass, std::size_t limit = 100) {
  std::string out;
  for (const Subst& s : pat(pattern).program().run_with_limit(g, eclass, limit)) {
    out += (out.empty() ? "" : " ") + s.text();
  }
  return out;
}

TEST(Machine, Matches) {
  // H=0, Seq(H, H)=1, X=2, Seq(H, X)=3, Par(1, 3)=4, T=5, Seq(T, T)=6, I=7,
  // Par(6, 7)=8, Par(4, 8)=9, Par(H, Seq(H, H))=10.
  EGraph<Op> g;
  g.add_expr_internal(read("(par (par (seq H H) (seq H X)) (par (seq T T) I))"));
  g.add_expr_internal(read("(par H (seq H H))"));
  g.rebuild();
  const struct {
    const char* pattern;
    Id eclass;
    const char* expected;
  } cases[] = {
      {"?x", 2, "{?x: 2}"},
      {"I", 7, "{}"},
      {"(seq ?a ?b)", 3, "{?a: 0, ?b: 2}"},
      {"(seq ?x ?x)", 1, "{?x: 0}"},
      {"(seq ?x ?x)", 3, ""},
      {"(seq T T)", 6, "{}"},
      {"(seq T T)", 1, ""},
      {"(par ?a (seq T T))", 8, ""},
      {"(par (seq ?a ?a) ?b)", 8, "{?b: 7, ?a: 5}"},
      {"(par ?x (seq ?x H))", 10, "{?x: 0}"},
      {"(par ?x (seq ?x H))", 4, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(matches(g, c.pattern, c.eclass), c.expected) << c.pattern;

  g.union_(0, 2);  // H = X
  g.rebuild();
  EXPECT_EQ(matches(g, "(seq ?x ?x)", 3), "{?x: 0}");
  EXPECT_EQ(matches(g, "?x", 2, 0), "");
}

// H, S, X, Z, T as classes 0 to 4, and one class of `n` distinct nodes
// over them: 25 Seq nodes, then Par nodes. Returns that class.
Id merged_class(EGraph<Op>& g, std::size_t n) {
  for (OpKind k : {OpKind::H, OpKind::S, OpKind::X, OpKind::Z, OpKind::T}) {
    Op leaf(k);
    g.add_internal(leaf);
  }
  std::vector<Id> ids;
  for (Id k = 0; k < n; ++k) {
    Op node = k < 25 ? Op::seq(k / 5, k % 5) : Op::par(k % 5, k / 5 - 5);
    ids.push_back(g.add_internal(node));
    g.union_(ids[0], ids.back());
  }
  g.rebuild();
  return g.find(ids[0]);
}

TEST(Machine, BigClassesAreBinarySearchedAndLimitsKeepTheFirstMatches) {
  for (std::size_t n : {49u, 50u}) {  // from 50 nodes on, a Bind binary-searches
    EGraph<Op> g;
    const Id c = merged_class(g, n);
    EXPECT_EQ(pat("(par ?a ?b)").program().run_with_limit(g, c, 1000).size(), n - 25);
    const Program<Op> seq = pat("(seq ?a ?b)").program();
    const std::vector<Subst> all = seq.run_with_limit(g, c, 1000);
    ASSERT_EQ(all.size(), 25u);
    EXPECT_EQ(all[7].text(), "{?a: 1, ?b: 2}");
    EXPECT_EQ(seq.run_with_limit(g, c, 3), std::vector<Subst>(all.begin(), all.begin() + 3));
  }
}

}  // namespace
}  // namespace kestrel
