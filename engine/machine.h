// Pattern matching by a compiled program run on a backtracking machine.
//
// A pattern is compiled once into a short list of instructions over
// registers that hold class ids; register 0 holds the class searched. For
// (seq ?a (seq ?b ?c)) the program is
//
//   Bind Seq([0, 0]) i=0 out=1    each seq node of r0: r1, r2 = its children
//   Bind Seq([0, 0]) i=2 out=3    each seq node of r2: r3, r4 = its children
//
// with ?a in r1, ?b in r3 and ?c in r4. A fully bound subterm such as
// (seq H Z) is not enumerated but rebuilt through the hash-cons (`Lookup`),
// and a variable used twice is checked with `Compare`. The machine runs the
// program depth-first, with an explicit stack of open choices, and reports
// each complete match to a callback, or only counts the matches: then the
// nodes a final Bind would bind are counted without being visited. A
// program without Lookup can also run on the classes as the last rebuild
// laid them out, which stay put while rules are applied, so its matches can
// be counted in the clean e-graph and produced later. The compiler's working
// state lives only in machine.h's `Compiler`; matching only reads the e-graph.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "engine/egraph.h"
#include "engine/fault.h"
#include "engine/language.h"
#include "engine/pattern_node.h"
#include "engine/subst.h"

namespace kestrel {

// A register: a position in the machine's stack of class ids.
using Reg = std::uint32_t;

enum class InstKind : std::uint8_t {
  Bind,     // for each node of class r[i] matching `node`: cut to `out`, push its children, go on
  Compare,  // go on only if r[i] and r[j] are the same class
  Lookup,   // rebuild the term `terms[begin, begin+size)` by hash-cons; go on if it is r[i]'s class
  Scan,     // for each class of the e-graph: cut to `out`, push its id, go on
};

// One entry of a `Lookup` term: a node whose children are earlier entries of
// the same term, or the class held in a register.
template <Language L>
struct ENodeOrReg {
  L node{};            // the node, when `is_reg` is false
  Reg reg = 0;         // the register, when `is_reg` is true
  bool is_reg = false;
  bool operator==(const ENodeOrReg&) const = default;
};

template <Language L>
struct Instruction {
  InstKind kind = InstKind::Bind;
  Reg i = 0;         // the register read (Bind, Compare, Lookup)
  Reg j = 0;         // the other register of a Compare
  Reg out = 0;       // the first register written (Bind, Scan)
  L node{};          // Bind: the operator to match, children all 0
  std::uint32_t term_begin = 0;  // Lookup: first entry in `Program::terms`
  std::uint32_t term_size = 0;   // Lookup: number of entries, root last
  bool operator==(const Instruction&) const = default;
};


// A compiled pattern. Immutable once built.
template <Language L>
struct Program {
  std::vector<Instruction<L>> instructions;  // executed in order
  std::vector<ENodeOrReg<L>> terms;          // the entries of all Lookup terms
  // For every variable, the register of its first binding (stored as the id),
  // in the order the compiler bound them.
  Subst subst;

  // The program as text, one instruction a line, then the variable registers.
  std::string dump() const
    requires requires(const L& n) { n.debug(); }
  {
    std::string out;
    for (const Instruction<L>& inst : instructions) {
      switch (inst.kind) {
        case InstKind::Bind:
          out += "Bind " + inst.node.debug() + " i=" + std::to_string(inst.i) +
                 " out=" + std::to_string(inst.out);
          break;
        case InstKind::Compare:
          out += "Compare i=" + std::to_string(inst.i) + " j=" + std::to_string(inst.j);
          break;
        case InstKind::Lookup:
          out += "Lookup [";
          for (std::uint32_t k = 0; k < inst.term_size; ++k) {
            const ENodeOrReg<L>& e = terms[inst.term_begin + k];
            if (k) out += ", ";
            if (e.is_reg) {
              out += 'r';
              out += std::to_string(e.reg);
            } else {
              out += e.node.debug();
            }
          }
          out += "] i=" + std::to_string(inst.i);
          break;
        case InstKind::Scan:
          out += "Scan out=" + std::to_string(inst.out);
          break;
      }
      out += '\n';
    }
    return out + subst.text() + '\n';
  }

