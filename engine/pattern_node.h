// Pattern variables and pattern nodes.
//
// A pattern expression is a `RecExpr<ENodeOrVar<L>>`: "(seq I ?x)" is
// [ENode I, Var ?x, ENode seq(0, 1)]. `ENodeOrVar<L>` is itself a language
// node, so flat expressions, `build_recexpr` and `compact` work on patterns
// unchanged. A variable is a leaf of its own kind, one past the kinds of L.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "engine/fault.h"
#include "engine/hashing.h"
#include "engine/language.h"
#include "engine/symbol.h"

namespace kestrel {

// A pattern variable: an interned name with a leading "?", such as "?x".
class Var {
 public:
  // A placeholder holding the empty symbol, for filling default storage; it
  // equals no variable read from text.
  Var() = default;
  // Wraps `symbol` unchecked; its text should qualify as for `from_str`.
  constexpr explicit Var(GlobalSymbol symbol) noexcept : symbol_(symbol) {}

  // A variable when `text` has at least two characters and starts with "?"
  // (interning the whole text); otherwise a copy of `text` as the error.
  static std::variant<Var, std::string> from_str(std::string_view text);

  GlobalSymbol symbol() const noexcept { return symbol_; }
  // The full name, "?" included.
  std::string_view as_str() const { return symbol_.as_str(); }
  std::uint64_t hash() const noexcept { return symbol_.hash(); }

  bool operator==(const Var&) const = default;
  auto operator<=>(const Var&) const = default;

 private:
  GlobalSymbol symbol_;  // the whole name, "?" included
};

static_assert(std::is_trivially_copyable_v<Var>);

// True for a name that reads as a variable rather than an operator.
constexpr bool is_var_name(std::string_view text) noexcept {
  return text.size() >= 2 && text.front() == '?';
}

// The debug form of a `FromOpError`: FromOpError { op: "seq", children: [0] }.
std::string debug_string(const FromOpError& error);

// Why `ENodeOrVar<L>::from_op` failed; E is the error of `L::from_op`.
template <class E>
struct ENodeOrVarParseError {
  struct BadVar {  // a name that does not read as a variable
    std::string text;
    bool operator==(const BadVar&) const = default;
  };
  struct UnexpectedVar {  // a variable given children
    std::string text;
    bool operator==(const UnexpectedVar&) const = default;
  };
  struct BadOp {  // the language rejected the operator
    E error;
    bool operator==(const BadOp&) const = default;
  };

  std::variant<BadVar, UnexpectedVar, BadOp> value;

  bool operator==(const ENodeOrVarParseError&) const = default;
  // BadVar("x"), UnexpectedVar("?x"), BadOp(<error>)
  std::string debug() const {
    if (auto* e = std::get_if<BadVar>(&value)) return "BadVar(" + quote_text(e->text) + ")";
    if (auto* e = std::get_if<UnexpectedVar>(&value)) return "UnexpectedVar(" + quote_text(e->text) + ")";
    return "BadOp(" + debug_string(std::get<BadOp>(value).error) + ")";
  }
};

template <class E>
std::string debug_string(const ENodeOrVarParseError<E>& error) {
  return error.debug();
}

// The error type of `L::from_op`.
template <class L>
using FromOpErrorOf = std::variant_alternative_t<
    1, decltype(L::from_op(std::string_view(), std::vector<Id>()))>;

// A pattern node: an `ENode` holding a node of L whose children are pattern
// positions, or a `Var`, which has no children. Stored as the node plus a
// symbol handle that is 0 for an `ENode`, so the value stays trivially
// copyable and only 4 bytes larger than L. Ordered by variant first (every
// `ENode` before every `Var`), then by the node or by the variable.
template <Language L>
class ENodeOrVar {
 public:
  using Error = ENodeOrVarParseError<FromOpErrorOf<L>>;
  static constexpr std::size_t kNumKinds = L::kNumKinds + 1;

  constexpr ENodeOrVar() = default;  // ENode of a default L
  constexpr explicit ENodeOrVar(L node) noexcept : node_(node) {}
  explicit ENodeOrVar(Var var) noexcept : var_(var.symbol().handle()) {}

  // Reads `op` with `children`: a variable name (at least two characters,
  // leading "?") becomes a `Var` and must have no children; any other name,
  // a lone "?" included, is handed to `L::from_op`.
  static std::variant<ENodeOrVar, Error> from_op(std::string_view op, std::vector<Id> children) {
    if (is_var_name(op)) {
      if (!children.empty()) return Error{typename Error::UnexpectedVar{std::string(op)}};
      auto var = Var::from_str(op);
      if (auto* bad = std::get_if<std::string>(&var)) return Error{typename Error::BadVar{std::move(*bad)}};
      return ENodeOrVar(std::get<Var>(var));
    }
    auto node = L::from_op(op, std::move(children));
    if (auto* bad = std::get_if<1>(&node)) return Error{typename Error::BadOp{std::move(*bad)}};
    return ENodeOrVar(std::get<0>(node));
  }

  constexpr bool is_var() const noexcept { return var_ != 0; }
  constexpr bool is_enode() const noexcept { return var_ == 0; }
  // The node of an `ENode`; faults on a `Var`.
  const L& node() const {
    if (is_var()) fault("internal error: entered unreachable code");
    return node_;
  }
  // The variable of a `Var`; faults on an `ENode`.
  Var var() const {
    if (is_enode()) fault("internal error: entered unreachable code");
    return Var(GlobalSymbol::from_handle(var_));
  }

  std::span<const Id> children() const noexcept {
    return is_var() ? std::span<const Id>() : node_.children();
  }
  std::span<Id> children_mut() noexcept { return is_var() ? std::span<Id>() : node_.children_mut(); }
  // Two ENodes whose nodes match, or the same variable twice.
  bool matches(const ENodeOrVar& other) const noexcept {
    if (is_var() || other.is_var()) return var_ == other.var_;
    return node_.matches(other.node_);
  }
  std::size_t kind() const noexcept { return is_var() ? L::kNumKinds : node_.kind(); }
  std::uint64_t hash() const noexcept {
    return is_var() ? hash_combine(L::kNumKinds, var_) : node_.hash();
  }

  // ENode(<node debug>) or Var(?x); needs `L::debug()`.
  std::string debug() const {
    if (is_var()) return "Var(" + std::string(var().as_str()) + ")";
    return "ENode(" + node_.debug() + ")";
  }

  // A `Var` keeps a default node, so comparing all members is equality.
  constexpr bool operator==(const ENodeOrVar&) const = default;
  constexpr std::strong_ordering operator<=>(const ENodeOrVar& other) const noexcept {
    if (is_var() != other.is_var()) return is_var() <=> other.is_var();
    if (is_var()) return var_ <=> other.var_;
    if (node_ < other.node_) return std::strong_ordering::less;
    if (other.node_ < node_) return std::strong_ordering::greater;
    return std::strong_ordering::equal;
  }

 private:
  L node_{};              // the node of an ENode; a default L for a Var
  std::uint32_t var_ = 0;  // the variable's symbol handle; 0 for an ENode
};

}  // namespace kestrel
