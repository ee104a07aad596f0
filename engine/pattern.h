// Patterns, and the searcher and applier interfaces of rewrite rules.
//
// A `Pattern` is a compacted pattern expression with its compiled matching
// program. As a searcher it finds every substitution under which the
// expression occurs in the e-graph; as an applier it adds the expression
// instantiated under a substitution and merges it with the matched class.
// For the rule (seq T T) => S, searching finds the classes holding
// Seq(t, t) with t the class of T, and applying adds S to each of them.
//
// A search may defer its substitutions: it counts them in the clean e-graph
// and produces them just before they are applied, from the classes as that
// rebuild laid them out. The runner's scheduler searches this way, so a
// search that finds too many matches, and is dropped, stores none, and an
// applied one never holds all of its matches at once.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "engine/egraph.h"
#include "engine/fault.h"
#include "engine/language.h"
#include "engine/machine.h"
#include "engine/expr_reader.h"
#include "engine/pattern_node.h"
#include "engine/subst.h"
#include "engine/symbol.h"

namespace kestrel {

// The matches of one searcher in one class.
struct SearchMatches {
  Id eclass = 0;      // the class searched, as the searcher was given it
  SubstList substs;   // never empty; in the order found
};

template <Language L>
using PatternAst = RecExpr<ENodeOrVar<L>>;

// What a deferred search has counted on one layout of an e-graph. A later
// search of the same layout (the e-graph unchanged since) goes on from it
// instead of counting again: with the same limit it counts nothing, with a
// larger one, after a ban, only the classes past where the first one stopped.
struct CountedMatches {
  static constexpr std::uint64_t kNoLayout = ~std::uint64_t{0};
  // A class counted in full and its number of matches, when not zero.
  struct Found {
    Id eclass = 0;
    std::size_t matches = 0;
  };
  std::uint64_t layout = kNoLayout;  // the layout generation counted on
  std::vector<Found> found;          // the classes counted in full that match, in order
  std::size_t total = 0;             // substitutions in `found`
  std::size_t next = 0;              // the first candidate class not counted in full
};

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
  // As `search_with_limit`, but the substitutions may be deferred: counted
  // only, and produced by `fill_deferred` when they are needed, which must
  // be before the next rebuild. `counted` carries the counting from one
  // search to the next; a fresh one counts from scratch.
  virtual std::vector<SearchMatches> search_with_limit_deferred(const EGraph<L>& egraph,
                                                                std::size_t limit,
                                                                CountedMatches& /*counted*/) const {
    return search_with_limit(egraph, limit);
  }
  std::vector<SearchMatches> search_with_limit_deferred(const EGraph<L>& egraph,
                                                        std::size_t limit) const {
    CountedMatches fresh;
    return search_with_limit_deferred(egraph, limit, fresh);
  }
  // Produces the deferred substitutions among `matches`, in the order and
  // number the search found them, however the e-graph has changed since.
  virtual void fill_deferred(const EGraph<L>& /*egraph*/, std::span<SearchMatches> matches) const {
    for (const SearchMatches& m : matches) {
      if (m.substs.deferred()) fault("the substitutions were counted, not stored");
    }
  }
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
  // At most how many nodes one substitution adds, or 0 when unknown.
  virtual std::size_t max_nodes_per_match() const { return 0; }
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

// Adds `pattern` instantiated with `bound(k, var)` for the variable at each
// position k and returns the id of its root: canonical for an operator root,
// the bound id as it is for a variable root. `buffer` must be as long as
// `pattern`.
template <Language L, class B>
Id instantiate(std::span<Id> buffer, std::span<const ENodeOrVar<L>> pattern, EGraph<L>& egraph,
               B&& bound) {
  check(buffer.size() == pattern.size(), "ids.len() == pat.len()");
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const ENodeOrVar<L>& p = pattern[k];
    if (p.is_var()) {
      buffer[k] = bound(k, p.var());
      continue;
    }
    L node = map_children(p.node(), [&](Id c) { return buffer[checked_index(k, c)]; });
    buffer[k] = egraph.find(egraph.add_internal(node));
  }
  if (buffer.empty()) fault_index(0, 0);
  return buffer.back();
}

