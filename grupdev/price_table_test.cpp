// The price table: what a load takes from a base, its cache and its failures.
#include "grupdev/price_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "testing/price_base_image.h"

namespace varmex::grupdev {
namespace {

constexpr const char* kDir = "D:\\data";

using pricebase::testing::PriceBaseImage;

// A base with a header naming `last` as its last data block, and `blocks` (each given
// as its entries) from block 2 on.
std::vector<uint8_t> WithHeader(const std::vector<std::vector<PriceEntry>>& blocks, int16_t last) {
  PriceBaseImage image(static_cast<int>(blocks.size()) + 1, true);
  io::StoreI16(image.bytes().data() + 4, last);
  for (size_t b = 0; b < blocks.size(); ++b) {
    for (size_t k = 0; k < blocks[b].size(); ++k) {
      const PriceEntry& e = blocks[b][k];
      image.Put(static_cast<int>(b) + 2, static_cast<int>(k), {e.code, e.value, e.supplier});
    }
  }
  return image.bytes();
}

class PriceBaseTest : public ::testing::Test {
 protected:
  ~PriceBaseTest() override { io::CloseAllUnits(); }
  void Add(int n, std::vector<uint8_t> bytes) {
    char name[32];
    std::snprintf(name, sizeof name, "%s\\baz%03d.dat", kDir, n);
    fake.AddFile(name, std::move(bytes));
  }
  platform::FakePlatform fake;
  PriceTable table;
};

TEST_F(PriceBaseTest, HeaderRecordNamesTheDataBlocks) {
  // Block 2: an empty entry, two entries, a zero code ending the block early.
  // Block 3: 42 entries and a 43rd in the last 8 bytes, with no supplier.
  std::vector<PriceEntry> full;
  for (int k = 0; k < 42; ++k) full.push_back({3000000 + k, k, 5000000});
  full.push_back({3100000, 77, 0});
  Add(1, WithHeader(
             {{{-1, 9, 9}, {2000001, 10, 0}, {2000002, -20, 3000000}, {0, 0, 0}, {2000003, 1, 1}},
              full,
              {{3200000, 5, 5}}},
             3));
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 1, nullptr), kPriceBaseLoaded);
  EXPECT_EQ(table.base, 1);
  ASSERT_EQ(table.entries.size(), 2u + 42u + 1u);  // block 4 lies past the last block
  EXPECT_EQ(table.entries[0].code, 2000001);
  EXPECT_EQ(table.entries.back().code, 3100000);
  EXPECT_EQ(table.entries.back().value, 77);
  EXPECT_EQ(table.entries.back().supplier, 0);

  const LookupResult plain = PriceBaseLookup(table, 2000001);
  EXPECT_EQ(plain.price, 10.0);
  EXPECT_EQ(plain.reference, 0);
  const LookupResult tenths = PriceBaseLookup(table, 2000002);
  EXPECT_EQ(tenths.price, 200.0);
  EXPECT_EQ(tenths.reference, 1003);
  EXPECT_EQ(PriceBaseLookup(table, 3000041).reference, 1005);
  const LookupResult none = PriceBaseLookup(table, 2000003);
  EXPECT_EQ(none.price, -1.0);
  EXPECT_EQ(none.reference, 0);
}

TEST_F(PriceBaseTest, LargestNegativePriceAndSupplierDoNotOverflow) {
  Add(2, WithHeader({{{2000001, INT32_MIN, INT32_MIN}}}, 2));
  ASSERT_EQ(LoadPriceBase(fake, table, kDir, 2, nullptr), kPriceBaseLoaded);
  const LookupResult r = PriceBaseLookup(table, 2000001);
  EXPECT_EQ(r.price, 21474836480.0);
  EXPECT_EQ(r.reference, 2147 + 1000);
}

