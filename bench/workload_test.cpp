// Tests of the workload builder, the walk audit and the peer adapters.
#include "bench/workload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "bench/peer_stores.h"
#include "bench/walk_audit.h"
#include "io/unit_file.h"
#include "platform/native.h"
#include "store/block_file.h"
#include "store/keyed_store.h"

namespace varmex::bench {
namespace {

namespace fs = std::filesystem;

class BenchFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("varmex-bench-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    io::CloseAllUnits();
    io::SetIoFaultHook(nullptr);
    fs::remove_all(dir_);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST(WorkloadShape, EntryCellsAndRecordCountsFollowTheBlockLayout) {
  EXPECT_EQ(EntryCells(kPrefmanShape), 13);  // size and flags, then 24 bytes
  EXPECT_EQ(EntryCells(kFurnmatShape), 69);  // size and flags, then 136 bytes
  EXPECT_EQ(RecordsForFill(kPrefmanShape, 101, 50), 100 * 256 / 2 / 13);
  EXPECT_EQ(RecordsForFill(kFurnmatShape, 1, 50), 0);  // the header block alone holds no records
}

TEST(WorkloadRecords, KeysAreDistinctAndTheSetIsRepeatable) {
  const RecordSet a = MakeRecords(kPrefmanShape, 500, 100, 9);
  const RecordSet b = MakeRecords(kPrefmanShape, 500, 100, 9);
  EXPECT_EQ(a.resident, b.resident);
  EXPECT_EQ(a.fresh, b.fresh);
  std::set<Bytes> keys;
  for (const auto* list : {&a.resident, &a.fresh}) {
    for (const Bytes& r : *list) {
      ASSERT_EQ(r.size(), 24u);
      keys.insert(Bytes(r.begin(), r.begin() + 10));
    }
  }
  EXPECT_EQ(keys.size(), 600u);
  EXPECT_NE(MakeRecords(kPrefmanShape, 5, 0, 10).resident,
            MakeRecords(kPrefmanShape, 5, 0, 9).resident);
}

TEST_F(BenchFiles, BuiltFileHoldsEveryRecordAtTheRequestedFill) {
  const std::string path = Path("f.dat");
  const int64_t wanted = RecordsForFill(kPrefmanShape, 11, 80);
  const RecordSet records = MakeRecords(kPrefmanShape, static_cast<size_t>(wanted), 0, 3);
  ASSERT_EQ(BuildBlockFile(path, 11, 10, records.resident), wanted);
  const Bytes image = ReadWholeFile(path);
  ASSERT_EQ(image.size(), 11u * 512);
  // 24-byte records never split (any usable gap takes a whole one): the fill is exact.
  EXPECT_DOUBLE_EQ(MeasuredFill(image), static_cast<double>(wanted * 13) / (10 * 256));

  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(platform::NativePlatform(), unit, path, 512), 0);
  for (const Bytes& r : records.resident) {
    Bytes got(r.begin(), r.begin() + 10);
    got.resize(24);
    const store::ReadResult read =
        store::KeyedRead(got, 10, 11, unit, store::HashSelector::kVariableLength, 0);
    ASSERT_EQ(read.status, store::kKeyedDone);
    EXPECT_EQ(got, r);
  }
}

TEST_F(BenchFiles, BuildingStopsAtTheFirstRecordThatDoesNotFit) {
  const RecordSet records = MakeRecords(kFurnmatShape, 40, 0, 4);
  const int64_t stored = BuildBlockFile(Path("full.dat"), 5, 8, records.resident);
  EXPECT_GT(stored, 8);
  EXPECT_LT(stored, 16);  // four data blocks of 256 cells hold under 15 records of 69
  EXPECT_GT(MeasuredFill(ReadWholeFile(Path("full.dat"))), 0.75);
}

TEST_F(BenchFiles, AuditTellsRereadsAndUnchangedWritesApart) {
  const std::string path = Path("a.dat");
  ASSERT_GE(BuildBlockFile(path, 8, 10, {}), 0);
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(platform::NativePlatform(), unit, path, 512), 0);
  WalkAuditor audit(path, unit);
  uint8_t block[512] = {};

  audit.Run([&] {
    io::ReadRecord(unit, 3, block);
    io::ReadRecord(unit, 4, block);
  });
  EXPECT_EQ(audit.totals().excessOps, 0u);

  audit.Run([&] {
    io::ReadRecord(unit, 3, block);
    io::ReadRecord(unit, 3, block);   // read twice
    io::WriteRecord(unit, 4, block);  // the same zeros back: no change
    block[7] = 1;
    io::WriteRecord(unit, 5, block);  // changed
  });
  const WalkTotals& t = audit.totals();
  EXPECT_EQ(t.ops, 2u);
  EXPECT_EQ(t.reads, 4u);
  EXPECT_EQ(t.distinctReads, 3u);
  EXPECT_EQ(t.writes, 2u);
  EXPECT_EQ(t.changedWrites, 1u);
  EXPECT_EQ(t.excessOps, 1u);
  EXPECT_DOUBLE_EQ(t.PerOp(t.reads), 2.0);

  // A block changed again later counts as changed against its latest contents.
  audit.Run([&] { io::WriteRecord(unit, 5, block); });
  EXPECT_EQ(audit.totals().changedWrites, 1u);
}

class PeerStoreTest : public BenchFiles, public ::testing::WithParamInterface<const char*> {};

TEST_P(PeerStoreTest, StoresFetchesReplacesAndDeletesRecords) {
  const bool gdbm = std::string(GetParam()) == "gdbm";
  auto peer = (gdbm ? OpenGdbm : OpenSqlite)(Path("peer.db"), 8);
  ASSERT_TRUE(peer);
  const RecordSet records = MakeRecords(kFurnmatShape, 3, 1, 5);
  peer->BeginBatch();
  for (const Bytes& r : records.resident) ASSERT_TRUE(peer->Insert(r));
  EXPECT_FALSE(peer->Insert(records.resident[0])) << "a second insert of a key must fail";
  peer->EndBatch();

  Bytes out;
  ASSERT_TRUE(peer->Fetch(records.resident[1], out));
  EXPECT_EQ(out, records.resident[1]);
  EXPECT_FALSE(peer->Fetch(records.fresh[0], out));

  Bytes changed = records.resident[2];
  changed[100] ^= 0xFF;
  ASSERT_TRUE(peer->Replace(changed));
  ASSERT_TRUE(peer->Fetch(changed, out));
  EXPECT_EQ(out, changed);

  ASSERT_TRUE(peer->Delete(records.resident[0]));
  EXPECT_FALSE(peer->Fetch(records.resident[0], out));
  EXPECT_FALSE(peer->Delete(records.resident[0]));

  // What was stored survives closing and reopening.
  peer.reset();
  peer = (gdbm ? OpenGdbm : OpenSqlite)(Path("peer.db"), 8);
  ASSERT_TRUE(peer);
  ASSERT_TRUE(peer->Fetch(changed, out));
  EXPECT_EQ(out, changed);
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerStoreTest, ::testing::Values("gdbm", "sqlite"));

}  // namespace
}  // namespace varmex::bench
