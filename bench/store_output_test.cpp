// The keyed store's output, byte for byte: fixed sequences of inserts, replaces (with
// other lengths) and deletes on files near full, whose final images and statuses must
// keep the digests recorded from the store with every block of a walk read afresh
// (no block taken from the look-up). A change that saves block reads or writes must
// not move one byte; a deliberate change of the store's rules records them again from
// such a build. Each sequence runs on the file straight, through the block cache, and
// through a cache of a few blocks that writes back all the time: the same digest.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "bench/walk_audit.h"
#include "bench/workload.h"
#include "io/block_cache.h"
#include "io/unit_file.h"
#include "platform/native.h"
#include "store/keyed_store.h"

namespace varmex::bench {
namespace {

namespace fs = std::filesystem;

uint64_t Fnv(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ULL;
  return h;
}

struct Script {
  Shape shape;
  int32_t blocks;
  int fill;
  uint64_t seed;
};

class StoreOutputTest : public ::testing::TestWithParam<std::pair<Script, uint64_t>> {
 protected:
  void TearDown() override {
    io::CloseAllUnits();
    io::SetCacheBudget(io::kDefaultCacheBudget);
    fs::remove_all(dir_);
  }
  // One folder per case and process: CTest runs the cases side by side.
  fs::path dir_ = fs::temp_directory_path() /
                  ("varmex-store-output-test-" + std::to_string(GetParam().first.seed) + "-" +
                   std::to_string(std::random_device{}()));
};

// The digest of the sequence's statuses and final image; `cacheBudget` 0 runs uncached.
uint64_t RunScript(const Script& s, const std::string& path, size_t cacheBudget) {
  RecordSet records = MakeRecords(
      s.shape, static_cast<size_t>(RecordsForFill(s.shape, s.blocks, s.fill)), 400, s.seed);
  const int64_t stored = BuildBlockFile(path, s.blocks, s.shape.keyLength, records.resident);
  EXPECT_GT(stored, 0);
  records.resident.resize(static_cast<size_t>(std::max<int64_t>(stored, 0)));
  const int16_t unit = io::FindFreeUnit();
  EXPECT_EQ(io::OpenUnit(platform::NativePlatform(), unit, path, 512), 0);
  if (cacheBudget != 0) {
    io::SetCacheBudget(cacheBudget);
    EXPECT_EQ(io::SetUnitCached(unit, true), 0);
  }

  Rng rng(s.seed * 7 + 1);
  uint64_t h = 14695981039346656037ULL;
  std::vector<Bytes> keys;
  for (const Bytes& r : records.resident) keys.push_back(r);
  size_t nextFresh = 0;
  for (int step = 0; step < 3000; ++step) {
    const uint64_t pick = rng.Below(10);
    int16_t status = 0;
    if (pick < 4 && nextFresh < records.fresh.size()) {
      const Bytes& r = records.fresh[nextFresh++];
      status = store::KeyedWrite(r, s.shape.keyLength, s.blocks, unit,
                                 store::HashSelector::kVariableLength)
                   .status;
      keys.push_back(r);
    } else if (pick < 7) {
      Bytes r = keys[rng.Below(keys.size())];
      r.resize(static_cast<size_t>(s.shape.keyLength) + 2 * (1 + rng.Below(150)),
               static_cast<uint8_t>(step));
      status = store::KeyedWrite(r, s.shape.keyLength, s.blocks, unit,
                                 store::HashSelector::kVariableLength)
                   .status;
    } else {
      status = store::KeyedDelete(keys[rng.Below(keys.size())], s.shape.keyLength, s.blocks, unit,
                                  store::HashSelector::kVariableLength);
    }
    h = Fnv(h, &status, sizeof status);
  }
  EXPECT_EQ(io::CloseUnit(unit), 0);
  const Bytes image = ReadWholeFile(path);
  return Fnv(h, image.data(), image.size());
}

TEST_P(StoreOutputTest, ImagesAndStatusesKeepTheirDigest) {
  const auto& [s, expected] = GetParam();
  fs::create_directories(dir_);
  const std::string path = (dir_ / "f.dat").string();
  for (const size_t budget : {size_t{0}, io::kDefaultCacheBudget, size_t{8 * 1024}}) {
    const uint64_t h = RunScript(s, path, budget);
    EXPECT_EQ(h, expected) << std::hex << h << " with a cache of " << std::dec << budget;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, StoreOutputTest,
    ::testing::Values(std::make_pair(Script{kPrefmanShape, 41, 90, 1}, 0xe252171830548b3bULL),
                      std::make_pair(Script{kPrefmanShape, 41, 50, 2}, 0x23cedf0b50cd1631ULL),
                      std::make_pair(Script{kFurnmatShape, 41, 90, 3}, 0x20852fe396737adeULL),
                      std::make_pair(Script{kFurnmatShape, 23, 60, 4}, 0x6c60d26b22a90af6ULL)),
    // Stable names: CTest runs each case by name.
    [](const ::testing::TestParamInfo<std::pair<Script, uint64_t>>& info) {
      return "Seed" + std::to_string(info.param.first.seed);
    });

// An insert whose reusable place is the free end of the last block its look-up read
// (no block is full yet, so there are no fillers or deleted entries before it) reads
// that block once, and writes only it.
TEST(StoreWalk, InsertIntoRoomyFileReadsItsBlockOnce) {
  const fs::path dir = fs::temp_directory_path() / "varmex-store-walk-test";
  fs::create_directories(dir);
  const std::string path = (dir / "w.dat").string();
  const RecordSet records = MakeRecords(kPrefmanShape, 0, 300, 8);
  ASSERT_EQ(BuildBlockFile(path, 61, 10, {}), 0);
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(platform::NativePlatform(), unit, path, 512), 0);
  {
    WalkAuditor audit(path, unit);
    for (const Bytes& r : records.fresh) {
      audit.Run([&] {
        ASSERT_EQ(store::KeyedWrite(r, 10, 61, unit, store::HashSelector::kVariableLength).status,
                  store::kKeyedDone);
      });
    }
    const WalkTotals& t = audit.totals();
    // Keys whose home is the full header block walk on to block 2: two blocks each.
    EXPECT_EQ(t.reads, t.distinctReads);
    EXPECT_LT(t.reads, 330u);
    EXPECT_EQ(t.excessOps, 0u);
    EXPECT_EQ(t.writes, 300u);
    EXPECT_EQ(t.changedWrites, 300u);
  }
  io::CloseAllUnits();
  fs::remove_all(dir);
}

// In a crowded file the look-up's first reusable place is often a filler too small for
// the record, blocks before the one where the record goes: placing walks those blocks
// again, and still reads each of them once.
TEST(StoreWalk, InsertIntoCrowdedFileReadsEachBlockOnce) {
  const fs::path dir = fs::temp_directory_path() / "varmex-store-crowded-test";
  fs::create_directories(dir);
  const std::string path = (dir / "c.dat").string();
  RecordSet records = MakeRecords(
      kPrefmanShape, static_cast<size_t>(RecordsForFill(kPrefmanShape, 41, 90)), 40, 12);
  ASSERT_GT(BuildBlockFile(path, 41, 10, records.resident), 0);
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(platform::NativePlatform(), unit, path, 512), 0);
  std::vector<Bytes> placed;
  {
    WalkAuditor audit(path, unit);
    for (const Bytes& r : records.fresh) {
      // A walk that runs out of its budget of N blocks answers 3; the others are placed.
      int16_t status = 0;
      audit.Run([&] {
        status = store::KeyedWrite(r, 10, 41, unit, store::HashSelector::kVariableLength).status;
      });
      ASSERT_TRUE(status == store::kKeyedDone || status == store::kKeyedFull) << status;
      if (status == store::kKeyedDone) placed.push_back(r);
    }
    const WalkTotals& t = audit.totals();
    EXPECT_GT(placed.size(), records.fresh.size() / 2);
    EXPECT_GT(t.reads, 2 * t.ops);  // long walks: the case is really met
    EXPECT_EQ(t.reads, t.distinctReads);
    EXPECT_EQ(t.writes, t.changedWrites);
    EXPECT_EQ(t.excessOps, 0u);
  }
  for (const Bytes& r : placed) {
    Bytes got(r.begin(), r.begin() + 10);
    got.resize(24);
    ASSERT_EQ(store::KeyedRead(got, 10, 41, unit, store::HashSelector::kVariableLength, 0).status,
              store::kKeyedDone);
    EXPECT_EQ(got, r);
  }
  io::CloseAllUnits();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace varmex::bench
