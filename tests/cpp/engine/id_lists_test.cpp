// The id lists of the e-graph's parent lists: random growth and splices
// (of empty lists too) checked against vectors.
#include "engine/id_lists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

std::vector<Id> ids_of(const IdLists& lists, const IdLists::Head& head) {
  const auto view = lists.view(head);
  return {view.begin(), view.end()};
}

// Many lists grown and spliced at random, against plain vectors: the ids
// and their order stay those of the vectors whatever blocks are reused.
TEST(IdLists, RandomGrowthAndSplicesMatchVectors) {
  constexpr int kLists = 40;
  IdLists lists;
  std::vector<IdLists::Head> heads(kLists);
  std::vector<std::vector<Id>> model(kLists);
  Lcg lcg{7};
  const auto draw = [&](std::uint64_t n) { return static_cast<int>(lcg(n)); };
  for (int step = 0; step < 20'000; ++step) {
    const int to = draw(kLists);
    if (draw(8) == 0) {
      const int from = draw(kLists);
      if (from == to) continue;
      lists.splice(heads[to], heads[from]);
      model[to].insert(model[to].end(), model[from].begin(), model[from].end());
      model[from].clear();
    } else {
      const auto id = static_cast<Id>(step);
      lists.push_back(heads[to], id);
      model[to].push_back(id);
    }
    if (step % 997 == 0) {
      for (int k = 0; k < kLists; ++k) ASSERT_EQ(ids_of(lists, heads[k]), model[k]) << step;
    }
  }
  for (int k = 0; k < kLists; ++k) {
    EXPECT_EQ(ids_of(lists, heads[k]), model[k]);
    EXPECT_EQ(lists.size(heads[k]), model[k].size());
  }
}

}  // namespace
}  // namespace kestrel
