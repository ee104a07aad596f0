// The s-expression reader, and deeply nested text.
#include "engine/sexp.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// The reading of `text` or its error, in debug form.
std::string read_sexp(std::string_view text) {
  auto result = parse_str(text);
  if (auto* e = std::get_if<ParseError>(&result)) return e->debug();
  return std::get<Sexp>(result).debug();
}

TEST(ParseStr, Readings) {
  const struct {
    std::string_view text;
    const char* reading;
  } cases[] = {
      {"", "Empty"},
      {"()", "List([])"},
      // Lists skip line feeds and carriage returns between elements.
      {"(\r\n a\n\tb\r)", "List([String(\"a\"), String(\"b\")])"},
      // Atoms end at a space, line feed, carriage return or parenthesis.
      {"a\tb\"c d", "String(\"a\\tb\\\"c\")"},
      {"ab\rcd", "String(\"ab\")"},
      {" \t x", "String(\"x\")"},
      // Only spaces and tabs come before a top-level expression.
      {"\nx", "String(\"\")"},
      // Quoted strings keep backslashes; a quote after one does not close.
      {"(\"(x) y\" \"\")", "List([String(\"(x) y\"), String(\"\")])"},
      {R"("a\"b")", R"(String("a\\\"b"))"},
      // Whatever follows the first expression is not read.
      {"() (", "List([])"},
      // Errors carry a 1-based line and a column counted in code points.
      {")", "ParseError { msg: \"Unexpected )\", line: 1, col: 1 }"},
      {"  \t)", "ParseError { msg: \"Unexpected )\", line: 1, col: 4 }"},
      {" ", "ParseError { msg: \"End of file reached\", line: 1, col: 2 }"},
      {"(a\n  b\n", "ParseError { msg: \"End of file reached\", line: 3, col: 1 }"},
      {"(a\r\n (b", "ParseError { msg: \"End of file reached\", line: 2, col: 4 }"},
      {"\"ab\\\"", "ParseError { msg: \"End of file reached\", line: 1, col: 6 }"},
      {"(\"é\"\n\"λλ", "ParseError { msg: \"End of file reached\", line: 2, col: 4 }"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_sexp(c.text), c.reading) << c.text;
}

TEST(Sexp, CopiesCompareEqualAndIndependent) {
  const Sexp a = std::get<Sexp>(parse_str("(seq (par x (y)) \"q\")"));
  Sexp b = Sexp::string("z");
  b = a;
  EXPECT_EQ(b.debug(), a.debug());
  for (const char* other : {"(seq (par x (z)) \"q\")", "(seq (par x (y)))", "(seq (par x y) \"q\")", "\"\""}) {
    EXPECT_NE(a, std::get<Sexp>(parse_str(other))) << other;
  }
  EXPECT_NE(Sexp(), Sexp::string(""));
  EXPECT_NE(Sexp::list({}), Sexp::string(""));
}

constexpr int kDepth = 200'000;  // nesting of s-expressions and patterns

void on_small_stack(const std::function<void()>& work) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  auto run = [](void* w) -> void* {
    (*static_cast<const std::function<void()>*>(w))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

// Text nested this deep is handled on a thread with a 256 KB stack, so that
// any walk recursing once per level fails here whatever the process's own
// stack limit is. Long circuits go through their walks in test_stress.py.
TEST(Sexp, DeeplyNestedText) {
  on_small_stack([] {
    // Reading, copying, comparing, printing and destroying a deep Sexp.
    const Sexp sexp = std::get<Sexp>(parse_str(std::string(kDepth, '(') + "x" + std::string(kDepth, ')')));
    const Sexp copy = sexp;
    EXPECT_EQ(copy, sexp);
    EXPECT_EQ(copy.debug().size(), kDepth * std::string("List([])").size() + std::string("String(\"x\")").size());
    EXPECT_EQ(std::get<ParseError>(parse_str(std::string(kDepth, '('))).col, kDepth + 1u);

    // (seq (seq ... (seq I I) ... I) I) as a pattern.
    std::string text;
    for (int k = 0; k < kDepth; ++k) text += "(seq ";
    text += "I";
    for (int k = 0; k < kDepth; ++k) text += " I)";
    const auto pattern = read<ENodeOrVar<Op>>(text);
    EXPECT_EQ(pattern.size(), 2u * kDepth + 1);
    EXPECT_EQ(pattern[pattern.root()], ENodeOrVar<Op>(Op::seq(2 * kDepth - 2, 2 * kDepth - 1)));
  });
}

}  // namespace
}  // namespace kestrel
