// Named rewrite rules: a searcher that finds where a rule applies and an
// applier that adds its right-hand side there.
//
// Rewrite::new_("t-t-to-s", "(seq T T)", "S") makes the rule that merges
// every class holding two T gates in sequence with a class holding S. Both
// sides are shared, immutable and atomically reference-counted, so a rule is
// cheap to copy.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "engine/language.h"
#include "engine/pattern.h"
#include "engine/symbol.h"

namespace kestrel {

template <Language L>
struct Rewrite {
  GlobalSymbol name;                              // the rule's interned name
  std::shared_ptr<const Searcher<L>> searcher;    // finds the matches
  std::shared_ptr<const Applier<L>> applier;      // applies them

  // The rule, or an error text when the applier uses a variable that the
  // searcher does not bind.
  static std::variant<Rewrite, std::string> new_(std::string name, Pattern<L> searcher,
                                                 Pattern<L> applier) {
    Rewrite rule;
    rule.name = GlobalSymbol(name);
    auto s = std::make_shared<const Pattern<L>>(std::move(searcher));
    auto a = std::make_shared<const Pattern<L>>(std::move(applier));
    const std::vector<Var> bound = s->vars();
    for (Var v : a->vars()) {
      if (std::find(bound.begin(), bound.end(), v) == bound.end()) {
        return "Rewrite " + name + " refers to unbound var " + std::string(v.as_str());
      }
    }
    rule.searcher = std::move(s);
    rule.applier = std::move(a);
    return rule;
  }
};

}  // namespace kestrel
