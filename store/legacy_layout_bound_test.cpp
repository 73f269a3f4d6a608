// A word-layout file whose block count (taken from a damaged OBI header) lies far past
// the file's end: the blocks past the end are passed over as the probe path would pass
// them, without trying each one.
#include <gtest/gtest.h>

#include <cstring>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"

namespace varmex::store {
namespace {

constexpr const char* kFile = "D:\\dev.dat";
constexpr int32_t kFarBlocks = 5000000;

class FarBlockCount : public ::testing::Test {
 protected:
  void SetUp() override {
    // Three blocks; the marker record in one piece at the start of block 1, where the
    // probe path comes back to after N.
    std::vector<uint8_t> bytes(3 * 512, 0);
    std::memcpy(bytes.data(), "#-[*]2", 6);
    io::StoreI16(bytes.data() + 6, -12);
    io::StoreI32(bytes.data() + 8, 4321);
    fake_.AddFile(kFile, bytes);
    ASSERT_EQ(io::OpenUnit(fake_, 1, kFile, 512), 0);
    // The key's home block lies far past the end of the file.
    ASSERT_GT(LegacyHomeBlock(Key(), 6, kFarBlocks), 3);
  }
  void TearDown() override { io::CloseAllUnits(); }
  static std::span<const uint8_t> Key() { return {reinterpret_cast<const uint8_t*>("#-[*]2"), 6}; }

  platform::FakePlatform fake_;
};

TEST_F(FarBlockCount, LookupWrapsToTheFileWithoutTryingEveryMissingBlock) {
  const uint64_t before = io::Counters().reads;
  std::vector<uint8_t> record(64, 0);
  std::memcpy(record.data(), "#-[*]2", 6);
  const LegacyReadResult r = LegacyKeyedRead(record, 6, kFarBlocks, 1);
  EXPECT_EQ(r.status, kLegacyDone);
  EXPECT_EQ(r.length, 10);
  EXPECT_EQ(io::LoadI32(record.data() + 6), 4321);
  EXPECT_LT(io::Counters().reads - before, 100u);
}

TEST_F(FarBlockCount, RemovalWrapsToTheFileWithoutTryingEveryMissingBlock) {
  const uint64_t before = io::Counters().reads;
  EXPECT_EQ(RemoveLegacyRecord(Key(), 6, kFarBlocks, 1), kLegacyDone);
  EXPECT_EQ(io::LoadI16(fake_.Bytes(kFile)->data()), kRemovedKeyWord);
  EXPECT_LT(io::Counters().reads - before, 100u);
}

TEST_F(FarBlockCount, AnEmptyFileIsGivenUp) {
  *fake_.Bytes(kFile) = {};
  std::vector<uint8_t> record(64, 0);
  std::memcpy(record.data(), "#-[*]2", 6);
  const uint64_t before = io::Counters().reads;
  EXPECT_EQ(LegacyKeyedRead(record, 6, kFarBlocks, 1).status, kLegacyNotFound);
  EXPECT_EQ(RemoveLegacyRecord(Key(), 6, kFarBlocks, 1), kLegacyIncomplete);
  EXPECT_LT(io::Counters().reads - before, 10u);
}

}  // namespace
}  // namespace varmex::store
