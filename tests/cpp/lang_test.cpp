#include "src/lang.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Op, Placeholder) { EXPECT_EQ(Op(OpKind::T).debug(), "T"); }

}  // namespace
}  // namespace kestrel
