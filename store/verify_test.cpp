#include "store/verify.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "store/keyed_store.h"
#include "store/store_test_support.h"

namespace varmex::store {
namespace {

using testing::MemoryBlockFile;

bool Mentions(const VerifyReport& report, std::string_view text) {
  for (const auto& p : report.problems) {
    if (p.text.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(VerifyTest, CleanFileAndCounts) {
  MemoryBlockFile f(8);
  for (int i = 0; i < 5; ++i) {
    const std::vector<uint8_t> r =
        testing::MakeRecord("KEY" + std::to_string(i), 300, static_cast<unsigned>(i));
    ASSERT_EQ(KeyedWrite(r, 4, 8, 1, HashSelector::kVariableLength).status, kKeyedDone);
  }
  const VerifyReport report = VerifyBlockImage(f.image(), 0);
  EXPECT_TRUE(report.ok()) << FormatProblems(report);
  EXPECT_EQ(report.blocks, 8);
  EXPECT_EQ(report.records, 5);
  EXPECT_GT(report.pieces, 5);
}

TEST(VerifyTest, FindsEachKindOfDamage) {
  MemoryBlockFile f(4);
  const std::string key = testing::KeyWithHome(4, 2, 4);
  f.PutEntry(2, 1, 10, 0x44, key);      // a first piece whose record goes nowhere
  f.PutEntry(2, 11, 10, 0x24, "LOST");  // a last piece without its first
  f.PutEntry(2, 21, 240, 0x84);         // a deleted entry running past the block
  VerifyReport report = VerifyBlockImage(f.image(), 4);
  EXPECT_TRUE(Mentions(report, "first piece without a last piece"));
  EXPECT_TRUE(Mentions(report, "piece without a first piece"));
  EXPECT_TRUE(Mentions(report, "runs past"));

  f.image()[3] = 'x';  // block 1 no longer a header
  report = VerifyBlockImage(f.image(), 4);
  EXPECT_TRUE(Mentions(report, "not a valid header"));
}

TEST(VerifyTest, UnreachableRecordAndWrongBlockCount) {
  // A record its key's look-up does not reach (behind an end of used area).
  MemoryBlockFile g(3);
  const std::string lost = testing::KeyWithHome(3, 2, 4);
  g.PutEntry(3, 1, 10, 0x64, lost);
  EXPECT_TRUE(Mentions(VerifyBlockImage(g.image(), 3), "not found by the look-up"));
  // A header count other than the N checked, and a file shorter than N blocks.
  EXPECT_TRUE(Mentions(VerifyBlockImage(g.image(), 5), "header gives 3"));
}

// A file whose size disagrees with its header is damage; the problem names where the
// file ends or where it runs on. A count far beyond the file reads only what is there.
TEST(VerifyTest, SizeDisagreeingWithTheHeader) {
  struct Case {
    int32_t header;
    size_t bytes;
    std::string problem;
  };
  const Case cases[] = {
      {2, 5 * 512, "block 3 unit 1: the file goes on past its 2 blocks: it holds 5 blocks\n"},
      {5, 5 * 512 + 7, "block 6 unit 1: the file goes on past its 5 blocks: it holds 2567 bytes\n"},
      {5, 3 * 512 + 100,
       "block 4 unit 51: the file ends here, short of its 5 blocks (blocks 4 to 5 are missing)\n"},
      {2147483647, 3 * 512,
       "block 4 unit 1: the file ends here, short of its 2147483647 blocks (blocks 4 to "
       "2147483647 are missing)\n"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = EmptyBlockFileImage(3);
    SetHeaderBlockCount(std::span<uint8_t, kBlockBytes>(image.data(), kBlockBytes), c.header);
    image.resize(c.bytes);
    const VerifyReport report = VerifyBlockImage(image, 0);
    EXPECT_EQ(FormatProblems(report), c.problem);
    EXPECT_EQ(report.blocksPresent,
              static_cast<int32_t>(std::min<size_t>(c.bytes / 512, static_cast<size_t>(c.header))));
  }
}

// Blocks full of first pieces of one key and no last piece: each piece is reported a
// bounded number of times (once per kind), not once per piece before it.
TEST(VerifyTest, ManyFirstPiecesOfOneKeyAreReportedOnceEach) {
  MemoryBlockFile f(20);
  for (int32_t b = 2; b <= 20; ++b) {
    for (int unit = 1; unit <= 255; unit += 2) f.PutEntry(b, unit, 2, 0x42, "AB");
  }
  const int64_t pieces = 19 * 128;
  const VerifyReport report = VerifyBlockImage(f.image(), 0);
  EXPECT_EQ(report.records, pieces);
  std::map<std::string, int64_t> kinds;
  std::set<std::tuple<int32_t, int, std::string>> seen;
  for (const auto& p : report.problems) {
    ++kinds[p.text];
    EXPECT_TRUE(seen.insert({p.block, p.unit, p.text}).second) << p.block << " " << p.unit;
  }
  EXPECT_EQ(kinds["second first piece inside a record"], pieces);
  EXPECT_EQ(kinds["first piece without a last piece"], pieces);
  EXPECT_EQ(kinds["record not found by the look-up of its key"], pieces - 1);
}

}  // namespace
}  // namespace varmex::store
