// The price base file's name, block range and entry walk, against bytes laid out by hand.
#include "pricebase/price_base_file.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "io/coding.h"

namespace varmex::pricebase {
namespace {

TEST(PriceBaseFileName, ThreeDigitsOrAsterisksWhenTheNumberDoesNotFit) {
  EXPECT_EQ(PriceBaseFileName(1), "baz001.dat");
  EXPECT_EQ(PriceBaseFileName(42), "baz042.dat");
  EXPECT_EQ(PriceBaseFileName(999), "baz999.dat");
  EXPECT_EQ(PriceBaseFileName(0), "baz000.dat");
  EXPECT_EQ(PriceBaseFileName(1000), "baz***.dat");
  EXPECT_EQ(PriceBaseFileName(-1), "baz***.dat");
}

TEST(DataBlocksOf, HeaderNamesTheLastBlockOtherwiseBlocksOneTo127) {
  std::array<uint8_t, kHeadBytes> head{};
  io::StoreI32(head.data(), -1);
  io::StoreI16(head.data() + 4, 9);
  const DataBlockRange withHeader = DataBlocksOf(head);
  EXPECT_EQ(withHeader.first, 2);
  EXPECT_EQ(withHeader.last, 9);

  io::StoreI32(head.data(), -2);  // any other first value: block 1 is data
  const DataBlockRange headerless = DataBlocksOf(head);
  EXPECT_EQ(headerless.first, 1);
  EXPECT_EQ(headerless.last, 127);
}

struct Seen {
  size_t index;
  int32_t code, value, supplier;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> Walk(const std::array<uint8_t, 512>& block) {
  std::vector<Seen> seen;
  ForEachUsedEntry(block, [&seen](size_t index, const PriceBaseEntry& e) {
    seen.push_back({index, e.code, e.value, e.supplier});
  });
  return seen;
}

TEST(ForEachUsedEntry, SkipsEmptyEntriesStopsAtZeroAndReadsTheTailWithoutSupplier) {
  std::array<uint8_t, 512> block{};
  for (size_t k = 0; k < 42; ++k) {  // entry k at 12k: code, price, supplier
    io::StoreI32(block.data() + 12 * k, static_cast<int32_t>(3000000 + k));
    io::StoreI32(block.data() + 12 * k + 4, 7);
    io::StoreI32(block.data() + 12 * k + 8, 5000000);
  }
  io::StoreI32(block.data() + 12, -1);        // entry 1 is empty
  io::StoreI32(block.data() + 504, 3100000);  // the 43rd entry: code and price only
  io::StoreI32(block.data() + 508, 77);
  const std::vector<Seen> seen = Walk(block);
  ASSERT_EQ(seen.size(), 42u);
  EXPECT_EQ(seen[0], (Seen{0, 3000000, 7, 5000000}));
  EXPECT_EQ(seen[1].index, 2u);
  EXPECT_EQ(seen.back(), (Seen{42, 3100000, 77, 0}));

  io::StoreI32(block.data() + 36, 0);  // a zero code in entry 3 ends the block
  EXPECT_EQ(Walk(block).size(), 2u);
}

TEST(StoreEntryValues, RewritesPriceAndSupplierOnly) {
  std::array<uint8_t, 512> block{};
  io::StoreI32(block.data() + 24, 2000001);
  StoreEntryValues(block, 2, 11, 22);
  EXPECT_EQ(io::LoadI32(block.data() + 24), 2000001);
  EXPECT_EQ(io::LoadI32(block.data() + 28), 11);
  EXPECT_EQ(io::LoadI32(block.data() + 32), 22);
  EXPECT_EQ(io::LoadI32(block.data() + 36), 0);
}

}  // namespace
}  // namespace varmex::pricebase
