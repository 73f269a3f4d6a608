// I/O fault injection along whole migrations: the k-th block read fails, the k-th
// block write fails, or the k-th write puts only part of its block, for every k from
// 1 to the count of a clean run. The reads and writes are those that reach a file: the
// files the migration keeps in the block cache meet faults when a block is read into
// the cache or written back. Every run must end as the program ends a migration (its
// own messages, the completion message, no stop), leave the old collection as it was
// and the copies no step changes as they were copied, leave no converted price base
// entry pointing at a supplier record that is not there, and leave every block file
// the store wrote sound, except for what a write cut short is allowed to leave: a
// record without its last piece.
//
// A lost write-back (the k-th write and the cache's second try of it both fail) may
// leave records without a first or last piece, or out of their look-up's reach: each
// such record must be among those the warning counts as not written.
#include <gtest/gtest.h>

#include <algorithm>

#include "io/coding.h"
#include "io/unit_file.h"
#include "pricebase/conversion.h"
#include "pricebase/price_base_file.h"
#include "store/keyed_store.h"
#include "tests/fault_support.h"

namespace varmex::fault {
namespace {

enum class Fault { kRead, kWrite, kShortWrite, kLostWriteBack };

const char* Name(Fault f) {
  switch (f) {
    case Fault::kRead:
      return "read fails";
    case Fault::kWrite:
      return "write fails";
    case Fault::kShortWrite:
      return "write cut short";
    case Fault::kLostWriteBack:
      return "write fails twice";
  }
  return "";
}

struct Counts {
  uint64_t reads = 0;
  uint64_t writes = 0;
};

struct CleanResult {
  Counts counts;
  std::map<std::string, Bytes> lcalcdev, prefman;
};

std::string OldDataDir(const World& w, int version) {
  return version == 36 ? w.root() + "Varmex\\" : w.root();
}

// Every price base entry the run converted points at a supplier record that furnmat.dat
// holds whole.
void ExpectConvertedEntriesBacked(World& w, const std::string& oldDataDir,
                                  const std::string& context) {
  const std::map<std::string, Bytes> furnmat =
      WholeRecords(w, std::string(kNewData) + "FURNMAT.DAT");
  for (int k = 1; k <= 3; ++k) {
    const std::string name = pricebase::PriceBaseFileName(k);
    const auto old = w.old().find(oldDataDir + name);
    const Bytes* now = w.os.Bytes(std::string(kNewData) + name);
    if (old == w.old().end() || now == nullptr) continue;
    for (size_t at = 0; at + 12 <= std::min(old->second.size(), now->size()); at += 12) {
      if (at % 512 > 492) at = (at / 512 + 1) * 512;  // whole entries only
      if (at + 12 > now->size()) break;
      const int32_t supplier = io::LoadI32(now->data() + at + 8);
      if (supplier != pricebase::kConvertedSupplierField ||
          io::LoadI32(old->second.data() + at + 8) == supplier) {
        continue;
      }
      std::string key(8, '\0');
      io::StoreI32(reinterpret_cast<uint8_t*>(key.data()), pricebase::kDefaultSupplier);
      std::copy_n(now->data() + at, 4, key.begin() + 4);
      EXPECT_EQ(furnmat.count(key), 1u)
          << context << ": " << name << " offset " << at << " points at a missing record";
    }
  }
}

// A run without faults: it must itself pass every check, and it gives the counts.
CleanResult CleanRun(int version) {
  World w(version);
  // The store-written files start sound, so that whatever is wrong later came from the run.
  for (const auto& [path, bytes] : w.old()) {
    if (path.ends_with("FURNMAT.DAT") || path.ends_with("terti.dat")) {
      EXPECT_EQ(store::FormatProblems(store::VerifyBlockImage(bytes, 0)), "") << path;
    }
  }
  const io::IoCounters before = io::Counters();
  EXPECT_TRUE(w.Migrate());
  const io::IoCounters after = io::Counters();
  ExpectOrderlyEnd(w, "clean run");
  ExpectOldCollectionUntouched(w, "clean run");
  ExpectPlainCopiesIntact(w, OldDataDir(w, version), "clean run");
  for (const std::string& path : StoreWrittenFiles()) EXPECT_EQ(BlockFileProblems(w, path, {}), "");
  // The run did the work the sweep puts faults into: GRUPDEVs, prices, conversions.
  const store::VerifyReport lcalcdev =
      store::VerifyBlockImage(*w.os.Bytes(std::string(kNewData) + "lcalcdev.dat"), 0);
  const store::VerifyReport prefman =
      store::VerifyBlockImage(*w.os.Bytes(std::string(kNewData) + "Prefman.dat"), 0);
  EXPECT_GE(lcalcdev.records, 4);
  EXPECT_GE(prefman.records, 4);
  ExpectConvertedEntriesBacked(w, OldDataDir(w, version), "clean run");
  return {{after.reads - before.reads, after.writes - before.writes},
          WholeRecords(w, std::string(kNewData) + "lcalcdev.dat"),
          WholeRecords(w, std::string(kNewData) + "Prefman.dat")};
}

// Records of the clean run that the faulted run does not hold whole and alike.
int Lost(const std::map<std::string, Bytes>& clean, const std::map<std::string, Bytes>& faulted) {
  int lost = 0;
  for (const auto& [key, record] : clean) {
    const auto it = faulted.find(key);
    if (it == faulted.end() || it->second != record) ++lost;
  }
  return lost;
}

// One run with the k-th operation of its kind faulted. Returns false on a failed check.
bool FaultedRun(int version, Fault fault, uint64_t k, const CleanResult& clean) {
  World w(version);
  uint64_t seen = 0;
  bool fired = false;
  std::pair<int16_t, int64_t> again{0, 0};  // the block whose next write fails too
  io::SetIoFaultHook([&](io::IoOp op, int16_t unit, int64_t record) -> io::IoFault {
    if ((op == io::IoOp::kRead) != (fault == Fault::kRead)) return {};
    ++seen;
    if (fault == Fault::kLostWriteBack && seen == k + 1 && again == std::make_pair(unit, record))
      return {platform::kErrorWriteFault, -1};
    if (seen != k) return {};
    fired = true;
    switch (fault) {
      case Fault::kRead:
        return {platform::kErrorReadFault, -1};
      case Fault::kWrite:
        return {platform::kErrorWriteFault, -1};
      case Fault::kShortWrite:
        return {platform::kErrorDiskFull, 100};
      case Fault::kLostWriteBack:
        again = {unit, record};
        return {platform::kErrorWriteFault, -1};
    }
    return {};
  });
  const bool ended = w.Migrate();
  io::SetIoFaultHook(nullptr);
  const std::string context =
      "version " + std::to_string(version) + ", " + Name(fault) + " at " + std::to_string(k);
  EXPECT_TRUE(fired) << context;
  if (!ended) return false;
  ExpectOrderlyEnd(w, context);
  ExpectOldCollectionUntouched(w, context);
  ExpectPlainCopiesIntact(w, OldDataDir(w, version), context);
  ExpectConvertedEntriesBacked(w, OldDataDir(w, version), context);
  std::set<std::string> allowed = {"first piece without a last piece"};
  if (fault == Fault::kLostWriteBack) {
    allowed.insert({"piece without a first piece", "record not found by the look-up of its key"});
    const auto [lcalcdev, prefman] = UnwrittenCounts(w);
    EXPECT_LE(Lost(clean.lcalcdev, WholeRecords(w, std::string(kNewData) + "lcalcdev.dat")),
              lcalcdev)
        << context;
    EXPECT_LE(Lost(clean.prefman, WholeRecords(w, std::string(kNewData) + "Prefman.dat")), prefman)
        << context;
  }
  for (const std::string& path : StoreWrittenFiles()) {
    EXPECT_EQ(BlockFileProblems(w, path, allowed), "") << context;
  }
  return !::testing::Test::HasFailure();
}

// Every position in optimised builds; every third under the debug build's sanitizers
// and coverage counters, where one whole migration takes a tenth of a second.
#ifdef NDEBUG
constexpr uint64_t kStride = 1;
#else
constexpr uint64_t kStride = 3;
#endif

void Sweep(int version, Fault fault) {
  const CleanResult clean = CleanRun(version);
  ASSERT_FALSE(::testing::Test::HasFailure());
  const uint64_t total = fault == Fault::kRead ? clean.counts.reads : clean.counts.writes;
  ASSERT_GT(total, 50u);
  for (uint64_t k = 1; k <= total; k += kStride) {
    // One failing position tells the story; stop before the log drowns it.
    if (!FaultedRun(version, fault, k, clean)) break;
  }
}

TEST(FaultMigration, EveryReadFailingVersion36) { Sweep(36, Fault::kRead); }
TEST(FaultMigration, EveryWriteFailingVersion36) { Sweep(36, Fault::kWrite); }
TEST(FaultMigration, EveryWriteCutShortVersion36) { Sweep(36, Fault::kShortWrite); }
TEST(FaultMigration, EveryWriteFailingVersion35) { Sweep(35, Fault::kWrite); }
TEST(FaultMigration, EveryWriteLostVersion36) { Sweep(36, Fault::kLostWriteBack); }

}  // namespace
}  // namespace varmex::fault
