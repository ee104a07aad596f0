// Expressions are read by the shunting-yard method: operands go straight to
// the output, operators wait on a stack until one of lower precedence comes,
// and parentheses (a function's included) wait there too.
#include "src/program/expressions.h"

#include <charconv>
#include <cmath>
#include <numbers>

#include "engine/fault.h"

namespace kestrel {
namespace {

// An operator or parenthesis waiting on the stack.
struct Waiting {
  ExprOp op;        // the operator, or the function a parenthesis ends with
  bool paren;       // an open parenthesis (`op` is then a function, or Number for none)
  std::uint8_t precedence;
};

constexpr std::uint8_t precedence(ExprOp op) {
  switch (op) {
    case ExprOp::Add: case ExprOp::Sub: return 1;
    case ExprOp::Mul: case ExprOp::Div: return 2;
    case ExprOp::Neg: return 3;
    case ExprOp::Pow: return 4;
    default: return 0;
  }
}

struct Function {
  std::string_view name;
  ExprOp op;
};
constexpr Function kFunctions[] = {{"sin", ExprOp::Sin}, {"cos", ExprOp::Cos},
                                   {"tan", ExprOp::Tan}, {"exp", ExprOp::Exp},
                                   {"ln", ExprOp::Ln},   {"sqrt", ExprOp::Sqrt}};

}  // namespace

bool compile_expression(Tokenizer& tokens, std::span<const std::string_view> params,
                        std::vector<ExprItem>& out) {
  std::vector<Waiting> stack;
  std::size_t open = 0;  // parentheses on the stack
  bool want_operand = true;
  const auto pop = [&] {
    out.push_back({stack.back().op});
    stack.pop_back();
  };
  for (;;) {
    if (want_operand) {
      if (tokens.is(Tok::Minus)) {
        stack.push_back({ExprOp::Neg, false, precedence(ExprOp::Neg)});
        tokens.advance();
        continue;
      }
      if (tokens.is(Tok::Plus)) {
        tokens.advance();
        continue;
      }
      if (tokens.is(Tok::LParen)) {
        stack.push_back({ExprOp::Number, true, 0});
        ++open;
        tokens.advance();
        continue;
      }
      want_operand = false;
      if (tokens.is(Tok::Int) || tokens.is(Tok::Real)) {
        const std::string_view digits = tokens.text();
        double value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        // Too large a number reads as infinite, which no angle gate takes.
        if (error == std::errc::result_out_of_range) value = HUGE_VAL;
        else if (error != std::errc() || end != digits.data() + digits.size()) return false;
        out.push_back({ExprOp::Number, 0, value});
        tokens.advance();
        continue;
      }
      if (!tokens.is(Tok::Word)) return false;
      const std::string_view word = tokens.text();
      tokens.advance();
      if (word == "pi") {
        out.push_back({ExprOp::Number, 0, std::numbers::pi});
        continue;
      }
      bool found = false;
      for (std::size_t k = 0; k < params.size() && !found; ++k) {
        if (params[k] == word) {
          out.push_back({ExprOp::Param, static_cast<std::uint32_t>(k)});
          found = true;
        }
      }
      for (const Function& f : kFunctions) {
        if (found || f.name != word) continue;
        if (!tokens.is(Tok::LParen)) return false;
        tokens.advance();
        stack.push_back({f.op, true, 0});
        ++open;
        want_operand = true;
        found = true;
      }
      if (!found) return false;
      continue;
    }
    ExprOp op = ExprOp::Number;
    if (tokens.is(Tok::Plus)) op = ExprOp::Add;
    else if (tokens.is(Tok::Minus)) op = ExprOp::Sub;
    else if (tokens.is(Tok::Star)) op = ExprOp::Mul;
    else if (tokens.is(Tok::Slash)) op = ExprOp::Div;
    else if (tokens.is(Tok::Caret)) op = ExprOp::Pow;
    if (op != ExprOp::Number) {
      const std::uint8_t p = precedence(op);
      // `^` groups to the right: an equal one waiting stays.
      while (!stack.empty() && !stack.back().paren &&
             (stack.back().precedence > p || (stack.back().precedence == p && op != ExprOp::Pow))) {
        pop();
      }
      stack.push_back({op, false, p});
      want_operand = true;
      tokens.advance();
      continue;
    }
    if (tokens.is(Tok::RParen) && open > 0) {
      while (!stack.back().paren) pop();
      const ExprOp function = stack.back().op;
      stack.pop_back();
      --open;
      if (function != ExprOp::Number) out.push_back({function});
      tokens.advance();
      continue;
    }
    if ((tokens.is(Tok::RParen) || tokens.is(Tok::Comma)) && open == 0) break;
    return false;
  }
  while (!stack.empty()) pop();
  return true;
}

double evaluate(std::span<const ExprItem> items, std::span<const double> params,
                std::vector<double>& stack) {
  stack.clear();
  const auto top = [&] {
    check(!stack.empty(), "an expression's operator has its operands");
    const double v = stack.back();
    stack.pop_back();
    return v;
  };
  for (const ExprItem& item : items) {
    double a = 0, b = 0;
    switch (item.op) {
      case ExprOp::Number: stack.push_back(item.value); continue;
      case ExprOp::Param: stack.push_back(params[checked_index(params.size(), item.param)]); continue;
      case ExprOp::Add: case ExprOp::Sub: case ExprOp::Mul: case ExprOp::Div: case ExprOp::Pow:
        b = top();
        a = top();
        break;
      default: a = top(); break;
    }
    double v = 0;
    switch (item.op) {
      case ExprOp::Add: v = a + b; break;
      case ExprOp::Sub: v = a - b; break;
      case ExprOp::Mul: v = a * b; break;
      case ExprOp::Div: v = a / b; break;
      case ExprOp::Pow: v = std::pow(a, b); break;
      case ExprOp::Neg: v = -a; break;
      case ExprOp::Sin: v = std::sin(a); break;
      case ExprOp::Cos: v = std::cos(a); break;
      case ExprOp::Tan: v = std::tan(a); break;
      case ExprOp::Exp: v = std::exp(a); break;
      case ExprOp::Ln: v = std::log(a); break;
      case ExprOp::Sqrt: v = std::sqrt(a); break;
      case ExprOp::Number: case ExprOp::Param: break;
    }
    stack.push_back(v);
  }
  check(stack.size() == 1, "an expression has one value");
  return stack.back();
}

}  // namespace kestrel
