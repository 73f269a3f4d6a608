// A write whose first reusable place lies before the end of the look-up's walk: the
// placement walks on from that place with the look-up's block count, so the blocks in
// between count twice and a crowded file answers 3 with room still further on.
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

TEST(KeyedWriteProbe, TheBudgetRunsOutBeforeTheRoomAhead) {
  // Five blocks: the home block 2 ends in a filler (reusable, too small for a piece),
  // blocks 3 and 4 are full, block 5 has room. The look-up reads 2..5 (4 blocks) and
  // reports the filler; placing walks 2, 3 and gives up there: status 3, nothing
  // written, because no piece was placed.
  MemoryBlockFile f(5);
  const std::string key = KeyWithHome(f.n(), 2, 8);
  ASSERT_FALSE(key.empty());
  f.PutEntry(2, 1, 252, 0x68, "AAAAAAAA");
  f.PutEntry(2, 253, 4, kFlagFiller);
  FillWithLivePiece(f, 3, 1, "BBBBBBBB");
  FillWithLivePiece(f, 4, 1, "CCCCCCCC");
  f.PutEntry(5, 1, 100, 0x68, "DDDDDDDD");
  const std::vector<uint8_t> before = f.image();

  const std::vector<uint8_t> record = MakeRecord(key, 128, 3);
  const WriteResult w = KeyedWrite(record, 8, f.n(), f.unit(), HashSelector::kVariableLength);
  EXPECT_EQ(w.status, kKeyedFull);
  EXPECT_EQ(f.image(), before);
}

TEST(KeyedWriteProbe, RoomMadeOnTheBudgetedWalkTakesTheRecord) {
  // Block 4 has a free entry, but the placement walk (2, 3) runs out of budget before
  // it: status 3 and nothing written. Once room is made in block 3 the record fits.
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
  const WriteResult w = KeyedWrite(record, 8, f.n(), f.unit(), HashSelector::kVariableLength);
  EXPECT_EQ(w.status, kKeyedFull);
  std::vector<uint8_t> back(136, 0);
  std::copy(key.begin(), key.end(), back.begin());
  EXPECT_EQ(KeyedRead(back, 8, f.n(), f.unit(), HashSelector::kVariableLength).status,
            kKeyedNotFound);

  const std::vector<uint8_t> bkey(std::begin("BBBBBBBB"), std::begin("BBBBBBBB") + 8);
  ASSERT_EQ(KeyedDelete(bkey, 8, f.n(), f.unit(), HashSelector::kVariableLength), kKeyedDone);
  const WriteResult again = KeyedWrite(record, 8, f.n(), f.unit(), HashSelector::kVariableLength);
  EXPECT_EQ(again.status, kKeyedDone);
  EXPECT_EQ(again.block, 3);
  std::fill(back.begin() + 8, back.end(), 0);
  EXPECT_EQ(KeyedRead(back, 8, f.n(), f.unit(), HashSelector::kVariableLength).status, kKeyedDone);
  EXPECT_EQ(back, record);
  EXPECT_TRUE(VerifyBlockImage(f.image(), 0).ok())
      << FormatProblems(VerifyBlockImage(f.image(), 0));
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
  const WriteResult w =
      KeyedWrite(MakeRecord(key, 128, 5), 8, f.n(), f.unit(), HashSelector::kVariableLength);
  EXPECT_EQ(w.status, kKeyedFull);
  EXPECT_EQ(f.image(), before);
}

}  // namespace
}  // namespace varmex::store
