// Whole migrations into lcalcdev.dat, Prefman.dat and furnmat.dat too small for what
// they receive: the files grow and every record lands as in roomy files, or, when the
// disk fills while a file is re-spread, the migration stops, says so once, and every
// file it wrote is as before it started, with no temporary file left.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "io/coding.h"
#include "platform/forwarding_platform.h"
#include "tests/fault_support.h"

namespace varmex::fault {
namespace {

// lcalcdev.dat and Prefman.dat of one block (the header alone), furnmat.dat as the
// generator packed it.
constexpr WorldSizes kTight{1, 1, 1};

const char* const kGrowing[] = {"lcalcdev.dat", "Prefman.dat", "FURNMAT.DAT"};

struct Result {
  std::vector<std::string> messages;
  std::map<std::string, std::map<std::string, Bytes>> records;  // file -> key -> record
  std::map<std::string, int32_t> blocks;
  int32_t lastGrupdev = 0;
  std::vector<std::string> leftOver;  // temporary files of re-spreading
  std::pair<int, int> unwritten;
};

Result Outcome(World& w) {
  Result r;
  for (const auto& m : w.os.messages) r.messages.push_back(m.text);
  for (const char* name : kGrowing) {
    const std::string path = std::string(kNewData) + name;
    r.records[name] = WholeRecords(w, path);
    const store::VerifyReport v = store::VerifyBlockImage(*w.os.Bytes(path), 0);
    EXPECT_EQ(store::FormatProblems(v), "") << name;
    r.blocks[name] = v.blocks;
  }
  r.lastGrupdev = io::LoadI32(w.os.Bytes(std::string(kNewData) + "lcalcdev.dat")->data() + 22);
  std::vector<std::string> names;
  w.os.ListDirectory("D:\\kedro\\Varmex", names);
  for (const std::string& n : names) {
    if (n.find(".nredisp-") != std::string::npos) r.leftOver.push_back(n);
  }
  r.unwritten = UnwrittenCounts(w);
  return r;
}

Result Migrate(const WorldSizes& sizes) {
  World w(36, sizes);
  EXPECT_TRUE(w.Migrate());
  ExpectOrderlyEnd(w, "migration");
  return Outcome(w);
}

TEST(EnlargeMigration, FullFilesGrowAndEveryRecordLandsAsInRoomyOnes) {
  const Result roomy = Migrate({});
  const Result tight = Migrate(kTight);
  EXPECT_EQ(tight.messages, roomy.messages);  // no warning about records not written
  EXPECT_EQ(tight.unwritten, std::make_pair(0, 0));
  EXPECT_EQ(tight.lastGrupdev, roomy.lastGrupdev);
  EXPECT_TRUE(tight.leftOver.empty());
  for (const char* name : kGrowing) {
    EXPECT_GT(roomy.records.at(name).size(), 3u) << name;
    EXPECT_TRUE(tight.records.at(name) == roomy.records.at(name)) << name;
  }
  for (const char* name : {"lcalcdev.dat", "Prefman.dat"}) EXPECT_GT(tight.blocks.at(name), 1);
  EXPECT_GT(tight.blocks.at("FURNMAT.DAT"), roomy.blocks.at("FURNMAT.DAT") / 4);
}

// A file handle whose disk has room for `room` more bytes.
class FillingFile : public platform::File {
 public:
  FillingFile(std::unique_ptr<platform::File> inner, size_t& room)
      : inner_(std::move(inner)), room_(room) {}
  uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
    return inner_->ReadAt(offset, out, got);
  }
  uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
    if (in.size() <= room_) {
      room_ -= in.size();
      return inner_->WriteAt(offset, in, put);
    }
    const uint32_t error = inner_->WriteAt(offset, in.first(room_), put);
    room_ = 0;
    return error != 0 ? error : static_cast<uint32_t>(platform::kErrorDiskFull);
  }
  uint32_t Flush() override { return inner_->Flush(); }

 private:
  std::unique_ptr<platform::File> inner_;
  size_t& room_;
};

// The world's platform, with a disk that fills while the files re-spreading builds
// are written.
class FillingDisk : public platform::ForwardingPlatform {
 public:
  FillingDisk(platform::Platform& inner, size_t room) : ForwardingPlatform(inner), room_(room) {}
  std::unique_ptr<platform::File> OpenExistingFile(std::string_view path,
                                                   uint32_t& error) override {
    std::unique_ptr<platform::File> file = ForwardingPlatform::OpenExistingFile(path, error);
    if (file == nullptr || path.find(".nredisp-") == std::string_view::npos) return file;
    return std::make_unique<FillingFile>(std::move(file), room_);
  }

 private:
  size_t room_;
};

TEST(EnlargeMigration, ADiskThatFillsWhileAFileGrowsStopsAndUndoesTheMigration) {
  World w(36, kTight);
  const Bytes lcalcdev = *w.os.Bytes(std::string(kNewData) + "lcalcdev.dat");
  const Bytes prefman = *w.os.Bytes(std::string(kNewData) + "Prefman.dat");
  FillingDisk disk(w.os, 3 * 512 + 100);
  EXPECT_TRUE(w.Migrate(disk));
  ExpectOrderlyEnd(w, "disk full");
  const Result full = Outcome(w);
  EXPECT_TRUE(full.leftOver.empty());
  EXPECT_EQ(full.unwritten, std::make_pair(0, 0));  // nothing stands that could be counted
  EXPECT_EQ(std::count_if(full.messages.begin(), full.messages.end(),
                          [](const std::string& m) {
                            return m.rfind(
                                       "Spatiu insuficient pe disc la scrierea fisierului "
                                       "D:\\kedro\\Varmex\\",
                                       0) == 0;
                          }),
            1);
  EXPECT_TRUE(*w.os.Bytes(std::string(kNewData) + "lcalcdev.dat") == lcalcdev);
  EXPECT_TRUE(*w.os.Bytes(std::string(kNewData) + "Prefman.dat") == prefman);
  std::vector<std::string> names;
  w.os.ListDirectory("D:\\kedro\\Varmex", names);
  for (const std::string& n : names) EXPECT_EQ(n.find(".anulare"), std::string::npos) << n;
  EXPECT_FALSE(w.os.Exists(std::string(kNewData) + "preluare.jurnal"));
}

}  // namespace
}  // namespace varmex::fault
