// The statement reader: a lexer that makes one token at a time and a parser
// that reads each statement with one token of look-ahead. Expressions are
// checked by a two-state machine with a parenthesis counter, so nesting
// costs no stack. The reader's working class is private to this file.
#include "src/program/program.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "engine/fault.h"
#include "engine/hashing.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

enum class Tok : std::uint8_t {
  End,        // the end of the text (also after a lexical error)
  Word,       // [A-Za-z_][A-Za-z0-9_]*: identifiers and keywords
  Int,        // [0-9]+
  Real,       // a number with a point or an exponent
  String,     // "..." or '...' on one line
  Semicolon,  // ;
  Comma,      // ,
  LParen,     // (
  RParen,     // )
  LBracket,   // [
  RBracket,   // ]
  LBrace,     // {
  RBrace,     // }
  Arrow,      // ->
  Equals,     // ==
  Plus,       // +
  Minus,      // -
  Star,       // *
  Slash,      // /
  Caret,      // ^
};

struct Token {
  Tok kind = Tok::End;     // what it is
  std::uint32_t begin = 0;  // offset of its first byte
  std::uint32_t end = 0;    // offset past its last byte
};

// Names are short: one of up to eight bytes is hashed as one word.
struct NameHash {
  using is_avalanching = void;  // both ways end in a mix
  std::size_t operator()(std::string_view name) const noexcept {
    if (name.size() > 8) return hash_bytes(name);
    std::uint64_t word = name.size() * 0x9e3779b97f4a7c15ULL;
    for (std::size_t k = 0; k < name.size(); ++k) {
      word ^= static_cast<std::uint64_t>(static_cast<unsigned char>(name[k])) << (8 * k);
    }
    return mix64(word);
  }
};

// A name of the global scope: a register or a gate.
struct Symbol {
  bool is_register;     // a qreg or creg rather than a gate
  std::uint32_t reg;    // for a register: its position in QasmProgram::registers
  std::uint32_t params; // for a gate: its number of parameters
  std::uint32_t qubits; // for a gate: its number of qubit arguments
  OpKind gate;          // for qelib1's h, s, sdg, t, tdg, x and z that gate; else I
};

struct LibraryGate {
  std::string_view name;  // as applied
  std::uint32_t params;   // parameters
  std::uint32_t qubits;   // qubit arguments
  OpKind gate;            // the optimisable gate it is, or I
};

// The gates that `include "qelib1.inc";` defines, in the file's order.
constexpr std::array<LibraryGate, 42> kQelib1 = {{
    {"u3", 3, 1, OpKind::I},     {"u2", 2, 1, OpKind::I},    {"u1", 1, 1, OpKind::I},
    {"cx", 0, 2, OpKind::I},     {"id", 0, 1, OpKind::I},    {"u0", 1, 1, OpKind::I},
    {"u", 3, 1, OpKind::I},      {"p", 1, 1, OpKind::I},     {"x", 0, 1, OpKind::X},
    {"y", 0, 1, OpKind::I},      {"z", 0, 1, OpKind::Z},     {"h", 0, 1, OpKind::H},
    {"s", 0, 1, OpKind::S},      {"sdg", 0, 1, OpKind::Sdg}, {"t", 0, 1, OpKind::T},
    {"tdg", 0, 1, OpKind::Tdg},  {"rx", 1, 1, OpKind::I},    {"ry", 1, 1, OpKind::I},
    {"rz", 1, 1, OpKind::I},     {"sx", 0, 1, OpKind::I},    {"sxdg", 0, 1, OpKind::I},
    {"cz", 0, 2, OpKind::I},     {"cy", 0, 2, OpKind::I},    {"swap", 0, 2, OpKind::I},
    {"ch", 0, 2, OpKind::I},     {"ccx", 0, 3, OpKind::I},   {"cswap", 0, 3, OpKind::I},
    {"crx", 1, 2, OpKind::I},    {"cry", 1, 2, OpKind::I},   {"crz", 1, 2, OpKind::I},
    {"cu1", 1, 2, OpKind::I},    {"cp", 1, 2, OpKind::I},    {"cu3", 3, 2, OpKind::I},
    {"csx", 0, 2, OpKind::I},    {"cu", 4, 2, OpKind::I},    {"rxx", 1, 2, OpKind::I},
    {"rzz", 1, 2, OpKind::I},    {"rccx", 0, 3, OpKind::I},  {"rc3x", 0, 4, OpKind::I},
    {"c3x", 0, 4, OpKind::I},    {"c3sqrtx", 0, 4, OpKind::I}, {"c4x", 0, 5, OpKind::I},
}};

