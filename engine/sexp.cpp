// The s-expression reader and the debug forms of expressions and their errors.
#include "engine/sexp.h"

#include <cstddef>
#include <utility>

#include "engine/symbol.h"

namespace kestrel {

// ---- Sexp: iterative copy, comparison, printing and destruction ----

Sexp::Sexp(const Sexp& other) : kind_(other.kind_), text_(other.text_) {
  // Each pending pair is a source list and its copy, whose elements are
  // already sized but not yet filled. Element addresses of a copy stay put
  // because its vector is never resized again.
  std::vector<std::pair<const Sexp*, Sexp*>> todo;
  if (!other.items_.empty()) todo.emplace_back(&other, this);
  while (!todo.empty()) {
    auto [src, dst] = todo.back();
    todo.pop_back();
    dst->items_.resize(src->items_.size());
    for (std::size_t k = 0; k < src->items_.size(); ++k) {
      const Sexp& from = src->items_[k];
      Sexp& to = dst->items_[k];
      to.kind_ = from.kind_;
      to.text_ = from.text_;
      if (!from.items_.empty()) todo.emplace_back(&from, &to);
    }
  }
}

Sexp& Sexp::operator=(const Sexp& other) {
  if (this != &other) *this = Sexp(other);
  return *this;
}

Sexp& Sexp::operator=(Sexp&& other) noexcept {
  if (this != &other) {
    release_items();
    kind_ = other.kind_;
    text_ = std::move(other.text_);
    items_ = std::move(other.items_);
  }
  return *this;
}

Sexp::~Sexp() { release_items(); }

void Sexp::release_items() noexcept {
  if (items_.empty()) return;
  std::vector<Sexp> doomed = std::move(items_);
  items_.clear();
  // Every Sexp popped here has had its elements moved onto `doomed`, so its
  // own destructor has nothing left to recurse into.
  while (!doomed.empty()) {
    Sexp last = std::move(doomed.back());
    doomed.pop_back();
    for (Sexp& item : last.items_) doomed.push_back(std::move(item));
    last.items_.clear();
  }
}

bool Sexp::operator==(const Sexp& other) const {
  std::vector<std::pair<const Sexp*, const Sexp*>> todo{{this, &other}};
  while (!todo.empty()) {
    auto [a, b] = todo.back();
    todo.pop_back();
    if (a->kind_ != b->kind_ || a->text_ != b->text_ || a->items_.size() != b->items_.size()) {
      return false;
    }
    for (std::size_t k = 0; k < a->items_.size(); ++k) todo.emplace_back(&a->items_[k], &b->items_[k]);
  }
  return true;
}

std::string Sexp::debug() const {
  std::string out;
  // A frame is a list being printed and the index of its next element.
  std::vector<std::pair<const Sexp*, std::size_t>> open;
  const Sexp* next = this;
  while (true) {
    if (next != nullptr) {
      switch (next->kind_) {
        case Kind::String: out += "String(" + quote_text(next->text_) + ")"; break;
        case Kind::Empty: out += "Empty"; break;
        case Kind::List:
          out += "List([";
          open.emplace_back(next, 0);
          break;
      }
      next = nullptr;
    }
    if (open.empty()) return out;
    auto& [list, index] = open.back();
    if (index == list->items_.size()) {
      out += "])";
      open.pop_back();
      continue;
    }
    if (index > 0) out += ", ";
    next = &list->items_[index++];
  }
}

std::string ParseError::debug() const {
  return "ParseError { msg: " + quote_text(msg) + ", line: " + std::to_string(line) +
         ", col: " + std::to_string(col) + " }";
}

// ---- The reader ----

namespace {

// The reading position. Text is scanned byte by byte: every character the
// reader tests for is ASCII, and ASCII bytes never occur inside a multi-byte
// UTF-8 sequence. Columns count code points, so continuation bytes do not
// advance the column.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool at_end() const noexcept { return pos_ == text_.size(); }
  char peek() const noexcept { return text_[pos_]; }
  std::size_t pos() const noexcept { return pos_; }
  std::string_view slice(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }

  void advance() noexcept {
    const char c = text_[pos_++];
    if (c == '\n') {
      ++line_;
      col_ = 0;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++col_;
    }
  }

  // Skips spaces and tabs, or also line feeds and carriage returns.
  void skip_blanks(bool newlines) noexcept {
    while (!at_end()) {
      const char c = peek();
      if (c == ' ' || c == '\t' || (newlines && (c == '\n' || c == '\r'))) {
        advance();
      } else {
        break;
      }
    }
  }

  ParseError error(const char* msg) const { return ParseError{msg, line_ + 1, col_ + 1}; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;  // byte offset of the next character
  unsigned line_ = 0;    // 0-based line of the next character
  unsigned col_ = 0;     // 0-based column of the next character
};

}  // namespace

std::variant<Sexp, ParseError> parse_str(std::string_view text) {
  if (text.empty()) return Sexp();
  Reader in(text);
  // Lists opened and not yet closed, innermost last.
  std::vector<std::vector<Sexp>> open;
  // True when the next step reads an expression, false when it continues the
  // innermost open list (skipping blanks, then an element or its close).
  bool want_expr = true;
  while (true) {
    Sexp done;
    if (want_expr) {
      in.skip_blanks(false);
      if (in.at_end()) return in.error("End of file reached");
      const char c = in.peek();
      if (c == ')') return in.error("Unexpected )");
      if (c == '(') {
        in.advance();
        open.emplace_back();
        want_expr = false;
        continue;
      }
      if (c == '"') {
        in.advance();
        const std::size_t start = in.pos();
        char prev = '"';
        while (true) {
          if (in.at_end()) return in.error("End of file reached");
          const char ch = in.peek();
          if (ch == '"' && prev != '\\') break;
          prev = ch;
          in.advance();
        }
        done = Sexp::string(std::string(in.slice(start, in.pos())));
        in.advance();
      } else {
        const std::size_t start = in.pos();
        while (!in.at_end()) {
          const char ch = in.peek();
          if (ch == ' ' || ch == '\n' || ch == '\r' || ch == '(' || ch == ')') break;
          in.advance();
        }
        done = Sexp::string(std::string(in.slice(start, in.pos())));
      }
    } else {
      in.skip_blanks(true);
      if (!in.at_end() && in.peek() != ')') {
        want_expr = true;
        continue;
      }
      if (in.at_end()) return in.error("End of file reached");
      in.advance();
      in.skip_blanks(false);
      done = Sexp::list(std::move(open.back()));
      open.pop_back();
    }
    if (open.empty()) return done;
    open.back().push_back(std::move(done));
    want_expr = false;
  }
}

}  // namespace kestrel
