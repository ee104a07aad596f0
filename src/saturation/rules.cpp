// The rule set's text, read into rewrites.
#include "src/saturation/rules.h"

#include <array>
#include <string>
#include <string_view>

namespace kestrel {
namespace {

struct RuleText {
  std::string_view name;      // the rule's name
  std::string_view searcher;  // the pattern it finds
  std::string_view applier;   // the pattern it adds and merges
};

constexpr std::array<RuleText, 11> kRules = {{
    {"id-left", "(seq I ?x)", "?x"},
    {"id-right", "(seq ?x I)", "?x"},
    {"seq-assoc-lr", "(seq (seq ?a ?b) ?c)", "(seq ?a (seq ?b ?c))"},
    {"seq-assoc-rl", "(seq ?a (seq ?b ?c))", "(seq (seq ?a ?b) ?c)"},
    {"t-t-to-s", "(seq T T)", "S"},
    {"t-tdg-id", "(seq T Tdg)", "I"},
    {"tdg-t-id", "(seq Tdg T)", "I"},
    {"s-s-to-z", "(seq S S)", "Z"},
    {"hzh-x", "(seq (seq H Z) H)", "X"},
    {"hxh-z", "(seq (seq H X) H)", "Z"},
    {"cnot-cancel", "(seq CNOT CNOT)", "I"},
}};

[[noreturn]] void unwrap_failed(const std::string& debug) {
  fault("called `Result::unwrap()` on an `Err` value: " + debug);
}

Pattern<Op> read_pattern(std::string_view text) {
  auto read = Pattern<Op>::from_str(text);
  if (auto* error = std::get_if<1>(&read)) unwrap_failed(error->debug());
  return std::get<0>(std::move(read));
}

}  // namespace

std::vector<Rewrite<Op>> rules() {
  std::vector<Rewrite<Op>> out;
  out.reserve(kRules.size());
  for (const RuleText& rule : kRules) {
    auto made = Rewrite<Op>::new_(std::string(rule.name), read_pattern(rule.searcher),
                                  read_pattern(rule.applier));
    if (auto* error = std::get_if<std::string>(&made)) {
      // The error text's debug form: the text in double quotes.
      unwrap_failed(GlobalSymbol(*error).debug());
    }
    out.push_back(std::get<0>(std::move(made)));
  }
  return out;
}

}  // namespace kestrel
