// The estimate key test and the sort of the estimate table.
#include "grupdev/estimate_table.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varmex::grupdev {
namespace {

TEST(IsEstimateKey, AllowedCharactersAndTheDollarRule) {
  EXPECT_TRUE(IsEstimateKey("AB-1.2"));
  EXPECT_TRUE(IsEstimateKey("$1234A"));
  EXPECT_TRUE(IsEstimateKey("a @/!."));
  EXPECT_TRUE(IsEstimateKey("      "));
  EXPECT_FALSE(IsEstimateKey("$12345"));
  EXPECT_FALSE(IsEstimateKey("#-[*]2"));
  EXPECT_FALSE(IsEstimateKey(std::string_view("AB\0CDE", 6)));
  EXPECT_FALSE(IsEstimateKey("ABCDE\x7F"));
  EXPECT_FALSE(IsEstimateKey("ABC"));
}

EstimateTable Rows(const std::vector<std::array<int16_t, 3>>& values) {
  EstimateTable t;
  for (size_t i = 0; i < values.size(); ++i) {
    EstimateRow r;
    const std::string key = "K" + std::to_string(10000 + i);
    std::copy(key.begin(), key.begin() + 6, r.key.begin());
    r.investment = values[i][0];
    r.object = values[i][1];
    r.priceBase = values[i][2];
    t.push_back(r);
  }
  return t;
}

TEST(SortEstimates, OrdersByInvestmentObjectAndBaseForEverySize) {
  uint32_t seed = 12345;
  auto next = [&seed](int n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int16_t>(static_cast<int>((seed >> 16) % static_cast<uint32_t>(n)) - 2);
  };
  for (int n : {0, 1, 2, 7, 8, 9, 15, 16, 17, 100, 1000, 5000}) {
    std::vector<std::array<int16_t, 3>> values;
    for (int i = 0; i < n; ++i) values.push_back({{next(6), next(4), next(3)}});
    EstimateTable table = Rows(values);
    EstimateTable before = table;
    SortEstimates(table);
    for (size_t i = 1; i < table.size(); ++i) {
      ASSERT_LE(CompareEstimates(table, static_cast<int32_t>(i), static_cast<int32_t>(i + 1)), 0)
          << n;
    }
    // A permutation of the rows: nothing lost, nothing doubled.
    auto keys = [](const EstimateTable& t) {
      std::vector<std::string> k;
      for (const auto& r : t) k.emplace_back(r.Key());
      std::sort(k.begin(), k.end());
      return k;
    };
    EXPECT_EQ(keys(table), keys(before));
  }
}

TEST(SortEstimates, SignedComparisonAndStableInsertionBelowEight) {
  EstimateTable table = Rows({{5, 1, 1}, {-3, 1, 1}, {5, 1, 1}, {5, 0, 9}, {5, 1, 1}});
  SortEstimates(table);
  EXPECT_EQ(table[0].investment, -3);
  EXPECT_EQ(table[1].object, 0);
  // Equal rows keep their order when the range is sorted by insertion alone.
  EXPECT_EQ(table[2].Key(), "K10000");
  EXPECT_EQ(table[3].Key(), "K10002");
  EXPECT_EQ(table[4].Key(), "K10004");
}

TEST(SortIndexed, EqualRowsOfALargerRangeLandAsThePartitionLeavesThem) {
  // Ten equal rows, traced by hand: 5 and 1 swap (median of three); the scans swap
  // 3/9, 4/8, 5/7, 6/6 and cross at j = 5; the pivot goes to 5; the right part 7..10
  // is pushed and 1..5 sorted by insertion, which moves no equal row.
  std::vector<int> rows{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // position -> original row
  SortIndexed(
      10, [](int32_t, int32_t) -> int16_t { return 0; },
      [&rows](int32_t i, int32_t j) {
        std::swap(rows[static_cast<size_t>(i)], rows[static_cast<size_t>(j)]);
      });
  EXPECT_EQ(std::vector<int>(rows.begin() + 1, rows.end()),
            (std::vector<int>{7, 2, 9, 8, 5, 6, 1, 4, 3, 10}));
}

}  // namespace
}  // namespace varmex::grupdev
