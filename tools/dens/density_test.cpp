#include "tools/dens/density.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "pricebase/supplier_price.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::tools {
namespace {

using platform::FakePlatform;

constexpr const char* kFile = "D:\\kedro\\Varmex\\furnmat.dat";

// A supplier price record of the default supplier (2499) for `material`.
using SupplierRecord = std::array<uint8_t, pricebase::kSupplierPriceRecordSize>;
SupplierRecord SupplierPrice(int32_t material) {
  SupplierRecord record{};
  pricebase::SetSupplierPriceKey(record, 2499, material);
  return record;
}

// Writes `count` supplier price records into the file.
void FillWithRecords(platform::Platform& os, int32_t blocks, int count) {
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(os, unit, kFile, 512), 0);
  for (int i = 0; i < count; ++i) {
    SupplierRecord record = SupplierPrice(2000001 + i);
    ASSERT_EQ(store::KeyedWrite(record, pricebase::kSupplierPriceKeyLength, blocks, unit,
                                store::HashSelector::kVariableLength)
                  .status,
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
  const Density d = MeasureDensity(os, kFile);
  EXPECT_EQ(d.verdict, kRoomy) << d.problem;
  EXPECT_EQ(d.blocks, 100);
  EXPECT_EQ(d.records, 0);
  EXPECT_EQ(d.usedCells, 256);  // the header record
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST(MeasureDensity, FullFileIsTooDenseAndCountsItsRecords) {
  FakePlatform os;
  os.AddFile(kFile, store::EmptyBlockFileImage(40));
  FillWithRecords(os, 40, 39 * 3 - 10);  // three records of 69 cells fit a block
  const Density d = MeasureDensity(os, kFile);
  EXPECT_EQ(d.verdict, kTooDense);
  EXPECT_EQ(d.records, 39 * 3 - 10);
  // Records cut into pieces repeat their key, so they may cover a little more.
  EXPECT_GE(d.usedCells, 256 + (39 * 3 - 10) * 69);
  EXPECT_GT(d.UsedShare(), kFillingShare);
  EXPECT_GT(d.longestProbe, 1);
}

TEST(MeasureDensity, ProbePathCountsFromTheHomeBlock) {
  FakePlatform os;
  // Two blocks: block 1 is full with the header, so a key whose home is block 1 lies
  // in block 2, two blocks along its probe path.
  os.AddFile(kFile, store::EmptyBlockFileImage(2));
  SupplierRecord record = SupplierPrice(2000001);
  for (int32_t material = 2000002;; ++material) {
    if (store::HomeBlock(record, pricebase::kSupplierPriceKeyLength, 2,
                         store::HashSelector::kVariableLength) == 1)
      break;
    record = SupplierPrice(material);
  }
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(os, unit, kFile, 512), 0);
  ASSERT_EQ(store::KeyedWrite(record, pricebase::kSupplierPriceKeyLength, 2, unit,
                              store::HashSelector::kVariableLength)
                .status,
            store::kKeyedDone);
  io::CloseUnit(unit);
  EXPECT_EQ(MeasureDensity(os, kFile).longestProbe, 2);
}

// What dens answers to each command line and each file it cannot measure; the file
// is only read (a read-only one is measured too).
TEST(Dens, CommandLinesAndUnmeasurableFiles) {
  struct Case {
    std::function<void(std::vector<uint8_t>&)> damage;  // of a sound file of 10 blocks
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
    std::string err;  // a part of standard error (empty: nothing there)
  };
  const std::string usage = "usage: dens FILE\n";
  const auto none = [](std::vector<uint8_t>&) {};
  const auto count = [](int32_t n) {
    return [n](std::vector<uint8_t>& b) { io::StoreI32(b.data() + 18, n); };
  };
  const std::vector<Case> cases = {
      {none, {"--help"}, 0, usage, ""},
      {none, {"-h", kFile}, 0, usage, ""},
      {none, {"--verbose", kFile}, 7, "", "dens: unknown option --verbose\n" + usage},
      {none, {"-x.dat"}, 7, "", "dens: unknown option -x.dat\n"},
      {none, {}, 7, "", usage},
      {none, {kFile, kFile}, 7, "", usage},
      {none, {""}, 7, "", "dens: the file name is empty\n"},
      {none, {"--", kFile}, 0, std::string(kFile) + ": 10 blocks, 0 records, 10.0% used", ""},
      {none, {"D:\\none.dat"}, 3, "", "dens: D:\\none.dat: cannot open the file (error 2)\n"},
      {[](std::vector<uint8_t>& b) { b[5] = '-'; },
       {kFile},
       3,
       "",
       std::string("dens: ") + kFile + ": block 1 is not a block-file header\n"},
      {[](std::vector<uint8_t>& b) { b.resize(9 * 512); },
       {kFile},
       3,
       "",
       std::string("dens: ") + kFile +
           ": its header gives 10 blocks but the file holds 9 blocks\n"},
      {count(2),
       {kFile},
       3,
       "",
       std::string("dens: ") + kFile +
           ": its header gives 2 blocks but the file holds 10 blocks\n"},
      {count(2147483647),
       {kFile},
       3,
       "",
       "its header gives 2147483647 blocks but the file holds 10 blocks"},
      {count(0), {kFile}, 3, "", ": block 1 is not a block-file header\n"},
      {[](std::vector<uint8_t>& b) {
         // Block 4: a deleted entry of 125 cells twice, then one at cell 251 claiming 21.
         const uint8_t entries[][2] = {{124, 0x80}, {124, 0x80}, {20, 0x68}};
         for (size_t i = 0; i < 3; ++i) std::copy_n(entries[i], 2, b.begin() + 3 * 512 + 250 * i);
       },
       {kFile},
       3,
       "",
       std::string("dens: ") + kFile + ": the entries of block 4 are damaged\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(no arguments)" : c.args.back());
    FakePlatform os;
    std::vector<uint8_t> bytes = store::EmptyBlockFileImage(10);
    c.damage(bytes);
    os.AddFile(kFile, bytes);
    os.SetFileAttributes(kFile, platform::kAttributeReadOnly);
    std::ostringstream out, err;
    EXPECT_EQ(RunDens(os, c.args, out, err), c.status);
    EXPECT_EQ(out.str().substr(0, c.out.size()), c.out);
    if (c.err.empty()) {
      EXPECT_EQ(err.str(), "");
    } else {
      EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    }
    EXPECT_TRUE(*os.Bytes(kFile) == bytes);
    EXPECT_FALSE(io::UnitInUse(1));
  }
}

}  // namespace
}  // namespace varmex::tools