// Words that are never identifiers.
constexpr std::array<std::string_view, 19> kKeywords = {
    "OPENQASM", "include", "qreg", "creg", "gate", "opaque", "measure", "reset", "barrier",
    "if",       "pi",      "sin",  "cos",  "tan",  "exp",    "ln",      "sqrt",  "U",
    "CX"};

constexpr std::array<std::string_view, 6> kFunctions = {"sin", "cos", "tan", "exp", "ln", "sqrt"};

constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Per byte: whether it is a blank between tokens, and whether it may
// continue a word. One table look-up per byte keeps the lexer's loops short.
enum CharClass : std::uint8_t { kBlankChar = 1, kWordChar = 2 };
constexpr std::array<std::uint8_t, 256> kCharClass = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const auto ch = static_cast<char>(c);
    if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r') table[c] = kBlankChar;
    if (is_letter(ch) || is_digit(ch) || ch == '_') table[c] = kWordChar;
  }
  return table;
}();
constexpr bool is_blank(char c) { return kCharClass[static_cast<unsigned char>(c)] == kBlankChar; }
constexpr bool is_word_char(char c) { return kCharClass[static_cast<unsigned char>(c)] == kWordChar; }

template <std::size_t N>
constexpr bool one_of(std::string_view word, const std::array<std::string_view, N>& words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// The names of a gate definition's parameters and qubit arguments.
struct Local {
  bool qubit;           // a qubit argument rather than a parameter
  std::uint32_t stamp;  // the last body application that named it
};

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  std::variant<QasmProgram, InputError> read();

 private:
  // The lexer.
  void advance();
  void lex_number(std::size_t p);
  void lex_error(std::uint32_t at);
  bool is(Tok kind) const { return tok_.kind == kind; }
  std::string_view token_text() const { return text_.substr(tok_.begin, tok_.end - tok_.begin); }
  bool is_word(std::string_view word) const { return is(Tok::Word) && token_text() == word; }
  bool is_identifier() const;
  std::uint64_t int_value() const;
  std::string found() const;

  // Errors: each records the first error only and returns false.
  bool fail(std::uint32_t offset, std::string message);
  bool expected(std::string_view what) {
    return fail(tok_.begin, "expected " + std::string(what) + ", found " + found());
  }
  bool expect(Tok kind, std::string_view what);
  std::pair<std::uint32_t, std::uint32_t> line_column(std::uint32_t offset) const;
  std::string position(std::uint32_t offset) const;

  // The parser.
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
  bool parameters(std::uint32_t& count);
  bool expression();
  bool operand(bool quantum, Operand& out);
  std::uint32_t find_register(std::string_view name);
  bool plain_operands();
  bool broadcast_operands(std::uint32_t& instances, bool& broadcast);
  bool distinct_qubits(const Statement& st, std::uint32_t instances);
  const Symbol* gate_symbol(std::string_view name);

  std::string_view text_;  // the whole program
  std::size_t pos_ = 0;    // where the lexer goes on after `tok_`
  Token tok_;              // the current token
  std::uint32_t last_end_ = 0;  // the end of the token before `tok_`
  QasmProgram program_;        // what has been read so far
  HashMap<std::string_view, Symbol, NameHash> symbols_;  // registers and gates by name
  HashMap<std::string_view, Local, NameHash> locals_;    // the gate definition being read
  std::uint32_t local_stamp_ = 0;  // one per application in a gate body
  std::vector<std::uint32_t> qubit_stamps_;  // per qubit, the last instance that named it
  std::uint32_t qubit_stamp_ = 0;            // one per broadcast instance
  std::uint32_t last_register_ = kNone;  // the register an operand named last
  bool qelib1_ = false;                      // whether qelib1.inc was included
  std::optional<InputError> error_;          // the first error found
};

// ---------------------------------------------------------------------------
// The lexer.

