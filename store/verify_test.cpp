#include "store/verify.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
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
    for (int cell = 1; cell <= 255; cell += 2) f.PutEntry(b, cell, 2, 0x42, "AB");
  }
  const int64_t pieces = 19 * 128;
  const VerifyReport report = VerifyBlockImage(f.image(), 0);
  EXPECT_EQ(report.records, pieces);
  std::map<std::string, int64_t> kinds;
  std::set<std::tuple<int32_t, int, std::string>> seen;
  for (const auto& p : report.problems) {
    ++kinds[p.text];
    EXPECT_TRUE(seen.insert({p.block, p.cell, p.text}).second) << p.block << " " << p.cell;
  }
  EXPECT_EQ(kinds["second first piece inside a record"], pieces);
  EXPECT_EQ(kinds["first piece without a last piece"], pieces);
  EXPECT_EQ(kinds["record not found by the look-up of its key"], pieces - 1);
}

// The streaming check answers as the check over the loaded file, problem for problem
// and count for count, with holes skipped or read, and when it only counts: on files
// written by the store (records of one piece and of many, full files whose probe paths
// go round the end) and then damaged in the ways that reach every rule.
TEST(VerifyTest, StreamingAnswersAsTheLoadedCheck) {
  const auto expectSame = [](const std::vector<uint8_t>& image, int32_t n, int32_t unreadable) {
    BlockSource source = ImageSource(image);
    source.read = [&image, unreadable](int32_t b, std::span<uint8_t, kBlockBytes> out) {
      return b == unreadable ? 5 : ImageReader(image)(b, out);
    };
    source.data = [holes = source.data, unreadable](int64_t b) {  // it is no hole
      const auto stretch = holes(b);
      if (unreadable >= b && unreadable < stretch.first)
        return std::pair<int64_t, int64_t>{unreadable, unreadable + 1};
      return stretch;
    };
    const VerifyReport want =
        VerifyBlockFile(source.read, n, HashSelector::kVariableLength, image.size());
    for (const bool holes : {true, false}) {
      if (!holes) source.data = nullptr;
      VerifyReport told;
      const ProblemSink sink = [&](const VerifyProblem& p) { told.problems.push_back(p); };
      const VerifyReport got =
          StreamVerifyBlockFile(source, n, HashSelector::kVariableLength, image.size(), &sink);
      EXPECT_EQ(FormatProblems(told), FormatProblems(want)) << "holes " << holes;
      const VerifyReport counted =
          StreamVerifyBlockFile(source, n, HashSelector::kVariableLength, image.size());
      for (const VerifyReport* r : {&got, &counted}) {
        EXPECT_EQ(r->problemsFound, static_cast<int64_t>(want.problems.size()));
        EXPECT_EQ(std::tie(r->blocks, r->blocksPresent, r->records, r->pieces, r->deletedEntries,
                           r->usedCells, r->freeCells),
                  std::tie(want.blocks, want.blocksPresent, want.records, want.pieces,
                           want.deletedEntries, want.usedCells, want.freeCells));
      }
    }
  };
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const auto draw = [&](int from, int to) {
      return std::uniform_int_distribution<int>(from, to)(random);
    };
    const int32_t n = draw(2, 24);
    MemoryBlockFile f(n);
    const int records = draw(0, 6 * n);
    for (int i = 0; i < records; ++i) {
      const std::string key = std::to_string(draw(0, 3 * n)) + std::string(draw(0, 5), 'k');
      const auto r = testing::MakeRecord(
          key, static_cast<size_t>(draw(0, 3) == 0 ? draw(400, 1400) : draw(0, 90)), seed + i);
      (void)KeyedWrite(r, static_cast<int16_t>(key.size()), n, 1, HashSelector::kVariableLength);
      if (draw(0, 9) == 0)
        (void)KeyedDelete(r, static_cast<int16_t>(key.size()), n, 1, HashSelector::kVariableLength);
    }
    std::vector<uint8_t> image = f.image();
    const auto blockAt = [&](int32_t b) { return image.data() + (b - 1) * kBlockBytes; };
    const int32_t unreadable = draw(0, 3) == 0 ? draw(2, n) : 0;
    for (int damage = draw(0, 4); damage > 0; --damage) {
      const int32_t b = draw(1, n);
      uint8_t* block = blockAt(b);
      int at = 0;  // the size byte of one of the block's entries
      for (const BlockEntry& e : BlockEntries(std::span<const uint8_t, kBlockBytes>(block, 512))) {
        if (e.IsEnd() || draw(0, 2) == 0) break;
        at = 2 * e.Next() - 2 < kBlockBytes - 2 ? 2 * e.Next() - 2 : at;
      }
      switch (draw(0, 7)) {
        case 0:  // a block of zeros
          std::fill(block, block + kBlockBytes, 0);
          break;
        case 1:  // a copy of another block: second first pieces, pieces out of place
          std::copy_n(blockAt(draw(1, n)), kBlockBytes, block);
          break;
        case 2:  // first, last, deleted marks changed
          block[at + 1] ^= static_cast<uint8_t>(0x20 << draw(0, 2));
          break;
        case 3:  // a size byte changed (a piece shorter than its key, an entry running past)
          block[at] = static_cast<uint8_t>(draw(0, 1) == 0 ? draw(0, 3) : draw(0, 255));
          break;
        case 4:  // a full block of deleted entries: no free end
          block[0] = 127, block[1] = 0x84, block[256] = 127, block[257] = 0x84;
          break;
        case 5:  // a key byte or the key length changed
          block[at + (draw(0, 1) == 0 ? 2 : 1)] ^= static_cast<uint8_t>(draw(0, 1) == 0 ? 1 : 0x1F);
          break;
        case 6:  // the file cut or made longer
          image.resize(static_cast<size_t>(draw(1, n + 2)) * kBlockBytes +
                       static_cast<size_t>(draw(0, 1) * 100));
          break;
        default:  // checked as another count than the header's
          expectSame(image, n + draw(-1, 1), unreadable);
      }
    }
    expectSame(image, 0, unreadable);
  }
}

}  // namespace
}  // namespace varmex::store
