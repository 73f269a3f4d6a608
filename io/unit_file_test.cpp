#include "io/unit_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/fake_platform.h"

namespace varmex::io {
namespace {

class UnitFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseAllUnits();
    SetIoFaultHook(nullptr);
  }
  platform::FakePlatform fake;
};

TEST_F(UnitFileTest, LowestFreeUnitAndInUse) {
  fake.AddFile("D:\\a.dat", std::vector<uint8_t>(1024, 1));
  EXPECT_EQ(FindFreeUnit(), 1);
  ASSERT_EQ(OpenUnit(fake, 1, "D:\\a.dat", 512), 0);
  ASSERT_EQ(OpenUnit(fake, 2, "d:\\A.DAT", 512), 0);
  EXPECT_TRUE(UnitInUse(1));
  EXPECT_EQ(FindFreeUnit(), 3);
  CloseUnit(1);
  EXPECT_FALSE(UnitInUse(1));
  EXPECT_EQ(FindFreeUnit(), 1);
}

TEST_F(UnitFileTest, OpenMissingFileFails) {
  EXPECT_EQ(OpenUnit(fake, 1, "D:\\none.dat", 512), platform::kErrorFileNotFound);
  EXPECT_FALSE(UnitInUse(1));
  EXPECT_NE(OpenUnit(fake, 0, "D:\\none.dat", 512), 0);
  EXPECT_NE(OpenUnit(fake, 1000, "D:\\none.dat", 512), 0);
}

// A unit reads and writes the file of the platform it was opened through, never the one
// installed as the process's platform.
TEST_F(UnitFileTest, AUnitKeepsToThePlatformItWasOpenedThrough) {
  fake.AddFile("D:\\a.dat", std::vector<uint8_t>(512, 1));
  platform::FakePlatform installed;  // in force from here on, and without the file
  ASSERT_EQ(OpenUnit(installed, 1, "D:\\a.dat", 512), platform::kErrorFileNotFound);
  ASSERT_EQ(OpenUnitForReading(fake, 1, "D:\\a.dat", 512), 0);
  std::vector<uint8_t> got(512);
  ASSERT_EQ(ReadRecord(1, 1, got), 0);
  EXPECT_EQ(got, std::vector<uint8_t>(512, 1));
  CloseUnit(1);
  ASSERT_EQ(OpenUnit(fake, 1, "D:\\a.dat", 512), 0);
  ASSERT_EQ(WriteRecord(1, 1, std::vector<uint8_t>(512, 7)), 0);
  CloseUnit(1);
  EXPECT_EQ(*fake.Bytes("D:\\a.dat"), std::vector<uint8_t>(512, 7));
  EXPECT_EQ(installed.Bytes("D:\\a.dat"), nullptr);
}

TEST_F(UnitFileTest, ReadWriteRecordsAndEnd) {
  std::vector<uint8_t> bytes(30);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  fake.AddFile("D:\\c.dat", bytes);
  ASSERT_EQ(OpenUnit(fake, 5, "D:\\c.dat", 10), 0);
  uint8_t rec[10];
  ASSERT_EQ(ReadRecord(5, 2, rec), 0);
  EXPECT_EQ(rec[0], 10);
  EXPECT_EQ(rec[9], 19);
  EXPECT_EQ(ReadRecord(5, 4, rec), kIoPastEnd);  // beyond the end
  EXPECT_EQ(ReadRecord(5, 0, rec), kIoBadArgument);
  EXPECT_EQ(ReadRecord(6, 1, rec), kIoUnitNotOpen);
  uint8_t part[4] = {9, 9, 9, 9};
  ASSERT_EQ(WriteRecord(5, 3, part), 0);  // a prefix of record 3 only
  EXPECT_EQ((*fake.Bytes("D:\\c.dat"))[20], 9);
  EXPECT_EQ((*fake.Bytes("D:\\c.dat"))[24], 24);
  uint8_t big[11] = {};
  EXPECT_EQ(WriteRecord(5, 1, big), kIoBadArgument);
}