void Reader::advance() {
  last_end_ = tok_.end;
  const std::size_t n = text_.size();
  std::size_t p = pos_;
  for (;;) {
    while (p < n && is_blank(text_[p])) ++p;
    if (p + 1 < n && text_[p] == '/' && text_[p + 1] == '/') {
      const std::size_t line_end = text_.find('\n', p);
      p = line_end == std::string_view::npos ? n : line_end;
      continue;
    }
    break;
  }
  const auto at = static_cast<std::uint32_t>(p);
  tok_ = {Tok::End, at, at};
  if (p == n) {
    pos_ = p;
    return;
  }
  const char c = text_[p];
  const auto single = [&](Tok kind) { tok_ = {kind, at, at + 1}; };
  if (is_letter(c) || c == '_') {
    std::size_t q = p + 1;
    while (q < n && is_word_char(text_[q])) ++q;
    tok_ = {Tok::Word, at, static_cast<std::uint32_t>(q)};
  } else if (is_digit(c) || (c == '.' && p + 1 < n && is_digit(text_[p + 1]))) {
    lex_number(p);
  } else if (c == '"' || c == '\'') {
    std::size_t q = p + 1;
    while (q < n && text_[q] != c && text_[q] != '\n') ++q;
    if (q == n || text_[q] != c) return lex_error(at);
    tok_ = {Tok::String, at, static_cast<std::uint32_t>(q + 1)};
  } else {
    switch (c) {
      case ';': single(Tok::Semicolon); break;
      case ',': single(Tok::Comma); break;
      case '(': single(Tok::LParen); break;
      case ')': single(Tok::RParen); break;
      case '[': single(Tok::LBracket); break;
      case ']': single(Tok::RBracket); break;
      case '{': single(Tok::LBrace); break;
      case '}': single(Tok::RBrace); break;
      case '+': single(Tok::Plus); break;
      case '*': single(Tok::Star); break;
      case '/': single(Tok::Slash); break;
      case '^': single(Tok::Caret); break;
      case '-':
        if (p + 1 < n && text_[p + 1] == '>') {
          tok_ = {Tok::Arrow, at, at + 2};
        } else {
          single(Tok::Minus);
        }
        break;
      case '=':
        if (p + 1 < n && text_[p + 1] == '=') {
          tok_ = {Tok::Equals, at, at + 2};
          break;
        }
        [[fallthrough]];
      default: return lex_error(at);
    }
  }
  pos_ = tok_.end;
}

// Records why no token starts at `at` (the lexer found an unclosed string
// or a byte that starts no token) and ends the token stream there. Kept out
// of line: the lexer's loop stays small.
[[gnu::noinline]] void Reader::lex_error(std::uint32_t at) {
  const char c = text_[at];
  if (c == '"' || c == '\'') {
    fail(at, std::string("expected a closing ") + c + " on the line of the string");
  } else {
    const auto byte = static_cast<unsigned char>(c);
    std::string what;
    if (byte >= 0x21 && byte < 0x7f) {
      what = std::string("'") + c + "'";
    } else {
      constexpr char kHex[] = "0123456789ABCDEF";
      what = std::string("the byte 0x") + kHex[byte >> 4] + kHex[byte & 15];
    }
    fail(at, "expected a token of OpenQASM 2.0, found " + what);
  }
  tok_ = {Tok::End, at, at};
  pos_ = text_.size();
}

void Reader::lex_number(std::size_t p) {
  const std::size_t n = text_.size();
  const auto at = static_cast<std::uint32_t>(p);
  std::size_t q = p;
  while (q < n && is_digit(text_[q])) ++q;
  bool real = false;
  if (q < n && text_[q] == '.') {
    real = true;
    ++q;
    while (q < n && is_digit(text_[q])) ++q;
  }
  if (q < n && (text_[q] == 'e' || text_[q] == 'E')) {
    std::size_t e = q + 1;
    if (e < n && (text_[e] == '+' || text_[e] == '-')) ++e;
    if (e < n && is_digit(text_[e])) {
      real = true;
      q = e;
      while (q < n && is_digit(text_[q])) ++q;
    }
  }
  tok_ = {real ? Tok::Real : Tok::Int, at, static_cast<std::uint32_t>(q)};
  if (!real && q - p > 1 && text_[p] == '0') {
    fail(at, "expected an integer without leading zeros, found " + found());
    tok_ = {Tok::End, at, at};
    pos_ = n;
  }
}

bool Reader::is_identifier() const {
  if (!is(Tok::Word)) return false;
  const std::string_view word = token_text();
  return word[0] >= 'a' && word[0] <= 'z' && !one_of(word, kKeywords);
}

std::uint64_t Reader::int_value() const {
  std::uint64_t value = 0;
  for (char c : token_text()) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    value = value * 10 + digit;
  }
  return value;
}

