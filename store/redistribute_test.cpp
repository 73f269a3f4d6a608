#include "store/redistribute.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "io/block_cache.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "platform/native.h"
#include "store/block_file_builder.h"
#include "store/store_test_support.h"

namespace varmex::store {
namespace {

using platform::FakePlatform;
using Bytes = std::vector<uint8_t>;

constexpr const char* kFile = "D:\\Varmex\\furnmat.dat";
constexpr HashSelector kSel = HashSelector::kVariableLength;

// Record i: a 4-byte key and a body of 20 to over 1000 bytes, so that some records
// run over several blocks.
Bytes Record(int i) {
  Bytes r(static_cast<size_t>(20 + (i * 97) % 1100) & ~size_t{1}, static_cast<uint8_t>(i));
  io::StoreI32(r.data(), 1000 + i);
  return r;
}

// Writes (or deletes, with `erase`) records into the file at `path` of N blocks.
void Apply(platform::Platform& os, std::string_view path, int32_t n, const std::vector<int>& which,
           bool erase = false) {
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(os, unit, path, kBlockBytes), 0);
  for (int i : which) {
    const Bytes r = Record(i);
    if (erase) {
      ASSERT_EQ(KeyedDelete(r, 4, n, unit, kSel), kKeyedDone) << i;
    } else {
      ASSERT_EQ(KeyedWrite(r, 4, n, unit, kSel).status, kKeyedDone) << i;
    }
  }
  io::CloseUnit(unit);
}

std::vector<int> Range(int from, int count) {
  std::vector<int> v;
  for (int i = from; i < from + count; ++i) v.push_back(i);
  return v;
}

// Collects what the walk reports.
struct Recorder : RecordVisitor {
  std::vector<RecordSighting> sightings;
  std::vector<Bytes> records;
  std::vector<std::string> problems;
  bool OnUnreadableBlock(int32_t b, int status) override {
    problems.push_back("unreadable " + std::to_string(b) + " " + std::to_string(status));
    return true;
  }
  bool OnDamagedEntry(int32_t b, int cell) override {
    problems.push_back("damaged " + std::to_string(b) + " " + std::to_string(cell));
    return true;
  }
  bool OnRecord(const RecordSighting& s) override {
    sightings.push_back(s);
    records.emplace_back(s.record.begin(), s.record.end());
    sightings.back().key = {};  // the walk's buffers do not outlive the call
    return true;
  }
};

class RedistributeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bytes image = EmptyBlockFileImage(kOldBlocks);
    io::StoreI32(image.data() + kHeaderOwnerOffset, 4711);  // the owner's own field
    image[300] = 'h';
    os_.AddDirectory("D:\\Varmex");
    os_.AddFile(kFile, image);
  }
  void TearDown() override {
    io::SetIoFaultHook(nullptr);
    io::CloseAllUnits();
  }
  Bytes& File() { return *os_.Bytes(kFile); }
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    os_.ListDirectory("D:\\Varmex", names);
    return names;
  }

  static constexpr int32_t kOldBlocks = 60;
  FakePlatform os_;
};

