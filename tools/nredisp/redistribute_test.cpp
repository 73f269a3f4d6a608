#include "tools/nredisp/redistribute.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::tools {
namespace {

namespace fs = std::filesystem;

// The in-memory platform, except that files are real files: the tool builds its new
// file beside the old one on disk.
class DiskFilesPlatform : public platform::FakePlatform {
 public:
  std::unique_ptr<platform::File> OpenExistingFile(std::string_view path,
                                                   uint32_t& error) override {
    std::FILE* f = std::fopen(std::string(path).c_str(), "r+b");
    if (f == nullptr) {
      error = platform::kErrorFileNotFound;
      return nullptr;
    }
    return std::make_unique<DiskFile>(f);
  }

 private:
  class DiskFile : public platform::File {
   public:
    explicit DiskFile(std::FILE* f) : f_(f) {}
    ~DiskFile() override { std::fclose(f_); }
    uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
      std::fseek(f_, static_cast<long>(offset), SEEK_SET);
      got = std::fread(out.data(), 1, out.size(), f_);
      return 0;
    }
    uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
      std::fseek(f_, static_cast<long>(offset), SEEK_SET);
      put = std::fwrite(in.data(), 1, in.size(), f_);
      std::fflush(f_);
      return put == in.size() ? 0u : static_cast<uint32_t>(platform::kErrorDiskFull);
    }

   private:
    std::FILE* f_;
  };
};

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Record i: a 4-byte key and a body whose length varies from 20 to over 1000 bytes,
// so that some records run over several blocks.
std::vector<uint8_t> Record(int i) {
  std::vector<uint8_t> r(static_cast<size_t>(20 + (i * 97) % 1100) & ~size_t{1},
                         static_cast<uint8_t>(i));
  io::StoreI32(r.data(), 1000 + i);
  return r;
}

class Redistribution : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("nredisp_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "furnmat.dat").string();
    std::vector<uint8_t> image = store::EmptyBlockFileImage(kOldBlocks);
    image[100] = 'h';  // something else the header carries
    WriteAll(file_, image);
  }
  void TearDown() override {
    io::CloseAllUnits();
    fs::remove_all(dir_);
  }

  void Write(int first, int count, int32_t blocks, const std::string& path) {
    const int16_t unit = io::FindFreeUnit();
    ASSERT_EQ(io::OpenUnit(unit, path, 512), 0);
    for (int i = first; i < first + count; ++i) {
      ASSERT_EQ(store::KeyedWrite(Record(i), 4, blocks, unit, store::HashSelector::kVariableLength)
                    .status,
                store::kKeyedDone)
          << i;
    }
    io::CloseUnit(unit);
  }

  static constexpr int32_t kOldBlocks = 60;
  DiskFilesPlatform os_;
  fs::path dir_;
  std::string file_;
};

TEST_F(Redistribution, EveryLiveRecordMovesWholeAndDeletedOnesStayBehind) {
  Write(0, 40, kOldBlocks, file_);
  {
    const int16_t unit = io::FindFreeUnit();
    ASSERT_EQ(io::OpenUnit(unit, file_, 512), 0);
    for (int i : {3, 17})
      ASSERT_EQ(
          store::KeyedDelete(Record(i), 4, kOldBlocks, unit, store::HashSelector::kVariableLength),
          store::kKeyedDone);
    io::CloseUnit(unit);
  }

  const RedistributeResult r = Redistribute(file_, 300, true);
  ASSERT_EQ(r.status, kRedistributed) << r.problem;
  EXPECT_EQ(r.records, 38);
  EXPECT_EQ(r.writtenTo, file_);
  EXPECT_FALSE(fs::exists(TemporaryName(file_)));

  const std::vector<uint8_t> bytes = ReadAll(file_);
  ASSERT_EQ(bytes.size(), 300u * 512);
  EXPECT_EQ(io::LoadI32(bytes.data() + 18), 300);
  EXPECT_EQ(bytes[100], 'h');
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(unit, file_, 512), 0);
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> got(2000, 0);
    io::StoreI32(got.data(), 1000 + i);
    const store::ReadResult read =
        store::KeyedRead(got, 4, 300, unit, store::HashSelector::kVariableLength, 0);
    if (i == 3 || i == 17) {
      EXPECT_EQ(read.status, store::kKeyedNotFound) << i;
      continue;
    }
    ASSERT_EQ(read.status, store::kKeyedDone) << i;
    got.resize(static_cast<size_t>(read.length));
    EXPECT_EQ(got, Record(i)) << i;
  }
}

TEST_F(Redistribution, WithoutReplacingTheResultLiesBesideTheOldFile) {
  Write(0, 5, kOldBlocks, file_);
  const std::vector<uint8_t> before = ReadAll(file_);
  const RedistributeResult r = Redistribute(file_, 100, false);
  ASSERT_EQ(r.status, kRedistributed) << r.problem;
  EXPECT_EQ(r.writtenTo, file_ + ".nredisp");
  EXPECT_EQ(ReadAll(file_), before);
  EXPECT_EQ(ReadAll(file_ + ".nredisp").size(), 100u * 512);
}

TEST_F(Redistribution, RecordsThatDoNotFitLeaveTheOldFileWhole) {
  Write(0, 40, kOldBlocks, file_);
  const std::vector<uint8_t> before = ReadAll(file_);
  const RedistributeResult r = Redistribute(file_, 3, true);
  EXPECT_EQ(r.status, kNewFileFailed);
  EXPECT_EQ(ReadAll(file_), before);
  EXPECT_FALSE(fs::exists(TemporaryName(file_)));
}

TEST_F(Redistribution, DamagedRecordStopsBeforeAnythingIsReplaced) {
  Write(0, 10, kOldBlocks, file_);
  // Cut the last piece off a record: find a first piece that is not also the last.
  std::vector<uint8_t> bytes = ReadAll(file_);
  bool cut = false;
  for (size_t b = 1; b < kOldBlocks && !cut; ++b) {
    for (int u = 1; u <= 256;) {
      const size_t at = b * 512 + static_cast<size_t>(2 * u - 2);
      const uint8_t flags = bytes[at + 1];
      if (flags == 0) break;
      if ((flags & 0xE0) == 0x20) {  // a last piece of a longer record
        bytes[at + 1] = static_cast<uint8_t>(flags | 0x80);
        cut = true;
        break;
      }
      u += bytes[at] + 1;
    }
  }
  ASSERT_TRUE(cut);
  WriteAll(file_, bytes);
  const RedistributeResult r = Redistribute(file_, 200, true);
  EXPECT_EQ(r.status, kOldFileUnusable);
  EXPECT_EQ(ReadAll(file_), bytes);
  EXPECT_FALSE(fs::exists(TemporaryName(file_)));
}

TEST_F(Redistribution, FileWithoutHeaderIsRefused) {
  std::vector<uint8_t> bytes(4 * 512, 0);
  WriteAll(file_, bytes);
  EXPECT_EQ(Redistribute(file_, 200, true).status, kOldFileUnusable);
  EXPECT_EQ(ReadAll(file_), bytes);
  EXPECT_EQ(Redistribute((dir_ / "none.dat").string(), 200, true).status, kOldFileUnusable);
  EXPECT_EQ(Redistribute(file_, 1, true).status, kBadCommandLine);
}

}  // namespace
}  // namespace varmex::tools