  // Every match of the pattern in class `eclass`, at most `limit` of them,
  // in depth-first order. Faults on an e-graph with pending changes.
  std::vector<Subst> run_with_limit(const EGraph<L>& egraph, Id eclass, std::size_t limit) const;

  // True when no instruction reads the hash-cons, so the program can run on
  // the layout (`Source::Layout`).
  bool reads_layout_only() const {
    return std::none_of(instructions.begin(), instructions.end(),
                        [](const Instruction<L>& inst) { return inst.kind == InstKind::Lookup; });
  }

  // True for the program of a pattern without variables whose root has
  // children: one Lookup of a term that reads no register, so it matches
  // exactly the class of that term, whichever class is searched.
  bool is_ground_lookup() const {
    if (instructions.size() != 1 || instructions[0].kind != InstKind::Lookup) return false;
    const Instruction<L>& inst = instructions[0];
    return std::none_of(terms.begin() + inst.term_begin,
                        terms.begin() + inst.term_begin + inst.term_size,
                        [](const ENodeOrReg<L>& e) { return e.is_reg; });
  }

  // For a ground Lookup program, the canonical class of its term, if the
  // e-graph holds it.
  std::optional<Id> ground_class(const EGraph<L>& egraph) const {
    const Instruction<L>& inst = instructions.at(0);
    boost::container::small_vector<Id, 8> ids;
    for (std::uint32_t k = 0; k < inst.term_size; ++k) {
      L node = map_children(terms[inst.term_begin + k].node,
                            [&](Id c) { return ids[checked_index(ids.size(), c)]; });
      const auto found = egraph.lookup(node);
      if (!found) return std::nullopt;
      ids.push_back(*found);
    }
    if (ids.empty()) return std::nullopt;
    return ids.back();
  }
};

enum class Control { Continue, Stop };

// Where a machine reads the classes. `EGraph`: a clean e-graph, through
// `find`. `Layout`: the classes as the last rebuild laid them out, with the
// registers' ids taken as they are, which stays valid while rules are being
// applied; the same program on the same class then finds the same matches in
// the same order as it did in the clean e-graph. Lookup, which reads the
// hash-cons, cannot run on the layout.
enum class Source { EGraph, Layout };

// The backtracking interpreter of one program. A machine keeps its
// registers and its stack of open choices from one run to the next, so a
// search over many classes allocates nothing once they have grown.
template <Language L>
class Machine {
 public:
  // A machine for `program`, which must outlive it.
  explicit Machine(const Program<L>& program) : program_(program) {
    std::size_t registers = 1;
    std::size_t choices = 0;
    for (const Instruction<L>& inst : program.instructions) {
      if (inst.kind == InstKind::Bind) {
        registers = std::max<std::size_t>(registers, inst.out + inst.node.children().size());
        ++choices;
      } else if (inst.kind == InstKind::Scan) {
        registers = std::max<std::size_t>(registers, inst.out + 1);
        ++choices;
      }
    }
    reg_.resize(registers);
    choices_.resize(choices);
    // Two Binds, the second on a child of the node the first binds: such a
    // program's matches in a class are, per node the first binds, the nodes
    // of the child's class that the second binds.
    const auto& code = program.instructions;
    if (matches_by_kind<L>() && code.size() == 2 && code[0].kind == InstKind::Bind &&
        code[1].kind == InstKind::Bind && code[0].i == 0 && code[1].i >= code[0].out &&
        code[1].i < code[0].out + code[0].node.children().size()) {
      child_of_first_ = code[1].i - code[0].out;
    }
  }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Register `r`; r0 is the class searched.
  Id read(Reg r) const { return reg_[checked_index(top_, r)]; }

  // Runs the program on class `eclass` (put in r0), calling `on_match(*this)`
  // for each complete match in depth-first order; `on_match` returns Stop to
  // end the whole run.
  template <class F>
  Control run(const EGraph<L>& egraph, Id eclass, Source source, F&& on_match) {
    if (source == Source::Layout && child_of_first_ != kNoShortcut) {
      return run_two_binds(egraph, eclass, on_match);
    }
    std::size_t unused = 0;
    return walk<false>(egraph, eclass, source, on_match, unused, 0);
  }

