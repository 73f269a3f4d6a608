#include "store/keyed_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "io/unit_file.h"
#include "store/store_test_support.h"
#include "store/verify.h"

namespace varmex::store {
namespace {

using testing::KeyWithHome;
using testing::MakeRecord;
using testing::MemoryBlockFile;

std::vector<uint8_t> Key(std::string_view k) { return std::vector<uint8_t>(k.begin(), k.end()); }

WriteResult Write(MemoryBlockFile& f, const std::vector<uint8_t>& record, int16_t kl) {
  return KeyedWrite(record, kl, f.n(), f.unit(), HashSelector::kVariableLength);
}

ReadResult Read(MemoryBlockFile& f, std::vector<uint8_t>& buffer, std::string_view key,
                int32_t capacity = 0) {
  std::memcpy(buffer.data(), key.data(), key.size());
  return KeyedRead(buffer, static_cast<int16_t>(key.size()), f.n(), f.unit(),
                   HashSelector::kVariableLength, capacity);
}

TEST(KeyedStoreTest, RecordOfOnePieceInAZeroBlock) {
  MemoryBlockFile f(5);
  const std::string key = KeyWithHome(5, 4, 8);
  const std::vector<uint8_t> record = MakeRecord(key, 128, 1);
  const WriteResult w = Write(f, record, 8);
  ASSERT_EQ(w.status, kKeyedDone);
  EXPECT_EQ(w.block, 4);
  EXPECT_EQ(w.cell, 1);
  auto block = f.Block(4);
  EXPECT_EQ(SizeByte(block, 1), 68);
  EXPECT_EQ(FlagsByte(block, 1), 0x68);
  EXPECT_EQ(0, std::memcmp(block.data() + 2, record.data(), 136));
  EXPECT_EQ(SizeByte(block, 70), 186);
  EXPECT_EQ(FlagsByte(block, 70), 0x00);
  // Only the home block changed.
  std::vector<uint8_t> expected = EmptyBlockFileImage(5);
  std::memcpy(expected.data() + 3 * 512, block.data(), 512);
  EXPECT_EQ(f.image(), expected);

  std::vector<uint8_t> buffer(136, 0);
  const ReadResult r = Read(f, buffer, key);
  EXPECT_EQ(r.status, kKeyedDone);
  EXPECT_EQ(r.length, 136);
  EXPECT_EQ(buffer, record);
  EXPECT_EQ(r.block, 4);
  EXPECT_EQ(r.cell, 1);
}

TEST(KeyedStoreTest, ReadCapacities) {
  MemoryBlockFile f(3);
  const std::vector<uint8_t> record = MakeRecord("T001", 476, 2);
  ASSERT_EQ(Write(f, record, 4).status, kKeyedDone);
  std::vector<uint8_t> buffer(480, 0);
  ReadResult r = Read(f, buffer, "T001", 0);
  EXPECT_EQ(r.status, kKeyedDone);
  EXPECT_EQ(r.length, 480);
  EXPECT_EQ(buffer, record);

  std::vector<uint8_t> ten(480, 0xEE);
  r = Read(f, ten, "T001", 10);
  EXPECT_EQ(r.status, kKeyedDone);
  EXPECT_EQ(r.length, 10);
  EXPECT_EQ(0, std::memcmp(ten.data(), record.data(), 10));
  EXPECT_EQ(ten[10], 0xEE);

  const uint64_t reads = io::Counters().reads;
  r = Read(f, ten, "T001", 5);
  EXPECT_EQ(r.status, kKeyedBufferTooSmall);
  EXPECT_EQ(io::Counters().reads, reads);

  // "No limit" never means more than the buffer holds.
  std::vector<uint8_t> small(100, 0);
  r = Read(f, small, "T001", 0);
  EXPECT_EQ(r.status, kKeyedDone);
  EXPECT_EQ(r.length, 100);
  EXPECT_EQ(0, std::memcmp(small.data(), record.data(), 100));
  r = Read(f, small, "T001", 400);
  EXPECT_EQ(r.length, 100);
}

TEST(KeyedStoreTest, TooSmallTailBecomesAFillerAndTheReadSkipsIt) {
  MemoryBlockFile f(4);
  const std::string key = KeyWithHome(4, 2, 8);
  f.PutEntry(2, 1, 250, 0x64, "ZZZZ");  // leaves a free end of 6 cells at cell 251
  const std::vector<uint8_t> record = MakeRecord(key, 40, 3);
  const WriteResult w = Write(f, record, 8);
  ASSERT_EQ(w.status, kKeyedDone);
  EXPECT_EQ(FlagsByte(f.Block(2), 251), 0xFF);
  EXPECT_EQ(SizeByte(f.Block(2), 251), 5);
  EXPECT_EQ(w.block, 3);
  EXPECT_EQ(w.cell, 1);
  EXPECT_EQ(FlagsByte(f.Block(3), 1), 0x68);
  std::vector<uint8_t> buffer(48, 0);
  EXPECT_EQ(Read(f, buffer, key).status, kKeyedDone);
  EXPECT_EQ(buffer, record);
}

TEST(KeyedStoreTest, RecordInTwoPiecesAcrossBlocks) {
  MemoryBlockFile f(4);
  const std::string key = KeyWithHome(4, 3, 8);
  f.PutEntry(3, 1, 216, 0x64, "ZZZZ");  // a free end of 40 cells at cell 217
  const std::vector<uint8_t> record = MakeRecord(key, 128, 4);
  const WriteResult w = Write(f, record, 8);
  ASSERT_EQ(w.status, kKeyedDone);
  EXPECT_EQ(w.block, 3);
  EXPECT_EQ(w.cell, 217);
  EXPECT_EQ(FlagsByte(f.Block(3), 217), 0x48);
  EXPECT_EQ(SizeByte(f.Block(3), 217), 39);  // fills the block: 70 data bytes
  EXPECT_EQ(FlagsByte(f.Block(4), 1), 0x28);
  EXPECT_EQ(SizeByte(f.Block(4), 1), 33);  // key + 58 bytes
  EXPECT_EQ(FlagsByte(f.Block(4), 35), 0x00);
  std::vector<uint8_t> buffer(136, 0);
  const ReadResult r = Read(f, buffer, key);
  EXPECT_EQ(r.status, kKeyedDone);
  EXPECT_EQ(r.length, 136);
  EXPECT_EQ(buffer, record);
}

TEST(KeyedStoreTest, ReplacingByALongerRecordKeepsTheFirstPiece) {
  MemoryBlockFile f(2);  // every key ends up in block 2
  ASSERT_EQ(Write(f, MakeRecord("AAAA", 20, 1), 4).cell, 1);
  ASSERT_EQ(Write(f, MakeRecord("CCCC", 20, 2), 4).cell, 14);
  ASSERT_EQ(Write(f, MakeRecord("DDDD", 20, 3), 4).cell, 27);
  ASSERT_EQ(KeyedDelete(Key("CCCC"), 4, 2, 1, HashSelector::kVariableLength), kKeyedDone);
  EXPECT_EQ(FlagsByte(f.Block(2), 14), 0xE4);

  const std::vector<uint8_t> longer = MakeRecord("AAAA", 56, 9);
  const WriteResult w = Write(f, longer, 4);
  ASSERT_EQ(w.status, kKeyedDone);
  EXPECT_EQ(w.block, 2);
  EXPECT_EQ(w.cell, 1);
  auto block = f.Block(2);
  EXPECT_EQ(FlagsByte(block, 1), 0x44);  // the old entry merged with the deleted one: 26 cells
  EXPECT_EQ(SizeByte(block, 1), 25);
  EXPECT_EQ(FlagsByte(block, 27), 0x64);  // DDDD untouched
  EXPECT_EQ(FlagsByte(block, 40), 0x24);  // the rest: 10 bytes in the free end
  EXPECT_EQ(SizeByte(block, 40), 7);
  EXPECT_EQ(FlagsByte(block, 48), 0x00);
  std::vector<uint8_t> buffer(60, 0);
  EXPECT_EQ(Read(f, buffer, "AAAA").status, kKeyedDone);
  EXPECT_EQ(buffer, longer);
  EXPECT_TRUE(VerifyBlockImage(f.image(), 2).ok())
      << FormatProblems(VerifyBlockImage(f.image(), 2));
}

TEST(KeyedStoreTest, ReplacingDeletesOldPiecesInTheNextBlock) {
  MemoryBlockFile f(4);
  const std::string key = KeyWithHome(4, 2, 4);
  f.PutEntry(2, 1, 200, 0x64, "ZZZZ");  // a free end of 56 cells at cell 201
  ASSERT_EQ(Write(f, MakeRecord(key, 196, 5), 4).status, kKeyedDone);
  EXPECT_EQ(FlagsByte(f.Block(2), 201), 0x44);
  EXPECT_EQ(FlagsByte(f.Block(3), 1), 0x24);

  const std::vector<uint8_t> shorter = MakeRecord(key, 16, 6);
  ASSERT_EQ(Write(f, shorter, 4).status, kKeyedDone);
  EXPECT_EQ(FlagsByte(f.Block(2), 201), 0x64);
  EXPECT_EQ(SizeByte(f.Block(2), 201), 10);
  EXPECT_EQ(FlagsByte(f.Block(2), 212), 0xC4);  // the rest keeps the deleted piece's flags
  EXPECT_EQ(SizeByte(f.Block(2), 212), 44);
  EXPECT_EQ(FlagsByte(f.Block(3), 1), 0xA4);  // deleted after the new record was written
  std::vector<uint8_t> buffer(20, 0);
  EXPECT_EQ(Read(f, buffer, key).status, kKeyedDone);
  EXPECT_EQ(buffer, shorter);

  // A longer record again: the walk into block 3 reuses the space there.
  const std::vector<uint8_t> longer = MakeRecord(key, 300, 7);
  ASSERT_EQ(Write(f, longer, 4).status, kKeyedDone);
  std::vector<uint8_t> big(304, 0);
  EXPECT_EQ(Read(f, big, key).status, kKeyedDone);
  EXPECT_EQ(big, longer);
}

TEST(KeyedStoreTest, ReplacingARecordWithoutLastPieceNeverDeletesTheNewOne) {
  MemoryBlockFile f(3);
  const std::string key = KeyWithHome(3, 2, 4);
  // Longer than blocks 2 and 3 hold: the write runs out of blocks (block 1 is the
  // header) and leaves a first and a middle piece without a last one.
  EXPECT_EQ(Write(f, MakeRecord(key, 1200, 8), 4).status, kKeyedFull);
  EXPECT_EQ(FlagsByte(f.Block(2), 1), 0x44);
  EXPECT_EQ(FlagsByte(f.Block(3), 1), 0x04);
  std::vector<uint8_t> buffer(1204, 0);
  EXPECT_EQ(Read(f, buffer, key).status, kKeyedIncomplete);

  const std::vector<uint8_t> shorter = MakeRecord(key, 20, 9);
  EXPECT_EQ(Write(f, shorter, 4).status, kKeyedDone);
  EXPECT_EQ(FlagsByte(f.Block(2), 1), 0x64);
  EXPECT_EQ(FlagsByte(f.Block(3), 1), 0x84);
  std::vector<uint8_t> small(24, 0);
  EXPECT_EQ(Read(f, small, key).status, kKeyedDone);
  EXPECT_EQ(small, shorter);
  EXPECT_TRUE(VerifyBlockImage(f.image(), 3).ok())
      << FormatProblems(VerifyBlockImage(f.image(), 3));
}

TEST(KeyedStoreTest, FullFileAnswersThreeAndWritesNothing) {
  MemoryBlockFile f(3);
  f.PutEntry(2, 1, 256, 0x64, "ZZZZ");
  f.PutEntry(3, 1, 256, 0x64, "YYYY");
  const std::vector<uint8_t> before = f.image();
  const uint64_t writes = io::Counters().writes;
  EXPECT_EQ(Write(f, MakeRecord("NEW1", 20, 1), 4).status, kKeyedFull);
  EXPECT_EQ(io::Counters().writes, writes);
  EXPECT_EQ(f.image(), before);
  EXPECT_EQ(KeyedDelete(Key("NEW1"), 4, 3, 1, HashSelector::kVariableLength), kKeyedFull);
  std::vector<uint8_t> buffer(24, 0);
  EXPECT_EQ(Read(f, buffer, "NEW1").status, kKeyedFull);
}

TEST(KeyedStoreTest, DeletingAMissingKeyWritesNothing) {
  MemoryBlockFile f(3);
  ASSERT_EQ(Write(f, MakeRecord("AAAA", 20, 1), 4).status, kKeyedDone);
  const uint64_t writes = io::Counters().writes;
  EXPECT_EQ(KeyedDelete(Key("BBBB"), 4, 3, 1, HashSelector::kVariableLength), kKeyedNotFound);
  EXPECT_EQ(io::Counters().writes, writes);
  EXPECT_EQ(KeyedDelete(Key("AAAA"), 4, 3, 1, HashSelector::kVariableLength), kKeyedDone);
  std::vector<uint8_t> buffer(24, 0);
  EXPECT_EQ(Read(f, buffer, "AAAA").status, kKeyedNotFound);
}

TEST(KeyedStoreTest, BlockCountZeroOrNegativeNeverHashes) {
  MemoryBlockFile f(3);
  const uint64_t reads = io::Counters().reads;
  const std::vector<uint8_t> record = MakeRecord("AAAA", 20, 1);
  for (int32_t n : {0, -4}) {
    EXPECT_EQ(KeyedFind(record, 4, n, 1, HashSelector::kVariableLength).status, kKeyedFull);
    EXPECT_EQ(KeyedWrite(record, 4, n, 1, HashSelector::kVariableLength).status, kKeyedFull);
    EXPECT_EQ(KeyedDelete(record, 4, n, 1, HashSelector::kVariableLength), kKeyedFull);
    std::vector<uint8_t> buffer = record;
    EXPECT_EQ(KeyedRead(buffer, 4, n, 1, HashSelector::kVariableLength).status, kKeyedFull);
    // Not even an unknown selector is looked at.
    EXPECT_EQ(KeyedFind(record, 4, n, 1, static_cast<HashSelector>(42)).status, kKeyedFull);
  }
  EXPECT_EQ(io::Counters().reads, reads);
}

TEST(KeyedStoreTest, PieceRunningPastItsBlockIsStatusTen) {
  MemoryBlockFile f(3);
  const std::string key = KeyWithHome(3, 2, 4);
  f.PutEntry(2, 1, 249, 0x84);
  f.PutEntry(2, 250, 21, 0x64, key);  // claims cells 250..270
  std::vector<uint8_t> buffer(64, 0);
  ReadResult r = Read(f, buffer, key);
  EXPECT_EQ(r.status, kKeyedPiecePastBlock);
  // A short read stays inside the block and is answered.
  r = Read(f, buffer, key, 8);
  EXPECT_EQ(r.status, kKeyedDone);
  // The write never reuses the damaged entry, and a delete still marks it.
  const std::vector<uint8_t> record = MakeRecord(key, 30, 2);
  ASSERT_EQ(Write(f, record, 4).status, kKeyedDone);
  EXPECT_EQ(FlagsByte(f.Block(2), 250), 0xE4);
  EXPECT_EQ(SizeByte(f.Block(2), 250), 20);
  EXPECT_EQ(Read(f, buffer, key).status, kKeyedDone);
  EXPECT_EQ(0, std::memcmp(buffer.data(), record.data(), record.size()));
  const VerifyReport report = VerifyBlockImage(f.image(), 3);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].cell, 250);
}