TEST_F(RedistributeTest, EveryLiveRecordMovesWholeInBlockOrderAndBlockOneIsCarried) {
  Apply(os_, kFile, kOldBlocks, Range(0, 40));
  Apply(os_, kFile, kOldBlocks, {3, 17}, true);
  const Bytes before = File();

  const RedistributeResult r = Redistribute(os_, kFile, 300);
  ASSERT_EQ(r.status, RedistributeStatus::kDone) << r.problem;
  EXPECT_EQ(r.records, 38);
  EXPECT_EQ(r.oldBlocks, kOldBlocks);
  EXPECT_EQ(r.writtenTo, kFile);
  EXPECT_EQ(Listing(), std::vector<std::string>{"furnmat.dat"});
  for (int16_t u = io::kFirstUnit; u <= 3; ++u) EXPECT_FALSE(io::UnitInUse(u));

  // The new file is what writing the records in the block order of their first pieces
  // into an empty file with the old block 1 gives.
  Bytes expected = EmptyBlockFileImage(300);
  std::copy(before.begin(), before.begin() + kBlockBytes, expected.begin());
  SetHeaderBlockCount(std::span<uint8_t, kBlockBytes>(expected.data(), kBlockBytes), 300);
  os_.AddFile("D:\\expected.dat", expected);
  std::vector<std::pair<int32_t, int>> order;  // (block * 1000 + cell, record)
  os_.AddFile("D:\\old.dat", before);
  const int16_t unit = io::FindFreeUnit();
  io::OpenUnit(os_, unit, "D:\\old.dat", kBlockBytes);
  for (int i = 0; i < 40; ++i) {
    Bytes key = Record(i);
    const ReadResult found = KeyedRead(key, 4, kOldBlocks, unit, kSel);
    if (found.status == kKeyedDone) order.push_back({found.block * 1000 + found.cell, i});
  }
  io::CloseUnit(unit);
  std::sort(order.begin(), order.end());
  std::vector<int> inOrder;
  for (const auto& [place, i] : order) inOrder.push_back(i);
  Apply(os_, "D:\\expected.dat", 300, inOrder);
  EXPECT_TRUE(File() == *os_.Bytes("D:\\expected.dat"));
  EXPECT_EQ(io::LoadI32(File().data() + kHeaderOwnerOffset), 4711);
  EXPECT_EQ(File()[300], 'h');
}

TEST_F(RedistributeTest, ResultBesideTheFileLeavesTheFileAlone) {
  Apply(os_, kFile, kOldBlocks, Range(0, 5));
  const Bytes before = File();
  const RedistributeResult r = Redistribute(os_, kFile, 100, "D:\\Varmex\\furnmat.dat.nredisp");
  ASSERT_EQ(r.status, RedistributeStatus::kDone) << r.problem;
  EXPECT_EQ(r.writtenTo, "D:\\Varmex\\furnmat.dat.nredisp");
  EXPECT_TRUE(File() == before);
  EXPECT_EQ(os_.Bytes(r.writtenTo)->size(), 100u * kBlockBytes);
}

TEST_F(RedistributeTest, StaleTemporaryFilesOfARunAreRemovedOthersKept) {
  for (const char* name : {"furnmat.dat.nredisp-0123456789ab", "FURNMAT.DAT.nredisp-zzzzzzzzzzzz",
                           "furnmat.dat.nredisp-tmp", "furnmat.dat.nredisp-0123456789abc",
                           "other.dat.nredisp-0123456789ab"}) {
    os_.AddFile(std::string("D:\\Varmex\\") + name, Bytes(512 * 1000, 1));
  }
  ASSERT_EQ(Redistribute(os_, kFile, 100).status, RedistributeStatus::kDone);
  std::vector<std::string> names = Listing();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"furnmat.dat", "furnmat.dat.nredisp-0123456789abc",
                                             "furnmat.dat.nredisp-tmp",
                                             "other.dat.nredisp-0123456789ab"}));
}