std::string Reader::found() const {
  if (is(Tok::End)) return "the end of the text";
  constexpr std::size_t kShown = 40;
  std::string_view shown = token_text();
  if (shown.size() > kShown) {
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
    return "'" + std::string(shown.substr(0, cut)) + "...'";
  }
  return "'" + std::string(shown) + "'";
}

// ---------------------------------------------------------------------------
// Errors.

bool Reader::fail(std::uint32_t offset, std::string message) {
  if (error_) return false;
  const auto [line, column] = line_column(offset);
  error_ = InputError{line, column, std::move(message)};
  return false;
}

bool Reader::expect(Tok kind, std::string_view what) {
  if (!is(kind)) return expected(what);
  advance();
  return true;
}

std::pair<std::uint32_t, std::uint32_t> Reader::line_column(std::uint32_t offset) const {
  const std::string_view before = text_.substr(0, offset);
  const auto line = static_cast<std::uint32_t>(1 + std::count(before.begin(), before.end(), '\n'));
  const std::size_t line_start = before.rfind('\n') + 1;  // 0 when there is none
  std::uint32_t column = 1;
  for (std::size_t k = line_start; k < offset; ++k) {
    column += (static_cast<unsigned char>(text_[k]) & 0xC0) != 0x80;  // not a continuation byte
  }
  return {line, column};
}

