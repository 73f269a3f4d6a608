// Tests of the whole-migration benchmark's pieces: child runs, block counts, the data
// digest and the I/O floor.
#include "bench/migration_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace varmex::bench {
namespace {

namespace fs = std::filesystem;

class MigrationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() /
            ("varmex-migrun-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())))
               .string();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& rel, const std::string& bytes) {
    fs::create_directories(fs::path(dir_ + "/" + rel).parent_path());
    std::ofstream(dir_ + "/" + rel, std::ios::binary) << bytes;
  }
  std::string dir_;
};

TEST_F(MigrationRunTest, ChildRunGivesItsStatusAndSeesItsEnvironment) {
  const ChildRun r = RunChild({"/bin/sh", "-c", "test \"$BENCH_X\" = yes && pwd > out && exit 3"},
                              {{"BENCH_X", "yes"}}, dir_);
  EXPECT_EQ(r.status, 3);
  EXPECT_GT(r.wallSeconds, 0);
  EXPECT_GT(r.maxRssKb, 0);
  std::ifstream out(dir_ + "/out");
  std::string cwd;
  std::getline(out, cwd);
  EXPECT_EQ(fs::canonical(cwd), fs::canonical(dir_));
  EXPECT_EQ(RunChild({dir_ + "/no-such-program"}, {}, "").status, 127);
  EXPECT_EQ(RunChild({"/bin/sh", "-c", "kill -9 $$"}, {}, "").status, 128 + 9);
}

TEST_F(MigrationRunTest, BlockCountsAreSummedPerProgram) {
  Write("counts",
        "varmex-setup 10 4 12 5\nvarmex-setup file dev.dat 6 0\nvarmex-setup file prefman.dat 4 4\n"
        "dens 3 0 3 0\nbroken line\ndens 2 1 2 1\ndens file furnmat.dat 5 1\n");
  const auto counts = ReadBlockCounts(dir_ + "/counts");
  ASSERT_EQ(counts.size(), 5u);
  EXPECT_EQ(counts.at("varmex-setup prefman.dat").writes, 4u);
  EXPECT_EQ(counts.at("dens furnmat.dat").reads, 5u);
  EXPECT_EQ(counts.at("varmex-setup").reads, 10u);
  EXPECT_EQ(counts.at("varmex-setup").allReads, 12u);
  EXPECT_EQ(counts.at("dens").reads, 5u);
  EXPECT_EQ(counts.at("dens").writes, 1u);
  EXPECT_TRUE(ReadBlockCounts(dir_ + "/missing").empty());
}

TEST_F(MigrationRunTest, DigestSeesEveryByteOfDataFilesOnly) {
  Write("t/Varmex/DEV.DAT", std::string(1024, 'a'));
  Write("t/ERP/terti.voc", "voc");
  Write("t/Varmex/dens", "a tool binary");
  const uint64_t base = DataDigest(dir_ + "/t");
  EXPECT_EQ(DataDigest(dir_ + "/t"), base);
  Write("t/Varmex/dens", "another build of the tool");
  EXPECT_EQ(DataDigest(dir_ + "/t"), base);
  std::string changed(1024, 'a');
  changed[1000] = 'b';
  Write("t/Varmex/DEV.DAT", changed);
  EXPECT_NE(DataDigest(dir_ + "/t"), base);
  Write("t/Varmex/DEV.DAT", std::string(1024, 'a'));
  EXPECT_EQ(DataDigest(dir_ + "/t"), base);
  // A file moved to another name is another result.
  fs::rename(dir_ + "/t/ERP/terti.voc", dir_ + "/t/ERP/terti2.voc");
  EXPECT_NE(DataDigest(dir_ + "/t"), base);
}

TEST_F(MigrationRunTest, FloorCopiesEveryFileAndReadsEveryWholeBlockOnce) {
  Write("c/Varmex/DEV.DAT", std::string(3 * 512 + 100, 'd'));  // three whole blocks and a tail
  Write("c/Varmex/NOR.DAT", std::string(512, 'n'));
  Write("c/ERP/terti.dat", std::string(70000, 't'));
  const IoFloor f = MeasureIoFloor(dir_ + "/c", dir_ + "/floor",
                                   {"Varmex/DEV.DAT", "Varmex/NOR.DAT", "Varmex/GONE.DAT"});
  EXPECT_EQ(f.bytesCopied, 3u * 512 + 100 + 512 + 70000);
  EXPECT_EQ(f.blocksCopied, 4u + 1 + 137);
  EXPECT_EQ(f.blocksRead, 4u);
  EXPECT_GE(f.Seconds(), f.copySeconds);
  EXPECT_FALSE(fs::exists(dir_ + "/floor"));
}

TEST(Median, OfOddAndEvenCounts) {
  EXPECT_EQ(Median({}), 0);
  EXPECT_EQ(Median({3, 1, 2}), 2);
  EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
}

}  // namespace
}  // namespace varmex::bench