TEST_F(PriceBaseTest, HeaderlessBaseIsExactly127Blocks) {
  PriceBaseImage headerless(127, false);
  for (int b = 1; b <= 127; ++b) headerless.Put(b, 0, {2000000 + b, b, 0});
  std::vector<uint8_t> f = headerless.bytes();
  Add(4, f);
  ASSERT_EQ(LoadPriceBase(fake, table, kDir, 4, nullptr), kPriceBaseLoaded);
  EXPECT_EQ(table.entries.size(), 127u);

  f.resize(126 * 512);
  Add(6, f);
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 6, nullptr), kPriceBaseFailed);
  EXPECT_TRUE(table.entries.empty());
  EXPECT_EQ(table.base, 0);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Eroare citere baza pret!");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST_F(PriceBaseTest, CacheReadsABaseOnceAndBaseZeroNever) {
  Add(1, WithHeader({{{2000001, 10, 0}}}, 2));
  ASSERT_EQ(LoadPriceBase(fake, table, kDir, 1, nullptr), kPriceBaseLoaded);
  const uint64_t reads = io::Counters().reads;
  ASSERT_EQ(LoadPriceBase(fake, table, kDir, 1, nullptr), kPriceBaseLoaded);
  EXPECT_EQ(io::Counters().reads, reads);

  // Base 0 after another base: no file, an empty table, and base 1 read again later.
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 0, nullptr), kPriceBaseLoaded);
  EXPECT_TRUE(table.entries.empty());
  EXPECT_EQ(io::Counters().reads, reads);
  EXPECT_TRUE(fake.messages.empty());
  ASSERT_EQ(LoadPriceBase(fake, table, kDir, 1, nullptr), kPriceBaseLoaded);
  EXPECT_EQ(table.entries.size(), 1u);
  EXPECT_GT(io::Counters().reads, reads);

  ResetPriceBaseCache(table);
  EXPECT_TRUE(table.entries.empty());
  EXPECT_EQ(table.base, 0);
}

TEST_F(PriceBaseTest, MissingFileFailsAndIsTriedAgain) {
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 5, nullptr), kPriceBaseFailed);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_NE(fake.messages[0].text.find("baz005.dat"), std::string::npos);
  Add(5, WithHeader({}, 1));  // header only: no data blocks
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 5, nullptr), kPriceBaseLoaded);
  EXPECT_TRUE(table.entries.empty());
  EXPECT_EQ(table.base, 5);
}

// The record of shown failures handed to both readers of the bases keeps each base to
// one message, whether it cannot be opened or cannot be read; a reader handed none
// shows its failure.
TEST_F(PriceBaseTest, TheRecordHandedDownShowsEachBaseOnce) {
  const std::vector<uint8_t> cut = WithHeader({{{2000001, 10, 0}}}, 3);  // block 3 missing
  Add(1, cut);
  Add(2, cut);
  pricebase::OneMessagePerPriceBase shown;
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 1, &shown), kPriceBaseFailed);
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 1, &shown), kPriceBaseFailed);
  EXPECT_EQ(pricebase::ConvertPriceBase(fake, kDir, 1, io::kNoUnit, 0, &shown),
            pricebase::kPriceBaseFailed);
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 3, &shown), kPriceBaseFailed);  // no such file
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 3, &shown), kPriceBaseFailed);
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 2, &shown), kPriceBaseFailed);
  EXPECT_EQ(LoadPriceBase(fake, table, kDir, 2, nullptr), kPriceBaseFailed);
  std::vector<std::string> texts;
  for (const auto& m : fake.messages) texts.push_back(m.text);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "Eroare citere baza pret!");
  EXPECT_NE(texts[1].find("baz003.dat"), std::string::npos);
  EXPECT_EQ(texts[2], "Eroare citere baza pret!");
  EXPECT_EQ(texts[3], "Eroare citere baza pret!");
  EXPECT_FALSE(io::UnitInUse(1));
}

}  // namespace
}  // namespace varmex::grupdev
