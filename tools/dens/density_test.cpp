#include "tools/dens/density.h"

#include <gtest/gtest.h>

#include <array>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::tools {
namespace {

using platform::FakePlatform;

constexpr const char* kFile = "D:\\kedro\\Varmex\\furnmat.dat";

// Writes `count` supplier price records (136 bytes, 8-byte key) into the file.
void FillWithRecords(int32_t blocks, int count) {
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(unit, kFile, 512), 0);
  for (int i = 0; i < count; ++i) {
    std::array<uint8_t, 136> record{};
    io::StoreI32(record.data(), 2499);
    io::StoreI32(record.data() + 4, 2000001 + i);
    ASSERT_EQ(
        store::KeyedWrite(record, 8, blocks, unit, store::HashSelector::kVariableLength).status,
        store::kKeyedDone)
        << i;
  }
  io::CloseUnit(unit);
}

TEST(Judge, ThresholdsOfShareAndProbePath) {
  EXPECT_EQ(Judge(0.50, 8), kRoomy);
  EXPECT_EQ(Judge(0.51, 1), kFilling);
  EXPECT_EQ(Judge(0.10, 9), kFilling);
  EXPECT_EQ(Judge(0.75, 32), kFilling);
  EXPECT_EQ(Judge(0.75, 33), kTooDense);
  EXPECT_EQ(Judge(0.76, 1), kTooDense);
}

TEST(MeasureDensity, EmptyFileIsRoomy) {
  FakePlatform os;
  os.AddFile(kFile, store::EmptyBlockFileImage(100));
  const Density d = MeasureDensity(kFile);
  EXPECT_EQ(d.verdict, kRoomy) << d.problem;
  EXPECT_EQ(d.blocks, 100);
  EXPECT_EQ(d.records, 0);
  EXPECT_EQ(d.usedUnits, 256);  // the header record
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST(MeasureDensity, FullFileIsTooDenseAndCountsItsRecords) {
  FakePlatform os;
  os.AddFile(kFile, store::EmptyBlockFileImage(40));
  FillWithRecords(40, 39 * 3 - 10);  // three records of 69 units fit a block
  const Density d = MeasureDensity(kFile);
  EXPECT_EQ(d.verdict, kTooDense);
  EXPECT_EQ(d.records, 39 * 3 - 10);
  // Records cut into pieces repeat their key, so they may cover a little more.
  EXPECT_GE(d.usedUnits, 256 + (39 * 3 - 10) * 69);
  EXPECT_GT(d.UsedShare(), kFillingShare);
  EXPECT_GT(d.longestProbe, 1);
}

TEST(MeasureDensity, ProbePathCountsFromTheHomeBlock) {
  FakePlatform os;
  // Two blocks: block 1 is full with the header, so a key whose home is block 1 lies
  // in block 2, two blocks along its probe path.
  os.AddFile(kFile, store::EmptyBlockFileImage(2));
  std::array<uint8_t, 136> record{};
  io::StoreI32(record.data(), 2499);
  int32_t material = 2000001;
  for (;; ++material) {
    io::StoreI32(record.data() + 4, material);
    if (store::HomeBlock(record, 8, 2, store::HashSelector::kVariableLength) == 1) break;
  }
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(unit, kFile, 512), 0);
  ASSERT_EQ(store::KeyedWrite(record, 8, 2, unit, store::HashSelector::kVariableLength).status,
            store::kKeyedDone);
  io::CloseUnit(unit);
  EXPECT_EQ(MeasureDensity(kFile).longestProbe, 2);
}

TEST(MeasureDensity, UnusableFilesAreNotMeasured) {
  FakePlatform os;
  EXPECT_EQ(MeasureDensity(kFile).verdict, kUnmeasured);  // missing

  std::vector<uint8_t> bytes = store::EmptyBlockFileImage(10);
  bytes[5] = '-';  // broken header
  os.AddFile(kFile, bytes);
  EXPECT_EQ(MeasureDensity(kFile).verdict, kUnmeasured);

  bytes = store::EmptyBlockFileImage(10);
  bytes.resize(9 * 512);  // shorter than its block count
  os.AddFile(kFile, bytes);
  EXPECT_EQ(MeasureDensity(kFile).verdict, kUnmeasured);

  bytes = store::EmptyBlockFileImage(10);
  bytes[3 * 512 + 500] = 20;  // an entry at unit 251 of block 4 claiming 21 units
  bytes[3 * 512 + 501] = 0x68;
  bytes[3 * 512] = 124;  // unit 1: a deleted entry of 125 units, twice, reaching unit 251
  bytes[3 * 512 + 1] = 0x80;
  bytes[3 * 512 + 250] = 124;
  bytes[3 * 512 + 251] = 0x80;
  os.AddFile(kFile, bytes);
  const Density d = MeasureDensity(kFile);
  EXPECT_EQ(d.verdict, kUnmeasured);
  EXPECT_EQ(d.problem, "the entries of block 4 are damaged");
  EXPECT_FALSE(io::UnitInUse(1));
}

}  // namespace
}  // namespace varmex::tools
