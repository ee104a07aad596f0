// Reading flat expressions from s-expression text, and compacting them.
//
// `from_str<ENodeOrVar<Op>>("(seq I ?x)")` reads the s-expression and lays it
// out children first: [I, ?x, seq(0, 1)]. Operands are converted before their
// operator is checked, so a bad operator is reported after its operands have
// been appended. Every failure is a `RecExprParseError` value; the caller
// decides what it means.
//
// `compact` then merges repeated subterms: [H, Z, seq(0, 1), H, seq(2, 3)]
// becomes [H, Z, seq(0, 1), seq(2, 0)].
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/fault.h"
#include "engine/indexed_set.h"
#include "engine/language.h"
#include "engine/pattern_node.h"
#include "engine/sexp.h"

namespace kestrel {

// Why text could not be read as a `RecExpr`; E is the error of the node
// type's `from_op`.
template <class E>
struct RecExprParseError {
  struct EmptySexp {  // empty text, or a list without elements
    bool operator==(const EmptySexp&) const = default;
  };
  struct HeadList {  // a list whose first element is a list; holds that element
    Sexp head;
    bool operator==(const HeadList&) const = default;
  };
  struct BadOp {  // the node type rejected an operator
    E error;
    bool operator==(const BadOp&) const = default;
  };
  struct BadSexp {  // the s-expression reader failed
    ParseError error;
    bool operator==(const BadSexp&) const = default;
  };

  std::variant<EmptySexp, HeadList, BadOp, BadSexp> value;

  bool operator==(const RecExprParseError&) const = default;
  // The variant name with its payload's field-wise form in parentheses:
  // EmptySexp, HeadList(List([])), BadOp(UnexpectedVar("?x")),
  // BadSexp(ParseError { msg: "Unexpected )", line: 1, col: 1 }).
  std::string debug() const {
    if (std::holds_alternative<EmptySexp>(value)) return "EmptySexp";
    if (auto* e = std::get_if<HeadList>(&value)) return "HeadList(" + e->head.debug() + ")";
    if (auto* e = std::get_if<BadOp>(&value)) return "BadOp(" + debug_string(e->error) + ")";
    return "BadSexp(" + std::get<BadSexp>(value).error.debug() + ")";
  }
};

// A node type that can be built from an operator name and child positions.
template <class L>
concept FromOp = Language<L> && requires(std::string_view op, std::vector<Id> children) {
  L::from_op(op, std::move(children));
};

// `text` without the Unicode white space at either end (read as UTF-8).
std::string_view trim_white_space(std::string_view text);

// Appends the nodes of `sexp` to `expr`, children before parents, and returns
// the position of its root. Stops at the first failure, leaving the nodes
// appended so far in `expr`. Works with an explicit stack, so nesting depth
// is limited only by memory.
template <FromOp L>
std::variant<Id, RecExprParseError<FromOpErrorOf<L>>> parse_sexp_into(const Sexp& sexp,
                                                                     RecExpr<L>& expr) {
  using Error = RecExprParseError<FromOpErrorOf<L>>;
  // A list whose operands are being converted.
  struct Frame {
    const Sexp* list;           // the list; its first element is the operator
    std::size_t next;           // index of the next operand to convert
    std::vector<Id> children;   // positions of the operands converted so far
  };
  std::vector<Frame> open;
  const Sexp* pending = &sexp;  // the expression to convert next, if any
  while (true) {
    std::vector<Id> children;
    std::string_view op;
    bool have_op = false;  // set when `op` and `children` make the next node
    if (pending != nullptr) {
      const Sexp& s = *pending;
      pending = nullptr;
      if (s.is_string()) {
        op = s.text();
        have_op = true;
      } else if (s.is_empty() || s.items().empty()) {
        return Error{typename Error::EmptySexp{}};
      } else if (!s.items().front().is_string()) {
        // The reader never puts Empty in a list; a hand-made one is a list head too.
        return Error{typename Error::HeadList{s.items().front()}};
      } else {
        open.push_back(Frame{&s, 1, {}});
      }
    }
    if (!have_op) {
      // Continue the innermost list: its next operand, or its own node.
      Frame& top = open.back();
      if (top.next < top.list->items().size()) {
        pending = &top.list->items()[top.next++];
        continue;
      }
      op = top.list->items().front().text();
      children = std::move(top.children);
      open.pop_back();
    }
    auto node = L::from_op(op, std::move(children));
    if (auto* bad = std::get_if<1>(&node)) return Error{typename Error::BadOp{std::move(*bad)}};
    const Id position = expr.add(std::get<0>(node));
    if (open.empty()) return position;
    open.back().children.push_back(position);
  }
}

// Reads `text`, trimmed of Unicode white space, as one expression with the
// root last. Trailing text after the first expression is ignored.
template <FromOp L>
std::variant<RecExpr<L>, RecExprParseError<FromOpErrorOf<L>>> from_str(std::string_view text) {
  using Error = RecExprParseError<FromOpErrorOf<L>>;
  auto sexp = parse_str(trim_white_space(text));
  if (auto* bad = std::get_if<ParseError>(&sexp)) return Error{typename Error::BadSexp{std::move(*bad)}};
  RecExpr<L> expr;
  auto root = parse_sexp_into(std::get<Sexp>(sexp), expr);
  if (auto* bad = std::get_if<1>(&root)) return std::move(*bad);
  return expr;
}

// `expr` with equal subterms merged onto their first occurrence; the order of
// first occurrences is kept and the root stays last. Every child must point
// to an earlier node, else the fault "no entry found for key".
template <Language L>
RecExpr<L> compact(const RecExpr<L>& expr) {
  std::vector<Id> renumbered;  // old position -> new position, for positions seen so far
  renumbered.reserve(expr.size());
  IndexedSet<L, NodeHash<L>> nodes;
  for (L node : expr.nodes()) {
    update_children(node, [&](Id child) {
      if (child >= renumbered.size()) fault("no entry found for key");
      return renumbered[child];
    });
    renumbered.push_back(nodes.insert(node).first);
  }
  return RecExpr<L>(std::move(nodes).take());
}

}  // namespace kestrel
