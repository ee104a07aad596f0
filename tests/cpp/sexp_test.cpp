#include "engine/sexp.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kestrel {

// Readable failure output for ParseError comparisons.
void PrintTo(const ParseError& error, std::ostream* out) { *out << error.debug(); }

namespace {

// The reading of `text` in debug form, or the error's debug form.
std::string read(std::string_view text) {
  auto result = parse_str(text);
  if (auto* e = std::get_if<ParseError>(&result)) return e->debug();
  return std::get<Sexp>(result).debug();
}

ParseError error_of(std::string_view text) {
  auto result = parse_str(text);
  EXPECT_TRUE(std::holds_alternative<ParseError>(result)) << text;
  if (auto* e = std::get_if<ParseError>(&result)) return *e;
  return {};
}

TEST(ParseStr, Shapes) {
  EXPECT_EQ(read(""), "Empty");
  EXPECT_EQ(read("I"), "String(\"I\")");
  EXPECT_EQ(read("()"), "List([])");
  EXPECT_EQ(read("(seq I ?x)"), "List([String(\"seq\"), String(\"I\"), String(\"?x\")])");
  EXPECT_EQ(read("(seq (seq ?a ?b) ?c)"),
            "List([String(\"seq\"), List([String(\"seq\"), String(\"?a\"), String(\"?b\")]), "
            "String(\"?c\")])");
  EXPECT_EQ(read("((a))"), "List([List([String(\"a\")])])");
  // Lists skip line feeds and carriage returns between elements.
  EXPECT_EQ(read("(\r\n a\n\tb\r)"), "List([String(\"a\"), String(\"b\")])");
}

TEST(ParseStr, AtomBoundaries) {
  // Tabs and quotes stay inside an atom.
  EXPECT_EQ(read("a\tb"), "String(\"a\\tb\")");
  EXPECT_EQ(read("a\"b c"), "String(\"a\\\"b\")");
  // Space, line feed, carriage return and both parentheses end it.
  EXPECT_EQ(read("ab cd"), "String(\"ab\")");
  EXPECT_EQ(read("ab\ncd"), "String(\"ab\")");
  EXPECT_EQ(read("ab\rcd"), "String(\"ab\")");
  EXPECT_EQ(read("ab(cd)"), "String(\"ab\")");
  EXPECT_EQ(read("ab)"), "String(\"ab\")");
  EXPECT_EQ(read("(a(b)c)"), "List([String(\"a\"), List([String(\"b\")]), String(\"c\")])");
  // Only spaces and tabs are skipped before a top-level expression, so a
  // leading line feed starts an empty atom.
  EXPECT_EQ(read(" \t x"), "String(\"x\")");
  EXPECT_EQ(read("\nx"), "String(\"\")");
}

TEST(ParseStr, QuotedStrings) {
  EXPECT_EQ(read("\"a b\""), "String(\"a b\")");
  EXPECT_EQ(read("\"\""), "String(\"\")");
  EXPECT_EQ(read("(\"(x)\" y)"), "List([String(\"(x)\"), String(\"y\")])");
  // Backslashes are kept; a quote after a backslash does not close.
  EXPECT_EQ(read(R"("a\"b")"), R"(String("a\\\"b"))");
  EXPECT_EQ(read("\"a\nb\""), "String(\"a\\nb\")");
}

TEST(ParseStr, TrailingInputIgnored) {
  EXPECT_EQ(read("(seq I I) more words"), "List([String(\"seq\"), String(\"I\"), String(\"I\")])");
  EXPECT_EQ(read("x )"), "String(\"x\")");
  EXPECT_EQ(read("() ("), "List([])");
}

TEST(ParseStr, ErrorPositions) {
  EXPECT_EQ(error_of(")"), (ParseError{"Unexpected )", 1, 1}));
  EXPECT_EQ(error_of("  \t)"), (ParseError{"Unexpected )", 1, 4}));
  EXPECT_EQ(error_of("(seq I"), (ParseError{"End of file reached", 1, 7}));
  EXPECT_EQ(error_of("("), (ParseError{"End of file reached", 1, 2}));
  EXPECT_EQ(error_of(" "), (ParseError{"End of file reached", 1, 2}));
  EXPECT_EQ(error_of("(a\n  b\n"), (ParseError{"End of file reached", 3, 1}));
  EXPECT_EQ(error_of("(a\n (b"), (ParseError{"End of file reached", 2, 4}));
  EXPECT_EQ(error_of("\"abc"), (ParseError{"End of file reached", 1, 5}));
  EXPECT_EQ(error_of("\"ab\\\""), (ParseError{"End of file reached", 1, 6}));
  // Columns count code points, not bytes: "é" and "λ" are two bytes each.
  EXPECT_EQ(error_of("(é λ"), (ParseError{"End of file reached", 1, 5}));
  EXPECT_EQ(error_of("(\"é\"\n\"λλ"), (ParseError{"End of file reached", 2, 4}));
  EXPECT_EQ(error_of("(a\r\n"), (ParseError{"End of file reached", 2, 1}));
}

TEST(ParseError, DebugForm) {
  EXPECT_EQ((ParseError{"Unexpected )", 1, 1}).debug(),
            "ParseError { msg: \"Unexpected )\", line: 1, col: 1 }");
}

TEST(Sexp, CopyAndCompare) {
  const Sexp a = std::get<Sexp>(parse_str("(seq (par x y) \"q\")"));
  Sexp b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(b.debug(), a.debug());
  EXPECT_NE(a, std::get<Sexp>(parse_str("(seq (par x z) \"q\")")));
  EXPECT_NE(a, std::get<Sexp>(parse_str("(seq (par x y))")));
  EXPECT_NE(Sexp(), Sexp::string(""));
  EXPECT_NE(Sexp::list({}), Sexp::string(""));
  b = Sexp::string("z");
  EXPECT_EQ(b, Sexp::string("z"));
  EXPECT_EQ(a.items().size(), 3u);
}

TEST(Sexp, DeepNestingUsesNoCallStack) {
  constexpr int kDepth = 200000;
  const std::string text = std::string(kDepth, '(') + "x" + std::string(kDepth, ')');
  auto result = parse_str(text);
  ASSERT_TRUE(std::holds_alternative<Sexp>(result));
  const Sexp& outer = std::get<Sexp>(result);
  int depth = 0;
  const Sexp* s = &outer;
  while (s->is_list()) {
    ASSERT_EQ(s->items().size(), 1u);
    s = &s->items()[0];
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(s->text(), "x");

  Sexp copy = outer;  // copying, comparing and destroying are iterative too
  EXPECT_EQ(copy, outer);
  EXPECT_EQ(copy.debug().size(), kDepth * std::string("List([])").size() + std::string("String(\"x\")").size());

  EXPECT_EQ(error_of(std::string(kDepth, '(')), (ParseError{"End of file reached", 1, kDepth + 1}));
}

}  // namespace
}  // namespace kestrel
