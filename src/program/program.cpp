// The statement reader's grammar: each statement read with one token of
// look-ahead from the tokenizer, its names checked against the scopes, and
// appended to the program. Expressions are checked by a two-state machine
// with a parenthesis counter, so nesting costs no stack. The parser's
// working class is private to this file.
#include "src/program/program.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "engine/fault.h"
#include "src/program/scopes.h"
#include "src/program/expressions.h"
#include "src/program/tokenizer.h"

namespace kestrel {
namespace {

// Words that are never identifiers.
constexpr std::array<std::string_view, 19> kKeywords = {
    "OPENQASM", "include", "qreg", "creg", "gate", "opaque", "measure", "reset", "barrier",
    "if",       "pi",      "sin",  "cos",  "tan",  "exp",    "ln",      "sqrt",  "U",
    "CX"};

constexpr std::array<std::string_view, 6> kFunctions = {"sin", "cos", "tan", "exp", "ln", "sqrt"};

template <std::size_t N>
constexpr bool one_of(std::string_view word, const std::array<std::string_view, N>& words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), tokens_(text) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  std::variant<QasmProgram, InputError> read();

 private:
  // The tokenizer's words, for short.
  void advance() { tokens_.advance(); }
  bool is(Tok kind) const { return tokens_.is(kind); }
  bool is_word(std::string_view word) const { return tokens_.is_word(word); }
  std::string_view token_text() const { return tokens_.text(); }
  const Token& tok() const { return tokens_.token(); }
  bool fail(std::uint32_t offset, std::string message) {
    return tokens_.fail(offset, std::move(message));
  }
  bool expected(std::string_view what) { return tokens_.expected(what); }
  bool expect(Tok kind, std::string_view what) { return tokens_.expect(kind, what); }
  bool is_identifier() const;

  bool statement();
  bool version();
  bool include();
  bool register_declaration(bool quantum);
  bool gate_definition(bool opaque);
  bool body_statement(std::string_view gate);
  bool conditional(Statement& st);
  bool operation(Statement& st);
  bool measure(Statement& st);
  bool application(Statement& st, const Symbol& gate);
  bool parameters(std::uint32_t& count, bool values = false);
  bool expression();
  bool finite_value(std::uint32_t begin);
  bool operand(bool quantum, Operand& out);
  bool plain_operands();
  bool broadcast_operands(std::uint32_t& instances, bool& broadcast);
  bool distinct_qubits(const Statement& st, std::uint32_t instances);
  const Symbol* gate_symbol(std::string_view name);
  std::uint32_t find_register(std::string_view name) {
    return scopes_.find_register(name, program_.registers);
  }

