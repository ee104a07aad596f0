#include "engine/machine.h"

#include <gtest/gtest.h>

#include "engine/pattern.h"
#include "src/lang.h"

namespace kestrel {
namespace {

static_assert(std::is_trivially_copyable_v<Instruction<Op>>);

Pattern<Op> pat(std::string_view text) {
  auto p = Pattern<Op>::from_str(text);
  if (auto* e = std::get_if<1>(&p)) ADD_FAILURE() << text << ": " << e->debug();
  return std::get<0>(std::move(p));
}

TEST(Compiler, WorkedShapes) {
  const struct {
    const char* pattern;
    const char* program;
  } cases[] = {
      {"?x", "{?x: 0}\n"},
      {"I", "Bind I i=0 out=1\n{}\n"},
      {"(seq I ?x)", "Bind Seq([0, 0]) i=0 out=1\nBind I i=1 out=3\n{?x: 2}\n"},
      {"(seq ?x I)", "Bind Seq([0, 0]) i=0 out=1\nBind I i=2 out=3\n{?x: 1}\n"},
      {"(seq (seq ?a ?b) ?c)",
       "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=1 out=3\n{?c: 2, ?a: 3, ?b: 4}\n"},
      {"(seq ?a (seq ?b ?c))",
       "Bind Seq([0, 0]) i=0 out=1\nBind Seq([0, 0]) i=2 out=3\n{?a: 1, ?b: 3, ?c: 4}\n"},
      {"(seq T T)", "Lookup [T, Seq([0, 0])] i=0\n{}\n"},
      {"(seq (seq H Z) H)", "Lookup [H, Z, Seq([0, 1]), Seq([2, 0])] i=0\n{}\n"},
      {"(seq (seq ?a ?b) (seq H Z))",
       "Bind Seq([0, 0]) i=0 out=1\nLookup [Z, H, Seq([1, 0])] i=2\n"
       "Bind Seq([0, 0]) i=1 out=3\n{?a: 3, ?b: 4}\n"},
      {"(seq ?x ?x)", "Bind Seq([0, 0]) i=0 out=1\nCompare i=2 j=1\n{?x: 1}\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(pat(c.pattern).program().dump(), c.program) << c.pattern;
}

}  // namespace
}  // namespace kestrel
