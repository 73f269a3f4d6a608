// A write whose first reusable place lies before the end of the look-up's walk: the
// placement walks on from that place and must not count the blocks it walks twice.
#include <gtest/gtest.h>

#include "store/keyed_store.h"
#include "store/store_test_support.h"
#include "store/verify.h"

namespace varmex::store {
namespace {

using testing::KeyWithHome;
using testing::MakeRecord;
using testing::MemoryBlockFile;

// Fills block b from `from` to its end with one live piece of a key of its own.
void FillWithLivePiece(MemoryBlockFile& f, int32_t b, int from, std::string_view key) {
  f.PutEntry(b, from, 257 - from, static_cast<uint8_t>(kFlagFirst | kFlagLast | key.size()), key);
}

TEST(KeyedWriteProbe, PlacesPastAFillerWithTheRestOfTheRoundAhead) {
  // Five blocks: the home block 2 ends in a filler (reusable, too small for a piece),
  // blocks 3 and 4 are full, block 5 has room: the record goes to block 5.
  MemoryBlockFile f(5);
  const std::string key = KeyWithHome(f.n(), 2, 8);
  ASSERT_FALSE(key.empty());
  f.PutEntry(2, 1, 252, 0x68, "AAAAAAAA");
  f.PutEntry(2, 253, 4, kFlagFiller);
  FillWithLivePiece(f, 3, 1, "BBBBBBBB");
  FillWithLivePiece(f, 4, 1, "CCCCCCCC");
  f.PutEntry(5, 1, 100, 0x68, "DDDDDDDD");
  ASSERT_TRUE(VerifyBlockImage(f.image(), 0).ok()) << FormatProblems(VerifyBlockImage(f.image(), 0));

  const std::vector<uint8_t> record = MakeRecord(key, 128, 3);
  const WriteResult w = KeyedWrite(record, 8, f.n(), f.unit(), kHashSelector5);
  EXPECT_EQ(w.status, kKeyedDone);
  EXPECT_EQ(w.block, 5);
  EXPECT_EQ(w.unit, 101);

  std::vector<uint8_t> back(136, 0);
  std::copy(key.begin(), key.end(), back.begin());
  const ReadResult r = KeyedRead(back, 8, f.n(), f.unit(), kHashSelector5);
  EXPECT_EQ(r.status, kKeyedDone);
  EXPECT_EQ(back, record);
  EXPECT_TRUE(VerifyBlockImage(f.image(), 0).ok()) << FormatProblems(VerifyBlockImage(f.image(), 0));
}

TEST(KeyedWriteProbe, ARecordSplitAcrossTheLastBlocksOfTheRoundIsWhole) {
  // As above, but block 4 has a short free end: the first piece goes there and the
  // last piece into block 5, the last block of the round from the home block.
  MemoryBlockFile f(5);
  const std::string key = KeyWithHome(f.n(), 2, 8);
  ASSERT_FALSE(key.empty());
  f.PutEntry(2, 1, 252, 0x68, "AAAAAAAA");
  f.PutEntry(2, 253, 4, kFlagFiller);
  FillWithLivePiece(f, 3, 1, "BBBBBBBB");
  f.PutEntry(4, 1, 230, 0x68, "CCCCCCCC");
  f.PutEntry(4, 231, 26, kFlagDeleted);
  f.PutEntry(5, 1, 100, 0x68, "DDDDDDDD");

  const std::vector<uint8_t> record = MakeRecord(key, 128, 4);
  const WriteResult w = KeyedWrite(record, 8, f.n(), f.unit(), kHashSelector5);
  EXPECT_EQ(w.status, kKeyedDone);
  EXPECT_EQ(w.block, 4);
  std::vector<uint8_t> back(136, 0);
  std::copy(key.begin(), key.end(), back.begin());
  EXPECT_EQ(KeyedRead(back, 8, f.n(), f.unit(), kHashSelector5).status, kKeyedDone);
  EXPECT_EQ(back, record);
  EXPECT_TRUE(VerifyBlockImage(f.image(), 0).ok()) << FormatProblems(VerifyBlockImage(f.image(), 0));
}

TEST(KeyedWriteProbe, AFileWithoutRoomOnTheWholeRoundIsStillFull) {
  // Every block full but for the filler of the home block: status 3, nothing written.
  MemoryBlockFile f(4);
  const std::string key = KeyWithHome(f.n(), 2, 8);
  ASSERT_FALSE(key.empty());
  f.PutEntry(2, 1, 252, 0x68, "AAAAAAAA");
  f.PutEntry(2, 253, 4, kFlagFiller);
  FillWithLivePiece(f, 3, 1, "BBBBBBBB");
  FillWithLivePiece(f, 4, 1, "CCCCCCCC");
  const std::vector<uint8_t> before = f.image();
  const WriteResult w = KeyedWrite(MakeRecord(key, 128, 5), 8, f.n(), f.unit(), kHashSelector5);
  EXPECT_EQ(w.status, kKeyedFull);
  EXPECT_EQ(f.image(), before);
}

}  // namespace
}  // namespace varmex::store
