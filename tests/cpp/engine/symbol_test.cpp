// Symbols: one handle per text, and interning from many threads at once.
#include "engine/symbol.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

TEST(GlobalSymbol, OneHandlePerText) {
  const std::string owned = "seq-assoc-lr";
  EXPECT_EQ(GlobalSymbol(owned), GlobalSymbol(std::string_view("seq-assoc-lr")));
  EXPECT_NE(GlobalSymbol(owned).as_str().data(), owned.data());  // the stored copy
  EXPECT_EQ(GlobalSymbol(), GlobalSymbol(""));
  EXPECT_EQ(GlobalSymbol("a\"b\\c\n\t\x01\x7f").debug(), "\"a\\\"b\\\\c\\n\\t\\u{1}\\u{7f}\"");
  EXPECT_EQ(symbol_handle(15, 0x0FFFFFFD), 0xFFFFFFFEu);  // the largest index that fits
}

TEST(SymbolTable, ConcurrentInterningAndResolvingAgree) {
  constexpr int kThreads = 8, kTexts = 2000;
  // Every thread interns the same texts, each from its own offset, so that
  // first interning is spread over the threads.
  std::vector<std::vector<std::uint32_t>> handles(kThreads, std::vector<std::uint32_t>(kTexts));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &handles] {
      for (int step = 0; step < kTexts; ++step) {
        const int k = (step + t * (kTexts / kThreads)) % kTexts;
        const GlobalSymbol s("concurrent-" + std::to_string(k));
        handles[t][k] = s.as_str() == "concurrent-" + std::to_string(k) ? s.handle() : 0;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(handles[t], handles[0]) << "thread " << t;
  HashSet<std::uint32_t, IntHash> distinct(handles[0].begin(), handles[0].end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kTexts));
  EXPECT_FALSE(distinct.contains(0));
}

}  // namespace
}  // namespace kestrel
