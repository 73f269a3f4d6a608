// The price base conversion: which entries change, the supplier price records it
// stores, and its failures.
#include "pricebase/conversion.h"

#include <gtest/gtest.h>

#include <array>

#include "database/data_file.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "testing/price_base_image.h"

namespace varmex::pricebase {
namespace {

using platform::FakePlatform;

constexpr const char* kDir = "D:\\kedro\\Varmex";

using testing::PriceBaseImage;
using Entry = testing::TestEntry;

Entry EntryAt(const std::vector<uint8_t>& file, int block, int index) {
  return PriceBaseImage::EntryIn(file, block, index);
}

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override {
    os_.AddFile("D:\\kedro\\Varmex\\furnmat.dat", store::EmptyBlockFileImage(50));
    furnmat_ = database::OpenDataFile(os_, "furnmat.dat", kDir, database::kNoMessages,
                                      database::kNotFatal);
    ASSERT_EQ(furnmat_.blockCount, 50);
  }
  void TearDown() override { io::CloseAllUnits(); }

  int16_t Convert(int number) {
    return ConvertPriceBase(os_, kDir, static_cast<int16_t>(number), furnmat_.unit,
                            furnmat_.blockCount, nullptr);
  }
  // The default supplier's price record of a material, or status != 0.
  store::ReadResult SupplierPrice(int32_t material, std::array<uint8_t, 136>& record) {
    record.fill(0);
    io::StoreI32(record.data(), 2499);
    io::StoreI32(record.data() + 4, material);
    return store::KeyedRead(record, 8, furnmat_.blockCount, furnmat_.unit,
                            store::HashSelector::kVariableLength, 136);
  }
  std::vector<uint8_t>& File(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "D:\\kedro\\Varmex\\baz%03d.dat", number);
    return *os_.Bytes(name);
  }

  FakePlatform os_;
  database::OpenResult furnmat_;
};

TEST_F(Conversion, ConvertsOnlyMaterialsWithoutSupplierInsideTheRange) {
  PriceBaseImage base(3, true);
  const std::vector<Entry> entries = {
      {2000000, 10, 0},       {2000001, 11, 0},       {8000000, 12, 999999},   {8000001, 13, 0},
      {3000000, 14, -999999}, {3000001, 15, 1000000}, {3000002, 16, -1000000}, {-1, 17, 0},
      {4000000, 18, 0},
  };
  for (size_t i = 0; i < entries.size(); ++i) base.Put(2, static_cast<int>(i), entries[i]);
  os_.AddFile("D:\\kedro\\Varmex\\baz007.dat", base.bytes());

  EXPECT_EQ(Convert(7), kPriceBaseDone);
  const std::vector<bool> converted = {false, true, true, false, true, false, false, false, true};
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry got = EntryAt(File(7), 2, static_cast<int>(i));
    EXPECT_EQ(got.code, entries[i].code);
    std::array<uint8_t, 136> record{};
    if (converted[i]) {
      EXPECT_EQ(got.value, 2147483647) << i;
      EXPECT_EQ(got.supplier, 1499800101) << i;
      ASSERT_EQ(SupplierPrice(entries[i].code, record).status, store::kKeyedDone) << i;
      EXPECT_EQ(io::LoadI32(record.data() + 8), 800101);
      EXPECT_EQ(io::LoadI32(record.data() + 12), entries[i].value);
      EXPECT_EQ(io::LoadI16(record.data() + 16), 0);
      EXPECT_EQ(record[18], ' ');
      EXPECT_EQ(record[85], ' ');
      EXPECT_EQ(record[86], 0);
      EXPECT_EQ(io::LoadI16(record.data() + 134), 0);
    } else {
      EXPECT_EQ(got.value, entries[i].value) << i;
      EXPECT_EQ(got.supplier, entries[i].supplier) << i;
      if (entries[i].code > 0) {
        EXPECT_NE(SupplierPrice(entries[i].code, record).status, store::kKeyedDone);
      }
    }
  }
}

TEST_F(Conversion, SecondRunChangesNothing) {
  PriceBaseImage base(2, false);
  base.Put(1, 0, {2500000, 40, 0});
  base.Put(1, 1, {2500000, 41, 0});  // the same material again: finds the first record
  base.Put(2, 0, {2600000, 50, 12});
  base.bytes().resize(127 * 512, 0);
  os_.AddFile("D:\\kedro\\Varmex\\baz001.dat", base.bytes());

  EXPECT_EQ(Convert(1), kPriceBaseDone);
  EXPECT_EQ(EntryAt(File(1), 1, 1).supplier, 1499800101);
  std::array<uint8_t, 136> record{};
  ASSERT_EQ(SupplierPrice(2500000, record).status, store::kKeyedDone);
  EXPECT_EQ(io::LoadI32(record.data() + 12), 40);

  const std::vector<uint8_t> base1 = File(1);
  const std::vector<uint8_t> furnmat = *os_.Bytes("D:\\kedro\\Varmex\\furnmat.dat");
  const uint64_t writes = io::Counters().writes;
  EXPECT_EQ(Convert(1), kPriceBaseDone);
  EXPECT_EQ(File(1), base1);
  EXPECT_EQ(*os_.Bytes("D:\\kedro\\Varmex\\furnmat.dat"), furnmat);
  EXPECT_EQ(io::Counters().writes, writes);
}

