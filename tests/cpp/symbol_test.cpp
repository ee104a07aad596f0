#include "engine/symbol.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

TEST(GlobalSymbol, SameTextSameHandleWhetherBorrowedOrOwned) {
  const std::string owned = "seq-assoc-lr";
  const GlobalSymbol a(std::string_view("seq-assoc-lr"));
  const GlobalSymbol b{std::string(owned)};
  const GlobalSymbol c(owned);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  EXPECT_EQ(a.handle(), b.handle());
  EXPECT_EQ(a.hash(), c.hash());
  // The resolved text is the stored copy, not the caller's buffer.
  EXPECT_NE(a.as_str().data(), owned.data());
  EXPECT_EQ(a.as_str(), "seq-assoc-lr");
}

TEST(GlobalSymbol, DistinctTextsDistinctHandles) {
  const std::vector<std::string> texts = {"?x", "?y", "?x ", "?X", "", "cnot-cancel", "?xy"};
  std::vector<GlobalSymbol> symbols;
  for (const auto& t : texts) symbols.emplace_back(t);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(symbols[i].as_str(), texts[i]);
    for (std::size_t j = i + 1; j < texts.size(); ++j) EXPECT_NE(symbols[i], symbols[j]) << i << " " << j;
  }
}

TEST(GlobalSymbol, HandleLayout) {
  // Enough texts to put several strings in every shard.
  for (int k = 0; k < 200; ++k) {
    const std::string text = "layout-" + std::to_string(k);
    const GlobalSymbol s(text);
    EXPECT_NE(s.handle(), 0u);
    EXPECT_EQ(s.handle() >> 28, hash_bytes(text) & 15) << text;
    EXPECT_GE(s.handle() & 0x0FFFFFFF, 1u);
    EXPECT_EQ(GlobalSymbol::from_handle(s.handle()).as_str(), text);
  }
}

TEST(GlobalSymbol, IndicesWithinAShardFollowFirstInterning) {
  // Collect texts that fall into one shard, then intern them in order: their
  // indices must increase by one each, starting after whatever the shard held.
  std::vector<std::string> same_shard;
  for (int k = 0; same_shard.size() < 4; ++k) {
    std::string text = "order-probe-" + std::to_string(k);
    if ((hash_bytes(text) & 15) == 7) same_shard.push_back(text);
  }
  const std::uint32_t first = GlobalSymbol(same_shard[0]).handle() & 0x0FFFFFFF;
  for (std::size_t k = 1; k < same_shard.size(); ++k) {
    EXPECT_EQ(GlobalSymbol(same_shard[k]).handle() & 0x0FFFFFFF, first + k);
  }
  // Interning again changes nothing.
  EXPECT_EQ(GlobalSymbol(same_shard[0]).handle() & 0x0FFFFFFF, first);
}

TEST(GlobalSymbol, DefaultIsTheEmptyText) {
  EXPECT_EQ(GlobalSymbol(), GlobalSymbol(""));
  EXPECT_EQ(GlobalSymbol().as_str(), "");
}

TEST(GlobalSymbol, DebugQuotesAndEscapes) {
  EXPECT_EQ(GlobalSymbol("?x").debug(), "\"?x\"");
  EXPECT_EQ(GlobalSymbol("a\"b\\c\n\t\x01").debug(), "\"a\\\"b\\\\c\\n\\t\\u{1}\"");
  EXPECT_EQ(GlobalSymbol("é").debug(), "\"é\"");
}

TEST(GlobalSymbol, UnknownHandleFaults) {
  EXPECT_THROW(GlobalSymbol::from_handle(0).as_str(), Fault);
  EXPECT_THROW(GlobalSymbol::from_handle((3u << 28) | 0x0FFFFFF0).as_str(), Fault);
}

TEST(SymbolHandle, IndexLimit) {
  EXPECT_EQ(symbol_handle(0, 0), 1u);
  EXPECT_EQ(symbol_handle(15, 0x0FFFFFFD), 0xFFFFFFFEu);
  try {
    symbol_handle(2, 0x0FFFFFFE);
    FAIL() << "no fault";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "Can't represent index 268435455 in a Symbol");
  }
}

TEST(SymbolTable, ConcurrentInterningAndResolvingAgree) {
  constexpr int kThreads = 8;
  constexpr int kTexts = 2000;
  // Every thread interns the same texts, each starting at a different offset
  // so that first interning is spread over the threads.
  std::vector<std::vector<std::uint32_t>> handles(kThreads, std::vector<std::uint32_t>(kTexts));
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &handles, &mismatches] {
      for (int step = 0; step < kTexts; ++step) {
        const int k = (step + t * (kTexts / kThreads)) % kTexts;
        const std::string text = "concurrent-" + std::to_string(k);
        const GlobalSymbol s(text);
        handles[t][k] = s.handle();
        if (s.as_str() != text) ++mismatches[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(mismatches[t], 0);
    EXPECT_EQ(handles[t], handles[0]) << "thread " << t;
  }
  // All handles distinct, and each resolves on this thread too.
  HashSet<std::uint32_t, IntHash> seen(handles[0].begin(), handles[0].end());
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kTexts));
  for (int k = 0; k < kTexts; ++k) {
    EXPECT_EQ(GlobalSymbol::from_handle(handles[0][k]).as_str(), "concurrent-" + std::to_string(k));
  }
}

}  // namespace
}  // namespace kestrel