  // The number of matches `run` would report, at most `limit`. The nodes a
  // final Bind would bind are counted, not visited one by one.
  std::size_t count(const EGraph<L>& egraph, Id eclass, Source source, std::size_t limit) {
    if (limit > 0 && source == Source::Layout && child_of_first_ != kNoShortcut) {
      return count_two_binds(egraph, eclass, limit);
    }
    std::size_t counted = 0;
    const auto ignore = [](const Machine&) { return Control::Continue; };
    if (limit > 0) walk<true>(egraph, eclass, source, ignore, counted, limit);
    return counted;
  }

 private:
  static constexpr std::size_t kNoShortcut = ~std::size_t{0};

  // What `walk<true>` counts for a program of two Binds (see the
  // constructor), without the interpreter: per node of the first Bind's
  // kind, the nodes of the second's kind in the class of its child.
  std::size_t count_two_binds(const EGraph<L>& egraph, Id eclass, std::size_t limit);

  // What `walk<false>` reports for a program of two Binds on the layout,
  // in the same order and with the same registers: per node of the first
  // Bind's kind, each node of the second's kind in its child's class.
  template <class F>
  Control run_two_binds(const EGraph<L>& egraph, Id eclass, const F& on_match);

  // A Bind or Scan instruction whose candidates are not all tried yet: the
  // nodes of one kind of a class, or the classes of the e-graph.
  struct Choice {
    std::uint32_t pc;    // the instruction
    std::uint32_t next;  // the next candidate: a node of `nodes`, or a class index
    std::uint32_t end;   // one past the last candidate
    const L* nodes;      // Bind: the nodes of the class bound
  };

  // `run` and `count` in one: with kCount, matches are counted up to
  // `limit` in `counted` instead of reported.
  template <bool kCount, class F>
  Control walk(const EGraph<L>& egraph, Id eclass, Source source, const F& on_match,
               std::size_t& counted, std::size_t limit);

  void cut(Reg out) {
    check(top_ >= out, "self.reg.len() >= out");
    top_ = out;
  }

  // Backtracking: the innermost open choice with a candidate left takes it,
  // its registers set, and `pc` becomes the instruction after it; false
  // when no choice is left.
  bool backtrack(const EGraph<L>& egraph, std::size_t& pc) {
    while (open_ != 0) {
      Choice& choice = choices_[open_ - 1];
      const Instruction<L>& inst = program_.instructions[choice.pc];
      if (!matches_by_kind<L>() && inst.kind == InstKind::Bind) {
        while (choice.next < choice.end && !choice.nodes[choice.next].matches(inst.node)) {
          ++choice.next;
        }
      }
      if (choice.next == choice.end) {
        --open_;
        continue;
      }
      const std::uint32_t taken = choice.next++;
      cut(inst.out);
      if (inst.kind == InstKind::Bind) {
        for (Id child : choice.nodes[taken].children()) reg_[top_++] = child;
      } else {
        reg_[top_++] = egraph.laid_out_classes()[taken];
      }
      pc = choice.pc + 1;
      return true;
    }
    return false;
  }

  // Whether the term of Lookup `inst`, rebuilt through the hash-cons with
  // the registers' classes, is the class of r[inst.i].
  bool lookup_matches(const EGraph<L>& egraph, const Program<L>& program,
                      const Instruction<L>& inst) {
    lookup_.clear();
    for (std::uint32_t k = 0; k < inst.term_size; ++k) {
      const ENodeOrReg<L>& e = program.terms[inst.term_begin + k];
      if (e.is_reg) {
        lookup_.push_back(egraph.find(read(e.reg)));
        continue;
      }
      L node = map_children(e.node, [&](Id c) { return lookup_[checked_index(lookup_.size(), c)]; });
      const auto found = egraph.lookup(node);
      if (!found) return false;
      lookup_.push_back(*found);
    }
    return !lookup_.empty() && lookup_.back() == egraph.find(read(inst.i));
  }

