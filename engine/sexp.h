// The s-expression tree and its reader.
//
// "(seq (seq ?a ?b) ?c)" reads as List[String "seq", List[String "seq",
// String "?a", String "?b"], String "?c"]. The reader reads one expression
// from the start of the text and ignores whatever follows it; it reports the
// first problem as a `ParseError` with a 1-based line and column counted in
// Unicode code points.
//
// Nesting depth is bounded only by memory: reading, copying, comparing,
// printing and destroying a `Sexp` all use explicit stacks.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel {

class Sexp {
 public:
  enum class Kind {
    String,  // an atom, or the contents of a quoted string
    List,    // a parenthesised list of expressions
    Empty,   // the reading of an empty text
  };

  Sexp() = default;  // Empty
  static Sexp string(std::string text) { return Sexp(Kind::String, std::move(text), {}); }
  static Sexp list(std::vector<Sexp> items) { return Sexp(Kind::List, {}, std::move(items)); }

  Sexp(const Sexp& other);
  Sexp(Sexp&& other) noexcept = default;
  Sexp& operator=(const Sexp& other);
  Sexp& operator=(Sexp&& other) noexcept;
  ~Sexp();

  Kind kind() const noexcept { return kind_; }
  bool is_string() const noexcept { return kind_ == Kind::String; }
  bool is_list() const noexcept { return kind_ == Kind::List; }
  bool is_empty() const noexcept { return kind_ == Kind::Empty; }
  // The text of a String; empty for the other kinds.
  const std::string& text() const noexcept { return text_; }
  // The elements of a List; empty for the other kinds.
  const std::vector<Sexp>& items() const noexcept { return items_; }

  bool operator==(const Sexp& other) const;

  // Field-wise form: String("seq"), List([String("I")]), Empty.
  std::string debug() const;

 private:
  Sexp(Kind kind, std::string text, std::vector<Sexp> items)
      : kind_(kind), text_(std::move(text)), items_(std::move(items)) {}

  // Moves every descendant out of `items_` and destroys them one level at a time.
  void release_items() noexcept;

  Kind kind_ = Kind::Empty;
  std::string text_;         // String: the text
  std::vector<Sexp> items_;  // List: the elements, in order
};

// The first problem met by the reader.
struct ParseError {
  std::string msg;  // "Unexpected )" or "End of file reached"
  unsigned line;    // 1-based line of the position where reading stopped
  unsigned col;     // 1-based column (in code points) of that position

  bool operator==(const ParseError&) const = default;
  // ParseError { msg: "Unexpected )", line: 1, col: 1 }
  std::string debug() const;
};

// Reads one expression from the start of `text`; "" reads as Empty.
std::variant<Sexp, ParseError> parse_str(std::string_view text);

}  // namespace kestrel
