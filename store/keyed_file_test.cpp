// The handle of an open keyed file: it grows the file when a write finds it full or
// crowded, and its flush counts the records that never reached the disk.
#include "store/keyed_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "io/unit_file.h"
#include "platform/platform.h"
#include "store/block_file_builder.h"
#include "store/store_test_support.h"

namespace varmex::store {
namespace {

// A run of crowded blocks (each one record's piece from edge to edge) in front of the
// free room: a record whose look-up crosses more than kCrowdedWalkBlocks of them is
// written and then the file is enlarged; a shorter crossing, or no owner that can
// enlarge, leaves the file as it is; a full file is enlarged before the write lands.
TEST(KeyedFile, ACrowdedOrFullFileIsEnlargedAndTheRecordLands) {
  struct Case {
    int32_t blocks;   // of the file
    int32_t crowded;  // blocks 2 .. crowded+1 full
    bool canEnlarge;
    int expectedCalls;
  };
  constexpr int32_t kBlocks = kCrowdedWalkBlocks + 50;
  const Case cases[] = {
      {kBlocks, kCrowdedWalkBlocks, true, 1},      // the walk reads one block more
      {kBlocks, kCrowdedWalkBlocks - 1, true, 0},  // the walk reads exactly the limit
      {kBlocks, kCrowdedWalkBlocks, false, 0},
      {3, 2, true, 1},  // every block crowded: answers 3, enlarged, written again
  };
  for (const Case& c : cases) {
    testing::MemoryBlockFile f(c.blocks);
    for (int32_t b = 2; b <= c.crowded + 1; ++b)
      f.PutEntry(b, 1, 256, static_cast<uint8_t>(kFlagFirst | kFlagLast | 8), "zzzzzzzz");
    const std::string key = testing::KeyWithHome(c.blocks, 2, 8);
    ASSERT_FALSE(key.empty());
    const std::vector<uint8_t> record = testing::MakeRecord(key, 16, 1);
    KeyedFile file(f.unit(), c.blocks);
    int calls = 0;
    if (c.canEnlarge) {
      file.SetGrow([&](KeyedFile& h) {
        ++calls;
        if (c.crowded < c.blocks - 1) return false;
        // Room at last: a fresh file of more blocks on the same unit.
        io::CloseUnit(h.unit());
        f.image() = EmptyBlockFileImage(8);
        io::OpenUnit(f.fake(), h.unit(), testing::kTestFile, kBlockBytes);
        h.Reopened(h.unit(), 8);
        return true;
      });
    }
    EXPECT_EQ(file.Write(record, 8).status, kKeyedDone) << c.crowded;
    EXPECT_EQ(calls, c.expectedCalls) << c.crowded;
    std::vector<uint8_t> got(record.size());
    std::copy_n(record.begin(), 8, got.begin());
    EXPECT_EQ(file.Read(got, 8).status, kKeyedDone) << c.crowded;
    EXPECT_EQ(got, record) << c.crowded;
    EXPECT_EQ(file.Flush(), 0) << c.crowded;
  }
}

// A write that fails at once, and records whose cached block cannot be written back,
// are counted by the flush of the file they were written to, and only there.
TEST(KeyedFile, FlushCountsTheRecordsThatNeverReachedTheDisk) {
  testing::MemoryBlockFile f(16);
  io::SetUnitCached(f.unit(), true);
  KeyedFile file(f.unit(), 16);
  KeyedFile other(f.unit(), 16);
  int start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::string key = testing::KeyWithHome(16, 5, 8, start);
    start = std::stoi(key) + 1;
    EXPECT_EQ(file.Write(testing::MakeRecord(key, 16, 1), 8).status, kKeyedDone);
  }
  // Every write-back of block 5 fails, twice: the cache gives it up.
  io::SetIoFaultHook([](io::IoOp op, int16_t, int64_t block) -> io::IoFault {
    if (op == io::IoOp::kWrite && block == 5) return {platform::kErrorWriteFault, -1};
    return {};
  });
  EXPECT_EQ(file.Flush(), 3);
  EXPECT_EQ(other.Flush(), 0);
  // A record too long for any block fails at once.
  EXPECT_NE(file.Write(std::vector<uint8_t>(kMaxRecordLength + 1, 'x'), 8).status, kKeyedDone);
  EXPECT_EQ(file.Flush(), 4);
}

}  // namespace
}  // namespace varmex::store