TEST(KeyedStoreTest, ReadAndWriteFailuresAreReported) {
  MemoryBlockFile f(3);
  ASSERT_EQ(Write(f, MakeRecord("AAAA", 20, 1), 4).status, kKeyedDone);
  io::SetIoFaultHook([](io::IoOp op, int16_t, int64_t) {
    return op == io::IoOp::kWrite ? io::IoFault{29, -1} : io::IoFault{};
  });
  EXPECT_EQ(Write(f, MakeRecord("BBBB", 20, 1), 4).status, kKeyedWriteError);
  EXPECT_EQ(KeyedDelete(Key("AAAA"), 4, 3, 1, HashSelector::kVariableLength), kKeyedWriteError);
  io::SetIoFaultHook([](io::IoOp op, int16_t, int64_t) {
    return op == io::IoOp::kRead ? io::IoFault{30, -1} : io::IoFault{};
  });
  std::vector<uint8_t> buffer(24, 0);
  EXPECT_EQ(Read(f, buffer, "AAAA").status, kKeyedReadError);
  EXPECT_EQ(Write(f, MakeRecord("BBBB", 20, 1), 4).status, kKeyedReadError);
  EXPECT_EQ(KeyedDelete(Key("AAAA"), 4, 3, 1, HashSelector::kVariableLength), kKeyedReadError);
  io::SetIoFaultHook(nullptr);
  EXPECT_EQ(Read(f, buffer, "AAAA").status, kKeyedDone);
}

}  // namespace
}  // namespace varmex::store
