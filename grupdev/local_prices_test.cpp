// The rules of the local pricing taken one by one: rounding, article ranges, the norinc
// sign inversion and the missing-article count.
#include "grupdev/local_prices.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "io/coding.h"

namespace varmex::grupdev {
namespace {

TEST(StoredLocalPrice, RoundingAndTheTenthsAboveTheLimit) {
  EXPECT_EQ(StoredLocalPrice(-1.0), 0);  // missing from the price base
  EXPECT_EQ(StoredLocalPrice(2.5), 3);
  EXPECT_EQ(StoredLocalPrice(2147000064.0), 2147000064);
  EXPECT_EQ(StoredLocalPrice(2147000070.0), -214700007);
  EXPECT_EQ(StoredLocalPrice(2500000000.0), -250000000);
  EXPECT_EQ(StoredLocalPrice(21474836480.0), INT32_MIN);
}

// The set of codes against a std::set, across growing and clearing,
// with codes at both ends of the range.
TEST(CodeSet, AgreesWithASetThroughGrowthAndClearing) {
  CodeSet priced;
  std::set<int32_t> model;
  std::mt19937 rng(11);
  for (int round = 0; round < 4; ++round) {
    for (int k = 0; k < 3000; ++k) {
      const int32_t code = k % 7 == 0   ? (k % 2 == 0 ? INT32_MIN : INT32_MAX)
                           : k % 3 == 0 ? static_cast<int32_t>(rng() % 50)
                                        : static_cast<int32_t>(rng());
      ASSERT_EQ(priced.count(code), model.count(code)) << code;
      ASSERT_EQ(priced.insert(code), model.insert(code).second) << code;
    }
    EXPECT_EQ(priced.size(), model.size());
    priced.clear();
    model.clear();
    EXPECT_EQ(priced.count(INT32_MAX), 0u);
  }
}

TEST(ClassifyArticle, RangesInTheirOrder) {
  EXPECT_EQ(ClassifyArticle(7850000), ArticleClass::kSkipped);  // inside the material range
  EXPECT_EQ(ClassifyArticle(7900002), ArticleClass::kSkipped);
  EXPECT_EQ(ClassifyArticle(8980477), ArticleClass::kSkipped);
  EXPECT_EQ(ClassifyArticle(8980478), ArticleClass::kNorNorm);
  EXPECT_EQ(ClassifyArticle(2000001), ArticleClass::kMaterial);
  EXPECT_EQ(ClassifyArticle(7999999), ArticleClass::kMaterial);
  EXPECT_EQ(ClassifyArticle(2000000), ArticleClass::kNorNorm);
  EXPECT_EQ(ClassifyArticle(1000000000), ArticleClass::kTehnoNorm);
  EXPECT_EQ(ClassifyArticle(1000000001), ArticleClass::kNorincNorm);
  EXPECT_EQ(ClassifyArticle(10000000), ArticleClass::kTehnoNorm);
  EXPECT_EQ(ClassifyArticle(-10000000), ArticleClass::kTehnoNorm);
  EXPECT_EQ(ClassifyArticle(-5), ArticleClass::kNorNorm);
}

TEST(InvertNorincWords, OddWordsWholeEvenWordsByHalves) {
  std::vector<uint8_t> r(4 + 12 + 3, 0);
  io::StoreI32(r.data(), 1000000001);
  io::StoreI32(r.data() + 4, 20000005);    // word 1
  io::StoreI16(r.data() + 8, 7);           // word 2, low half
  io::StoreI16(r.data() + 10, -32768);     // word 2, high half
  io::StoreI32(r.data() + 12, INT32_MIN);  // word 3
  r[16] = 9;                               // a partial word stays
  InvertNorincWords(r);
  EXPECT_EQ(io::LoadI32(r.data()), 1000000001);
  EXPECT_EQ(io::LoadI32(r.data() + 4), -20000005);
  EXPECT_EQ(io::LoadI16(r.data() + 8), -7);
  EXPECT_EQ(io::LoadI16(r.data() + 10), -32768);
  EXPECT_EQ(io::LoadI32(r.data() + 12), INT32_MIN);
  EXPECT_EQ(r[16], 9);
  // A recipe line at offset 106 straddles words 26 and 27 of the inverted area.
  std::vector<uint8_t> norm(114, 0);
  io::StoreI32(norm.data() + 106, 20000005);
  const std::vector<uint8_t> plain = norm;
  InvertNorincWords(norm);
  EXPECT_NE(io::LoadI32(norm.data() + 106), 20000005);
  InvertNorincWords(norm);
  EXPECT_EQ(norm, plain);
}

TEST(RecordMissingArticle, EachCodeCountedOnceForItsFirstKind) {
  MissingArticles missing;
  RecordMissingArticle(missing, kMissingInNor, 1900001);
  RecordMissingArticle(missing, kMissingInNor, 1900001);
  RecordMissingArticle(missing, kMissingInNorinc, 1900001);
  RecordMissingArticle(missing, kMissingInTehno, 990000001);
  EXPECT_EQ(missing.counts[0], 1);
  EXPECT_EQ(missing.counts[1], 1);
  EXPECT_EQ(missing.counts[2], 0);
  EXPECT_TRUE(missing.Any());
}

}  // namespace
}  // namespace varmex::grupdev
