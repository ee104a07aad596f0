// Patterns, and the searcher and applier interfaces of rewrite rules.
//
// A `Pattern` is a compacted pattern expression with its compiled matching
// program. As a searcher it finds every substitution under which the
// expression occurs in the e-graph; as an applier it adds the expression
// instantiated under a substitution and merges it with the matched class.
// For the rule (seq T T) => S, searching finds the classes holding
// Seq(t, t) with t the class of T, and applying adds S to each of them.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/egraph.h"
#include "engine/fault.h"
#include "engine/language.h"
#include "engine/machine.h"
#include "engine/parser.h"
#include "engine/pattern_node.h"
#include "engine/subst.h"
#include "engine/symbol.h"

namespace kestrel {

// The matches of one searcher in one class.
struct SearchMatches {
  Id eclass = 0;              // the class searched, as the searcher was given it
  std::vector<Subst> substs;  // never empty; in the order found
};

template <Language L>
using PatternAst = RecExpr<ENodeOrVar<L>>;

// What finds the places where a rule applies.
template <Language L>
class Searcher {
 public:
  virtual ~Searcher() = default;

  std::optional<SearchMatches> search_eclass(const EGraph<L>& egraph, Id eclass) const {
    return search_eclass_with_limit(egraph, eclass, std::numeric_limits<std::size_t>::max());
  }
  // The matches in `eclass`, at most `limit` substitutions; nothing if none.
  virtual std::optional<SearchMatches> search_eclass_with_limit(const EGraph<L>& egraph,
                                                                Id eclass,
                                                                std::size_t limit) const = 0;
  // The matches in every class, in class order.
  std::vector<SearchMatches> search(const EGraph<L>& egraph) const {
    std::vector<SearchMatches> out;
    for (const auto& c : egraph.classes()) {
      if (auto m = search_eclass(egraph, c.id)) out.push_back(std::move(*m));
    }
    return out;
  }
  // The matches with at most `limit` substitutions in total.
  virtual std::vector<SearchMatches> search_with_limit(const EGraph<L>& egraph,
                                                       std::size_t limit) const = 0;
  std::size_t n_matches(const EGraph<L>& egraph) const {
    std::size_t n = 0;
    for (const SearchMatches& m : search(egraph)) n += m.substs.size();
    return n;
  }
  virtual const PatternAst<L>* get_pattern_ast() const { return nullptr; }
  virtual std::vector<Var> vars() const = 0;
};

// What a rule does where it applies.
template <Language L>
class Applier {
 public:
  virtual ~Applier() = default;

  // Applies every substitution of `matches`; returns the ids of the classes
  // it changed, one per union that merged two classes.
  virtual std::vector<Id> apply_matches(EGraph<L>& egraph, std::span<const SearchMatches> matches,
                                        GlobalSymbol rule) const = 0;
  virtual const PatternAst<L>* get_pattern_ast() const { return nullptr; }
  virtual std::vector<Id> apply_one(EGraph<L>& egraph, Id eclass, const Subst& subst,
                                    GlobalSymbol rule) const = 0;
  virtual std::vector<Var> vars() const = 0;
};

// Runs `searcher` on each of `candidates` in order until `limit`
// substitutions have been found in total.
template <Language L>
std::vector<SearchMatches> search_eclasses_with_limit(const Searcher<L>& searcher,
                                                      const EGraph<L>& egraph,
                                                      std::span<const Id> candidates,
                                                      std::size_t limit) {
  std::vector<SearchMatches> out;
  for (Id eclass : candidates) {
    if (limit == 0) break;
    auto m = searcher.search_eclass_with_limit(egraph, eclass, limit);
    if (!m) continue;
    check(m->substs.size() <= limit, "len <= limit");
    limit -= m->substs.size();
    out.push_back(std::move(*m));
  }
  return out;
}

// Adds `pattern` instantiated under `subst` to the e-graph and returns the id
// of its root: canonical for an operator root, the substitution's id as it
// is for a variable root. `buffer` must be as long as `pattern`.
template <Language L>
Id apply_pat(std::span<Id> buffer, std::span<const ENodeOrVar<L>> pattern, EGraph<L>& egraph,
             const Subst& subst) {
  check(buffer.size() == pattern.size(), "ids.len() == pat.len()");
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const ENodeOrVar<L>& p = pattern[k];
    if (p.is_var()) {
      buffer[k] = subst[p.var()];
      continue;
    }
    L node = map_children(p.node(), [&](Id c) { return buffer[checked_index(k, c)]; });
    buffer[k] = egraph.find(egraph.add_internal(node));
  }
  if (buffer.empty()) fault_index(0, 0);
  return buffer.back();
}

