#include "io/block_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "platform/forwarding_platform.h"
#include "platform/platform.h"

namespace varmex::io {
namespace {

using Block = std::vector<uint8_t>;

Block Filled(uint8_t v, size_t size = kBlockBytes) { return Block(size, v); }

// The fake's files with their read and write calls counted, and a disk that can fail:
// a read that reaches `badBlock` brings what lies before it and fails, as a pread loop
// meeting a bad sector does; a write that reaches `fullBlock` puts what lies before it
// and fails with a full disk (`fullOnce`: only the first such write).
class FlakyDisk : public platform::ForwardingPlatform {
 public:
  explicit FlakyDisk(platform::FakePlatform& fake) : ForwardingPlatform(fake) {}

  int64_t badBlock = 0;
  int64_t fullBlock = 0;
  bool fullOnce = false;
  int readCalls = 0;
  int writeCalls = 0;

  std::unique_ptr<platform::File> OpenExistingFile(std::string_view path,
                                                   uint32_t& error) override {
    auto inner = ForwardingPlatform::OpenExistingFile(path, error);
    return inner ? std::make_unique<FlakyFile>(*this, std::move(inner)) : nullptr;
  }

 private:
  class FlakyFile : public platform::File {
   public:
    FlakyFile(FlakyDisk& disk, std::unique_ptr<platform::File> inner)
        : disk_(disk), inner_(std::move(inner)) {}
    uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
      ++disk_.readCalls;
      const size_t before = Before(disk_.badBlock, offset, out.size());
      if (before == out.size()) return inner_->ReadAt(offset, out, got);
      inner_->ReadAt(offset, out.first(before), got);
      return platform::kErrorReadFault;
    }
    uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
      ++disk_.writeCalls;
      const uint64_t full = static_cast<uint64_t>(disk_.fullBlock - 1) * kBlockBytes;
      if (disk_.fullBlock <= 0 || full >= offset + in.size())
        return inner_->WriteAt(offset, in, put);
      const size_t before = full > offset ? static_cast<size_t>(full - offset) : 0;
      if (disk_.fullOnce) disk_.fullBlock = 0;
      inner_->WriteAt(offset, in.first(before), put);
      return platform::kErrorDiskFull;
    }
    uint32_t Flush() override { return inner_->Flush(); }

   private:
    // How many of `size` bytes at `offset` lie before the block (all: it is not among
    // them).
    static size_t Before(int64_t block, uint64_t offset, size_t size) {
      const uint64_t at = static_cast<uint64_t>(block - 1) * kBlockBytes;
      if (block <= 0 || at >= offset + size || at + kBlockBytes <= offset) return size;
      return at > offset ? static_cast<size_t>(at - offset) : 0;
    }
    FlakyDisk& disk_;
    std::unique_ptr<platform::File> inner_;
  };
};

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
    OpenCached(fake, unit, path, blocks);
  }
  void OpenCached(platform::Platform& os, int16_t unit, const char* path, int blocks) {
    std::vector<uint8_t> bytes;
    for (int b = 1; b <= blocks; ++b) bytes.insert(bytes.end(), kBlockBytes, uint8_t(b));
    fake.AddFile(path, bytes);
    ASSERT_EQ(OpenUnit(os, unit, path, kBlockBytes), kIoOk);
    ASSERT_EQ(SetUnitCached(unit, true), kIoOk);
  }
  uint8_t OnDisk(const char* path, int block) {
    return (*fake.Bytes(path))[(static_cast<size_t>(block) - 1) * kBlockBytes];
  }

  platform::FakePlatform fake;
};

