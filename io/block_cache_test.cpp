#include "io/block_cache.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "platform/platform.h"

namespace varmex::io {
namespace {

using Block = std::vector<uint8_t>;

Block Filled(uint8_t v, size_t size = kBlockBytes) { return Block(size, v); }

class BlockCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCacheBudget(kDefaultCacheBudget); }
  void TearDown() override {
    SetIoFaultHook(nullptr);
    CloseAllUnits();
    SetCacheBudget(kDefaultCacheBudget);
  }

  // A file of `blocks` blocks, block b filled with the byte b, open and cached on `unit`.
  void OpenCached(int16_t unit, const char* path, int blocks) {
    std::vector<uint8_t> bytes;
    for (int b = 1; b <= blocks; ++b) bytes.insert(bytes.end(), kBlockBytes, uint8_t(b));
    fake.AddFile(path, bytes);
    ASSERT_EQ(OpenUnit(fake, unit, path, kBlockBytes), kIoOk);
    ASSERT_EQ(SetUnitCached(unit, true), kIoOk);
  }
  uint8_t OnDisk(const char* path, int block) {
    return (*fake.Bytes(path))[(static_cast<size_t>(block) - 1) * kBlockBytes];
  }

  platform::FakePlatform fake;
};

// A random run of whole and partial reads and writes on a cached file and on an uncached
// copy, the cache far smaller than the file: every read answers alike, and after the
// close the two files are the same bytes.
TEST_F(BlockCacheTest, CachedFileEndsByteForByteAsTheUncachedOne) {
  SetCacheBudget(20 * 1024);
  OpenCached(1, "D:\\c.dat", 200);
  fake.AddFile("D:\\u.dat", *fake.Bytes("D:\\c.dat"));
  ASSERT_EQ(OpenUnit(fake, 2, "D:\\u.dat", kBlockBytes), kIoOk);
  std::mt19937 rng(7);
  Block a(kBlockBytes), b(kBlockBytes);
  for (int op = 0; op < 20000; ++op) {
    const int64_t block = 1 + rng() % 210;  // some beyond the end of the file
    const size_t size = rng() % 4 == 0 ? 1 + rng() % kBlockBytes : kBlockBytes;
    if (rng() % 3 == 0) {
      const Block data = Filled(static_cast<uint8_t>(rng()), size);
      ASSERT_EQ(WriteRecord(1, block, data), WriteRecord(2, block, data)) << op;
    } else {
      const int sa = ReadRecord(1, block, std::span(a).first(size));
      ASSERT_EQ(sa, ReadRecord(2, block, std::span(b).first(size))) << op;
      if (sa == kIoOk) {
        ASSERT_EQ(a, b) << op;
      }
    }
  }
  EXPECT_LE(CurrentCacheStats().peakBytes, 20u * 1024);
  EXPECT_GT(CurrentCacheStats().writeBacks, 0u);
  EXPECT_EQ(CloseUnit(1), kIoOk);
  EXPECT_EQ(*fake.Bytes("D:\\c.dat"), *fake.Bytes("D:\\u.dat"));
}

