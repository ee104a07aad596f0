// The statement reader's tokens: a lexer that makes one token at a time,
// the positions of errors, and the byte-level fast paths for operands and
// for counting separators.
//
// For "h q[0];" the tokens are Word "h", Word "q", LBracket, Int "0",
// RBracket and Semicolon, each a kind and a byte span; blanks and "//"
// comments lie between them. The first error, lexical or found by the
// parser through `fail`, is kept with its line and column (counted in
// characters) and ends the token stream. Positions are counted only when an
// error is reported, so reading stays linear in the text.
//
// Most operands are written "q[12]" and most operand lists "q[1],r[2];":
// `take_index` and `plain_operands` read those byte by byte, and leave the
// tokenizer exactly where the tokens would have left it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "src/program/program.h"

namespace kestrel {

enum class Tok : std::uint8_t {
  End,        // the end of the text (also after an error)
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
  Tok kind = Tok::End;      // what it is
  std::uint32_t begin = 0;  // offset of its first byte
  std::uint32_t end = 0;    // offset past its last byte
};

constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Per byte: whether it is a blank between tokens, and whether it may
// continue a word. One table look-up per byte keeps the lexer's loops short.
enum CharClass : std::uint8_t { kBlankChar = 1, kWordChar = 2 };
inline constexpr std::array<std::uint8_t, 256> kCharClass = [] {
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

class Tokenizer {
 public:
  // `text` must be shorter than 4 GiB; it is not copied.
  explicit Tokenizer(std::string_view text) : text_(text) {}
  Tokenizer(const Tokenizer&) = delete;
  Tokenizer& operator=(const Tokenizer&) = delete;

  // Moves to the next token.
  void advance();

  const Token& token() const { return tok_; }
  bool is(Tok kind) const { return tok_.kind == kind; }
  std::string_view text() const { return text_.substr(tok_.begin, tok_.end - tok_.begin); }
  bool is_word(std::string_view word) const { return is(Tok::Word) && text() == word; }
  // The end of the token before the current one.
  std::uint32_t last_end() const { return last_end_; }
  // The value of an Int token, or the largest value when it does not fit.
  std::uint64_t int_value() const;
  // The current token for a message: "'h'", "the end of the text".
  std::string found() const;

  // Records the first error, at byte `offset`, and returns false.
  bool fail(std::uint32_t offset, std::string message);
  // "expected <what>, found <the current token>" at the current token.
  bool expected(std::string_view what) {
    return fail(tok_.begin, "expected " + std::string(what) + ", found " + found());
  }
  // Moves past a token of `kind`, or records that `what` was expected.
  bool expect(Tok kind, std::string_view what);
  const std::optional<InputError>& error() const { return error_; }
  std::optional<InputError>& error() { return error_; }
  // "line 3, column 5" for byte `offset`.
  std::string position(std::uint32_t offset) const;

  // When "[digits]" follows the current token with nothing between, its
  // digits without a leading zero and their value below `size`: moves past
  // the ']' as the tokens would and returns the value. Else returns nothing
  // and stays.
  std::optional<std::uint32_t> take_index(std::uint32_t size);

  // Reads the operands of a gate application written the common way,
  // "q[1],r[2];" after the current token and one blank, with at most one
  // blank after each comma: `operand(name, index)` is called on each and
  // returns whether it takes it, and at the ';' that token becomes the
  // current one and the result is true. Anything else returns false having
  // moved nothing; what `operand` took is then the caller's to undo.
  template <class F>
  bool plain_operands(F&& operand);

 private:
  void lex_number(std::size_t p);
  void lex_error(std::uint32_t at);
  std::pair<std::uint32_t, std::uint32_t> line_column(std::uint32_t offset) const;

  std::string_view text_;                // the whole program
  std::size_t pos_ = 0;                  // where lexing goes on after `tok_`
  Token tok_;                            // the current token
  std::uint32_t last_end_ = 0;           // the end of the token before `tok_`
  std::optional<InputError> error_;      // the first error found
};

template <class F>
bool Tokenizer::plain_operands(F&& operand) {
  const std::size_t n = text_.size();
  std::size_t p = tok_.end;
  if (p >= n || text_[p] != ' ') return false;
  ++p;
  for (;;) {
    std::size_t q = p;
    while (q < n && is_word_char(text_[q])) ++q;
    const std::string_view name = text_.substr(p, q - p);
    if (q + 2 >= n || text_[q] != '[' || !is_digit(text_[q + 1]) ||
        (text_[q + 1] == '0' && is_digit(text_[q + 2]))) {
      return false;
    }
    // Digits past the largest register size cannot index one: stop there.
    constexpr std::uint64_t kPast = std::uint64_t{kMaxBits} + 1;
    std::uint64_t index = 0;
    ++q;
    while (q < n && is_digit(text_[q]) && index < kPast) {
      index = index * 10 + static_cast<std::uint64_t>(text_[q] - '0');
      ++q;
    }
    if (q + 1 >= n || text_[q] != ']' || index >= kPast ||
        !operand(name, static_cast<std::uint32_t>(index))) {
      return false;
    }
    q += 1;
    if (text_[q] == ';') {
      last_end_ = static_cast<std::uint32_t>(q);  // the end of the ']'
      tok_ = {Tok::Semicolon, static_cast<std::uint32_t>(q), static_cast<std::uint32_t>(q + 1)};
      pos_ = q + 1;
      return true;
    }
    if (text_[q] != ',') return false;
    p = q + 1 + (q + 1 < n && text_[q + 1] == ' ');
  }
}

// How many ';' and ',' a text holds, read eight bytes at a time: the
// parser reserves its statements and operands from them.
std::pair<std::size_t, std::size_t> count_separators(std::string_view text);

}  // namespace kestrel
