#include "store/block_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"

namespace varmex::store {
namespace {

std::vector<uint8_t> Bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

int32_t Home(std::string_view key, int32_t n,
             HashSelector selector = HashSelector::kVariableLength) {
  const std::vector<uint8_t> k = Bytes(key);
  return HomeBlock(k, static_cast<int16_t>(k.size()), n, selector);
}

TEST(HomeBlockTest, VariableLengthHash) {
  EXPECT_EQ(Home("ABCD", 1000), 535);              // |w * 1103515245 + 12345| = 1310274534
  EXPECT_EQ(Home("KEY00001", 50), 10);             // two whole words
  EXPECT_EQ(Home("0001234567", 997), 316);         // two words and a 16-bit tail
  EXPECT_EQ(Home("\xff\xff\xff\xff", 1000), 901);  // a negative word
  EXPECT_EQ(Home("ABCD", 1), 1);
  EXPECT_EQ(Home("0001234567", 1), 1);
}

TEST(HomeBlockTest, SumOfExactlyMinusTwoToThe31GetsABlockInRange) {
  // w * 1103515245 + 12345 wraps to -2147483648 for this word.
  const std::vector<uint8_t> key = {0x83, 0xa6, 0x77, 0x7c};
  EXPECT_EQ(HomeBlock(key, 4, 1000, HashSelector::kVariableLength),
            649);  // 2147483648 mod 1000 + 1
  EXPECT_EQ(HomeBlock(key, 4, 7, HashSelector::kVariableLength), 3);
}

TEST(HomeBlockTest, FixedShapeSelectors) {
  const std::vector<uint8_t> a = Bytes("0123456789ABCDEF");
  const std::vector<uint8_t> b = {0xf0, 0xde, 0xbc, 0x9a, 0x78, 0x56, 0x34, 0x92,
                                  0x11, 0x22, 0x33, 0x84, 0x55, 0x66, 0x00, 0x80};
  const HashSelector selectors[] = {
      HashSelector::kFirstWord,          HashSelector::kWordAndHalfWord,
      HashSelector::kSixHalfWords,       HashSelector::kThreeWordsMixed,
      HashSelector::kFourteenBytesMixed, HashSelector::kFirstWordByTen};
  const int32_t expectA[] = {15, 518, 306, 128, 734, 607};
  const int32_t expectB[] = {497, 559, 775, 645, 793, 454};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(HomeBlock(a, 16, 1009, selectors[i]), expectA[i]) << i;
    EXPECT_EQ(HomeBlock(b, 16, 1009, selectors[i]), expectB[i]) << i;
  }
}

TEST(HomeBlockTest, OddKeyLengthReadsOnlyTheKey) {
  // The byte after a 5-byte key does not change its home block.
  const std::vector<uint8_t> x = Bytes("ABCDEx");
  const std::vector<uint8_t> y = Bytes("ABCDEy");
  EXPECT_EQ(HomeBlock(x, 5, 100003, HashSelector::kVariableLength),
            HomeBlock(y, 5, 100003, HashSelector::kVariableLength));
}

TEST(HomeBlockTest, OnlyTheSuitesSelectorNumbersNameASelector) {
  for (long number : {1, 2, 3, 4, 5, 6, 100}) {
    ASSERT_TRUE(HashSelectorFromNumber(number).has_value()) << number;
    EXPECT_EQ(static_cast<long>(*HashSelectorFromNumber(number)), number);
  }
  for (long number : {0L, 7L, 99L, 101L, -5L, 65541L}) {
    EXPECT_FALSE(HashSelectorFromNumber(number).has_value()) << number;
  }
}

TEST(LegacyHashTest, MarkerRecordHomeBlock) {
  const std::vector<uint8_t> key = Bytes("#-[*]2");
  EXPECT_EQ(LegacyHomeBlock(key, 6, 1000), 217);
  EXPECT_EQ(LegacyHomeBlock(key, 4, 1000), 0x2D232A5B % 1000 + 1);
  EXPECT_EQ(LegacyHomeBlock(key, 6, 0), 0);
}

// A block built entry by entry: (size byte, flags) pairs and bodies.
struct BlockBuilder {
  BlockBytes block{};
  int next = 1;
  BlockBuilder& Entry(int cells, uint8_t flags, std::string_view key = "") {
    block[static_cast<size_t>(2 * next - 2)] = static_cast<uint8_t>(cells - 1);
    block[static_cast<size_t>(2 * next - 1)] = flags;
    for (size_t i = 0; i < key.size(); ++i)
      block[static_cast<size_t>(2 * next) + i] = static_cast<uint8_t>(key[i]);
    next += cells;
    return *this;
  }
};

TEST(DeletePiecesTest, StopsAtTheLastPieceAndLeavesLaterOnesAlone) {
  BlockBuilder b;
  b.Entry(4, 0x44, "KEYA")
      .Entry(4, 0x44, "OTHR")
      .Entry(5, 0x04, "KEYA")
      .Entry(4, 0x24, "KEYA")
      .Entry(4, 0x44, "KEYA");
  const std::vector<uint8_t> key = Bytes("KEYA");
  bool ended = false;
  EXPECT_TRUE(DeletePiecesInBlock(b.block, key, 4, ended));
  EXPECT_TRUE(ended);
  EXPECT_EQ(FlagsByte(b.block, 1), 0xC4);
  EXPECT_EQ(FlagsByte(b.block, 5), 0x44);
  EXPECT_EQ(FlagsByte(b.block, 9), 0x84);
  EXPECT_EQ(FlagsByte(b.block, 14), 0xA4);
  EXPECT_EQ(FlagsByte(b.block, 18), 0x44);  // after the last piece: untouched
}

TEST(DeletePiecesTest, EndedFollowsTheLastPieceMet) {
  const std::vector<uint8_t> key = Bytes("KEYA");
  BlockBuilder noMatch;
  noMatch.Entry(256, 0x44, "OTHR");  // full block, no end area, no piece
  bool ended = false;
  EXPECT_FALSE(DeletePiecesInBlock(noMatch.block, key, 4, ended));
  EXPECT_FALSE(ended);
  BlockBuilder middle;
  middle.Entry(256, 0x04, "KEYA");
  ended = true;
  EXPECT_TRUE(DeletePiecesInBlock(middle.block, key, 4, ended));
  EXPECT_FALSE(ended);
  BlockBuilder empty;
  EXPECT_FALSE(DeletePiecesInBlock(empty.block, key, 4, ended));
  EXPECT_TRUE(ended);
}

TEST(DeletePiecesTest, PieceRunningPastTheBlockIsMarkedAndEndsTheWalk) {
  BlockBuilder b;
  b.Entry(250, 0x84).Entry(4, 0x04, "KEYA");
  b.block[2 * 251 - 2] = 20;  // the piece at cell 251 claims 21 cells
  const std::vector<uint8_t> key = Bytes("KEYA");
  bool ended = false;
  EXPECT_TRUE(DeletePiecesInBlock(b.block, key, 4, ended));
  EXPECT_EQ(FlagsByte(b.block, 251), 0x84);
  // Key bytes past the block never match.
  BlockBuilder edge;
  edge.Entry(255, 0x84);
  edge.block[510] = 5;
  edge.block[511] = 0x04;
  EXPECT_FALSE(PieceMatches(edge.block, 256, key, 4));
}

TEST(MergeTest, DeletedEntriesJoinAndTheFreeEndMovesBack) {
  BlockBuilder b;
  b.Entry(10, 0x44, "KEYA").Entry(5, 0x84).Entry(7, 0xFF).Entry(3, 0x84);
  // cell 26 onwards: end of used area
  EXPECT_TRUE(MergeFreeEntries(b.block, 1));
  EXPECT_EQ(FlagsByte(b.block, 11), 0x00);
  EXPECT_EQ(SizeByte(b.block, 11), 256 - 11);
  EXPECT_EQ(EntryCells(b.block, 11), 246);
  EXPECT_EQ(FlagsByte(b.block, 1), 0x44);
}

TEST(MergeTest, LiveEntriesSeparateRuns) {
  BlockBuilder b;
  b.Entry(5, 0x84).Entry(3, 0x84).Entry(4, 0x44, "KEYA").Entry(6, 0x84).Entry(238, 0x44, "KEYB");
  EXPECT_TRUE(MergeFreeEntries(b.block, 1));
  EXPECT_EQ(SizeByte(b.block, 1), 7);  // 5 + 3 cells
  EXPECT_EQ(FlagsByte(b.block, 1), 0x84);
  EXPECT_EQ(SizeByte(b.block, 13), 5);  // alone between live entries
  EXPECT_FALSE(MergeFreeEntries(b.block, 1));
  EXPECT_FALSE(MergeFreeEntries(b.block, 257));
}

TEST(MergeTest, EntryRunningPastTheBlockIsNeverJoined) {
  BlockBuilder b;
  b.Entry(250, 0x84).Entry(4, 0x84);
  b.block[2 * 251 - 2] = 30;  // claims 31 cells from cell 251
  EXPECT_FALSE(MergeFreeEntries(b.block, 1));
  EXPECT_EQ(SizeByte(b.block, 1), 249);
  EXPECT_EQ(SizeByte(b.block, 251), 30);
}

TEST(MergeTest, ZeroBlockIsOneFreeArea) {
  BlockBytes zero{};
  EXPECT_EQ(EntryCells(zero, 1), 256);
  EXPECT_FALSE(MergeFreeEntries(zero, 1));
}

TEST(BuilderTest, HeaderBlockPassesTheOpenCheck) {
  const BlockBytes h = HeaderBlock(1234);
  EXPECT_EQ(h[0], 0xFF);
  EXPECT_EQ(h[1], 0x70);
  EXPECT_EQ(HeaderBlockCount(h), 1234);
  EXPECT_EQ(HeaderBlockCount(HeaderBlock(0)), 0);
  const std::vector<uint8_t> image = EmptyBlockFileImage(3);
  EXPECT_EQ(image.size(), 3u * 512);
  platform::FakePlatform fake;
  fake.AddFile("f.dat", {});
  ASSERT_EQ(io::OpenUnit(fake, 1, "f.dat", 512), 0);
  EXPECT_EQ(FormatBlockFile(1, 3), 0);
  EXPECT_EQ(*fake.Bytes("f.dat"), image);
  io::CloseAllUnits();
}

}  // namespace
}  // namespace varmex::store