// Every refusal leaves the file byte for byte as it was and no other file behind.
// Through the block cache the new file is the same, byte for byte; a write-back that
// fails when the new file is flushed fails the run and leaves the file as it was.
TEST_F(RedistributeTest, CachedRunWritesTheSameFileAndFailsOnAWriteBackThatFails) {
  Apply(os_, kFile, kOldBlocks, Range(0, 40));
  const Bytes before = File();
  ASSERT_EQ(Redistribute(os_, kFile, 300).status, RedistributeStatus::kDone);
  const Bytes straight = File();

  os_.AddFile(kFile, before);
  const RedistributeResult r = Redistribute(os_, kFile, 300, {}, RedistributeCaching::kCached);
  ASSERT_EQ(r.status, RedistributeStatus::kDone) << r.problem;
  EXPECT_TRUE(File() == straight);
  for (int16_t u = io::kFirstUnit; u <= 3; ++u) EXPECT_FALSE(io::UnitInUse(u));

  os_.AddFile(kFile, before);
  int writes = 0;  // the disk fills at the 250th block that reaches the new file
  io::SetIoFaultHook([&](io::IoOp op, int16_t unit, int64_t) {
    return op == io::IoOp::kWrite && unit == 2 && ++writes >= 250
               ? io::IoFault{platform::kErrorDiskFull, 0}
               : io::IoFault{};
  });
  const RedistributeResult full = Redistribute(os_, kFile, 300, {}, RedistributeCaching::kCached);
  io::SetIoFaultHook(nullptr);
  EXPECT_EQ(full.status, RedistributeStatus::kNewFileFailed) << full.problem;
  EXPECT_EQ(full.systemError, platform::kErrorDiskFull);
  EXPECT_TRUE(File() == before);
  EXPECT_EQ(Listing(), std::vector<std::string>{"furnmat.dat"});
}

// In home order, over a file of two slices and through a cache that holds a tenth of the
// new file: every record lands, found by its key, and the new file's blocks go to the
// disk in block order, where the walk's order sends them at random.
TEST_F(RedistributeTest, HomeOrderPlacesEveryRecordAndWritesTheNewFileInBlockOrder) {
  constexpr int32_t kOld = 9000;  // 4.6 MB
  constexpr int32_t kNew = 12000;
  io::SetCacheBudget(size_t{600} << 10);
  for (const auto caching :
       {RedistributeCaching::kCached, RedistributeCaching::kCachedInHomeOrder}) {
    os_.AddFile(kFile, EmptyBlockFileImage(kOld));
    Apply(os_, kFile, kOld, Range(0, 3000));
    int descents = 0;
    int64_t last = 0;
    io::SetIoFaultHook([&](io::IoOp op, int16_t unit, int64_t block) {
      if (op == io::IoOp::kWrite && unit == 2) {
        if (block < last) ++descents;
        last = block;
      }
      return io::IoFault{};
    });
    const RedistributeResult r = Redistribute(os_, kFile, kNew, {}, caching);
    io::SetIoFaultHook(nullptr);
    ASSERT_EQ(r.status, RedistributeStatus::kDone) << r.problem;
    EXPECT_EQ(r.records, 3000);
    if (caching == RedistributeCaching::kCached) {
      EXPECT_GT(descents, 1000);
      continue;
    }
    EXPECT_LT(descents, 20);
    const int16_t unit = io::FindFreeUnit();
    ASSERT_EQ(io::OpenUnit(os_, unit, kFile, kBlockBytes), 0);
    for (int i = 0; i < 3000; ++i) {
      const Bytes want = Record(i);
      Bytes got(2000);
      std::copy(want.begin(), want.begin() + 4, got.begin());
      const ReadResult read = KeyedRead(got, 4, kNew, unit, kSel);
      ASSERT_EQ(read.status, kKeyedDone) << i;
      got.resize(static_cast<size_t>(read.length));
      ASSERT_EQ(got, want) << i;
    }
    io::CloseUnit(unit);
  }
  io::SetCacheBudget(io::kDefaultCacheBudget);
}