template <Language L>
class Pattern final : public Searcher<L>, public Applier<L> {
 public:
  using ParseError = RecExprParseError<FromOpErrorOf<ENodeOrVar<L>>>;

  // Compacts `ast` (root last, not empty) and compiles its program.
  explicit Pattern(const PatternAst<L>& ast)
      : ast_(compact(ast)),
        program_(compile_from_pat<L>(ast_.nodes())),
        ground_(program_.is_ground_lookup()) {}

  // Reads a pattern such as "(seq ?a (seq ?b ?c))".
  static std::variant<Pattern, ParseError> from_str(std::string_view text) {
    auto ast = kestrel::from_str<ENodeOrVar<L>>(text);
    if (auto* bad = std::get_if<1>(&ast)) return std::move(*bad);
    return Pattern(std::get<0>(ast));
  }

  const PatternAst<L>& ast() const noexcept { return ast_; }
  const Program<L>& program() const noexcept { return program_; }

  std::optional<SearchMatches> search_eclass_with_limit(const EGraph<L>& egraph, Id eclass,
                                                        std::size_t limit) const override {
    std::vector<Subst> substs = program_.run_with_limit(egraph, eclass, limit);
    if (substs.empty()) return std::nullopt;
    return SearchMatches{eclass, std::move(substs)};
  }

  // Only classes holding the root's operator are tried; a variable root
  // tries every class.
  std::vector<SearchMatches> search_with_limit(const EGraph<L>& egraph,
                                               std::size_t limit) const override {
    const ENodeOrVar<L>& root = ast_[ast_.root()];
    if (root.is_var()) {
      std::vector<Id> all;
      all.reserve(egraph.class_count());
      for (const auto& c : egraph.classes()) all.push_back(c.id);
      return search_eclasses_with_limit<L>(*this, egraph, all, limit);
    }
    const std::vector<Id>& candidates = egraph.classes_by_kind(root.node().kind());
    if (ground_ && limit > 0 && !candidates.empty()) {
      // Every candidate would rebuild the same term and compare it with
      // itself; only the term's own class matches, and in a clean e-graph it
      // is among the candidates, since it holds the term's root node.
      if (!egraph.clean()) fault("Tried to search a dirty e-graph!");
      const std::optional<Id> eclass = program_.ground_class(egraph);
      if (!eclass) return {};
      return {SearchMatches{*eclass, {Subst{}}}};
    }
    return search_eclasses_with_limit<L>(*this, egraph, candidates, limit);
  }

  std::vector<Id> apply_matches(EGraph<L>& egraph, std::span<const SearchMatches> matches,
                                GlobalSymbol) const override {
    std::vector<Id> changed;
    std::vector<Id> buffer(ast_.size());
    for (const SearchMatches& m : matches) {
      for (const Subst& s : m.substs) {
        const Id id = apply_pat<L>(buffer, ast_.nodes(), egraph, s);
        if (egraph.union_(id, m.eclass)) changed.push_back(id);
      }
    }
    return changed;
  }

  std::vector<Id> apply_one(EGraph<L>& egraph, Id eclass, const Subst& subst,
                            GlobalSymbol) const override {
    std::vector<Id> buffer(ast_.size());
    const Id id = apply_pat<L>(buffer, ast_.nodes(), egraph, subst);
    if (egraph.union_(eclass, id)) return {eclass};
    return {};
  }

  const PatternAst<L>* get_pattern_ast() const override { return &ast_; }

  // The distinct variables in order of first occurrence.
  std::vector<Var> vars() const override {
    std::vector<Var> out;
    for (const ENodeOrVar<L>& n : ast_.nodes()) {
      if (n.is_var() && std::find(out.begin(), out.end(), n.var()) == out.end())
        out.push_back(n.var());
    }
    return out;
  }

 private:
  PatternAst<L> ast_;    // compacted, root last
  Program<L> program_;   // compiled from ast_
  bool ground_;          // program_ is one Lookup of a term without variables
};

}  // namespace kestrel