// A random run of whole and partial reads and writes on a cached file and on an uncached
// copy, the cache far smaller than the file: every read answers alike, and after the
// close the two files are the same bytes. The blocks are taken at random, then in passes
// in block order that start anywhere (which read ahead among dirty blocks).
// The cached file's blocks are kept, or passing in a third round.
TEST_F(BlockCacheTest, CachedFileEndsByteForByteAsTheUncachedOne) {
  for (const int round : {0, 1, 2}) {
    const bool passes = round > 0;
    SCOPED_TRACE(round);
    SetCacheBudget(20 * 1024);
    OpenCached(1, "D:\\c.dat", 200);
    if (round == 2) SetUnitReadInPasses(1);
    fake.AddFile("D:\\u.dat", *fake.Bytes("D:\\c.dat"));
    ASSERT_EQ(OpenUnit(fake, 2, "D:\\u.dat", kBlockBytes), kIoOk);
    std::mt19937 rng(7);
    Block a(kBlockBytes), b(kBlockBytes);
    int64_t block = 1;
    for (int op = 0; op < 20000; ++op) {
      // Some beyond the end of the file.
      block = passes && rng() % 16 != 0 ? block % 210 + 1 : 1 + rng() % 210;
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
    EXPECT_EQ(CloseUnit(2), kIoOk);
    EXPECT_EQ(*fake.Bytes("D:\\c.dat"), *fake.Bytes("D:\\u.dat"));
  }
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

// A pass over a file far larger than the cache leaves the blocks of a file used again
// and again where they are, once the large one is read in passes; the passing blocks
// still fill the room that is free.
TEST_F(BlockCacheTest, APassingFileMakesWayForTheKeptOnes) {
  for (const bool passing : {false, true}) {
    SCOPED_TRACE(passing);
    SetCacheBudget(100 * 1024);
    OpenCached(1, "D:\\kept.dat", 20);
    OpenCached(2, "D:\\pass.dat", 400);
    if (passing) SetUnitReadInPasses(2);
    int keptReads = 0;
    SetIoFaultHook([&](IoOp op, int16_t unit, int64_t) {
      if (op == IoOp::kRead && unit == 1) ++keptReads;
      return IoFault{};
    });
    Block out(kBlockBytes);
    auto pass = [&](int16_t unit, int64_t blocks) {
      for (int64_t b = 1; b <= blocks; ++b) ASSERT_EQ(ReadRecord(unit, b, out), kIoOk);
    };
    pass(1, 20);
    pass(2, 400);
    keptReads = 0;
    pass(1, 20);
    if (passing) {
      EXPECT_EQ(keptReads, 0);
    } else {
      EXPECT_EQ(keptReads, 20);
    }
    CloseAllUnits();
  }
  // Alone, a passing file is held as a kept one is.
  OpenCached(2, "D:\\small.dat", 30);
  SetUnitReadInPasses(2);
  Block out(kBlockBytes);
  for (int64_t b = 1; b <= 30; ++b) ASSERT_EQ(ReadRecord(2, b, out), kIoOk);
  const uint64_t misses = CurrentCacheStats().misses + CurrentCacheStats().readAhead;
  for (int64_t b = 1; b <= 30; ++b) ASSERT_EQ(ReadRecord(2, b, out), kIoOk);
  EXPECT_EQ(CurrentCacheStats().misses + CurrentCacheStats().readAhead, misses);
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

// With a budget of room, a block noted by more record writes than it keeps notes of
// borrows further ones rather than going out early, up to 32 notes; past those it goes
// out early. Giving it up counts exactly the writes noted since it was last written.
// A dirty block pushed out takes the dirty blocks held beside it along in one call;
// they stay, clean, and the file ends as the writes left it.
TEST_F(BlockCacheTest, AnEvictedBlockGoesOutWithItsDirtyNeighbours) {
  SetCacheBudget(100 * 1024);
  FlakyDisk disk(fake);
  OpenCached(disk, 1, "D:\\f.dat", 200);
  std::mt19937 rng(3);
  for (int k = 0; k < 2000; ++k) ASSERT_EQ(WriteRecord(1, 1 + rng() % 200, Filled(0xA0)), kIoOk);
  ASSERT_EQ(FlushUnit(1), kIoOk);
  EXPECT_LT(disk.writeCalls, 400);  // 755 when each went out alone
  for (int64_t b = 1; b <= 200; ++b) ASSERT_EQ(OnDisk("D:\\f.dat", static_cast<int>(b)), 0xA0);
}

// A block that cannot be written, taken along by its neighbour's eviction: it alone is
// lost and counted, and its neighbours reach the disk.
TEST_F(BlockCacheTest, AnEvictedRunAroundABadBlockLosesOnlyThatBlock) {
  SetCacheBudget(100 * 1024);
  OpenCached(1, "D:\\f.dat", 200);
  SetIoFaultHook([](IoOp op, int16_t, int64_t record) {
    return op == IoOp::kWrite && record == 100 ? IoFault{platform::kErrorWriteFault, -1}
                                               : IoFault{};
  });
  std::vector<int64_t> order;
  for (int64_t b = 1; b <= 200; ++b) order.push_back(b);
  std::shuffle(order.begin() + 1, order.end(), std::mt19937(5));
  std::swap(*order.begin(), *std::find(order.begin(), order.end(), 100));  // out first
  WriteLedger ledger;
  for (const int64_t b : order) {
    CountedWrite w(ledger);
    ASSERT_EQ(WriteRecord(1, b, Filled(0xC0), w.ticket()), kIoOk);
  }
  EXPECT_GT(CurrentCacheStats().givenUp, 0u);  // at an eviction, before the flush
  EXPECT_EQ(FlushUnit(1), platform::kErrorWriteFault);
  EXPECT_EQ(ledger.failed(), 1);
  for (int64_t b = 1; b <= 200; ++b) {
    ASSERT_EQ(OnDisk("D:\\f.dat", static_cast<int>(b)), b == 100 ? 100 : 0xC0) << b;
  }
}

TEST_F(BlockCacheTest, ABlockOfManyNotesBorrowsBeforeItGoesOutEarly) {
  struct Case {
    int writes;
    uint8_t onDisk;  // block 1 before the flush
    int failed;
  };
  for (const Case& c : {Case{12, 1, 12}, Case{32, 1, 32}, Case{40, 31, 8}}) {
    SCOPED_TRACE(c.writes);
    OpenCached(1, "D:\\n.dat", 4);
    WriteLedger ledger;
    for (int k = 0; k < c.writes; ++k) {
      CountedWrite w(ledger);
      ASSERT_EQ(WriteRecord(1, 1, Filled(static_cast<uint8_t>(k)), w.ticket()), kIoOk);
    }
    EXPECT_EQ(OnDisk("D:\\n.dat", 1), c.onDisk);
    SetIoFaultHook([](IoOp, int16_t, int64_t) { return IoFault{platform::kErrorWriteFault, -1}; });
    EXPECT_EQ(FlushUnit(1), platform::kErrorWriteFault);
    EXPECT_EQ(ledger.failed(), c.failed);
    SetIoFaultHook(nullptr);
    CloseUnit(1);
  }
}

// Blocks from..to, in block order.
std::vector<int64_t> Pass(int64_t from, int64_t to) {
  std::vector<int64_t> blocks;
  for (int64_t b = from; b <= to; ++b) blocks.push_back(b);
  return blocks;
}

// Reads through the cache answer as reads straight from the file do, with the same
// statuses and bytes, whatever the file, its faults and the order of the reads. A pass
// in block order reads ahead, in a few calls that ask the fault hook about each block
// once and never go past the end of the file; reads out of order never read ahead.
TEST_F(BlockCacheTest, ReadingAheadAnswersAsTheFileDoes) {
  struct Case {
    const char* name;
    int blocks;         // whole blocks of the file
    size_t tail;        // the bytes of a partial block after them
    int64_t badBlock;   // whose reads fail on the disk (0: none)
    int64_t hookFails;  // whose reads the fault hook fails (0: none)
    std::vector<int64_t> reads;
    size_t readBytes;  // of each block read
    int maxReadCalls;  // on the cached file
    bool readsAhead;
  };
  const std::vector<Case> cases = {
      {"a pass in block order", 200, 0, 0, 0, Pass(1, 200), kBlockBytes, 10, true},
      {"past the end of a short file", 60, 100, 0, 0, Pass(1, 70), kBlockBytes, 17, true},
      {"past the end, a part of each block", 60, 100, 0, 0, Pass(1, 70), 100, 17, true},
      {"records of two blocks, looked up",
       60,
       0,
       0,
       0,
       {5, 6, 40, 41, 12, 13, 30, 31},
       kBlockBytes,
       8,
       false},
      {"a bad block in an extent", 60, 0, 20, 0, Pass(1, 60), kBlockBytes, 24, true},
      {"a block the hook fails in an extent", 60, 0, 0, 20, Pass(1, 60), kBlockBytes, 16, true},
      {"out of order", 60, 0, 0, 0, {9, 3, 17, 5, 12, 1, 30, 22, 9, 3, 18}, kBlockBytes, 9, false},
  };
  FlakyDisk disk(fake);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t aheadBefore = CurrentCacheStats().readAhead;
    Block bytes;
    for (int b = 1; b <= c.blocks; ++b) bytes.insert(bytes.end(), kBlockBytes, uint8_t(b));
    bytes.insert(bytes.end(), c.tail, 0xFF);
    fake.AddFile("D:\\c.dat", bytes);
    fake.AddFile("D:\\u.dat", bytes);
    ASSERT_EQ(OpenUnit(disk, 1, "D:\\c.dat", kBlockBytes), kIoOk);
    ASSERT_EQ(SetUnitCached(1, true), kIoOk);
    ASSERT_EQ(OpenUnit(disk, 2, "D:\\u.dat", kBlockBytes), kIoOk);
    disk.badBlock = c.badBlock;
    std::vector<int64_t> asked;  // of the cached file
    SetIoFaultHook([&](IoOp, int16_t unit, int64_t record) {
      if (unit == 1) asked.push_back(record);
      return record == c.hookFails ? IoFault{platform::kErrorReadFault, -1} : IoFault{};
    });
    int cachedCalls = 0;
    for (int64_t b : c.reads) {
      Block a(c.readBytes), u(c.readBytes);
      const int before = disk.readCalls;
      const int status = ReadRecord(1, b, a);
      cachedCalls += disk.readCalls - before;
      ASSERT_EQ(status, ReadRecord(2, b, u)) << b;
      if (status == kIoOk) {
        EXPECT_EQ(a, u) << b;
      }
    }
    // Without faults each block comes from the file once; none is asked for beyond the
    // last block read (and the file's end).
    if (c.badBlock == 0 && c.hookFails == 0) {
      EXPECT_EQ(std::set<int64_t>(asked.begin(), asked.end()).size(), asked.size());
    }
    EXPECT_LE(*std::max_element(asked.begin(), asked.end()),
              *std::max_element(c.reads.begin(), c.reads.end()));
    EXPECT_LE(cachedCalls, c.maxReadCalls);
    EXPECT_EQ(CurrentCacheStats().readAhead > aheadBefore, c.readsAhead);
    SetIoFaultHook(nullptr);
    CloseAllUnits();
  }
}

// A flush writes each run of neighbouring dirty blocks in one call. A block whose
// write fails in a run is written once more alone, as a block written by itself is,
// and given up when that fails too: every record write it carried is counted, none of
// the blocks that reached the disk, and the flush answers with the failure.
TEST_F(BlockCacheTest, ARunWrittenBackInOneCallFailsBlockByBlock) {
  struct Case {
    const char* name;
    int64_t hookFails;  // the block whose writes the hook fails (0: none)
    int hookFailures;   // how many times
    int64_t fullBlock;  // the disk is full from this block on (0: never)
    bool fullOnce;
    int writeCalls;
    int failed;  // record writes counted as failed
    int flushed;
    std::set<int64_t> lost;  // blocks whose new bytes are not on the disk
  };
  constexpr int kFull = platform::kErrorDiskFull;
  const std::vector<Case> cases = {
      {"no failure", 0, 0, 0, false, 2, 0, kIoOk, {}},
      {"the hook fails a block once", 5, 1, 0, false, 4, 0, kIoOk, {}},
      {"the hook fails a block twice", 5, 2, 0, false, 3, 2, platform::kErrorWriteFault, {5}},
      {"the disk fills once in the run", 0, 0, 6, true, 4, 0, kIoOk, {}},
      {"the disk stays full in the run", 0, 0, 6, false, 10, 9, kFull, {6, 7, 8, 9, 12}},
  };
  FlakyDisk disk(fake);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenCached(disk, 1, "D:\\f.dat", 12);
    WriteLedger ledger;
    // Blocks 2 to 9, two record writes each, and block 12 alone with one.
    for (int64_t b : {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5, 6, 7, 8, 9, 12}) {
      CountedWrite w(ledger);
      ASSERT_EQ(WriteRecord(1, b, Filled(static_cast<uint8_t>(0x80 + b)), w.ticket()), kIoOk);
    }
    std::vector<int64_t> asked;
    int failures = 0;
    SetIoFaultHook([&](IoOp, int16_t, int64_t record) {
      asked.push_back(record);
      if (record == c.hookFails && failures < c.hookFailures) {
        ++failures;
        return IoFault{platform::kErrorWriteFault, -1};
      }
      return IoFault{};
    });
    disk.fullBlock = c.fullBlock;
    disk.fullOnce = c.fullOnce;
    disk.writeCalls = 0;
    EXPECT_EQ(FlushUnit(1), c.flushed);
    EXPECT_EQ(disk.writeCalls, c.writeCalls);
    EXPECT_EQ(ledger.failed(), c.failed);
    if (c.hookFails != 0) {  // the hook is asked as when each block is written alone
      EXPECT_EQ(asked, (std::vector<int64_t>{2, 3, 4, 5, 5, 6, 7, 8, 9, 12}));
    }
    for (int64_t b = 2; b <= 12; ++b) {
      const bool written = (b <= 9 || b == 12) && c.lost.count(b) == 0;
      EXPECT_EQ(OnDisk("D:\\f.dat", static_cast<int>(b)), written ? 0x80 + b : b) << b;
    }
    SetIoFaultHook(nullptr);
    disk.fullBlock = 0;
    EXPECT_EQ(CloseUnit(1), kIoOk);
  }
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

// Blocks written past the end of a file: one held dirty, one in part straight to the file.
// The blocks between answer as without the cache (the file's bytes, then zeros); those
// beyond the last one written are still past the end.
TEST_F(BlockCacheTest, ABlockBeforeADirtyOneBeyondTheEndReadsAsWithoutTheCache) {
  OpenCached(1, "D:\\c.dat", 4);
  fake.AddFile("D:\\u.dat", *fake.Bytes("D:\\c.dat"));
  ASSERT_EQ(OpenUnit(fake, 2, "D:\\u.dat", kBlockBytes), kIoOk);
  for (int16_t unit : {1, 2}) {
    ASSERT_EQ(WriteRecord(unit, 9, Filled(0xAB)), kIoOk);
    ASSERT_EQ(WriteRecord(unit, 6, Filled(0xCD, 77)), kIoOk);
  }
  Block a(kBlockBytes), b(kBlockBytes);
  for (int64_t block : {5, 6, 7, 8, 10}) {
    SCOPED_TRACE(block);
    const int status = ReadRecord(1, block, a);
    ASSERT_EQ(status, ReadRecord(2, block, b));
    if (status == kIoOk) {
      EXPECT_EQ(a, b);
    }
  }
  EXPECT_EQ(CloseUnit(1), kIoOk);
  EXPECT_EQ(*fake.Bytes("D:\\c.dat"), *fake.Bytes("D:\\u.dat"));
}

}  // namespace
}  // namespace varmex::io