  const Program<L>& program_;    // the program run
  std::vector<Id> reg_;          // the register stack, as long as the program needs
  std::size_t top_ = 0;          // the registers in use
  std::vector<Choice> choices_;  // room for one open choice per Bind and Scan
  std::size_t open_ = 0;         // the open choices, innermost last
  std::vector<Id> lookup_;       // ids of the Lookup term being rebuilt
  std::size_t child_of_first_ = kNoShortcut;  // for two Binds: the child the second one reads
  static constexpr std::uint32_t kUnknownRun = ~std::uint32_t{0};
  std::vector<std::uint32_t> runs_;  // for two Binds: per class index, its nodes the second binds
  const EGraph<L>* runs_of_ = nullptr;  // the e-graph and layout `runs_` describes
  std::uint64_t runs_layout_ = 0;
};

// The nodes of `nodes` (sorted, so grouped by kind) whose kind is `kind`, as
// a range of indices.
template <Language L>
[[gnu::always_inline]] inline std::pair<std::uint32_t, std::uint32_t> kind_range(
    std::span<const L> nodes, std::size_t kind) {
  // Most classes hold a few nodes, where a scan beats a binary search.
  constexpr std::size_t kScanLimit = 16;
  auto first = nodes.begin();
  auto last = nodes.end();
  if (nodes.size() < kScanLimit) {
    while (first != last && first->kind() < kind) ++first;
    last = first;
    while (last != nodes.end() && last->kind() == kind) ++last;
  } else {
    first = std::partition_point(first, last, [&](const L& n) { return n.kind() < kind; });
    last = std::partition_point(first, last, [&](const L& n) { return n.kind() == kind; });
  }
  return {static_cast<std::uint32_t>(first - nodes.begin()),
          static_cast<std::uint32_t>(last - nodes.begin())};
}

template <Language L>
std::size_t Machine<L>::count_two_binds(const EGraph<L>& egraph, Id eclass, std::size_t limit) {
  const Instruction<L>& outer = program_.instructions[0];
  const Instruction<L>& inner = program_.instructions[1];
  // A class is the child of many nodes: its number of nodes of the second
  // Bind's kind is worked out once per layout.
  if (runs_of_ != &egraph || runs_layout_ != egraph.layout_generation()) {
    runs_of_ = &egraph;
    runs_layout_ = egraph.layout_generation();
    runs_.assign(egraph.laid_out_classes().size(), kUnknownRun);
  }
  const std::span<const L> nodes = egraph.laid_out_nodes(eclass);
  const auto [first, last] = kind_range(nodes, outer.node.kind());
  std::size_t counted = 0;
  for (std::uint32_t k = first; k < last; ++k) {
    const std::span<const Id> children = nodes[k].children();
    const Id child = children[checked_index(children.size(), child_of_first_)];
    const std::size_t index = egraph.laid_out_index(child);
    std::uint32_t& run = runs_[index];
    if (run == kUnknownRun) {
      const auto [from, to] = kind_range(egraph.laid_out_nodes(child), inner.node.kind());
      run = to - from;
    }
    counted += run;
    if (counted >= limit) return limit;
  }
  return counted;
}

template <Language L>
template <class F>
Control Machine<L>::run_two_binds(const EGraph<L>& egraph, Id eclass, const F& on_match) {
  const Instruction<L>& outer = program_.instructions[0];
  const Instruction<L>& inner = program_.instructions[1];
  const std::span<const L> nodes = egraph.laid_out_nodes(eclass);
  const auto [first, last] = kind_range(nodes, outer.node.kind());
  reg_[0] = eclass;
  open_ = 0;
  for (std::uint32_t k = first; k < last; ++k) {
    top_ = outer.out;
    for (Id child : nodes[k].children()) reg_[top_++] = child;
    const std::span<const L> inner_nodes = egraph.laid_out_nodes(read(inner.i));
    const auto [from, to] = kind_range(inner_nodes, inner.node.kind());
    for (std::uint32_t m = from; m < to; ++m) {
      top_ = inner.out;
      for (Id child : inner_nodes[m].children()) reg_[top_++] = child;
      if (on_match(*this) == Control::Stop) return Control::Stop;
    }
  }
  return Control::Continue;
}

template <Language L>
template <bool kCount, class F>
Control Machine<L>::walk(const EGraph<L>& egraph, Id eclass, Source source, const F& on_match,
                         std::size_t& counted, std::size_t limit) {
  const std::vector<Instruction<L>>& instructions = program_.instructions;
  const bool layout = source == Source::Layout;
  reg_[0] = eclass;
  top_ = 1;
  open_ = 0;
  std::size_t pc = 0;
  bool forward = true;  // false: backtrack to the innermost open choice
  while (true) {
    if (forward) {
      if (pc == instructions.size()) {
        if constexpr (kCount) {
          if (++counted == limit) return Control::Stop;
        } else {
          if (on_match(*this) == Control::Stop) return Control::Stop;
        }
        forward = false;
        continue;
      }
      const Instruction<L>& inst = instructions[pc];
      switch (inst.kind) {
        case InstKind::Bind: {
          // Only nodes of the operator's kind can match it; within that run
          // each is tested, since `matches` may be finer than the kind.
          const Id bound = read(inst.i);
          const std::span<const L> nodes =
              layout ? egraph.laid_out_nodes(bound) : egraph[bound].nodes;
          const auto [first, last] = kind_range(nodes, inst.node.kind());
          if (kCount && pc + 1 == instructions.size()) {
            if constexpr (matches_by_kind<L>()) {
              counted += last - first;
              if (counted >= limit) {
                counted = limit;
                return Control::Stop;
              }
            } else {
              for (std::uint32_t k = first; k < last; ++k) {
                if (nodes[k].matches(inst.node) && ++counted == limit) return Control::Stop;
              }
            }
          } else {
            choices_[open_++] = {static_cast<std::uint32_t>(pc), first, last, nodes.data()};
          }
          forward = false;
          continue;
        }
        case InstKind::Compare:
          forward = layout ? read(inst.i) == read(inst.j)
                           : egraph.find(read(inst.i)) == egraph.find(read(inst.j));
          break;
        case InstKind::Lookup:
          if (layout) fault("a Lookup cannot read the layout");
          forward = lookup_matches(egraph, program_, inst);
          break;
        case InstKind::Scan: {
          const auto count = static_cast<std::uint32_t>(egraph.laid_out_classes().size());
          choices_[open_++] = {static_cast<std::uint32_t>(pc), 0, count, nullptr};
          forward = false;
          continue;
        }
      }
      if (forward) ++pc;
      continue;
    }
    if (!backtrack(egraph, pc)) return Control::Continue;
    forward = true;
  }
}

template <Language L>
std::vector<Subst> Program<L>::run_with_limit(const EGraph<L>& egraph, Id eclass,
                                              std::size_t limit) const {
  if (!egraph.clean()) fault("Tried to search a dirty e-graph!");
  std::vector<Subst> found;
  if (limit == 0) return found;
  Machine<L> machine(*this);
  machine.run(egraph, eclass, Source::EGraph, [&](const Machine<L>& m) {
    Subst s;
    for (const auto& [var, r] : subst.pairs()) s.append_unbound(var, m.read(r));
    found.push_back(std::move(s));
    return --limit == 0 ? Control::Stop : Control::Continue;
  });
  return found;
}

namespace detail {

// Compiles one pattern; lives for one `compile_from_pat`.
template <Language L>
class Compiler {
 public:
  using PNode = ENodeOrVar<L>;

