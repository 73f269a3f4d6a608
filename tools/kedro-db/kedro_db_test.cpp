#include "tools/kedro-db/kedro_db.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "testing/legacy_writer.h"

namespace varmex::tools {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Kdb(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = RunKedroDb(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(KedroDbTest, PutGetDelOnABlockFile) {
  platform::FakePlatform fake;
  fake.AddFile("f.dat", store::EmptyBlockFileImage(5));
  EXPECT_EQ(Kdb({"--text", "put", "f.dat", "K001", "hello world!"}).status, 0);
  EXPECT_EQ(Kdb({"put", "f.dat", "4b303032", "00 01 02 ff"}).status, 0);
  Result r = Kdb({"--text", "get", "f.dat", "K001"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hello world!\n");
  r = Kdb({"get", "f.dat", "4b303032"});
  EXPECT_EQ(r.out, "000102ff\n");
  r = Kdb({"info", "f.dat"});
  EXPECT_NE(r.out.find("layout: block file"), std::string::npos);
  EXPECT_NE(r.out.find("records: 2"), std::string::npos);
  r = Kdb({"--text", "dump", "f.dat"});
  EXPECT_NE(r.out.find("key K001 data hello world!"), std::string::npos) << r.out;
  EXPECT_EQ(Kdb({"verify", "f.dat"}).status, 0);
  EXPECT_EQ(Kdb({"--text", "del", "f.dat", "K001"}).status, 0);
  EXPECT_EQ(Kdb({"--text", "get", "f.dat", "K001"}).status, 1);
  EXPECT_EQ(Kdb({"--text", "del", "f.dat", "K001"}).status, 1);
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
  const Result r = Kdb({"verify", "bad.dat"});
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
  Result r = Kdb({"--text", "get", "dev.dat", "#-[*]2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "abcd\n");
  EXPECT_EQ(Kdb({"--text", "put", "dev.dat", "#-[*]2", "x"}).status, 2);
  r = Kdb({"info", "dev.dat"});
  EXPECT_NE(r.out.find("word layout"), std::string::npos);
  EXPECT_NE(r.out.find("records: 1"), std::string::npos);
  EXPECT_EQ(Kdb({"verify", "dev.dat"}).status, 0);
  r = Kdb({"--text", "dump", "dev.dat"});
  EXPECT_NE(r.out.find("key #-[*]2 length -12 data abcd"), std::string::npos) << r.out;
}

TEST(KedroDbTest, UsageErrors) {
  platform::FakePlatform fake;
  EXPECT_EQ(Kdb({}).status, 2);
  EXPECT_EQ(Kdb({"get", "missing.dat", "00"}).status, 2);
  EXPECT_EQ(Kdb({"frobnicate", "x.dat"}).status, 2);
  fake.AddFile("f.dat", store::EmptyBlockFileImage(2));
  EXPECT_EQ(Kdb({"get", "f.dat", "zz"}).status, 2);
  EXPECT_EQ(Kdb({"--selector", "7", "get", "f.dat", "00"}).status, 2);
}

}  // namespace
}  // namespace varmex::tools
