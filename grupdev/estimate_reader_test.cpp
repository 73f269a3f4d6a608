// Article lines of an estimate from either layout, their failures and the file-kind cache.
#include "grupdev/estimate_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "grupdev/test_records.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"
#include "testing/legacy_writer.h"
#include "tools/gencollection/collection.h"

namespace varmex::grupdev {
namespace {

using testing::EstimateRecord;

TEST(ParseArticleLines, HeaderOnlyAndPartialTail) {
  EXPECT_TRUE(ParseArticleLines(EstimateRecord("ABCDEF", {}), true).empty());
  const auto items = ParseArticleLines(EstimateRecord("ABCDEF", {{1, 2000005, 3, 10}}, 35), true);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].code, 2000005);
  EXPECT_EQ(items[0].value, 3);
  EXPECT_EQ(items[0].further[5], 15);
  EXPECT_EQ(items[0].flags, 3);
}

TEST(ParseArticleLines, ContinuationsFormulasLeftOutAndEmptyLines) {
  const auto record =
      EstimateRecord("ABCDEF", {
                                   {1, 2000005, 3, 10},
                                   {1, 2000005, 0, 100},          // continues line 1
                                   {0, 2000006, 4, 0},            // empty line
                                   {2, 2000000001, 5, 0},         // formula line
                                   {3, 2000007, -1100000000, 0},  // left out
                                   {4, 2000008, 6, 20},
                                   {4, 2000008, 7, 30},  // same line, but a value: its own entry
                               });
  const auto items = ParseArticleLines(record, true);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].code, 2000005);
  EXPECT_EQ(items[0].further[0], 10);   // kept from line 1
  EXPECT_EQ(items[0].further[3], 103);  // offsets 22, 26, 30 from the continuation
  EXPECT_EQ(items[0].further[5], 105);
  EXPECT_EQ(items[1].value, 6);
  EXPECT_EQ(items[2].value, 7);

  // Without leaving out, formula and left-out lines are entries too.
  EXPECT_EQ(ParseArticleLines(record, false).size(), 5u);
}

class EstimateReaderTest : public ::testing::Test {
 protected:
  EstimateReaderTest() = default;
  ~EstimateReaderTest() override { io::CloseAllUnits(); }
  int16_t Open(const std::string& path) {
    const int16_t unit = io::FindFreeUnit();
    EXPECT_EQ(io::OpenUnit(fake, unit, path, 512), 0);
    return unit;
  }
  platform::FakePlatform fake;
  RecordReader reader;
};

TEST_F(EstimateReaderTest, ReadsFromEitherLayout) {
  const auto record = EstimateRecord("EST001", {{1, 2000005, 3, 10}, {2, 1000003, 1, 0}});
  store::testing::LegacyWriter words(8, 6);
  words.Place(record, {.halve = [] { return true; }});  // in several pieces
  fake.AddFile("dev.dat", words.bytes());
  fake.AddFile("devblock.dat", store::EmptyBlockFileImage(8));
  const int16_t wordUnit = Open("dev.dat");
  const int16_t blockUnit = Open("devblock.dat");
  ASSERT_EQ(store::KeyedWrite(record, 6, 8, blockUnit, store::HashSelector::kVariableLength).status,
            0);
  EXPECT_EQ(reader.FileKindOf(wordUnit), kFileKindLegacy);
  EXPECT_EQ(reader.FileKindOf(blockUnit), kFileKindBlockFile);

  for (int16_t unit : {wordUnit, blockUnit}) {
    const EstimateItems e = reader.ReadEstimateItems(fake, unit, 8, "EST001", true);
    EXPECT_EQ(e.status, kEstimateRead);
    ASSERT_EQ(e.items.size(), 2u);
    EXPECT_EQ(e.items[1].code, 1000003);
  }
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(EstimateReaderTest, FailuresAreShownAndGiveNoItems) {
  store::testing::LegacyWriter words(4, 6);
  words.Place(EstimateRecord("EST001", {{1, 2000005, 3, 10}}));
  fake.AddFile("dev.dat", words.bytes());
  const int16_t unit = Open("dev.dat");
  const EstimateItems missing = reader.ReadEstimateItems(fake, unit, 4, "NOPE01", true);
  EXPECT_EQ(missing.status, kEstimateNotFound);
  EXPECT_TRUE(missing.items.empty());
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Deviz negasit NOPE01!");

  // A unit that cannot be read has no kind: a read error.
  const EstimateItems broken = reader.ReadEstimateItems(fake, 77, 4, "EST001", true);
  EXPECT_EQ(broken.status, kEstimateReadError);
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[1].text, "Eroare citire DEV.DAT!");
}

TEST_F(EstimateReaderTest, FiveUnitsAreRememberedTheSixthIsAskedEachTime) {
  std::vector<int16_t> units;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "f" + std::to_string(i) + ".dat";
    fake.AddFile(name, store::EmptyBlockFileImage(2));
    units.push_back(Open(name));
  }
  for (int16_t u : units) EXPECT_EQ(reader.FileKindOf(u), kFileKindBlockFile);
  const uint64_t reads = io::Counters().reads;
  for (int i = 0; i < 5; ++i) reader.FileKindOf(units[static_cast<size_t>(i)]);
  EXPECT_EQ(io::Counters().reads, reads);
  reader.FileKindOf(units[5]);
  reader.FileKindOf(units[5]);
  EXPECT_EQ(io::Counters().reads, reads + 2);
}

}  // namespace
}  // namespace varmex::grupdev