  explicit Compiler(std::span<const PNode> pattern) : pattern_(pattern) {
    free_vars_.resize(pattern.size());
    sizes_.resize(pattern.size());
    for (std::size_t k = 0; k < pattern.size(); ++k) {
      const PNode& n = pattern[k];
      if (n.is_var()) {
        free_vars_[k] = {n.var()};
        continue;
      }
      std::size_t size = 1;
      for (Id c : n.children()) {
        checked_index(k, c);  // children point to earlier entries
        for (Var v : free_vars_[c]) {
          if (std::find(free_vars_[k].begin(), free_vars_[k].end(), v) == free_vars_[k].end())
            free_vars_[k].push_back(v);
        }
        size += sizes_[c];
      }
      sizes_[k] = size;
    }
  }

  Program<L> compile() && {
    if (pattern_.empty()) fault_index(0, 0);
    add_todo(static_cast<Id>(pattern_.size() - 1), 0);
    while (!todo_.empty()) {
      auto best = todo_.begin();
      for (auto it = todo_.begin(); it != todo_.end(); ++it) {
        if (key(it->first.first) >= key(best->first.first)) best = it;
      }
      const auto [index, reg] = best->first;
      const L node = best->second;
      todo_.erase(best);
      if (all_bound(index) && !node.children().empty()) {
        emit_lookup(index, reg);
      } else {
        emit_bind(node, reg);
      }
    }
    for (const auto& [var, reg] : var_regs_) program_.subst.insert(var, reg);
    return std::move(program_);
  }