TEST_F(RedistributeTest, RefusalsLeaveTheFileAsItWas) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;  // applied to a file of 40 records
    int32_t newBlocks;
    RedistributeStatus status;
    const char* problem;
    uint32_t systemError = 0;
  };
  const auto block = [](Bytes& bytes, size_t b) {
    return std::span<uint8_t, kBlockBytes>(bytes.data() + (b - 1) * kBlockBytes, kBlockBytes);
  };
  const auto cutLastPiece = [&](Bytes& bytes) {
    for (size_t b = 2; b <= kOldBlocks; ++b) {
      for (const BlockEntry& e : BlockEntries(block(bytes, b))) {
        if (e.IsClosingPiece()) {
          block(bytes, b)[static_cast<size_t>(2 * e.cell - 1)] |= kFlagDeleted;
          return;
        }
      }
    }
  };
  // In an empty block: a deleted entry of one cell, then one of 256 cells.
  const auto entryPastBlock = [&](Bytes& bytes) {
    for (size_t b = 2; b <= kOldBlocks; ++b) {
      if (FlagsByte(block(bytes, b), 1) == kFlagEnd) {
        const uint8_t entries[] = {0, kFlagDeleted, 255, kFlagDeleted};
        std::copy(std::begin(entries), std::end(entries), block(bytes, b).begin());
        return;
      }
    }
  };
  const std::vector<Case> cases = {
      {"no header", [](Bytes& b) { b[5] = '-'; }, 100, RedistributeStatus::kFileUnusable,
       "has no valid block-file header"},
      {"header says fewer blocks", [](Bytes& b) { io::StoreI32(b.data() + 18, 2); }, 100,
       RedistributeStatus::kFileUnusable, "its header gives 2 blocks but the file holds 60 blocks"},
      {"header says more blocks", [](Bytes& b) { b.resize(59 * kBlockBytes); }, 100,
       RedistributeStatus::kFileUnusable,
       "its header gives 60 blocks but the file holds 59 blocks"},
      {"odd size", [](Bytes& b) { b.push_back(0); }, 100, RedistributeStatus::kFileUnusable,
       "the file holds 30721 bytes"},
      {"header count 2147483647", [](Bytes& b) { io::StoreI32(b.data() + 18, 2147483647); }, 100,
       RedistributeStatus::kFileUnusable, "its header gives 2147483647 blocks"},
      {"a record without its last piece", cutLastPiece, 100, RedistributeStatus::kFileUnusable,
       "cannot be read whole (store status 4)"},
      {"an entry past its block", entryPastBlock, 100, RedistributeStatus::kFileUnusable,
       "are damaged"},
      {"records that do not fit", [](Bytes&) {}, 3, RedistributeStatus::kNewFileFailed,
       "cannot be placed in 3 blocks (store status 3)"},
      {"a block count below 2", [](Bytes&) {}, 1, RedistributeStatus::kBadRequest, "at least 2"},
  };
  Apply(os_, kFile, kOldBlocks, Range(0, 40));
  const Bytes good = File();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = good;
    c.damage(bytes);
    os_.AddFile(kFile, bytes);
    const RedistributeResult r = Redistribute(os_, kFile, c.newBlocks);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
    EXPECT_TRUE(File() == bytes);
    EXPECT_EQ(Listing(), std::vector<std::string>{"furnmat.dat"});
  }

  // The system refuses.
  os_.AddFile(kFile, good);
  os_.SetFileAttributes(kFile, platform::kAttributeReadOnly);
  RedistributeResult r = Redistribute(os_, kFile, 100);
  EXPECT_EQ(r.problem, std::string("cannot open ") + kFile + " (error 5)");
  os_.SetFileAttributes(kFile, platform::kAttributeNormal);

  uint32_t error = 0;
  {
    const std::unique_ptr<platform::FileLock> other = os_.LockFile(kFile, error);
    r = Redistribute(os_, kFile, 100);
    EXPECT_EQ(r.status, RedistributeStatus::kBusy);
    EXPECT_EQ(r.problem, std::string(kFile) + " is busy: another run holds it");
  }
  // The disk fills while the new file is written: the 30th block written to it fails.
  int writes = 0;
  io::SetIoFaultHook([&](io::IoOp op, int16_t unit, int64_t) {
    return op == io::IoOp::kWrite && unit == 2 && ++writes == 30
               ? io::IoFault{platform::kErrorDiskFull, 100}
               : io::IoFault{};
  });
  r = Redistribute(os_, kFile, 100);
  EXPECT_EQ(r.status, RedistributeStatus::kNewFileFailed);
  EXPECT_EQ(r.systemError, platform::kErrorDiskFull);
  // ... or while the records are placed.
  writes = -75;  // the 105th: 101 make the empty file
  r = Redistribute(os_, kFile, 100);
  EXPECT_EQ(r.status, RedistributeStatus::kNewFileFailed);
  EXPECT_NE(r.problem.find("cannot be placed in 100 blocks (store status 2)"), std::string::npos)
      << r.problem;
  io::SetIoFaultHook(nullptr);
  EXPECT_TRUE(File() == good);
  EXPECT_EQ(Listing(), std::vector<std::string>{"furnmat.dat"});
  EXPECT_EQ(Redistribute(os_, "D:\\Varmex\\none.dat", 100).problem,
            "cannot open D:\\Varmex\\none.dat (error 2)");
}