  std::string_view text_;    // the whole program
  Tokenizer tokens_;         // over `text_`
  Scopes scopes_;            // the names defined so far
  QasmProgram program_;      // what has been read so far
  std::vector<std::uint32_t> qubit_stamps_;  // per qubit, the last instance that named it
  std::uint32_t qubit_stamp_ = 0;            // one per broadcast instance
  std::uint32_t local_stamp_ = 0;            // one per application in a gate body
  bool qelib1_ = false;                      // whether qelib1.inc was included
  bool not_finite_ = false;                  // whether the error is a parameter that is no finite number
  std::vector<ExprItem> items_;              // a statement's parameter, compiled to check its value
  std::vector<double> stack_;                // its evaluation
};

bool Parser::is_identifier() const {
  if (!is(Tok::Word)) return false;
  const std::string_view word = token_text();
  return word[0] >= 'a' && word[0] <= 'z' && !one_of(word, kKeywords);
}

std::variant<QasmProgram, InputError> Parser::read() {
  if (text_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    return InputError{1, 1, "expected a text shorter than 4 GiB"};
  }
  for (const LibraryGate& gate : kBuiltins) scopes_.define(gate);
  // The lists are allocated once, from a bound that nearly every program
  // keeps (a statement ends at a ';', operands are separated by ','), so
  // that a long program's lists are not copied as they grow: at a million
  // statements the copies and the pages of the lists left behind cost a
  // fifth of the reading. A few bytes of text per entry at most.
  const auto [semicolons, commas] = count_separators(text_);
  program_.statements.reserve(std::min(semicolons, text_.size() / 4) + 1);
  program_.operands.reserve(std::min(semicolons + commas, text_.size() / 2) + 1);
  advance();
  while (!tokens_.error() && !is(Tok::End)) statement();
  if (tokens_.error()) {
    InputError error = std::move(*tokens_.error());
    error.not_finite = not_finite_;
    return error;
  }
  program_.text = text_;
  return std::move(program_);
}

bool Parser::statement() {
  Statement st{};
  st.begin = tok().begin;
  st.first_operand = static_cast<std::uint32_t>(program_.operands.size());
  st.condition = kNoCondition;
  st.kind = StatementKind::Declaration;
  st.library = QasmGate::None;
  st.gate = OpKind::I;
  st.first_value = static_cast<std::uint32_t>(program_.values.size());

  bool ok = true;
  if (is(Tok::Semicolon)) {
    advance();
  } else if (is(Tok::RBrace)) {
    return expected("a statement (no gate body is open)");
  } else if (!is(Tok::Word)) {
    return expected("a statement");
  } else if (const Symbol* symbol = scopes_.find(token_text());
             symbol != nullptr && !symbol->is_register) {
    // No keyword but U and CX is ever a name, so gates are looked up first.
    ok = application(st, *symbol);
  } else if (is_word("OPENQASM")) {
    ok = version();
  } else if (is_word("include")) {
    ok = include();
  } else if (is_word("qreg") || is_word("creg")) {
    ok = register_declaration(is_word("qreg"));
  } else if (is_word("gate") || is_word("opaque")) {
    ok = gate_definition(is_word("opaque"));
  } else if (is_word("if")) {
    ok = conditional(st);
  } else if (is_word("barrier")) {
    advance();
    st.kind = StatementKind::Barrier;
    while (ok && !is(Tok::Semicolon)) {
      Operand op{};
      ok = operand(true, op);
      if (!ok) break;
      program_.operands.push_back(op);
      if (is(Tok::Comma)) {
        advance();
      } else if (!is(Tok::Semicolon)) {
        ok = expected("',' or ';'");
      }
    }
    if (ok) advance();
    // Without operands it spans every qubit declared so far.
    if (ok && program_.operands.size() == st.first_operand) {
      for (std::uint32_t r = 0; r < program_.registers.size(); ++r) {
        if (program_.registers[r].quantum) program_.operands.push_back({r, kWholeRegister});
      }
    }
  } else {
    ok = operation(st);
  }
  if (!ok) return false;
  // The token after the statement has been read: the statement ends where
  // the last one read before it ended, which is the ';' or '}' just passed.
  st.end = tokens_.last_end();
  st.operand_count = static_cast<std::uint32_t>(program_.operands.size()) - st.first_operand;
  program_.statements.push_back(st);
  return true;
}


bool Parser::version() {
  if (!program_.statements.empty()) {
    return expected("the version only as the first statement");
  }
  advance();
  const std::string_view number = token_text();
  const bool two = (is(Tok::Int) && number == "2") ||
                   (is(Tok::Real) && number.starts_with("2.") &&
                    number.find_first_not_of('0', 2) == std::string_view::npos);
  if (!two) return expected("the version 2.0");
  advance();
  return expect(Tok::Semicolon, "';'");
}

bool Parser::include() {
  advance();
  if (!is(Tok::String)) return expected("a file name in quotes");
  const std::string_view name = token_text().substr(1, tok().end - tok().begin - 2);
  if (name != "qelib1.inc") return expected("\"qelib1.inc\", the only file this reader knows");
  if (qelib1_) return expected("\"qelib1.inc\" only once");
  for (const LibraryGate& g : kQelib1) {
    if (!scopes_.define(g)) {
      return expected("no name that \"qelib1.inc\" defines to be defined before it ('" +
                      std::string(g.name) + "' is)");
    }
  }
  qelib1_ = true;
  advance();
  return expect(Tok::Semicolon, "';'");
}

bool Parser::register_declaration(bool quantum) {
  advance();
  if (!is_identifier()) return expected("a register name");
  const std::string_view name = token_text();
  if (scopes_.defined(name)) return expected("a name not defined before");
  advance();
  if (!expect(Tok::LBracket, "'['")) return false;
  if (!is(Tok::Int)) return expected("the register's size");
  std::uint32_t& declared = quantum ? program_.qubits : program_.clbits;
  const std::uint64_t size = tokens_.int_value();
  if (size > kMaxBits - declared) {
    return expected("at most " + std::to_string(kMaxBits) + (quantum ? " qubits" : " classical bits") +
                    " in all");
  }
  advance();
  if (!expect(Tok::RBracket, "']'") || !expect(Tok::Semicolon, "';'")) return false;
  const auto position = static_cast<std::uint32_t>(program_.registers.size());
  program_.registers.push_back(
      Register{name, declared, static_cast<std::uint32_t>(size), quantum});
  scopes_.define(name, Symbol{true, position, 0, 0, QasmGate::None, OpKind::I});
  declared += static_cast<std::uint32_t>(size);
  if (quantum) qubit_stamps_.resize(program_.qubits, 0);
  return true;
}

bool Parser::gate_definition(bool opaque) {
  advance();
  if (!is_identifier()) return expected("a gate name");
  const std::string_view name = token_text();
  if (scopes_.defined(name)) return expected("a name not defined before");
  advance();
  scopes_.open_definition();
  std::uint32_t params = 0;
  std::uint32_t qubits = 0;
  if (is(Tok::LParen)) {
    advance();
    while (!is(Tok::RParen)) {
      if (!is_identifier()) return expected("a parameter name");
      if (!scopes_.define_local(token_text(), false)) {
        return expected("a name not used before in this definition");
      }
      ++params;
      advance();
      if (is(Tok::Comma)) {
        advance();
      } else if (!is(Tok::RParen)) {
        return expected("',' or ')'");
      }
    }
    advance();
  }
  for (;;) {
    if (!is_identifier()) return expected("a qubit argument name");
    if (!scopes_.define_local(token_text(), true)) {
      return expected("a name not used before in this definition");
    }
    ++qubits;
    advance();
    if (!is(Tok::Comma)) break;
    advance();
  }
  if (opaque) {
    if (!expect(Tok::Semicolon, "',' or ';'")) return false;
  } else {
    if (!is(Tok::LBrace)) return expected("',' or '{'");
    const std::uint32_t opened = tok().begin;  // its position is counted only for an error
    advance();
    while (!is(Tok::RBrace)) {
      if (is(Tok::End)) {
        return expected("'}' closing the body opened at " + tokens_.position(opened));
      }
      if (!body_statement(name)) return false;
    }
    advance();
  }
  scopes_.close_definition();
  scopes_.define(name, Symbol{false, 0, params, qubits, QasmGate::None, OpKind::I});
  return true;
}

// Reads a gate application or barrier inside the body of gate `gate`; its
// operands are the definition's qubit arguments.
bool Parser::body_statement(std::string_view gate) {
  if (!is(Tok::Word) || (one_of(token_text(), kKeywords) && !is_word("barrier") &&
                         !is_word("U") && !is_word("CX"))) {
    return expected("a gate application, 'barrier' or '}'");
  }
  const bool barrier = is_word("barrier");
  const std::uint32_t name_at = tok().begin;
  const std::string_view name = token_text();
  const Symbol* symbol = barrier ? nullptr : gate_symbol(name);
  if (!barrier && symbol == nullptr) return false;
  advance();
  std::uint32_t params = 0;
  if (!barrier && is(Tok::LParen) && !parameters(params)) return false;
  ++local_stamp_;
  std::uint32_t qubits = 0;
  for (;;) {
    Local* local = is(Tok::Word) ? scopes_.find_local(token_text()) : nullptr;
    if (local == nullptr || !local->qubit) {
      return expected("a qubit argument of '" + std::string(gate) + "'");
    }
    if (local->stamp == local_stamp_ && !barrier) {
      return expected("distinct qubits");
    }
    local->stamp = local_stamp_;
    ++qubits;
    advance();
    if (!is(Tok::Comma)) break;
    advance();
  }
  if (!expect(Tok::Semicolon, "',' or ';'")) return false;
  if (barrier) return true;
  if (params != symbol->params || qubits != symbol->qubits) {
    return fail(name_at, "expected " + std::to_string(symbol->params) + " parameters and " +
                             std::to_string(symbol->qubits) + " qubits for '" +
                             std::string(name) + "', found " + std::to_string(params) +
                             " and " + std::to_string(qubits));
  }
  return true;
}

// The gate named `name` (the current token), or null with the error recorded.
const Symbol* Parser::gate_symbol(std::string_view name) {
  const Symbol* symbol = scopes_.find(name);
  if (symbol == nullptr) {
    expected("a gate defined before this statement");
    return nullptr;
  }
  if (symbol->is_register) {
    expected("a gate name, not a register");
    return nullptr;
  }
  return symbol;
}

bool Parser::conditional(Statement& st) {
  advance();
  if (!expect(Tok::LParen, "'('")) return false;
  const Symbol* symbol = is(Tok::Word) ? scopes_.find(token_text()) : nullptr;
  if (symbol == nullptr || !symbol->is_register || program_.registers[symbol->reg].quantum) {
    return expected("a classical register");
  }
  st.condition = symbol->reg;
  advance();
  if (!expect(Tok::Equals, "'=='")) return false;
  if (!expect(Tok::Int, "an integer")) return false;
  if (!expect(Tok::RParen, "')'")) return false;
  if (!is(Tok::Word) || (one_of(token_text(), kKeywords) && !is_word("measure") &&
                         !is_word("reset") && !is_word("U") && !is_word("CX"))) {
    return expected("a gate application, 'measure' or 'reset'");
  }
  return operation(st);
}

// A measurement, a reset or a gate application, the current token a word.
bool Parser::operation(Statement& st) {
  if (is_word("measure")) return measure(st);
  if (is_word("reset")) {
    advance();
    Operand op{};
    if (!operand(true, op)) return false;
    program_.operands.push_back(op);
    st.kind = StatementKind::Reset;
    return expect(Tok::Semicolon, "';'");
  }
  const Symbol* gate = gate_symbol(token_text());
  return gate != nullptr && application(st, *gate);
}

bool Parser::measure(Statement& st) {
  advance();
  Operand qubit{};
  Operand clbit{};
  if (!operand(true, qubit)) return false;
  if (!expect(Tok::Arrow, "'->'")) return false;
  const std::uint32_t clbit_at = tok().begin;
  if (!operand(false, clbit)) return false;
  const bool whole = qubit.index == kWholeRegister;
  if (whole != (clbit.index == kWholeRegister)) {
    return fail(clbit_at, whole ? "expected a whole classical register, as the qubits are one"
                                : "expected one classical bit, as the qubit is one");
  }
  const std::uint32_t qubits = program_.registers[qubit.reg].size;
  if (whole && program_.registers[clbit.reg].size != qubits) {
    return fail(clbit_at, "expected a classical register of size " + std::to_string(qubits) +
                              ", the size of the quantum register");
  }
  program_.operands.push_back(qubit);
  program_.operands.push_back(clbit);
  st.kind = StatementKind::Measure;
  return expect(Tok::Semicolon, "';'");
}

bool Parser::application(Statement& st, const Symbol& gate) {
  const Symbol* symbol = &gate;
  const std::uint32_t name_at = tok().begin;
  const std::string_view name = token_text();
  std::uint32_t params = 0;
  std::uint32_t instances = 1;
  bool broadcast = false;
  if (plain_operands()) {
    advance();
  } else {
    advance();
    if (is(Tok::LParen) && !parameters(params, true)) return false;
    if (!broadcast_operands(instances, broadcast)) return false;
    if (!expect(Tok::Semicolon, "',' or ';'")) return false;
  }
  const std::uint32_t qubits =
      static_cast<std::uint32_t>(program_.operands.size()) - st.first_operand;
  if (params != symbol->params || qubits != symbol->qubits) {
    return fail(name_at, "expected " + std::to_string(symbol->params) + " parameters and " +
                             std::to_string(symbol->qubits) + " qubits for '" +
                             std::string(name) + "', found " + std::to_string(params) +
                             " and " + std::to_string(qubits));
  }
  st.library = symbol->library;
  st.gate = symbol->op;
  st.kind = is_run_gate(st.gate) && !broadcast && st.condition == kNoCondition
                ? StatementKind::RunGate
                : StatementKind::Gate;
  st.operand_count = qubits;
  if (!distinct_qubits(st, instances)) {
    return fail(name_at, "expected distinct qubits in each application of '" +
                             std::string(name) + "'");
  }
  return true;
}

// Reads a gate's qubit operands up to the token after the last one; whole
// registers (broadcast) must agree in size, which becomes `instances`.
bool Parser::broadcast_operands(std::uint32_t& instances, bool& broadcast) {
  for (;;) {
    const std::uint32_t operand_at = tok().begin;
    Operand op{};
    if (!operand(true, op)) return false;
    if (op.index == kWholeRegister) {
      const std::uint32_t size = program_.registers[op.reg].size;
      if (broadcast && size != instances) {
        return fail(operand_at, "expected a register of size " + std::to_string(instances) +
                                    ", like the register before it, found '" +
                                    std::string(program_.registers[op.reg].name) + "' of size " +
                                    std::to_string(size));
      }
      broadcast = true;
      instances = size;
    }
    program_.operands.push_back(op);
    if (!is(Tok::Comma)) return true;
    advance();
  }
}

// Whether each broadcast instance of gate statement `st` names distinct qubits.
bool Parser::distinct_qubits(const Statement& st, std::uint32_t instances) {
  if (st.operand_count < 2) return true;
  const Operand* ops = program_.operands.data() + st.first_operand;
  if (st.operand_count == 2 && ops[0].index != kWholeRegister && ops[1].index != kWholeRegister) {
    return ops[0].reg != ops[1].reg || ops[0].index != ops[1].index;  // the common cx a[i],b[j]
  }
  for (std::uint32_t i = 0; i < instances; ++i) {
    if (qubit_stamp_ == std::numeric_limits<std::uint32_t>::max()) {
      std::fill(qubit_stamps_.begin(), qubit_stamps_.end(), 0);
      qubit_stamp_ = 0;
    }
    ++qubit_stamp_;
    for (std::uint32_t k = 0; k < st.operand_count; ++k) {
      const Operand op = program_.operands[st.first_operand + k];
      const Register& reg = program_.registers[op.reg];
      std::uint32_t& stamp =
          qubit_stamps_[checked_index(qubit_stamps_.size(),
                                      reg.first + (op.index == kWholeRegister ? i : op.index))];
      if (stamp == qubit_stamp_) return false;
      stamp = qubit_stamp_;
    }
  }
  return true;
}

// Reads a parameter list from its '(' to its ')' and counts its expressions;
// with `values` (a statement's, not a body's), each must be a finite number.
bool Parser::parameters(std::uint32_t& count, bool values) {
  advance();
  count = 0;
  if (is(Tok::RParen)) {
    advance();
    return true;
  }
  for (;;) {
    const std::uint32_t begin = tok().begin;
    if (!expression()) return false;
    if (values && !finite_value(begin)) return false;
    ++count;
    const bool more = is(Tok::Comma);
    advance();
    if (!more) return true;
  }
}

// Reads one expression and stops before the ',' or ')' that ends it. An
// operand is expected first and after each operator; the counter holds the
// parentheses open within the expression.
bool Parser::expression() {
  std::uint64_t open = 0;
  bool want_operand = true;
  for (;;) {
    if (want_operand) {
      if (is(Tok::Minus) || is(Tok::Plus)) {
        advance();
      } else if (is(Tok::Int) || is(Tok::Real)) {
        advance();
        want_operand = false;
      } else if (is(Tok::LParen)) {
        ++open;
        advance();
      } else if (is(Tok::Word) && one_of(token_text(), kFunctions)) {
        advance();
        if (!expect(Tok::LParen, "'(' after the function")) return false;
        ++open;
      } else if (is_word("pi")) {
        advance();
        want_operand = false;
      } else if (const Local* local = is(Tok::Word) ? scopes_.find_local(token_text()) : nullptr;
                 local != nullptr && !local->qubit) {
        advance();
        want_operand = false;
      } else {
        return expected("a number, 'pi', a parameter, a function or '('");
      }
      continue;
    }
    if (is(Tok::Plus) || is(Tok::Minus) || is(Tok::Star) || is(Tok::Slash) || is(Tok::Caret)) {
      advance();
      want_operand = true;
    } else if (is(Tok::RParen) && open > 0) {
      --open;
      advance();
    } else if ((is(Tok::RParen) || is(Tok::Comma)) && open == 0) {
      return true;
    } else {
      return expected(open > 0 ? "an operator or ')'" : "an operator, ',' or ')'");
    }
  }
}

// Whether the expression from offset `begin` to the current token has a
// finite value, as every angle must: `7*pi/0` and `1e400` are refused where
// they are written, for every method alike. The value is kept in the
// program's values, where the methods and the statistics read it.
bool Parser::finite_value(std::uint32_t begin) {
  const std::string_view written = text_.substr(begin, tok().begin - begin);
  Tokenizer tokens(text_.substr(begin, tok().begin + 1 - begin));  // with its ',' or ')'
  tokens.advance();
  items_.clear();
  if (compile_expression(tokens, {}, items_)) {
    program_.values.push_back(evaluate(items_, {}, stack_));
    if (std::isfinite(program_.values.back())) return true;
  }
  not_finite_ = true;
  std::size_t end = written.size();
  while (end > 0 && (written[end - 1] == ' ' || written[end - 1] == '\t' ||
                     written[end - 1] == '\n' || written[end - 1] == '\r')) {
    --end;
  }
  return fail(begin, "expected a parameter whose value is a finite number, found '" +
                         std::string(written.substr(0, end)) + "'");
}

// The operands of a gate application written the common way, read by the
// tokenizer's fast path; false, leaving no trace, for the tokens to read.
bool Parser::plain_operands() {
  const std::size_t first = program_.operands.size();
  const bool read = tokens_.plain_operands([&](std::string_view name, std::uint32_t index) {
    const std::uint32_t position = find_register(name);
    if (position == kNotFound) return false;
    const Register& reg = program_.registers[position];
    if (!reg.quantum || index >= reg.size) return false;
    program_.operands.push_back({position, index});
    return true;
  });
  if (!read) program_.operands.resize(first);
  return read;
}

// Reads `name` or `name[index]`, a declared register of the given kind.
bool Parser::operand(bool quantum, Operand& out) {
  const std::uint32_t position = is(Tok::Word) ? find_register(token_text()) : kNotFound;
  if (position == kNotFound || program_.registers[position].quantum != quantum) {
    return expected(quantum ? "a quantum register declared before this statement"
                            : "a classical register declared before this statement");
  }
  const Register& reg = program_.registers[position];
  out = {position, kWholeRegister};
  // The common "q[12]" with nothing between its tokens is read in one step.
  if (const std::optional<std::uint32_t> index = tokens_.take_index(reg.size)) {
    out.index = *index;
    return true;
  }
  advance();
  if (!is(Tok::LBracket)) return true;
  advance();
  if (!is(Tok::Int)) return expected("an index");
  const std::uint64_t index = tokens_.int_value();
  if (index >= reg.size) {
    return expected("an index below " + std::to_string(reg.size) + ", the size of '" +
                    std::string(reg.name) + "'");
  }
  out.index = static_cast<std::uint32_t>(index);
  advance();
  return expect(Tok::RBracket, "']'");
}

}  // namespace

std::string InputError::text() const {
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

std::variant<QasmProgram, InputError> read_program(std::string_view text) {
  return Parser(text).read();
}

}  // namespace kestrel