 private:
  bool all_bound(Id index) const {
    return std::all_of(free_vars_[index].begin(), free_vars_[index].end(),
                       [&](Var v) { return reg_of(v).has_value(); });
  }

  // Fully bound first; then the most unbound variables; then the smaller subterm.
  std::tuple<bool, std::size_t, std::int64_t> key(Id index) const {
    const auto unbound = static_cast<std::size_t>(
        std::count_if(free_vars_[index].begin(), free_vars_[index].end(),
                      [&](Var v) { return !reg_of(v).has_value(); }));
    return {unbound == 0, unbound, -static_cast<std::int64_t>(sizes_[index])};
  }

  std::optional<Reg> reg_of(Var v) const {
    for (const auto& [var, reg] : var_regs_) {
      if (var == v) return reg;
    }
    return std::nullopt;
  }

  void add_todo(Id index, Reg reg) {
    const PNode& n = pattern_[checked_index(pattern_.size(), index)];
    if (n.is_var()) {
      if (auto bound = reg_of(n.var())) {
        Instruction<L> inst;
        inst.kind = InstKind::Compare;
        inst.i = reg;
        inst.j = *bound;
        program_.instructions.push_back(inst);
      } else {
        var_regs_.emplace_back(n.var(), reg);
      }
      return;
    }
    todo_[{index, reg}] = n.node();
  }

  void emit_bind(const L& node, Reg reg) {
    Instruction<L> inst;
    inst.kind = InstKind::Bind;
    inst.i = reg;
    inst.out = next_reg_;
    inst.node = map_children(node, [](Id) { return Id{0}; });
    program_.instructions.push_back(inst);
    next_reg_ += static_cast<Reg>(node.children().size());
    Reg k = 0;
    for (Id child : node.children()) add_todo(child, inst.out + k++);
  }

  void emit_lookup(Id index, Reg reg) {
    const RecExpr<PNode> term = build_recexpr(
        pattern_[index], [&](Id c) { return pattern_[checked_index(pattern_.size(), c)]; });
    Instruction<L> inst;
    inst.kind = InstKind::Lookup;
    inst.i = reg;
    inst.term_begin = static_cast<std::uint32_t>(program_.terms.size());
    inst.term_size = static_cast<std::uint32_t>(term.size());
    for (const PNode& n : term.nodes()) {
      ENodeOrReg<L> entry;
      if (n.is_var()) {
        entry.is_reg = true;
        entry.reg = *reg_of(n.var());
      } else {
        entry.node = n.node();
      }
      program_.terms.push_back(entry);
    }
    program_.instructions.push_back(inst);
  }

  std::span<const PNode> pattern_;           // the compacted pattern, root last
  std::vector<std::vector<Var>> free_vars_;  // per pattern index, the variables below it
  std::vector<std::size_t> sizes_;           // per pattern index, non-variable nodes below it
  std::map<std::pair<Id, Reg>, L> todo_;     // (pattern index, register) -> node to match there
  std::vector<std::pair<Var, Reg>> var_regs_;  // each variable's first register, in binding order
  Program<L> program_;                       // the program under construction
  Reg next_reg_ = 1;                         // the first register not yet handed out
};

}  // namespace detail

// Compiles a compacted pattern (children point to earlier entries, root
// last) into a matching program.
template <Language L>
Program<L> compile_from_pat(std::span<const ENodeOrVar<L>> pattern) {
  return detail::Compiler<L>(pattern).compile();
}

}  // namespace kestrel