std::string Reader::position(std::uint32_t offset) const {
  const auto [line, column] = line_column(offset);
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// ---------------------------------------------------------------------------
// The parser.

std::variant<QasmProgram, InputError> Reader::read() {
  if (text_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    return InputError{1, 1, "expected a text shorter than 4 GiB"};
  }
  symbols_.emplace("U", Symbol{false, 0, 3, 1, OpKind::I});
  symbols_.emplace("CX", Symbol{false, 0, 0, 2, OpKind::I});
  advance();
  while (!error_ && !is(Tok::End)) statement();
  if (error_) return std::move(*error_);
  return std::move(program_);
}

bool Reader::statement() {
  Statement st{};
  st.begin = tok_.begin;
  st.first_operand = static_cast<std::uint32_t>(program_.operands.size());
  st.condition = kNoCondition;
  st.kind = StatementKind::Declaration;
  st.gate = OpKind::I;

  bool ok = true;
  if (is(Tok::Semicolon)) {
    advance();
  } else if (is(Tok::RBrace)) {
    return expected("a statement (no gate body is open)");
  } else if (!is(Tok::Word)) {
    return expected("a statement");
  } else if (const auto it = symbols_.find(token_text());
             it != symbols_.end() && !it->second.is_register) {
    // No keyword but U and CX is ever a name, so gates are looked up first.
    ok = application(st, it->second);
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
  st.end = last_end_;
  st.operand_count = static_cast<std::uint32_t>(program_.operands.size()) - st.first_operand;
  program_.statements.push_back(st);
  return true;
}


bool Reader::version() {
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

bool Reader::include() {
  advance();
  if (!is(Tok::String)) return expected("a file name in quotes");
  const std::string_view name = token_text().substr(1, tok_.end - tok_.begin - 2);
  if (name != "qelib1.inc") return expected("\"qelib1.inc\", the only file this reader knows");
  if (qelib1_) return expected("\"qelib1.inc\" only once");
  for (const LibraryGate& g : kQelib1) {
    if (!symbols_.emplace(g.name, Symbol{false, 0, g.params, g.qubits, g.gate}).second) {
      return expected("no name that \"qelib1.inc\" defines to be defined before it ('" +
                      std::string(g.name) + "' is)");
    }
  }
  qelib1_ = true;
  advance();
  return expect(Tok::Semicolon, "';'");
}

bool Reader::register_declaration(bool quantum) {
  advance();
  if (!is_identifier()) return expected("a register name");
  const std::string_view name = token_text();
  if (symbols_.contains(name)) return expected("a name not defined before");
  advance();
  if (!expect(Tok::LBracket, "'['")) return false;
  if (!is(Tok::Int)) return expected("the register's size");
  std::uint32_t& declared = quantum ? program_.qubits : program_.clbits;
  const std::uint64_t size = int_value();
  if (size > kMaxBits - declared) {
    return expected("at most " + std::to_string(kMaxBits) + (quantum ? " qubits" : " classical bits") +
                    " in all");
  }
  advance();
  if (!expect(Tok::RBracket, "']'") || !expect(Tok::Semicolon, "';'")) return false;
  const auto position = static_cast<std::uint32_t>(program_.registers.size());
  program_.registers.push_back(
      Register{name, declared, static_cast<std::uint32_t>(size), quantum});
  symbols_.emplace(name, Symbol{true, position, 0, 0, OpKind::I});
  declared += static_cast<std::uint32_t>(size);
  if (quantum) qubit_stamps_.resize(program_.qubits, 0);
  return true;
}

bool Reader::gate_definition(bool opaque) {
  advance();
  if (!is_identifier()) return expected("a gate name");
  const std::string_view name = token_text();
  if (symbols_.contains(name)) return expected("a name not defined before");
  advance();
  locals_.clear();
  std::uint32_t params = 0;
  std::uint32_t qubits = 0;
  if (is(Tok::LParen)) {
    advance();
    while (!is(Tok::RParen)) {
      if (!is_identifier()) return expected("a parameter name");
      if (!locals_.emplace(token_text(), Local{false, 0}).second) {
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
    if (!locals_.emplace(token_text(), Local{true, 0}).second) {
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
    const std::string opened = position(tok_.begin);
    advance();
    while (!is(Tok::RBrace)) {
      if (is(Tok::End)) return expected("'}' closing the body opened at " + opened);
      if (!body_statement(name)) return false;
    }
    advance();
  }
  symbols_.emplace(name, Symbol{false, 0, params, qubits, OpKind::I});
  return true;
}

// Reads a gate application or barrier inside the body of gate `gate`; its
// operands are the definition's qubit arguments.
bool Reader::body_statement(std::string_view gate) {
  if (!is(Tok::Word) || (one_of(token_text(), kKeywords) && !is_word("barrier") &&
                         !is_word("U") && !is_word("CX"))) {
    return expected("a gate application, 'barrier' or '}'");
  }
  const bool barrier = is_word("barrier");
  const std::uint32_t name_at = tok_.begin;
  const std::string_view name = token_text();
  const Symbol* symbol = barrier ? nullptr : gate_symbol(name);
  if (!barrier && symbol == nullptr) return false;
  advance();
  std::uint32_t params = 0;
  if (!barrier && is(Tok::LParen) && !parameters(params)) return false;
  ++local_stamp_;
  std::uint32_t qubits = 0;
  for (;;) {
    const auto local = is(Tok::Word) ? locals_.find(token_text()) : locals_.end();
    if (local == locals_.end() || !local->second.qubit) {
      return expected("a qubit argument of '" + std::string(gate) + "'");
    }
    if (local->second.stamp == local_stamp_ && !barrier) {
      return expected("distinct qubits");
    }
    local->second.stamp = local_stamp_;
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
const Symbol* Reader::gate_symbol(std::string_view name) {
  const auto it = symbols_.find(name);
  if (it == symbols_.end()) {
    expected("a gate defined before this statement");
    return nullptr;
  }
  if (it->second.is_register) {
    expected("a gate name, not a register");
    return nullptr;
  }
  return &it->second;
}

bool Reader::conditional(Statement& st) {
  advance();
  if (!expect(Tok::LParen, "'('")) return false;
  const auto it = is(Tok::Word) ? symbols_.find(token_text()) : symbols_.end();
  if (it == symbols_.end() || !it->second.is_register ||
      program_.registers[it->second.reg].quantum) {
    return expected("a classical register");
  }
  st.condition = it->second.reg;
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
bool Reader::operation(Statement& st) {
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

bool Reader::measure(Statement& st) {
  advance();
  Operand qubit{};
  Operand clbit{};
  if (!operand(true, qubit)) return false;
  if (!expect(Tok::Arrow, "'->'")) return false;
  const std::uint32_t clbit_at = tok_.begin;
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

bool Reader::application(Statement& st, const Symbol& gate) {
  const Symbol* symbol = &gate;
  const std::uint32_t name_at = tok_.begin;
  const std::string_view name = token_text();
  std::uint32_t params = 0;
  std::uint32_t instances = 1;
  bool broadcast = false;
  if (plain_operands()) {
    advance();
  } else {
    advance();
    if (is(Tok::LParen) && !parameters(params)) return false;
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
  st.gate = symbol->gate;
  st.kind = st.gate != OpKind::I && !broadcast && st.condition == kNoCondition
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
bool Reader::broadcast_operands(std::uint32_t& instances, bool& broadcast) {
  for (;;) {
    const std::uint32_t operand_at = tok_.begin;
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
bool Reader::distinct_qubits(const Statement& st, std::uint32_t instances) {
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

// Reads a parameter list from its '(' to its ')' and counts its expressions.
bool Reader::parameters(std::uint32_t& count) {
  advance();
  count = 0;
  if (is(Tok::RParen)) {
    advance();
    return true;
  }
  for (;;) {
    if (!expression()) return false;
    ++count;
    const bool more = is(Tok::Comma);
    advance();
    if (!more) return true;
  }
}

// Reads one expression and stops before the ',' or ')' that ends it. An
// operand is expected first and after each operator; the counter holds the
// parentheses open within the expression.
bool Reader::expression() {
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
      } else if (const auto local = is(Tok::Word) ? locals_.find(token_text()) : locals_.end();
                 local != locals_.end() && !local->second.qubit) {
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

// Reads `name` or `name[index]`, a declared register of the given kind.
// The position of the register called `name`, or kNone. Programs name the
// same register over and over: the last one found is tried before the table.
std::uint32_t Reader::find_register(std::string_view name) {
  if (last_register_ < program_.registers.size() &&
      program_.registers[last_register_].name == name) {
    return last_register_;
  }
  const auto it = symbols_.find(name);
  if (it == symbols_.end() || !it->second.is_register) return kNone;
  last_register_ = it->second.reg;
  return last_register_;
}

// The operands of a gate application written the common way, "q[1],r[2];"
// after the name and one blank, with at most one blank after each comma:
// read byte by byte and appended, with tok_ left on the ';'. Anything else,
// errors included, leaves no trace and returns false for the tokens to read.
bool Reader::plain_operands() {
  const std::size_t n = text_.size();
  const std::size_t first = program_.operands.size();
  std::size_t p = tok_.end;
  if (p >= n || text_[p] != ' ') return false;
  ++p;
  for (;;) {
    std::size_t q = p;
    while (q < n && is_word_char(text_[q])) ++q;
    const std::uint32_t position = find_register(text_.substr(p, q - p));
    if (position == kNone || !program_.registers[position].quantum || q + 2 >= n ||
        text_[q] != '[' || !is_digit(text_[q + 1]) || (text_[q + 1] == '0' && is_digit(text_[q + 2]))) {
      break;
    }
    const std::uint32_t size = program_.registers[position].size;
    std::uint64_t index = 0;
    ++q;
    while (q < n && is_digit(text_[q]) && index < size) {
      index = index * 10 + static_cast<std::uint64_t>(text_[q] - '0');
      ++q;
    }
    if (q + 1 >= n || text_[q] != ']' || index >= size) break;
    program_.operands.push_back({position, static_cast<std::uint32_t>(index)});
    q += 1;
    if (text_[q] == ';') {
      tok_ = {Tok::Semicolon, static_cast<std::uint32_t>(q), static_cast<std::uint32_t>(q + 1)};
      pos_ = q + 1;
      return true;
    }
    if (text_[q] != ',') break;
    p = q + 1 + (q + 1 < n && text_[q + 1] == ' ');
  }
  program_.operands.resize(first);
  return false;
}

bool Reader::operand(bool quantum, Operand& out) {
  const std::uint32_t position = is(Tok::Word) ? find_register(token_text()) : kNone;
  if (position == kNone || program_.registers[position].quantum != quantum) {
    return expected(quantum ? "a quantum register declared before this statement"
                            : "a classical register declared before this statement");
  }
  const Register& reg = program_.registers[position];
  out = {position, kWholeRegister};
  // The common "q[12]" with nothing between its tokens is read in one step.
  std::size_t p = tok_.end;
  if (p + 2 < text_.size() && text_[p] == '[' && is_digit(text_[p + 1]) &&
      (text_[p + 1] != '0' || !is_digit(text_[p + 2]))) {
    std::uint64_t index = 0;
    std::size_t q = p + 1;
    while (q < text_.size() && is_digit(text_[q]) && index < reg.size) {
      index = index * 10 + static_cast<std::uint64_t>(text_[q] - '0');
      ++q;
    }
    if (q < text_.size() && text_[q] == ']' && index < reg.size) {
      out.index = static_cast<std::uint32_t>(index);
      pos_ = q + 1;
      tok_.end = static_cast<std::uint32_t>(q + 1);
      advance();
      return true;
    }
  }
  advance();
  if (!is(Tok::LBracket)) return true;
  advance();
  if (!is(Tok::Int)) return expected("an index");
  const std::uint64_t index = int_value();
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
  return Reader(text).read();
}

}  // namespace kestrel
