// The lexer, the index fast path, the positions of errors and the count of
// separators.
#include "src/program/tokenizer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace kestrel {

void Tokenizer::advance() {
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
[[gnu::noinline]] void Tokenizer::lex_error(std::uint32_t at) {
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

void Tokenizer::lex_number(std::size_t p) {
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

std::uint64_t Tokenizer::int_value() const {
  std::uint64_t value = 0;
  for (char c : text()) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    value = value * 10 + digit;
  }
  return value;
}

std::string Tokenizer::found() const {
  if (is(Tok::End)) return "the end of the text";
  constexpr std::size_t kShown = 40;
  std::string_view shown = text();
  if (shown.size() > kShown) {
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
    return "'" + std::string(shown.substr(0, cut)) + "...'";
  }
  return "'" + std::string(shown) + "'";
}

bool Tokenizer::fail(std::uint32_t offset, std::string message) {
  if (error_) return false;
  const auto [line, column] = line_column(offset);
  error_ = InputError{line, column, std::move(message)};
  return false;
}

bool Tokenizer::expect(Tok kind, std::string_view what) {
  if (!is(kind)) return expected(what);
  advance();
  return true;
}

std::pair<std::uint32_t, std::uint32_t> Tokenizer::line_column(std::uint32_t offset) const {
  const std::string_view before = text_.substr(0, offset);
  const auto line = static_cast<std::uint32_t>(1 + std::count(before.begin(), before.end(), '\n'));
  const std::size_t line_start = before.rfind('\n') + 1;  // 0 when there is none
  std::uint32_t column = 1;
  for (std::size_t k = line_start; k < offset; ++k) {
    column += (static_cast<unsigned char>(text_[k]) & 0xC0) != 0x80;  // not a continuation byte
  }
  return {line, column};
}

std::string Tokenizer::position(std::uint32_t offset) const {
  const auto [line, column] = line_column(offset);
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::optional<std::uint32_t> Tokenizer::take_index(std::uint32_t size) {
  const std::size_t p = tok_.end;
  if (p + 2 >= text_.size() || text_[p] != '[' || !is_digit(text_[p + 1]) ||
      (text_[p + 1] == '0' && is_digit(text_[p + 2]))) {
    return std::nullopt;
  }
  std::uint64_t index = 0;
  std::size_t q = p + 1;
  while (q < text_.size() && is_digit(text_[q]) && index < size) {
    index = index * 10 + static_cast<std::uint64_t>(text_[q] - '0');
    ++q;
  }
  if (q >= text_.size() || text_[q] != ']' || index >= size) return std::nullopt;
  pos_ = q + 1;
  tok_.end = static_cast<std::uint32_t>(q + 1);
  advance();
  return static_cast<std::uint32_t>(index);
}

namespace {

// How many of the eight bytes of `word` equal the byte repeated in
// `pattern`: a byte equal to it leaves x = 0, the only byte whose top bit
// stays clear in (x & 0x7f) + 0x7f and in x; a multiply adds up the flags.
constexpr unsigned bytes_equal(std::uint64_t word, std::uint64_t pattern) {
  constexpr std::uint64_t low = 0x7f7f7f7f7f7f7f7fULL, ones = 0x0101010101010101ULL;
  const std::uint64_t x = word ^ pattern;
  const std::uint64_t zero = ~(((x & low) + low) | x | low);
  return static_cast<unsigned>(((zero >> 7) * ones) >> 56);
}

}  // namespace

std::pair<std::size_t, std::size_t> count_separators(std::string_view text) {
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  std::size_t semicolons = 0, commas = 0, i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    semicolons += bytes_equal(word, ones * ';');
    commas += bytes_equal(word, ones * ',');
  }
  for (; i < text.size(); ++i) {
    semicolons += text[i] == ';';
    commas += text[i] == ',';
  }
  return {semicolons, commas};
}

}  // namespace kestrel