// The walk tells of every first piece what KeyedRead of its key makes of it, on files
// damaged at random: pieces marked deleted, copies of first pieces, free ends put in
// the middle of probe paths, blocks cut off the end.
TEST_F(RedistributeTest, WalkAgreesWithTheLookUpOnDamagedFiles) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const int32_t n = 6 + static_cast<int32_t>(rng() % 20);
    os_.AddFile(kFile, EmptyBlockFileImage(n));
    std::vector<int> which;
    for (int i = 0; i < n * 2; ++i) which.push_back(static_cast<int>(rng() % 500));
    const int16_t unit = io::FindFreeUnit();
    io::OpenUnit(os_, unit, kFile, kBlockBytes);
    for (int i : which) KeyedWrite(Record(i), 4, n, unit, kSel);  // some answer 3: full
    io::CloseUnit(unit);
    Bytes& bytes = File();
    for (int k = 0; k < 4; ++k) {
      const size_t b = 1 + rng() % static_cast<size_t>(n - 1);
      const size_t at = b * kBlockBytes;
      switch (rng() % 4) {
        case 0:  // a piece marked deleted
          bytes[at + 1] |= 0x80;
          break;
        case 1:  // a free end at cell 1
          bytes[at + 1] = 0;
          break;
        case 2:  // a copy of another block's first entry
          std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(kBlockBytes * (1 + rng() % (n - 1))),
                      256, bytes.begin() + static_cast<ptrdiff_t>(at));
          break;
        default:  // a short piece with no last piece
          bytes[at] = 2;
          bytes[at + 1] = 0x44;
          break;
      }
    }
    const int32_t held = n - static_cast<int32_t>(rng() % 2);
    bytes.resize(static_cast<size_t>(held) * kBlockBytes);

    io::OpenUnit(os_, 1, kFile, kBlockBytes);
    Recorder walk;
    ASSERT_TRUE(WalkRecords(1, n, held, walk));
    for (size_t i = 0; i < walk.sightings.size(); ++i) {
      const RecordSighting& s = walk.sightings[i];
      SCOPED_TRACE("block " + std::to_string(s.block) + " cell " + std::to_string(s.cell));
      const size_t keyAt = static_cast<size_t>(s.block - 1) * kBlockBytes + 2 * s.cell;
      const int kl = bytes[keyAt - 1] & kFlagKeyLength;
      if (kl == 0 || keyAt % kBlockBytes + kl > kBlockBytes) continue;
      Bytes record(bytes.begin() + static_cast<ptrdiff_t>(keyAt),
                   bytes.begin() + static_cast<ptrdiff_t>(keyAt) + kl);
      record.resize(kMaxRecordLength);
      const ReadResult r = KeyedRead(record, static_cast<int16_t>(kl), n, 1, kSel);
      if (s.otherBlock != 0) {  // the look-up stops there, whatever the read makes of it
        EXPECT_EQ(std::make_pair(r.block, static_cast<int>(r.cell)),
                  std::make_pair(s.otherBlock, s.otherCell));
        continue;
      }
      EXPECT_EQ(r.status, s.status);
      if (r.status == kKeyedDone) {
        EXPECT_EQ(std::make_pair(r.block, static_cast<int>(r.cell)),
                  std::make_pair(s.block, s.cell));
        record.resize(static_cast<size_t>(r.length));
        EXPECT_EQ(record, walk.records[i]);
      }
    }
    io::CloseAllUnits();
  }
}