TEST_F(BlockCacheTest, OnlyMissesAndWriteBacksReachTheFileInBlockOrder) {
  OpenCached(3, "D:\\f.dat", 10);
  std::vector<std::pair<IoOp, int64_t>> seen;
  SetIoFaultHook([&](IoOp op, int16_t, int64_t record) {
    seen.emplace_back(op, record);
    return IoFault{};
  });
  Block out(kBlockBytes);
  for (int64_t b : {5, 2, 5, 2}) ASSERT_EQ(ReadRecord(3, b, out), kIoOk);
  for (int64_t b : {9, 2, 9, 7}) ASSERT_EQ(WriteRecord(3, b, Filled(0xEE)), kIoOk);
  EXPECT_EQ(OnDisk("D:\\f.dat", 9), 9);  // not yet on disk
  ASSERT_EQ(FlushUnit(3), kIoOk);
  ASSERT_EQ(FlushUnit(3), kIoOk);  // nothing left to write
  const std::vector<std::pair<IoOp, int64_t>> expected = {
      {IoOp::kRead, 5}, {IoOp::kRead, 2}, {IoOp::kWrite, 2}, {IoOp::kWrite, 7}, {IoOp::kWrite, 9}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(OnDisk("D:\\f.dat", 9), 0xEE);
  EXPECT_EQ(OnDisk("D:\\f.dat", 5), 5);
}

TEST_F(BlockCacheTest, OnlyOpenUnitsOfWholeBlocksCanBeCached) {
  fake.AddFile("D:\\r.dat", Block(100, 1));
  ASSERT_EQ(OpenUnit(fake, 4, "D:\\r.dat", 10), kIoOk);
  EXPECT_EQ(SetUnitCached(4, true), kIoBadArgument);
  EXPECT_EQ(SetUnitCached(5, true), kIoBadArgument);
  EXPECT_FALSE(UnitCached(4));
  // Turning the cache off writes back what it held.
  OpenCached(6, "D:\\o.dat", 3);
  ASSERT_EQ(WriteRecord(6, 2, Filled(0x42)), kIoOk);
  EXPECT_EQ(SetUnitCached(6, false), kIoOk);
  EXPECT_FALSE(UnitCached(6));
  EXPECT_EQ(OnDisk("D:\\o.dat", 2), 0x42);
}

// A write-back that fails once is written again and loses nothing.
TEST_F(BlockCacheTest, AWriteBackThatFailsOnceIsWrittenAgain) {
  OpenCached(1, "D:\\f.dat", 4);
  WriteLedger ledger;
  {
    CountedWrite w(ledger);
    ASSERT_EQ(WriteRecord(1, 3, Filled(0x33), w.ticket()), kIoOk);
  }
  int writes = 0;
  SetIoFaultHook([&](IoOp op, int16_t, int64_t) {
    if (op == IoOp::kWrite && ++writes == 1) return IoFault{platform::kErrorDiskFull, 100};
    return IoFault{};
  });
  EXPECT_EQ(FlushUnit(1), kIoOk);
  EXPECT_EQ(writes, 2);
  EXPECT_EQ(ledger.failed(), 0);
  EXPECT_EQ((*fake.Bytes("D:\\f.dat"))[2 * kBlockBytes + 511], 0x33);
}

// A block whose write-back fails twice is given up: every counted write that changed
// it, or read it while it was dirty, is counted once as failed; the others are not;
// the file's own bytes are what is read afterwards; the flush says why.
TEST_F(BlockCacheTest, AGivenUpBlockCountsTheWritesItCarried) {
  OpenCached(1, "D:\\f.dat", 6);
  WriteLedger prices, links;
  auto write = [](WriteLedger& ledger, int64_t block, uint8_t v, bool failsAtOnce = false) {
    CountedWrite w(ledger);
    ASSERT_EQ(WriteRecord(1, block, Filled(v), w.ticket()), kIoOk);
    if (failsAtOnce) w.Failed();
  };
  write(prices, 2, 0xA1);
  write(prices, 2, 0xA2);
  write(links, 4, 0xB1);
  write(links, 2, 0xB2, /*failsAtOnce=*/true);  // counted at once, not again
  {
    // A write that only read block 2 while it was dirty, then placed its record in 5.
    CountedWrite w(prices);
    Block out(kBlockBytes);
    ASSERT_EQ(ReadRecord(1, 2, out, w.ticket()), kIoOk);
    ASSERT_EQ(WriteRecord(1, 5, Filled(0xA3), w.ticket()), kIoOk);
  }
  EXPECT_EQ(links.failed(), 1);
  SetIoFaultHook([](IoOp op, int16_t, int64_t record) {
    return op == IoOp::kWrite && record == 2 ? IoFault{platform::kErrorWriteFault, -1} : IoFault{};
  });
  EXPECT_EQ(FlushUnit(1), platform::kErrorWriteFault);
  EXPECT_EQ(prices.failed(), 3);
  EXPECT_EQ(links.failed(), 1);
  EXPECT_EQ(CurrentCacheStats().givenUp, 1u);
  EXPECT_EQ(FlushUnit(1), kIoOk);  // reported once
  SetIoFaultHook(nullptr);
  Block out(kBlockBytes);
  ASSERT_EQ(ReadRecord(1, 2, out), kIoOk);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(OnDisk("D:\\f.dat", 4), 0xB1);
  EXPECT_EQ(OnDisk("D:\\f.dat", 5), 0xA3);
}

// A block pushed out by others is written back then; when it is given up there, the
// ledger counts it and the unit's next flush reports it. A block noted by more writes
// than it keeps notes of is written back early and keeps counting right.
TEST_F(BlockCacheTest, EvictionAndFullNotesWriteBackEarly) {
  SetCacheBudget(4 * 1024);  // a handful of blocks
  OpenCached(1, "D:\\f.dat", 40);
  WriteLedger ledger;
  for (int k = 0; k < 12; ++k) {
    CountedWrite w(ledger);
    ASSERT_EQ(WriteRecord(1, 1, Filled(static_cast<uint8_t>(k)), w.ticket()), kIoOk);
  }
  EXPECT_GE(CurrentCacheStats().writeBacks, 1u);
  EXPECT_EQ(OnDisk("D:\\f.dat", 1), 7);  // the eighth write's bytes went out early
  SetIoFaultHook([](IoOp op, int16_t, int64_t record) {
    return op == IoOp::kWrite && record == 1 ? IoFault{platform::kErrorDiskFull, 0} : IoFault{};
  });
  Block out(kBlockBytes);
  for (int64_t b = 2; b <= 40; ++b) ASSERT_EQ(ReadRecord(1, b, out), kIoOk);
  EXPECT_EQ(ledger.failed(), 4);  // the writes since the early write-back
  EXPECT_EQ(FlushUnit(1), platform::kErrorDiskFull);
  EXPECT_LE(CurrentCacheStats().blocks * kBlockBytes, 4u * 1024);
}

TEST_F(BlockCacheTest, AMissThatFailsAnswersAtOnceAndKeepsNothing) {
  OpenCached(1, "D:\\f.dat", 2);
  SetIoFaultHook([](IoOp, int16_t, int64_t) { return IoFault{platform::kErrorReadFault, -1}; });
  Block out(kBlockBytes);
  EXPECT_EQ(ReadRecord(1, 1, out), platform::kErrorReadFault);
  SetIoFaultHook(nullptr);
  ASSERT_EQ(ReadRecord(1, 1, out), kIoOk);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(ReadRecord(1, 3, out), kIoPastEnd);
}

}  // namespace
}  // namespace varmex::io
