// The deadline: what is left of a limit, when it has passed, and the limits
// too long for the clock that mean none.
#include "src/timing/deadline.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestrel {
namespace {

using std::chrono::hours;
using std::chrono::seconds;

TEST(Deadline, WhatIsLeftAndWhenItPasses) {
  const auto now = Deadline::Clock::now();
  const Deadline soon(seconds(10), now);
  EXPECT_EQ(soon.left(seconds(5), now + seconds(7)), seconds(3));
  EXPECT_EQ(soon.left(seconds(5), now), seconds(5));
  EXPECT_EQ(soon.left(seconds(5), now + seconds(10)), std::nullopt);
  EXPECT_FALSE(soon.passed(now + seconds(9)));
  EXPECT_TRUE(soon.passed(now + seconds(10)));
  EXPECT_EQ(Deadline(soon.at()).at(), now + seconds(10));
  for (const Deadline& never : {Deadline(), Deadline(std::chrono::nanoseconds::max(), now)}) {
    EXPECT_EQ(never.left(seconds(5), now + hours(1)), seconds(5));
    EXPECT_FALSE(never.passed(now + hours(1)));
    EXPECT_EQ(never.at(), std::nullopt);
  }
}

}  // namespace
}  // namespace kestrel
