// Arbitrary bytes as pattern text: the s-expression reader, the pattern
// reader, compaction, the pattern compiler and the matching machine.
//
// Text that does not read is an error value, never a fault. Text that reads
// gives a flat expression whose children point to earlier nodes; compacting
// keeps that and leaves no two equal nodes; the compiled program's matches in
// a saturated e-graph (cycles included) are real: rebuilding the pattern
// under each substitution through the hash-cons lands in the matched class.
// The searcher's per-kind and ground shortcuts must find what trying every
// class finds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "engine/egraph.h"
#include "engine/machine.h"
#include "engine/expr_reader.h"
#include "engine/pattern.h"
#include "engine/run.h"
#include "engine/sexp.h"
#include "src/circuit/op.h"
#include "src/saturation/rules.h"

namespace kestrel {
namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "pattern_fuzz: broken invariant: %s\n", what);
  std::abort();
}

// Searching costs up to (nodes per class) ^ (Bind instructions); past this
// many Binds an input would only measure the e-graph's size.
constexpr std::size_t kMaxBinds = 5;
constexpr std::size_t kMatchLimit = 2000;

// A small circuit after a few rounds of the rule set: its classes hold I, T,
// S, Z, X and regrouped sequences, and the identity rules make cycles such as
// a class holding Seq(I, itself).
const EGraph<Op>& saturated() {
  static const Runner<Op> runner = [] {
    RecExpr<Op> e;
    const Id h = e.add(Op(OpKind::H)), z = e.add(Op(OpKind::Z)), t = e.add(Op(OpKind::T));
    const Id tdg = e.add(Op(OpKind::Tdg)), cx = e.add(Op(OpKind::CNOT));
    const Id x = e.add(Op(OpKind::X)), i = e.add(Op(OpKind::I));
    Id root = e.add(Op::seq(e.add(Op::seq(h, z)), h));
    root = e.add(Op::seq(root, e.add(Op::seq(t, t))));
    root = e.add(Op::seq(root, e.add(Op::par(e.add(Op::seq(t, tdg)), x))));
    root = e.add(Op::seq(e.add(Op::seq(cx, cx)), root));
    root = e.add(Op::seq(root, e.add(Op::seq(i, e.add(Op(OpKind::RZ1))))));
    EGraph<Op> g;
    g.add_expr_internal(e);
    // A few iterations: enough for cycles, small enough that searching every
    // class stays cheap.
    Runner<Op> r;
    r.with_egraph(std::move(g)).with_iter_limit(3);
    r.run(rules());
    return r;
  }();
  return runner.egraph;
}

// Children point to earlier nodes and the expression is not empty.
template <class L>
bool well_formed(const RecExpr<L>& expr) {
  if (expr.empty()) return false;
  for (std::size_t k = 0; k < expr.size(); ++k) {
    for (Id child : expr.nodes()[k].children()) {
      if (child >= k) return false;
    }
  }
  return true;
}

// The class of `pattern` instantiated under `subst`, rebuilt through the
// hash-cons; nothing when some node is not in the e-graph.
std::optional<Id> instantiate(const PatternAst<Op>& pattern, const Subst& subst,
                              const EGraph<Op>& egraph) {
  std::vector<Id> ids;
  for (const ENodeOrVar<Op>& n : pattern.nodes()) {
    if (n.is_var()) {
      const std::optional<Id> bound = subst.get(n.var());
      require(bound.has_value(), "every variable is bound");
      ids.push_back(egraph.find(*bound));
      continue;
    }
    Op node = map_children(n.node(), [&](Id c) { return ids[c]; });
    const std::optional<Id> found = egraph.lookup(node);
    if (!found) return std::nullopt;
    ids.push_back(*found);
  }
  return ids.back();
}

using Found = std::set<std::tuple<Id, std::string>>;  // (class, substitution text)

Found collect(const std::vector<SearchMatches>& matches, const EGraph<Op>& egraph) {
  Found out;
  for (const SearchMatches& m : matches) {
    require(!m.substs.empty(), "a match record holds a substitution");
    for (const Subst& s : m.substs) out.emplace(egraph.find(m.eclass), s.text());
  }
  return out;
}

void check_search(const Pattern<Op>& pattern) {
  std::size_t binds = 0;
  for (const auto& inst : pattern.program().instructions) binds += inst.kind == InstKind::Bind;
  if (binds > kMaxBinds) return;

  const EGraph<Op>& egraph = saturated();
  const std::vector<Var> vars = pattern.vars();
  const std::vector<SearchMatches> limited = pattern.search_with_limit(egraph, kMatchLimit);
  std::size_t total = 0;
  for (const SearchMatches& m : limited) {
    for (const Subst& s : m.substs) {
      ++total;
      require(s.size() == vars.size(), "a substitution binds exactly the pattern's variables");
      require(instantiate(pattern.ast(), s, egraph) == egraph.find(m.eclass),
              "a match rebuilds to the class it was found in");
    }
  }
  require(total <= kMatchLimit, "the limit bounds the matches");
  if (total < kMatchLimit) {
    // Nothing was cut off, so every class tried in turn finds the same.
    require(collect(limited, egraph) == collect(pattern.search(egraph), egraph),
            "the searcher's shortcuts find what a search of every class finds");
  }
}

void run_one(std::string_view text) {
  const auto sexp = parse_str(text);
  if (const Sexp* s = std::get_if<Sexp>(&sexp)) {
    Sexp copy = *s;
    require(copy == *s, "a copied Sexp equals its original");
    copy = Sexp::list({copy, *s});
    require(copy.items().size() == 2 && copy.items()[1] == *s, "a Sexp assigned over itself");
    (void)s->debug();
  } else {
    const ParseError& e = std::get<ParseError>(sexp);
    require(e.line >= 1 && e.col >= 1, "error positions are 1-based");
    require(e.msg == "Unexpected )" || e.msg == "End of file reached", "a reader message");
  }

  auto read = from_str<ENodeOrVar<Op>>(text);
  if (const auto* error = std::get_if<1>(&read)) {
    (void)error->debug();
    return;
  }
  const PatternAst<Op>& ast = std::get<0>(read);
  require(well_formed(ast), "a read expression points backwards, root last");

  const PatternAst<Op> compacted = compact(ast);
  require(well_formed(compacted) && compacted.size() <= ast.size(), "compaction keeps the shape");
  std::vector<ENodeOrVar<Op>> sorted(compacted.nodes().begin(), compacted.nodes().end());
  std::sort(sorted.begin(), sorted.end());
  require(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(),
          "compaction leaves no two equal nodes");
  require(compact(compacted) == compacted, "compaction is idempotent");

  const std::string program = compile_from_pat<Op>(compacted.nodes()).dump();
  const Pattern<Op> pattern(ast);
  require(pattern.ast() == compacted, "a pattern keeps the compacted expression");
  require(pattern.program().dump() == program, "compiling is deterministic");
  check_search(pattern);
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
