// Opening data files (paths, header check, failures) and the OBI header fields.
#include "database/data_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"

namespace varmex::database {
namespace {

std::vector<uint8_t> HeaderFile(int32_t n, size_t blocks = 2) {
  std::vector<uint8_t> bytes(512 * blocks, 0);
  io::StoreU16(bytes.data(), 0x70FF);
  for (int i = 0; i < 16; ++i) bytes[2 + i] = '*';
  io::StoreI32(bytes.data() + 18, n);
  return bytes;
}

class DataFileTest : public ::testing::Test {
 protected:
  void TearDown() override { io::CloseAllUnits(); }
  platform::FakePlatform fake;
};

TEST_F(DataFileTest, DirectoryWithOrWithoutBackslashGivesOnePath) {
  fake.AddFile("D:\\kedro\\Varmex\\obi.dat", HeaderFile(7));
  // A NUL cuts the directory short; blanks after the name are not part of the path.
  const OpenResult a = OpenDataFile(fake, "obi.dat   ", std::string("D:\\kedro\\Varmex\0junk", 20),
                                    kShowMessages, kNotFatal);
  const OpenResult b =
      OpenDataFile(fake, "obi.dat", "D:\\kedro\\Varmex\\      ", kShowMessages, kNotFatal);
  EXPECT_EQ(a.unit, 1);
  EXPECT_EQ(b.unit, 2);  // consecutive free units
  EXPECT_EQ(a.blockCount, 7);
  EXPECT_EQ(b.blockCount, 7);
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(DataFileTest, EmptyDirectoryOpensTheBareName) {
  fake.AddFile("terti.dat", HeaderFile(3));
  const OpenResult r = OpenDataFile(fake, "terti.dat", "    ", kShowMessages, kNotFatal);
  EXPECT_EQ(r.unit, 1);
  EXPECT_EQ(r.blockCount, 3);
}

TEST_F(DataFileTest, InvalidHeaderGivesBlockCountZeroAndStaysOpen) {
  fake.AddFile("D:\\d\\zero.dat", HeaderFile(0));
  fake.AddFile("D:\\d\\neg.dat", HeaderFile(-5));
  std::vector<uint8_t> words = HeaderFile(9);
  words[5] = '-';  // one asterisk wrong: a word-layout file
  fake.AddFile("D:\\d\\dev.dat", words);
  for (const char* name : {"zero.dat", "neg.dat", "dev.dat"}) {
    const OpenResult r = OpenDataFile(fake, name, "D:\\d", kShowMessages, kNotFatal);
    EXPECT_NE(r.unit, -1) << name;
    EXPECT_EQ(r.blockCount, 0) << name;
    EXPECT_TRUE(io::UnitInUse(r.unit));
  }
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(DataFileTest, MissingFileShowsTheOpenError) {
  const OpenResult r =
      OpenDataFile(fake, "furnmat.dat", "D:\\kedro\\Varmex", kShowMessages, kNotFatal);
  EXPECT_EQ(r.unit, -1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Eroare (   2) la deschidere D:\\kedro\\Varmex\\furnmat.dat!");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");
  EXPECT_EQ(io::FindFreeUnit(), 1);
}

TEST_F(DataFileTest, ShortFileFailsOnBlockOneAndIsClosed) {
  fake.AddFile("D:\\x\\short.dat", std::vector<uint8_t>(100, 0));
  const OpenResult r = OpenDataFile(fake, "short.dat", "D:\\x\\", kShowMessages, kNotFatal);
  EXPECT_EQ(r.unit, -1);
  EXPECT_FALSE(io::UnitInUse(1));
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Eroare (  38) la citire bloc 1 din D:\\x\\short.dat!");
}

TEST_F(DataFileTest, QuietAndFatalFailures) {
  EXPECT_EQ(OpenDataFile(fake, "none.dat", "D:\\x", kNoMessages, kNotFatal).unit, -1);
  EXPECT_TRUE(fake.messages.empty());
  fake.AddFile("D:\\x\\short.dat", std::vector<uint8_t>(10, 0));
  try {
    OpenDataFile(fake, "short.dat", "D:\\x", kShowMessages, 3);
    FAIL() << "a fatal code must end the program";
  } catch (const platform::FakePlatform::ExitCalled& e) {
    EXPECT_EQ(e.status, 3);
  }
  EXPECT_EQ(fake.messages.size(), 1u);
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST_F(DataFileTest, ObiHeaderFields) {
  std::vector<uint8_t> obi(1024, 0);
  io::StoreI32(obi.data() + 6, 11);
  io::StoreI32(obi.data() + 10, 1000);
  io::StoreI32(obi.data() + 14, 33);
  io::StoreI32(obi.data() + 32, 44);
  io::StoreI32(obi.data() + 36, 55);
  fake.AddFile("obi.dat", obi);
  const OpenResult r = OpenDataFile(fake, "obi.dat", "", kShowMessages, kNotFatal);
  ObiHeader h;
  ASSERT_EQ(ReadObiHeader(fake, r.unit, h), 0);
  EXPECT_EQ(h.ObiBlocks(), 11);
  EXPECT_EQ(h.DevBlocks(), 1000);
  EXPECT_EQ(h.NorBlocks(), 33);
  EXPECT_EQ(h.TehnoBlocks(), 44);
  EXPECT_EQ(h.NorincBlocks(), 55);
  io::CloseUnit(r.unit);
  EXPECT_EQ(ReadObiHeader(fake, r.unit, h), 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "** Eroare citire Header fisier OBI.DAT **");
}

}  // namespace
}  // namespace varmex::database
