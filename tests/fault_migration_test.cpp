// I/O fault injection along whole migrations: the k-th block read fails, the k-th
// block write fails, or the k-th write puts only part of its block, for every k from
// 1 to the count of a clean run. Every run must end as the program ends a migration
// (its own messages, the completion message, no stop), leave the old collection as
// it was and the copies no step changes as they were copied, and leave every block
// file the store wrote sound, except for what a write cut short is allowed to leave:
// a record without its last piece.
#include <gtest/gtest.h>

#include "io/coding.h"
#include "io/unit_file.h"
#include "store/keyed_store.h"
#include "tests/fault_support.h"

namespace varmex::fault {
namespace {

enum class Fault { kRead, kWrite, kShortWrite };

const char* Name(Fault f) {
  switch (f) {
    case Fault::kRead:
      return "read fails";
    case Fault::kWrite:
      return "write fails";
    case Fault::kShortWrite:
      return "write cut short";
  }
  return "";
}

struct Counts {
  uint64_t reads = 0;
  uint64_t writes = 0;
};

std::string OldDataDir(const World& w, int version) {
  return version == 36 ? w.root() + "Varmex\\" : w.root();
}

// A run without faults: it must itself pass every check, and it gives the counts.
Counts CleanRun(int version) {
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
  return {after.reads - before.reads, after.writes - before.writes};
}

// One run with the k-th operation of its kind faulted. Returns false on a failed check.
bool FaultedRun(int version, Fault fault, uint64_t k) {
  World w(version);
  uint64_t seen = 0;
  bool fired = false;
  io::SetIoFaultHook([&](io::IoOp op, int16_t, int64_t) -> io::IoFault {
    if ((op == io::IoOp::kRead) != (fault == Fault::kRead) || ++seen != k) return {};
    fired = true;
    switch (fault) {
      case Fault::kRead:
        return {platform::kErrorReadFault, -1};
      case Fault::kWrite:
        return {platform::kErrorWriteFault, -1};
      case Fault::kShortWrite:
        return {platform::kErrorDiskFull, 100};
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
  for (const std::string& path : StoreWrittenFiles()) {
    EXPECT_EQ(BlockFileProblems(w, path, {"first piece without a last piece"}), "") << context;
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
  const Counts clean = CleanRun(version);
  ASSERT_FALSE(::testing::Test::HasFailure());
  const uint64_t total = fault == Fault::kRead ? clean.reads : clean.writes;
  ASSERT_GT(total, 50u);
  for (uint64_t k = 1; k <= total; k += kStride) {
    // One failing position tells the story; stop before the log drowns it.
    if (!FaultedRun(version, fault, k)) break;
  }
}

TEST(FaultMigration, EveryReadFailingVersion36) { Sweep(36, Fault::kRead); }
TEST(FaultMigration, EveryWriteFailingVersion36) { Sweep(36, Fault::kWrite); }
TEST(FaultMigration, EveryWriteCutShortVersion36) { Sweep(36, Fault::kShortWrite); }
TEST(FaultMigration, EveryWriteFailingVersion35) { Sweep(35, Fault::kWrite); }

}  // namespace
}  // namespace varmex::fault
