#include "tools/kedro-db/kedro_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "platform/native.h"
#include "store/block_file_builder.h"
#include "testing/legacy_writer.h"
#include "tools/common/progress.h"

namespace varmex::tools {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Kdb(platform::Platform& os, std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = RunKedroDb(os, args, out, err);
  return {status, out.str(), err.str()};
}

TEST(KedroDbTest, PutGetDelOnABlockFile) {
  platform::FakePlatform fake;
  fake.AddFile("f.dat", store::EmptyBlockFileImage(5));
  EXPECT_EQ(Kdb(fake, {"--text", "put", "f.dat", "K001", "hello world!"}).status, 0);
  EXPECT_EQ(Kdb(fake, {"put", "f.dat", "4b303032", "00 01 02 ff"}).status, 0);
  Result r = Kdb(fake, {"--text", "get", "f.dat", "K001"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hello world!\n");
  r = Kdb(fake, {"get", "f.dat", "4b303032"});
  EXPECT_EQ(r.out, "000102ff\n");
  r = Kdb(fake, {"info", "f.dat"});
  EXPECT_NE(r.out.find("layout: block file"), std::string::npos);
  EXPECT_NE(r.out.find("records: 2"), std::string::npos);
  r = Kdb(fake, {"--text", "dump", "f.dat"});
  EXPECT_NE(r.out.find("key K001 data hello world!"), std::string::npos) << r.out;
  EXPECT_EQ(Kdb(fake, {"verify", "f.dat"}).status, 0);
  EXPECT_EQ(Kdb(fake, {"--text", "del", "f.dat", "K001"}).status, 0);
  EXPECT_EQ(Kdb(fake, {"--text", "get", "f.dat", "K001"}).status, 1);
  EXPECT_EQ(Kdb(fake, {"--text", "del", "f.dat", "K001"}).status, 1);
}

TEST(KedroDbTest, VerifyFailsOnDamage) {
  platform::FakePlatform fake;
  std::vector<uint8_t> image = store::EmptyBlockFileImage(3);
  image[512] = 9;
  image[513] = 0x44;  // a first piece with no last piece and no key that fits
  image[514] = 'A';
  image[515] = 'B';
  image[516] = 'C';
  image[517] = 'D';
  fake.AddFile("bad.dat", image);
  const Result r = Kdb(fake, {"verify", "bad.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("first piece without a last piece"), std::string::npos) << r.out;
}

TEST(KedroDbTest, LegacyFilesAreReadOnly) {
  platform::FakePlatform fake;
  std::vector<uint8_t> image = store::testing::EmptyLegacyImage(4);
  const std::string key = "#-[*]2";
  const std::vector<uint8_t> data = {'a', 'b', 'c', 'd'};
  ASSERT_TRUE(store::testing::PlaceLegacyRecord(image, 4,
                                                std::vector<uint8_t>(key.begin(), key.end()), data)
                  .placed);
  fake.AddFile("dev.dat", image);
  Result r = Kdb(fake, {"--text", "get", "dev.dat", "#-[*]2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "abcd\n");
  EXPECT_EQ(Kdb(fake, {"--text", "put", "dev.dat", "#-[*]2", "x"}).status, 2);
  r = Kdb(fake, {"info", "dev.dat"});
  EXPECT_NE(r.out.find("word layout"), std::string::npos);
  EXPECT_NE(r.out.find("records: 1"), std::string::npos);
  EXPECT_EQ(Kdb(fake, {"verify", "dev.dat"}).status, 0);
  r = Kdb(fake, {"--text", "dump", "dev.dat"});
  EXPECT_NE(r.out.find("key #-[*]2 length -12 data abcd"), std::string::npos) << r.out;
}

// Every refusal and every damaged file: the exit status, the message, the file as it was.
TEST(KedroDbTest, RefusalsAndDamagedFiles) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // a part of standard output (empty: nothing there)
    std::string err;  // a part of standard error (empty: nothing there)
  };
  const std::string usage = "usage: kedro-db [--text]";
  const std::vector<Case> cases = {
      {{"--help"}, 0, usage, ""},
      {{"dump", "-h"}, 0, usage, ""},
      {{}, 7, "", usage},
      {{"--frob", "info", "f.dat"}, 7, "", "kedro-db: unknown option --frob\n" + usage},
      {{"info", "-x.dat"}, 7, "", "kedro-db: unknown option -x.dat\n"},
      {{"frobnicate", "f.dat"}, 7, "", usage},
      {{"info", ""}, 7, "", "kedro-db: the file name is empty\n"},
      {{"--blocks", "x", "info", "f.dat"}, 7, "", "kedro-db: --blocks needs a number\n"},
      {{"--key-length", "5", "info", "f.dat"}, 7, "", "--key-length must be even, 4 to 64\n"},
      {{"--text", "put", "f.dat", "K1", std::string(40000, 'x')}, 7, "", "kedro-db: bad data\n"},
      {{"get", "missing.dat", "00"}, 2, "", "kedro-db: cannot open missing.dat (error 2)\n"},
      {{"info", "D:\\folder"}, 2, "", "kedro-db: D:\\folder is a folder, not a data file\n"},
      {{"get", "f.dat", "zz"}, 7, "", "the key must be 1 to 31 bytes of hex"},
      {{"--selector", "7", "get", "f.dat", "00"}, 7, "", "unknown hash selector 7"},
      {{"--text", "get", "f.dat", "NONE"}, 1, "", "kedro-db: status 1 (not found)\n"},
      {{"--text", "del", "f.dat", "NONE"}, 1, "", "kedro-db: status 1 (not found)\n"},
      {{"--text", "put", "f.dat", "BIG1", std::string(600, 'x')},
       1,
       "",
       "kedro-db: status 3 (no room: the file is full along the key's probe path)\n"},
      {{"info", "zero.dat"},
       2,
       "",
       "kedro-db: zero.dat: the header is invalid: its block count is 0, and it must be greater "
       "than 0\n"},
      {{"verify", "minus.dat"},
       1,
       "block 1 unit 1: the header is invalid: its block count is -5, and it must be greater "
       "than 0\nproblems: 1\n",
       ""},
      {{"--text", "put", "long.dat", "K9", "x"},
       2,
       "",
       "kedro-db: long.dat: its header gives 2 blocks but the file holds 6 blocks; nothing "
       "written\n"},
      {{"verify", "long.dat"}, 1, "block 3 unit 1: the file goes on past its 2 blocks", ""},
      {{"verify", "huge.dat"},
       1,
       "block 7 unit 1: the file ends here, short of its 2147483647",
       ""},
      {{"info", "huge.dat"}, 0, "blocks: 2147483647 used, 6 in the file\n", ""},
      {{"dump", "huge.dat"}, 0, "blocks 7 to 2147483647: missing (the file holds 6)\n", ""},
      {{"--text", "get", "ro.dat", "K001"}, 0, "readonly\n", ""},
      {{"verify", "ro.dat"}, 0, "ok\n", ""},
      {{"--text", "put", "ro.dat", "K002", "x"}, 2, "", "kedro-db: cannot open ro.dat (error 5)\n"},
  };
  platform::FakePlatform fake;
  const auto counted = [](int32_t count, int32_t blocks) {
    std::vector<uint8_t> image = store::EmptyBlockFileImage(blocks);
    io::StoreI32(image.data() + 18, count);
    return image;
  };
  fake.AddFile("f.dat", store::EmptyBlockFileImage(2));
  fake.AddDirectory("D:\\folder");
  fake.AddFile("zero.dat", counted(0, 3));
  fake.AddFile("minus.dat", counted(-5, 3));
  fake.AddFile("long.dat", counted(2, 6));
  fake.AddFile("huge.dat", counted(2147483647, 6));
  fake.AddFile("ro.dat", store::EmptyBlockFileImage(3));
  ASSERT_EQ(Kdb(fake, {"--text", "put", "ro.dat", "K001", "readonly"}).status, 0);
  fake.SetFileAttributes("ro.dat", platform::kAttributeReadOnly);
  const std::vector<uint8_t> longBefore = *fake.Bytes("long.dat");
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a.substr(0, 20) + " ";
    SCOPED_TRACE(line);
    const Result r = Kdb(fake, c.args);
    EXPECT_EQ(r.status, c.status);
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
  EXPECT_TRUE(*fake.Bytes("long.dat") == longBefore);
  EXPECT_FALSE(fake.Exists("-x.dat"));
}

// Blocks full of one-cell first pieces of one key: the dump reads each block a few
// times, not once per piece.
TEST(KedroDbTest, DumpGrowsWithTheFile) {
  platform::FakePlatform fake;
  std::vector<uint8_t> image = store::EmptyBlockFileImage(137);
  for (size_t at = 512; at < image.size(); at += 2) image[at + 1] = 0x41;
  fake.AddFile("zero.dat", image);
  const uint64_t before = io::Counters().reads;
  const Result r = Kdb(fake, {"dump", "zero.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_LE(io::Counters().reads - before, 4u * 137);
  EXPECT_NE(r.out.find("block 137 unit 255 key 00 status 0 (the look-up finds another copy"),
            std::string::npos);
}

// The progress line of the tools: nothing for the first seconds, then redrawn in place
// at most a few times a second, a new pass said, and wiped at the end.
TEST(ProgressMeterTest, QuietAtFirstThenRedrawnInPlaceAndWiped) {
  double now = 0;
  std::ostringstream err;
  {
    ProgressMeter meter(err, "kedro-db", true, [&] { return now; });
    meter.Tell(100, 1000);
    now = 2.5;
    meter.Tell(500, 1000);
    now = 2.6;
    meter.Tell(600, 1000);
    now = 3;
    meter.Tell(7, 1000);
  }
  EXPECT_EQ(err.str(), "\rkedro-db: block 500 of 1000\rkedro-db: block 7 of 1000, pass 2\r" +
                           std::string(33, ' ') + "\r");
  ProgressMeter off(err, "dens", false);
  EXPECT_FALSE(off.Callback());
}

#ifndef _WIN32
// A sparse file of 2147483647 blocks (a terabyte on a few pages): info, verify and dump
// read only the blocks that hold something, and answer as for the whole file.
TEST(KedroDbTest, SparseFileIsReadOnlyWhereItHoldsSomething) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "kedro_db_test_sparse.dat";
  platform::Platform& native = platform::NativePlatform();
  std::vector<uint8_t> header = store::EmptyBlockFileImage(1);
  io::StoreI32(header.data() + 18, 2147483647);
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(header.data()), 512);
  }
  std::filesystem::resize_file(path, uint64_t{2147483647} * 512);
  ASSERT_EQ(io::OpenUnitForReading(native, 9, path.string(), 512), 0);
  const bool holes = io::DataRecords(9, 100).first > 100;  // past the header's page
  io::CloseUnit(9);
  if (!holes) {
    std::filesystem::remove(path);
    GTEST_SKIP() << "this file system does not tell where the holes are";
  }
  for (const char* key : {"K001", "K002", "K003"}) {
    ASSERT_EQ(
        Kdb(native, {"--text", "put", path.string(), key, std::string("data of ") + key}).status,
        0);
  }
  const uint64_t before = io::Counters().reads;
  Result r = Kdb(native, {"info", path.string()});
  EXPECT_NE(r.out.find("records: 3\npieces: 3, deleted entries: 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("problems: 0\n"), std::string::npos) << r.out;
  EXPECT_EQ(Kdb(native, {"verify", path.string()}).out, "ok\n");
  r = Kdb(native, {"--text", "dump", path.string()});
  EXPECT_NE(r.out.find("key K002 data data of K002\n"), std::string::npos) << r.out;
  EXPECT_LT(io::Counters().reads - before, 1000u);
  std::filesystem::remove(path);
}
#endif

}  // namespace
}  // namespace varmex::tools
