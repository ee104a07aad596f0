// OpenQASM 2.0 parameter expressions, compiled to postfix and evaluated.
//
// An expression such as `-theta/2+pi^2` is read from the tokens, with the
// language's precedence (`^` binds tighter than a sign, which binds tighter
// than `*` and `/`, then `+` and `-`; `^` groups to the right), into items in
// postfix order: [theta, 2, /, neg, pi, 2, ^, +]. `theta` is a parameter of
// the gate being defined, numbered in its parameter list; evaluating the
// items with that gate's parameter values gives a double, as OpenQASM 2.0
// evaluates it: real arithmetic, pi, and sin, cos, tan, exp, ln and sqrt.
// Reading uses explicit stacks, so nesting costs no recursion.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "src/program/tokenizer.h"

namespace kestrel {

enum class ExprOp : std::uint8_t {
  Number,  // pushes `value`
  Param,   // pushes parameter `param` of the enclosing gate
  Add, Sub, Mul, Div, Pow,  // pop b, pop a, push a op b
  Neg,                      // pop a, push -a
  Sin, Cos, Tan, Exp, Ln, Sqrt,  // pop a, push f(a)
};

struct ExprItem {
  ExprOp op;                // what it does
  std::uint32_t param = 0;  // for Param: the parameter's position
  double value = 0;         // for Number: the number
};
static_assert(std::is_trivially_copyable_v<ExprItem>);

// Reads one expression from `tokens` (the current token its first) up to,
// not including, the ',' or ')' that ends it at depth 0, and appends its
// items to `out`. `params` names the enclosing gate's parameters in order
// (empty outside a definition). Returns false, leaving `out` partly
// written, when the tokens are no expression: a text the statement reader
// accepted always is one.
bool compile_expression(Tokenizer& tokens, std::span<const std::string_view> params,
                        std::vector<ExprItem>& out);

// The value of the expression `items` with parameter values `params`, which
// must cover every parameter it names (faults otherwise); NaN or an
// infinity where the arithmetic gives one. `stack` is working space.
double evaluate(std::span<const ExprItem> items, std::span<const double> params,
                std::vector<double>& stack);

}  // namespace kestrel
