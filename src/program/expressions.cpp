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

// One expression's reading: the output items and the operators waiting.
class ExpressionReader {
 public:
  ExpressionReader(Tokenizer& tokens, std::span<const std::string_view> params,
                   std::vector<ExprItem>& out)
      : tokens_(tokens), params_(params), out_(out) {}

  bool read() {
    for (;;) {
      const Step step = want_operand_ ? operand() : after_operand();
      if (step == Step::Fail) return false;
      if (step == Step::Done) break;
    }
    while (!stack_.empty()) pop();
    return true;
  }

 private:
  enum class Step { Next, Done, Fail };

  void pop() {
    out_.push_back({stack_.back().op});
    stack_.pop_back();
  }

  // Where an operand is wanted: a sign, an open parenthesis, or the operand.
  Step operand() {
    if (tokens_.is(Tok::Minus)) {
      stack_.push_back({ExprOp::Neg, false, precedence(ExprOp::Neg)});
      tokens_.advance();
      return Step::Next;
    }
    if (tokens_.is(Tok::Plus)) {
      tokens_.advance();
      return Step::Next;
    }
    if (tokens_.is(Tok::LParen)) {
      stack_.push_back({ExprOp::Number, true, 0});
      ++open_;
      tokens_.advance();
      return Step::Next;
    }
    want_operand_ = false;
    if (tokens_.is(Tok::Int) || tokens_.is(Tok::Real)) return number();
    if (!tokens_.is(Tok::Word)) return Step::Fail;
    return word();
  }

  Step number() {
    const std::string_view digits = tokens_.text();
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    // Too large a number reads as infinite, which no angle gate takes.
    if (error == std::errc::result_out_of_range) value = HUGE_VAL;
    else if (error != std::errc() || end != digits.data() + digits.size()) return Step::Fail;
    out_.push_back({ExprOp::Number, 0, value});
    tokens_.advance();
    return Step::Next;
  }

  // pi, a parameter, or a function followed by its open parenthesis.
  Step word() {
    const std::string_view word = tokens_.text();
    tokens_.advance();
    if (word == "pi") {
      out_.push_back({ExprOp::Number, 0, std::numbers::pi});
      return Step::Next;
    }
    for (std::size_t k = 0; k < params_.size(); ++k) {
      if (params_[k] == word) {
        out_.push_back({ExprOp::Param, static_cast<std::uint32_t>(k)});
        return Step::Next;
      }
    }
    for (const Function& f : kFunctions) {
      if (f.name != word) continue;
      if (!tokens_.is(Tok::LParen)) return Step::Fail;
      tokens_.advance();
      stack_.push_back({f.op, true, 0});
      ++open_;
      want_operand_ = true;
      return Step::Next;
    }
    return Step::Fail;
  }

  // After an operand: a binary operator, a closing parenthesis, or the end
  // (a ')' or ',' outside every parenthesis, left for the caller).
  Step after_operand() {
    ExprOp op = ExprOp::Number;
    if (tokens_.is(Tok::Plus)) op = ExprOp::Add;
    else if (tokens_.is(Tok::Minus)) op = ExprOp::Sub;
    else if (tokens_.is(Tok::Star)) op = ExprOp::Mul;
    else if (tokens_.is(Tok::Slash)) op = ExprOp::Div;
    else if (tokens_.is(Tok::Caret)) op = ExprOp::Pow;
    if (op != ExprOp::Number) {
      const std::uint8_t p = precedence(op);
      // `^` groups to the right: an equal one waiting stays.
      while (!stack_.empty() && !stack_.back().paren &&
             (stack_.back().precedence > p ||
              (stack_.back().precedence == p && op != ExprOp::Pow))) {
        pop();
      }
      stack_.push_back({op, false, p});
      want_operand_ = true;
      tokens_.advance();
      return Step::Next;
    }
    if (tokens_.is(Tok::RParen) && open_ > 0) {
      while (!stack_.back().paren) pop();
      const ExprOp function = stack_.back().op;
      stack_.pop_back();
      --open_;
      if (function != ExprOp::Number) out_.push_back({function});
      tokens_.advance();
      return Step::Next;
    }
    if ((tokens_.is(Tok::RParen) || tokens_.is(Tok::Comma)) && open_ == 0) return Step::Done;
    return Step::Fail;
  }

  Tokenizer& tokens_;
  std::span<const std::string_view> params_;
  std::vector<ExprItem>& out_;
  std::vector<Waiting> stack_;
  std::size_t open_ = 0;  // parentheses on the stack
  bool want_operand_ = true;
};

}  // namespace

bool compile_expression(Tokenizer& tokens, std::span<const std::string_view> params,
                        std::vector<ExprItem>& out) {
  return ExpressionReader(tokens, params, out).read();
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