// Over the real file system: links, two runs at once, names planted in the way.
class RedistributeOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("redistribute_test_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "furnmat.dat").string();
    Write(file_, EmptyBlockFileImage(20));
    Apply(os_, file_, 20, Range(0, 10));
  }
  void TearDown() override {
    io::CloseAllUnits();
    std::filesystem::remove_all(dir_);
  }
  static void Write(const std::filesystem::path& p, const Bytes& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  static Bytes Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  platform::Platform& os_ = platform::NativePlatform();
  std::filesystem::path dir_;
  std::string file_;
};

TEST_F(RedistributeOnDiskTest, ALinkKeepsItsPlaceAndItsTargetGetsTheNewContents) {
  const std::filesystem::path link = dir_ / "link.dat";
  std::error_code ec;
  std::filesystem::create_symlink(file_, link, ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  const RedistributeResult r = Redistribute(os_, link.string(), 50);
  ASSERT_EQ(r.status, RedistributeStatus::kDone) << r.problem;
  EXPECT_EQ(r.records, 10);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Read(file_).size(), 50u * kBlockBytes);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

TEST_F(RedistributeOnDiskTest, ASecondRunFindsTheFileBusyAndTouchesNothing) {
  const Bytes before = Read(file_);
  uint32_t error = 0;
  std::unique_ptr<platform::FileLock> first = os_.LockFile(file_, error);
  ASSERT_NE(first, nullptr) << error;
  RedistributeResult r = Redistribute(os_, file_, 50);
  EXPECT_EQ(r.status, RedistributeStatus::kBusy);
  EXPECT_TRUE(Read(file_) == before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);

  first.reset();  // the first run ends
  r = Redistribute(os_, file_, 50);
  ASSERT_EQ(r.status, RedistributeStatus::kDone) << r.problem;
  EXPECT_EQ(r.records, 10);
  EXPECT_EQ(Read(file_).size(), 50u * kBlockBytes);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(RedistributeOnDiskTest, ALinkPlantedUnderAnOldTemporaryNameIsNeverWrittenThrough) {
  const std::filesystem::path victim = dir_ / "victim.txt";
  Write(victim, {'k', 'e', 'e', 'p'});
  std::error_code ec;
  std::filesystem::create_symlink(victim, file_ + ".nredisp-tmp", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  ASSERT_EQ(Redistribute(os_, file_, 50).status, RedistributeStatus::kDone);
  EXPECT_EQ(Read(victim), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(Read(file_).size(), 50u * kBlockBytes);
}

#ifndef _WIN32
// A result beside the file takes the rights of the file it replaces, or a new file's
// usual ones (0666 less the umask), never the temporary file's 0600.
TEST_F(RedistributeOnDiskTest, AResultBesideTheFileHasTheRightsOfWhatItReplaces) {
  using std::filesystem::perms;
  const std::string beside = file_ + ".nredisp";
  const mode_t mask = ::umask(022);
  ASSERT_EQ(Redistribute(os_, file_, 30, beside).status, RedistributeStatus::kDone);
  EXPECT_EQ(std::filesystem::status(beside).permissions(),
            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
  std::filesystem::permissions(beside, perms::owner_read | perms::owner_write | perms::group_read);
  ASSERT_EQ(Redistribute(os_, file_, 40, beside).status, RedistributeStatus::kDone);
  EXPECT_EQ(Read(beside).size(), 40u * kBlockBytes);
  EXPECT_EQ(std::filesystem::status(beside).permissions(),
            perms::owner_read | perms::owner_write | perms::group_read);
  ::umask(mask);
}
#endif

}  // namespace
}  // namespace varmex::store