TEST_F(Conversion, ZeroCodeEndsTheBlockAndTheTailEntryIsNeverTouched) {
  PriceBaseImage base(2, true);
  base.Put(2, 0, {2100000, 1, 0});
  base.Put(2, 1, {0, 0, 0});
  base.Put(2, 2, {2200000, 2, 0});
  for (int i = 3; i < 42; ++i) base.Put(2, i, {-1, 0, 0});
  base.Put(2, 42, {2300000, 3, 0});  // the last 8 bytes of the block
  os_.AddFile("D:\\kedro\\Varmex\\baz002.dat", base.bytes());
  EXPECT_EQ(Convert(2), kPriceBaseDone);
  EXPECT_EQ(EntryAt(File(2), 2, 0).supplier, 1499800101);
  EXPECT_EQ(EntryAt(File(2), 2, 2).supplier, 0);

  PriceBaseImage full(2, true);
  for (int i = 0; i < 42; ++i) full.Put(2, i, {-1, 0, 0});
  full.Put(2, 42, {2300000, 3, 0});
  os_.AddFile("D:\\kedro\\Varmex\\baz003.dat", full.bytes());
  const std::vector<uint8_t> before = full.bytes();
  EXPECT_EQ(Convert(3), kPriceBaseDone);
  EXPECT_EQ(File(3), before);
  std::array<uint8_t, 136> record{};
  EXPECT_NE(SupplierPrice(2300000, record).status, store::kKeyedDone);
}

TEST_F(Conversion, HeaderWithoutDataBlocksConvertsNothing) {
  PriceBaseImage base(2, true);
  io::StoreI16(base.bytes().data() + 4, 1);
  base.Put(2, 0, {2100000, 1, 0});
  os_.AddFile("D:\\kedro\\Varmex\\baz004.dat", base.bytes());
  EXPECT_EQ(Convert(4), kPriceBaseDone);
  EXPECT_EQ(EntryAt(File(4), 2, 0).supplier, 0);
}

TEST_F(Conversion, MissingBlockStopsAfterConvertingTheBlocksBefore) {
  PriceBaseImage base(3, false);  // no header: blocks 1..127 expected, only 3 present
  base.Put(3, 0, {2100000, 1, 0});
  os_.AddFile("D:\\kedro\\Varmex\\baz005.dat", base.bytes());
  EXPECT_EQ(Convert(5), kPriceBaseFailed);
  ASSERT_EQ(os_.messages.size(), 1u);
  EXPECT_EQ(os_.messages[0].text, "Eroare citere baza pret!");
  EXPECT_EQ(EntryAt(File(5), 3, 0).supplier, 1499800101);
  EXPECT_FALSE(io::UnitInUse(static_cast<int16_t>(furnmat_.unit + 1)));
}

TEST_F(Conversion, MissingOrShortFileFailsSilently) {
  EXPECT_EQ(Convert(6), kPriceBaseFailed);
  os_.AddFile("D:\\kedro\\Varmex\\baz008.dat", std::vector<uint8_t>(100, 0));
  EXPECT_EQ(Convert(8), kPriceBaseFailed);
  EXPECT_TRUE(os_.messages.empty());
}

TEST_F(Conversion, EntryKeepsItsPriceWhenTheSupplierPriceCannotBeStored) {
  io::CloseAllUnits();
  os_.AddFile("D:\\kedro\\Varmex\\furnmat.dat",
              store::EmptyBlockFileImage(1));  // only the full header block
  furnmat_ =
      database::OpenDataFile(os_, "furnmat.dat", kDir, database::kNoMessages, database::kNotFatal);
  PriceBaseImage base(2, true);
  base.Put(2, 0, {2100000, 77, 0});
  os_.AddFile("D:\\kedro\\Varmex\\baz009.dat", base.bytes());
  EXPECT_EQ(Convert(9), kPriceBaseDone);
  const Entry e = EntryAt(File(9), 2, 0);
  EXPECT_EQ(e.value, 77);
  EXPECT_EQ(e.supplier, 0);
}

}  // namespace
}  // namespace varmex::pricebase
