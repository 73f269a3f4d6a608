#include "store/legacy_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/keyed_store.h"
#include "store/verify.h"
#include "testing/legacy_writer.h"

namespace varmex::store {
namespace {

using testing::EmptyLegacyImage;
using testing::PlaceLegacyRecord;

std::vector<uint8_t> Bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::vector<uint8_t> Data(size_t n, unsigned seed) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(seed + i * 13);
  return d;
}

class LegacyLayoutTest : public ::testing::Test {
 protected:
  void TearDown() override {
    io::CloseAllUnits();
    io::SetIoFaultHook(nullptr);
  }
  void Open(std::vector<uint8_t> image) {
    fake.AddFile("D:\\dev.dat", std::move(image));
    ASSERT_EQ(io::OpenUnit(fake, 1, "D:\\dev.dat", 512), 0);
  }
  std::vector<uint8_t>& image() { return *fake.Bytes("D:\\dev.dat"); }
  LegacyReadResult Read(std::vector<uint8_t>& buffer, std::string_view key, int32_t n,
                        int32_t capacity = 0) {
    std::memcpy(buffer.data(), key.data(), key.size());
    return LegacyKeyedRead(buffer, static_cast<int16_t>(key.size()), n, 1, budget, capacity);
  }
  platform::FakePlatform fake;
  LegacyBudget budget;  // one reader's, for the whole test
};

TEST_F(LegacyLayoutTest, OnePieceInItsHomeBlock) {
  std::vector<uint8_t> img = EmptyLegacyImage(1000);
  const std::vector<uint8_t> key = Bytes("#-[*]2");
  const std::vector<uint8_t> data = Data(40, 1);
  const auto placed = PlaceLegacyRecord(img, 1000, key, data);
  ASSERT_TRUE(placed.placed);
  ASSERT_EQ(placed.blocks, std::vector<int32_t>{217});
  // The entry: key words, then L = -(6 + 2 + 40), then the data.
  EXPECT_EQ(io::LoadI16(img.data() + 216 * 512 + 6), -48);
  Open(img);
  std::vector<uint8_t> buffer(64, 0);
  const LegacyReadResult r = Read(buffer, "#-[*]2", 1000);
  EXPECT_EQ(r.status, kLegacyDone);
  EXPECT_EQ(r.length, 46);  // |L| - 2, key included
  EXPECT_EQ(0, std::memcmp(buffer.data() + 6, data.data(), 40));
}

TEST_F(LegacyLayoutTest, RecordsOfSeveralPiecesCrossingBlocks) {
  const int32_t n = 17;
  std::vector<uint8_t> img = EmptyLegacyImage(n);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> records;
  for (int i = 0; i < 10; ++i) {
    std::string key = std::to_string(10000 + i);
    key.insert(key.begin(), 'E');
    records.push_back({key, Data(static_cast<size_t>(60 + 90 * i), static_cast<unsigned>(i))});
    const auto placed =
        PlaceLegacyRecord(img, n, Bytes(key), records.back().second, i % 3 == 0 ? 400 : 0);
    ASSERT_TRUE(placed.placed) << key;
  }
  Open(img);
  for (const auto& [key, data] : records) {
    std::vector<uint8_t> buffer(6 + data.size(), 0);
    const LegacyReadResult r = Read(buffer, key, n);
    ASSERT_EQ(r.status, kLegacyDone) << key;
    EXPECT_EQ(r.length, static_cast<int32_t>(6 + data.size())) << key;
    EXPECT_EQ(0, std::memcmp(buffer.data() + 6, data.data(), data.size())) << key;
  }
  EXPECT_TRUE(VerifyLegacyImage(image(), n, 6).ok());
}

TEST_F(LegacyLayoutTest, CapacityStopsTheGathering) {
  std::vector<uint8_t> img = EmptyLegacyImage(5);
  const std::vector<uint8_t> data = Data(300, 3);
  ASSERT_TRUE(PlaceLegacyRecord(img, 5, Bytes("ABCDEF"), data, 100).placed);
  Open(img);
  std::vector<uint8_t> buffer(150, 0xEE);
  const LegacyReadResult r = Read(buffer, "ABCDEF", 5);
  EXPECT_EQ(r.status, kLegacyIncomplete);
  EXPECT_EQ(0, std::memcmp(buffer.data() + 6, data.data(), 144));
  std::vector<uint8_t> bigger(400, 0xEE);
  EXPECT_EQ(Read(bigger, "ABCDEF", 5, 120).status, kLegacyIncomplete);
  EXPECT_EQ(bigger[120], 0xEE);
  EXPECT_EQ(Read(bigger, "ABCDEF", 5).status, kLegacyDone);
}

TEST_F(LegacyLayoutTest, NotFoundAndBrokenRecords) {
  std::vector<uint8_t> img = EmptyLegacyImage(4);
  ASSERT_TRUE(PlaceLegacyRecord(img, 4, Bytes("ABCDEF"), Data(800, 5), 0).placed);
  Open(img);
  std::vector<uint8_t> buffer(900, 0);
  EXPECT_EQ(Read(buffer, "XYZXYZ", 4).status, kLegacyNotFound);
  // Remove the last piece's key: the first pieces are gathered, the last is missing.
  const int32_t home = LegacyHomeBlock(Bytes("ABCDEF"), 6, 4);
  const int32_t second = home % 4 + 1;
  image()[static_cast<size_t>(second - 1) * 512] ^= 0x01;
  const LegacyReadResult r = Read(buffer, "ABCDEF", 4);
  EXPECT_EQ(r.status, kLegacyIncomplete);
  EXPECT_GT(r.length, 0);
}

TEST_F(LegacyLayoutTest, BlockLimitAndUnreadableFiles) {
  // N = 1 and a full block without an end mark: the look-up ends at its block limit.
  std::vector<uint8_t> img(512, 0);
  for (int d = 1; d + 7 <= 256; d += 8) {
    io::StoreI16(img.data() + 2 * d - 2, 0x1111);
    io::StoreI16(img.data() + 2 * d + 2, 16);
  }
  Open(img);
  std::vector<uint8_t> buffer(64, 0);
  const uint64_t before = io::Counters().reads;
  EXPECT_EQ(Read(buffer, "ABCD", 1).status, kLegacyNotFound);
  EXPECT_EQ(io::Counters().reads - before, 200u);
  EXPECT_EQ(Read(buffer, "ABCDEF", 1).status, kLegacyNotFound);
  EXPECT_EQ(budget.blocks, 5987);
  const uint64_t mid = io::Counters().reads;
  EXPECT_EQ(Read(buffer, "ABCD", 1).status, kLegacyNotFound);
  EXPECT_EQ(io::Counters().reads - mid, 5987u);
  EXPECT_EQ(RemoveLegacyRecord(Bytes("ABCDEF"), 6, 1, 1), kLegacyIncomplete);

  // No block can be read at all: both give up after N failed reads in a row.
  io::SetIoFaultHook([](io::IoOp, int16_t, int64_t) { return io::IoFault{30, -1}; });
  const uint64_t start = io::Counters().reads;
  EXPECT_EQ(Read(buffer, "ABCDEF", 50).status, kLegacyNotFound);
  EXPECT_EQ(RemoveLegacyRecord(Bytes("ABCDEF"), 6, 50, 1), kLegacyIncomplete);
  EXPECT_EQ(io::Counters().reads - start, 100u);
}

TEST_F(LegacyLayoutTest, BlockCountZeroOrNegative) {
  Open(EmptyLegacyImage(2));
  std::vector<uint8_t> buffer(64, 0);
  const uint64_t before = io::Counters().reads;
  EXPECT_EQ(Read(buffer, "ABCDEF", 0).status, kLegacyNotFound);
  EXPECT_EQ(RemoveLegacyRecord(Bytes("ABCDEF"), 6, -1, 1), kLegacyIncomplete);
  EXPECT_EQ(io::Counters().reads, before);
}

TEST_F(LegacyLayoutTest, EntryRunningPastTheBlockEndsItsExamination) {
  std::vector<uint8_t> img = EmptyLegacyImage(2);
  const std::vector<uint8_t> key = Bytes("ABCDEF");
  const int32_t home = LegacyHomeBlock(key, 6, 2);
  uint8_t* block = img.data() + static_cast<size_t>(home - 1) * 512;
  // At word 240 an entry of the key that claims 100 bytes: it would reach byte 578.
  io::StoreI16(block, 0x1111);
  io::StoreI16(block + 6, 478);
  std::memcpy(block + 478, key.data(), 6);
  io::StoreI16(block + 484, -100);
  Open(img);
  std::vector<uint8_t> buffer(200, 0);
  EXPECT_EQ(Read(buffer, "ABCDEF", 2).status, kLegacyNotFound);
  // Deletion still marks it: its key word lies inside the block.
  EXPECT_EQ(RemoveLegacyRecord(key, 6, 2, 1), kLegacyDone);
  EXPECT_EQ(io::LoadI16(image().data() + static_cast<size_t>(home - 1) * 512 + 478),
            kRemovedKeyWord);
}

TEST_F(LegacyLayoutTest, RemovingTheMarkerRecord) {
  const int32_t n = 1000;
  std::vector<uint8_t> img = EmptyLegacyImage(n);
  const std::vector<uint8_t> marker = Bytes("#-[*]2");
  ASSERT_TRUE(PlaceLegacyRecord(img, n, Bytes("#-[*]1"), Data(40, 9)).placed);
  ASSERT_TRUE(PlaceLegacyRecord(img, n, marker, Data(30, 7)).placed);
  Open(img);
  const std::vector<uint8_t> before = image();
  const uint64_t writes = io::Counters().writes;
  EXPECT_EQ(RemoveLegacyRecord(marker, 6, n, 1), kLegacyDone);
  EXPECT_EQ(io::Counters().writes - writes, 1u);
  std::vector<uint8_t> expected = before;
  const size_t at = 216 * 512 + 2 * 0;
  // The marker is the second entry of block 217, after the 48-byte entry of "#-[*]1"
  // (which hashes next door only if it shares the block; find it by its key).
  size_t pos = 216 * 512;
  while (std::memcmp(expected.data() + pos, marker.data(), 6) != 0) pos += 2;
  io::StoreI16(expected.data() + pos, kRemovedKeyWord);
  EXPECT_EQ(image(), expected);
  (void)at;
  std::vector<uint8_t> buffer(64, 0);
  EXPECT_EQ(Read(buffer, "#-[*]2", n).status, kLegacyNotFound);
  // A second removal finds nothing and writes nothing.
  EXPECT_EQ(RemoveLegacyRecord(marker, 6, n, 1), kLegacyIncomplete);
  EXPECT_EQ(io::Counters().writes - writes, 1u);
}

TEST_F(LegacyLayoutTest, RemovingARecordOfSeveralPieces) {
  const int32_t n = 5;
  std::vector<uint8_t> img = EmptyLegacyImage(n);
  const std::vector<uint8_t> key = Bytes("#-[*]2");
  const auto placed = PlaceLegacyRecord(img, n, key, Data(700, 7), 200);
  ASSERT_TRUE(placed.placed);
  ASSERT_GE(placed.blocks.size(), 3u);
  ASSERT_TRUE(PlaceLegacyRecord(img, n, Bytes("OTHER1"), Data(100, 1)).placed);
  Open(img);
  const uint64_t writes = io::Counters().writes;
  EXPECT_EQ(RemoveLegacyRecord(key, 6, n, 1), kLegacyDone);
  EXPECT_EQ(io::Counters().writes - writes, 4u);  // one write per marked piece
  std::vector<uint8_t> buffer(800, 0);
  EXPECT_EQ(Read(buffer, "#-[*]2", n).status, kLegacyNotFound);
  EXPECT_EQ(Read(buffer, "OTHER1", n).status, kLegacyDone);
  // Home block ends before the key: 4, nothing read further.
  EXPECT_EQ(RemoveLegacyRecord(Bytes("NOSUCH"), 6, n, 1), kLegacyIncomplete);
}

TEST_F(LegacyLayoutTest, WriteFailureIsStatusTwo) {
  std::vector<uint8_t> img = EmptyLegacyImage(3);
  ASSERT_TRUE(PlaceLegacyRecord(img, 3, Bytes("#-[*]2"), Data(20, 1)).placed);
  Open(img);
  io::SetIoFaultHook([](io::IoOp op, int16_t, int64_t) {
    return op == io::IoOp::kWrite ? io::IoFault{29, -1} : io::IoFault{};
  });
  EXPECT_EQ(RemoveLegacyRecord(Bytes("#-[*]2"), 6, 3, 1), kLegacyWriteError);
}

}  // namespace
}  // namespace varmex::store