// Adds `pattern` instantiated under `subst` to the e-graph and returns the id
// of its root, as `instantiate` does.
template <Language L>
Id apply_pat(std::span<Id> buffer, std::span<const ENodeOrVar<L>> pattern, EGraph<L>& egraph,
             const Subst& subst) {
  return instantiate<L>(buffer, pattern, egraph, [&](std::size_t, Var v) { return subst[v]; });
}

template <Language L>
class Pattern final : public Searcher<L>, public Applier<L> {
 public:
  using ParseError = RecExprParseError<FromOpErrorOf<ENodeOrVar<L>>>;

  // Compacts `ast` (root last, not empty) and compiles its program.
  explicit Pattern(const PatternAst<L>& ast)
      : ast_(compact(ast)),
        program_(compile_from_pat<L>(ast_.nodes())),
        ground_(program_.is_ground_lookup()) {
    for (const auto& [var, reg] : program_.subst.pairs()) {
      vars_.push_back(var);
      regs_.push_back(reg);
    }
  }

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
    if (!egraph.clean()) fault("Tried to search a dirty e-graph!");
    if (limit == 0) return std::nullopt;
    Machine<L> machine(program_);
    SearchMatches found = search_one(machine, egraph, eclass, Source::EGraph, limit);
    if (found.substs.empty()) return std::nullopt;
    return found;
  }

  // Only classes holding the root's operator are tried; a variable root
  // tries every class.
  std::vector<SearchMatches> search_with_limit(const EGraph<L>& egraph,
                                               std::size_t limit) const override {
    const ENodeOrVar<L>& root = ast_[ast_.root()];
    if (ground_ && limit > 0 && !egraph.classes_by_kind(root.node().kind()).empty()) {
      // Every candidate would rebuild the same term and compare it with
      // itself; only the term's own class matches, and in a clean e-graph it
      // is among the candidates, since it holds the term's root node.
      if (!egraph.clean()) fault("Tried to search a dirty e-graph!");
      const std::optional<Id> eclass = program_.ground_class(egraph);
      if (!eclass) return {};
      SearchMatches found{*eclass, SubstList()};
      found.substs.push_back({});
      return {std::move(found)};
    }
    std::vector<SearchMatches> out;
    for_each_candidate(egraph, limit, [&](Machine<L>& machine, Id eclass, std::size_t wanted) {
      SearchMatches found = search_one(machine, egraph, eclass, Source::EGraph, wanted);
      const std::size_t n = found.substs.size();
      if (n > 0) out.push_back(std::move(found));
      return n;
    });
    return out;
  }

  using Searcher<L>::search_with_limit_deferred;

  // As `search_with_limit` when the program reads only the layout, which
  // stays put until the next rebuild; the matches are counted, not stored.
  // Classes are counted in full, one past the limit where needed, so that
  // `counted` can go on where this search stopped.
  std::vector<SearchMatches> search_with_limit_deferred(const EGraph<L>& egraph,
                                                        std::size_t limit,
                                                        CountedMatches& counted) const override {
    if (ground_ || !program_.reads_layout_only()) return search_with_limit(egraph, limit);
    if (limit == 0 || !any_candidate(egraph)) return {};
    if (!egraph.clean()) fault("Tried to search a dirty e-graph!");
    if (counted.layout != egraph.layout_generation()) {
      counted = CountedMatches();
      counted.layout = egraph.layout_generation();
    }
    const std::span<const Id> classes = candidates(egraph);
    // Count on, class by class, while the limit is not reached; a class with
    // more matches than are still wanted is cut and counted again next time.
    Machine<L> machine(program_);
    std::size_t cut = 0;  // the matches of a class cut short, if any
    while (counted.next < classes.size() && counted.total < limit) {
      const Id eclass = classes[counted.next];
      const std::size_t wanted = limit - counted.total;
      const std::size_t n = machine.count(egraph, eclass, Source::Layout, wanted + 1);
      if (n > wanted) {
        cut = wanted;
        break;
      }
      if (n > 0) counted.found.push_back({eclass, n});
      counted.total += n;
      ++counted.next;
    }
    // The records up to the limit: what a fresh search stopping there finds.
    std::vector<SearchMatches> out;
    out.reserve(counted.found.size() + (cut > 0 ? 1 : 0));
    std::size_t total = 0;
    for (const CountedMatches::Found& m : counted.found) {
      if (total == limit) break;
      const std::size_t n = std::min(m.matches, limit - total);
      out.push_back({m.eclass, SubstList::deferred(vars_, n)});
      total += n;
    }
    if (cut > 0 && total < limit) {
      out.push_back({classes[counted.next], SubstList::deferred(vars_, cut)});
    }
    return out;
  }

  void fill_deferred(const EGraph<L>& egraph, std::span<SearchMatches> matches) const override {
    Machine<L> machine(program_);
    for (SearchMatches& m : matches) {
      if (!m.substs.deferred()) continue;
      const std::size_t counted = m.substs.store();
      produce(machine, egraph, m.eclass, Source::Layout, counted, m.substs);
      check(m.substs.size() == counted, "the matches counted are found again");
    }
  }

  // Instantiates the pattern for every substitution of `matches` and merges
  // it with the class the substitution was found in.
  std::vector<Id> apply_matches(EGraph<L>& egraph, std::span<const SearchMatches> matches,
                                GlobalSymbol) const override {
    std::vector<Id> changed;
    std::vector<Id> buffer(ast_.size());
    // Per position of a variable in ast_, its column in the rows of the
    // substitutions, worked out for the variables `columns_of`.
    std::vector<std::size_t> columns(ast_.size());
    std::optional<std::span<const Var>> columns_of;
    for (const SearchMatches& m : matches) {
      if (m.substs.empty()) continue;
      const std::span<const Var> vars = m.substs.vars();
      if (!columns_of || !std::ranges::equal(vars, *columns_of)) {
        columns_of = vars;
        for (std::size_t k = 0; k < ast_.size(); ++k) {
          if (!ast_.nodes()[k].is_var()) continue;
          const Var var = ast_.nodes()[k].var();
          const auto at = std::ranges::find(vars, var);
          if (at == vars.end()) (void)m.substs[0][var];  // faults: the variable is not bound
          columns[k] = static_cast<std::size_t>(at - vars.begin());
        }
      }
      for (std::size_t r = 0; r < m.substs.size(); ++r) {
        const std::span<const Id> row = m.substs.row(r);
        const Id id = instantiate<L>(buffer, ast_.nodes(), egraph,
                                     [&](std::size_t k, Var) { return row[columns[k]]; });
        if (egraph.union_(id, m.eclass)) changed.push_back(id);
      }
    }
    return changed;
  }

  // Applies this pattern to the matches of `lhs` in `matches`: deferred
  // records are produced from the layout one substitution at a time and
  // each is applied as soon as it is produced; stored records are applied
  // as `apply_matches` applies them. The layout stays put while nodes are
  // added and classes merged, so the substitutions and the order of the
  // additions and merges are those of `lhs.fill_deferred` followed by
  // `apply_matches`, without holding the substitutions. Returns the number
  // of merges, or nothing, having changed nothing, when this pattern uses a
  // variable that `lhs` does not bind.
  std::optional<std::size_t> apply_as_found(const Pattern& lhs, EGraph<L>& egraph,
                                            std::span<const SearchMatches> matches) const {
    // The pattern as a plan over the registers of `lhs`: each variable
    // position reads the register its variable is bound in, each operator
    // node is added with its children taken from earlier positions, in
    // position order, as `instantiate` adds them.
    const std::span<const ENodeOrVar<L>> nodes = ast_.nodes();
    if (nodes.empty()) fault_index(0, 0);
    boost::container::small_vector<std::pair<std::uint32_t, Reg>, 8> vars;  // (position, register)
    boost::container::small_vector<std::uint32_t, 8> ops;  // positions of operator nodes
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      if (!nodes[k].is_var()) {
        for (Id c : nodes[k].node().children()) checked_index(k, c);
        ops.push_back(static_cast<std::uint32_t>(k));
        continue;
      }
      const auto at = std::ranges::find(lhs.vars_, nodes[k].var());
      if (at == lhs.vars_.end()) return std::nullopt;
      vars.emplace_back(static_cast<std::uint32_t>(k), lhs.regs_[at - lhs.vars_.begin()]);
    }
    std::size_t changed = 0;
    boost::container::small_vector<Id, 8> buffer(nodes.size());
    Machine<L> machine(lhs.program_);
    for (const SearchMatches& m : matches) {
      if (!m.substs.deferred()) {
        changed += apply_matches(egraph, std::span<const SearchMatches>(&m, 1), {}).size();
        continue;
      }
      const std::size_t counted = m.substs.size();
      std::size_t produced = 0;
      if (counted > 0) {
        machine.run(egraph, m.eclass, Source::Layout, [&](const Machine<L>& found) {
          for (const auto& [k, reg] : vars) buffer[k] = found.read(reg);
          for (const std::uint32_t k : ops) {
            L node = nodes[k].node();
            update_children(node, [&](Id c) { return buffer[c]; });
            buffer[k] = egraph.find(egraph.add_internal(node));
          }
          if (egraph.union_(buffer.back(), m.eclass)) ++changed;
          return ++produced == counted ? Control::Stop : Control::Continue;
        });
      }
      check(produced == counted, "the matches counted are found again");
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

  // Every operator node of the pattern may be new.
  std::size_t max_nodes_per_match() const override {
    return static_cast<std::size_t>(std::ranges::count_if(
        ast_.nodes(), [](const ENodeOrVar<L>& n) { return !n.is_var(); }));
  }

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
  // The matches in `eclass`, at most `limit` of them (at least one).
  SearchMatches search_one(Machine<L>& machine, const EGraph<L>& egraph, Id eclass, Source source,
                           std::size_t limit) const {
    SearchMatches found{eclass, SubstList(vars_)};
    produce(machine, egraph, eclass, source, limit, found.substs);
    return found;
  }

  // Appends to `into` the matches in `eclass`, at most `limit` of them (at
  // least one), each as the row of its variables' registers.
  void produce(Machine<L>& machine, const EGraph<L>& egraph, Id eclass, Source source,
               std::size_t limit, SubstList& into) const {
    std::array<Id, 8> inline_row;
    std::vector<Id> long_row;
    std::span<Id> row(inline_row.data(), regs_.size());
    if (regs_.size() > inline_row.size()) {
      long_row.resize(regs_.size());
      row = long_row;
    }
    machine.run(egraph, eclass, source, [&](const Machine<L>& m) {
      for (std::size_t k = 0; k < regs_.size(); ++k) row[k] = m.read(regs_[k]);
      into.push_back(row);
      return --limit == 0 ? Control::Stop : Control::Continue;
    });
  }

  // Whether the e-graph has a class the search would try.
  bool any_candidate(const EGraph<L>& egraph) const {
    const ENodeOrVar<L>& root = ast_[ast_.root()];
    if (root.is_var()) return egraph.class_count() > 0;
    return !egraph.classes_by_kind(root.node().kind()).empty();
  }

  // The classes a search tries, in order: those holding the root's
  // operator, or every class for a variable root; as of the last rebuild.
  std::span<const Id> candidates(const EGraph<L>& egraph) const {
    const ENodeOrVar<L>& root = ast_[ast_.root()];
    if (root.is_var()) return egraph.laid_out_classes();
    return egraph.classes_by_kind(root.node().kind());
  }

  // Calls `visit(machine, eclass, wanted)` on the classes a search tries, in
  // order, while matches are wanted: the classes holding the root's
  // operator, or every class for a variable root. `visit` returns the
  // matches it found, at most `wanted`.
  template <class F>
  void for_each_candidate(const EGraph<L>& egraph, std::size_t limit, F&& visit) const {
    if (limit == 0 || !any_candidate(egraph)) return;
    if (!egraph.clean()) fault("Tried to search a dirty e-graph!");
    const std::span<const Id> classes = candidates(egraph);
    Machine<L> machine(program_);
    for (Id eclass : classes) {
      if (limit == 0) break;
      limit -= visit(machine, eclass, limit);
    }
  }

  PatternAst<L> ast_;    // compacted, root last
  Program<L> program_;   // compiled from ast_
  bool ground_;          // program_ is one Lookup of a term without variables
  std::vector<Var> vars_;  // the program's variables in binding order
  std::vector<Reg> regs_;  // the register of each of vars_
};

}  // namespace kestrel