TEST_F(UnitFileTest, ShortFileFailsWholeRecordRead) {
  fake.AddFile("D:\\s.dat", std::vector<uint8_t>(100, 0));
  ASSERT_EQ(OpenUnit(fake, 1, "D:\\s.dat", 512), 0);
  std::vector<uint8_t> block(512);
  EXPECT_EQ(ReadRecord(1, 1, block), kIoPastEnd);
  EXPECT_EQ(ReadRecord(1, 1, std::span(block).first(12)), 0);  // first 12 bytes are there
}

TEST_F(UnitFileTest, FaultHookFailsAndShortensAndCounts) {
  fake.AddFile("D:\\f.dat", std::vector<uint8_t>(1024, 0));
  ASSERT_EQ(OpenUnit(fake, 1, "D:\\f.dat", 512), 0);
  const IoCounters before = Counters();
  int calls = 0;
  SetIoFaultHook([&](IoOp op, int16_t, int64_t) {
    ++calls;
    if (op == IoOp::kRead) return IoFault{30, -1};
    return IoFault{0, 3};
  });
  std::vector<uint8_t> block(512, 7);
  EXPECT_EQ(ReadRecord(1, 1, block), 30);
  EXPECT_EQ(WriteRecord(1, 2, block), platform::kErrorDiskFull);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Counters().reads, before.reads + 1);
  EXPECT_EQ(Counters().writes, before.writes + 1);
  const auto& bytes = *fake.Bytes("D:\\f.dat");
  EXPECT_EQ(bytes[512], 7);
  EXPECT_EQ(bytes[514], 7);
  EXPECT_EQ(bytes[515], 0);  // the rest of the write never reached the file
}

// A pass in record order answers every read as ReadRecord does (bytes and status), on a
// sound file, one that ends inside a record, one with a record the hook fails, and one
// whose records are rewritten during the pass.
TEST_F(UnitFileTest, ARecordPassAnswersAsReadRecordDoes) {
  struct Case {
    const char* name;
    size_t bytes;       // of a file of records k filled with k
    int64_t hookFails;  // a record the fault hook fails (0: none)
    bool rewrite;       // each record read is written back changed before the next read
  };
  const Case cases[] = {
      {"sound", 200 * 512, 0, false},
      {"ends inside record 150", 149 * 512 + 100, 0, false},
      {"record 90 fails", 200 * 512, 90, false},
      {"rewritten as it goes", 200 * 512, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes(c.bytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 512 + 1);
    fake.AddFile("D:\\p.dat", bytes);
    fake.AddFile("D:\\r.dat", bytes);
    ASSERT_EQ(OpenUnit(fake, 1, "D:\\p.dat", 512), kIoOk);
    ASSERT_EQ(OpenUnit(fake, 2, "D:\\r.dat", 512), kIoOk);
    SetIoFaultHook([&c](IoOp op, int16_t, int64_t record) {
      return op == IoOp::kRead && record == c.hookFails ? IoFault{platform::kErrorReadFault, -1}
                                                        : IoFault{};
    });
    RecordPass pass(1, 210);
    std::vector<uint8_t> a(512), b(512);
    for (int64_t n = 1; n <= 210; ++n) {
      const int status = pass.Read(n, a);
      ASSERT_EQ(status, ReadRecord(2, n, b)) << n;
      if (status == kIoOk) {
        ASSERT_EQ(a, b) << n;
      }
      if (c.rewrite && status == kIoOk) {
        a[0] = static_cast<uint8_t>(a[0] ^ 0xFF);
        ASSERT_EQ(pass.Write(n, a), WriteRecord(2, n, a));
        ASSERT_EQ(pass.Read(n, a), kIoOk);  // the pass holds what it wrote
        ASSERT_EQ(a[0], static_cast<uint8_t>(b[0] ^ 0xFF));
      }
    }
    EXPECT_EQ(*fake.Bytes("D:\\p.dat"), *fake.Bytes("D:\\r.dat"));
    SetIoFaultHook(nullptr);
    CloseAllUnits();
  }
}

}  // namespace
}  // namespace varmex::io
