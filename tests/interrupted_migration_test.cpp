// Whole migrations broken on purpose, then judged by what they leave:
//   - killed at many points (at the k-th block read or write that reaches a file, and at
//     the k-th call that changes the file system or starts a program): a second run on
//     the same tree ends with the same records in every file as an uninterrupted run,
//     and leaves no temporary file;
//   - the disk full from the k-th block write on: the full disk is named once and every
//     file the migration wrote in place is as it was before;
//   - lcalcdev.dat turning read-only after it was opened: no GRUPDEV is written under a
//     number already taken, so no record is ever replaced by another's content.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "io/coding.h"
#include "io/fixed_text.h"
#include "migration/undo_journal.h"
#include "platform/forwarding_platform.h"
#include "tests/fault_support.h"

namespace varmex::fault {
namespace {

// What a killed process leaves: the exception unwinds the migration, and the test
// then drops whatever the process held unwritten.
struct Killed {};

// Counts the calls that change the file system or start a program, and kills the
// process at the k-th (0: never).
class KillingPlatform : public platform::ForwardingPlatform {
 public:
  KillingPlatform(platform::Platform& inner, uint64_t killAt)
      : ForwardingPlatform(inner), killAt_(killAt) {}
  uint64_t calls = 0;

  platform::ProcessResult RunProcess(std::string_view c, bool w) override {
    Tick();
    return ForwardingPlatform::RunProcess(c, w);
  }
  uint32_t SetFileAttributes(std::string_view p, uint32_t a) override {
    Tick();
    return ForwardingPlatform::SetFileAttributes(p, a);
  }
  uint32_t DeleteFile(std::string_view p) override {
    Tick();
    // The journal goes once the user has been told the migration ended: from then on
    // a run is a migration done, and starting it again is a second migration.
    if (p.ends_with(migration::kJournalName) && finished == 0) finished = calls;
    return ForwardingPlatform::DeleteFile(p);
  }
  uint32_t CopyFile(std::string_view f, std::string_view t, bool e) override {
    Tick();
    return ForwardingPlatform::CopyFile(f, t, e);
  }
  uint32_t RenameFile(std::string_view f, std::string_view t) override {
    Tick();
    return ForwardingPlatform::RenameFile(f, t);
  }
  std::unique_ptr<platform::File> CreateUniqueFile(std::string_view p, std::string& c,
                                                   uint32_t& e) override {
    Tick();
    return ForwardingPlatform::CreateUniqueFile(p, c, e);
  }

 private:
  void Tick() {
    if (++calls == killAt_) throw Killed{};
  }

 public:
  uint64_t finished = 0;  // the call that deleted the journal
  uint64_t killAt_;
};

// The files of the new tree: block files by their whole records (their layouts may
// differ after a re-spreading), every other file by its bytes.
struct Tree {
  std::map<std::string, Bytes> plain;
  std::map<std::string, std::map<std::string, Bytes>> records;
  std::vector<std::string> leftovers;
};

Tree Snapshot(World& w) {
  Tree t;
  for (const char* dir : {"D:\\kedro\\Varmex", "D:\\kedro\\ERP"}) {
    std::vector<std::string> names;
    w.os.ListDirectory(dir, names);
    for (const std::string& name : names) {
      const std::string path = std::string(dir) + "\\" + name;
      const std::string lower = io::Lowercase(name);
      if (lower.find(".anulare") != std::string::npos ||
          lower.find(".nredisp-") != std::string::npos ||
          lower.find(migration::kJournalName) != std::string::npos) {
        t.leftovers.push_back(name);
      } else if (lower == "lcalcdev.dat" || lower == "prefman.dat" || lower == "furnmat.dat" ||
                 lower == "terti.dat") {
        t.records[lower] = WholeRecords(w, path);
      } else if (const Bytes* b = w.os.Bytes(path)) {
        t.plain[lower] = *b;
      }
    }
  }
  return t;
}

struct Reference {
  Tree tree;
  uint64_t blockOps = 0;
  uint64_t calls = 0;  // up to the deletion of the journal
};

const Reference& Clean() {
  static const Reference ref = [] {
    Reference r;
    World w(36);
    KillingPlatform counting(w.os, 0);
    const io::IoCounters before = io::Counters();
    EXPECT_TRUE(w.Migrate(counting));
    r.blockOps = io::Counters().reads + io::Counters().writes - before.reads - before.writes;
    r.calls = counting.finished;
    ExpectOrderlyEnd(w, "clean run");
    r.tree = Snapshot(w);
    EXPECT_TRUE(r.tree.leftovers.empty());
    return r;
  }();
  return ref;
}

void ExpectSameTree(const Tree& got, const Tree& want, const std::string& context) {
  EXPECT_EQ(got.leftovers, want.leftovers) << context;
  for (const auto& [name, records] : want.records) {
    const auto it = got.records.find(name);
    EXPECT_TRUE(it != got.records.end() && it->second == records)
        << context << ": the records of " << name << " differ ("
        << (it == got.records.end() ? 0 : it->second.size()) << " against " << records.size()
        << ")";
  }
  for (const auto& [name, bytes] : want.plain) {
    const auto it = got.plain.find(name);
    EXPECT_TRUE(it != got.plain.end() && it->second == bytes) << context << ": " << name;
  }
  EXPECT_EQ(got.plain.size(), want.plain.size()) << context;
}

// Kills the migration at the k-th block operation (byCall false) or platform call,
// runs it again on the same tree and compares with the uninterrupted run.
bool KilledRun(bool byCall, uint64_t k) {
  World w(36);
  const std::string context =
      std::string(byCall ? "killed at call " : "killed at block operation ") + std::to_string(k);
  uint64_t ops = 0;
  if (!byCall) {
    io::SetIoFaultHook([&](io::IoOp, int16_t, int64_t) -> io::IoFault {
      if (++ops == k) throw Killed{};
      return {};
    });
  }
  KillingPlatform killer(w.os, byCall ? k : 0);
  bool killed = false;
  try {
    w.Migrate(killer);
  } catch (const Killed&) {
    killed = true;
  }
  io::SetIoFaultHook(nullptr);
  io::AbandonAllUnits();
  EXPECT_TRUE(killed) << context;

  w.dialog = doubles::RecordingDialogHost();
  w.dialog.texts[migration::kOldDirectoryEdit] = "C:\\Palunor";
  EXPECT_TRUE(w.Migrate()) << context;
  ExpectOrderlyEnd(w, context);
  ExpectOldCollectionUntouched(w, context);
  ExpectSameTree(Snapshot(w), Clean().tree, context);
  return !::testing::Test::HasFailure();
}

// How many points of a sweep are run: more in optimised builds, fewer under the debug
// build's sanitizers, where one whole migration takes a tenth of a second.
#ifdef NDEBUG
constexpr uint64_t kKillPoints = 200;
constexpr uint64_t kFullDiskStride = 1;  // every write
#else
constexpr uint64_t kKillPoints = 40;
constexpr uint64_t kFullDiskStride = 3;
#endif

TEST(InterruptedMigration, KilledAtAnyBlockOperationCostsOnlyARerun) {
  const uint64_t total = Clean().blockOps;
  ASSERT_GT(total, 100u);
  for (uint64_t k = 1; k <= total; k += std::max<uint64_t>(1, total / kKillPoints)) {
    if (!KilledRun(false, k)) break;
  }
}

TEST(InterruptedMigration, KilledAtAnyFileSystemCallCostsOnlyARerun) {
  const uint64_t total = Clean().calls;
  ASSERT_GT(total, 20u);
  // Every call past the copy step, a few of the copies (which a rerun makes again).
  for (uint64_t k = 1; k <= total; k += k + 60 < total ? 17 : 1) {
    if (!KilledRun(true, k)) break;
  }
}

TEST(InterruptedMigration, AFullDiskIsNamedOnceAndUndoesWhatTheMigrationWrote) {
  World probe(36);
  const Bytes lcalcdev = *probe.os.Bytes(std::string(kNewData) + "lcalcdev.dat");
  const Bytes prefman = *probe.os.Bytes(std::string(kNewData) + "Prefman.dat");
  uint64_t writes = 0;
  {
    const io::IoCounters before = io::Counters();
    probe.Migrate();
    writes = io::Counters().writes - before.writes;
  }
  ASSERT_GT(writes, 20u);
  for (uint64_t k = 1; k <= writes; k += kFullDiskStride) {
    World w(36);
    uint64_t seen = 0;
    io::SetIoFaultHook([&](io::IoOp op, int16_t, int64_t) -> io::IoFault {
      if (op == io::IoOp::kWrite && ++seen >= k) return {platform::kErrorDiskFull, 0};
      return {};
    });
    EXPECT_TRUE(w.Migrate());
    io::SetIoFaultHook(nullptr);
    const std::string context = "disk full from write " + std::to_string(k);
    ExpectOrderlyEnd(w, context);
    ExpectOldCollectionUntouched(w, context);
    const auto full = std::count_if(w.os.messages.begin(), w.os.messages.end(), [](const auto& m) {
      return m.text.find("Spatiu insuficient pe disc") != std::string::npos;
    });
    EXPECT_EQ(full, 1) << context;
    EXPECT_EQ(UnwrittenCounts(w), std::make_pair(0, 0)) << context;
    EXPECT_TRUE(*w.os.Bytes(std::string(kNewData) + "lcalcdev.dat") == lcalcdev) << context;
    EXPECT_TRUE(*w.os.Bytes(std::string(kNewData) + "Prefman.dat") == prefman) << context;
    EXPECT_TRUE(Snapshot(w).leftovers.empty()) << context;
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(InterruptedMigration, AReadOnlyLcalcdevNeverGetsANumberTwice) {
  const Tree clean = [] {
    World w(36, WorldSizes{1, 1, 4});
    EXPECT_TRUE(w.Migrate());
    return Snapshot(w);
  }();
  int leftOut = 0;  // runs that left GRUPDEVs out and said so
  for (uint64_t k : {1, 5, 20, 60}) {
    World w(36, WorldSizes{1, 1, 4});
    uint64_t writes = 0;
    const std::string path = std::string(kNewData) + "lcalcdev.dat";
    io::SetIoFaultHook([&](io::IoOp op, int16_t, int64_t) -> io::IoFault {
      if (op == io::IoOp::kWrite && ++writes == k)
        w.os.SetFileAttributes(path, platform::kAttributeReadOnly);
      return {};
    });
    EXPECT_TRUE(w.Migrate());
    io::SetIoFaultHook(nullptr);
    const std::string context = "read-only after write " + std::to_string(k);
    ExpectOrderlyEnd(w, context);
    leftOut += static_cast<int>(std::count_if(
        w.os.messages.begin(), w.os.messages.end(),
        [](const auto& m) { return m.text.find("\nDevize fara GRUPDEV") != std::string::npos; }));
    // Whatever a file holds is what the clean run put under the same key.
    const Tree t = Snapshot(w);
    for (const char* name : {"lcalcdev.dat", "prefman.dat"}) {
      for (const auto& [key, record] : t.records.at(name)) {
        const auto it = clean.records.at(name).find(key);
        EXPECT_TRUE(it != clean.records.at(name).end() && it->second == record)
            << context << ": " << name;
      }
    }
  }
  EXPECT_GT(leftOut, 0);
}

// Damaged files are named, once, before anything is written into them.
TEST(InterruptedMigration, DamagedFilesAreNamedInOneWarning) {
  struct Case {
    const char* what;
    std::function<void(World&)> damage;
    const char* named;  // a piece of the warning
  };
  const std::string oldObi = "C:\\Palunor\\Varmex\\OBI.DAT";
  const std::string oldDev = "C:\\Palunor\\Varmex\\DEV.DAT";
  const std::string lcalcdev = std::string(kNewData) + "lcalcdev.dat";
  const std::vector<Case> cases = {
      {"dev.dat count far too large",
       [&](World& w) { io::StoreI32(w.os.Bytes(oldObi)->data() + 10, INT32_MAX); },
       "dev.dat: 2147483647 blocuri in antetul OBI.DAT"},
      {"dev.dat count negative",
       [&](World& w) { io::StoreI32(w.os.Bytes(oldObi)->data() + 10, -5); },
       "dev.dat: -5 blocuri in antetul OBI.DAT"},
      {"dev.dat cut short",
       [&](World& w) { w.os.Bytes(oldDev)->resize(w.os.Bytes(oldDev)->size() / 2); }, "dev.dat: "},
      {"lcalcdev.dat with a damaged block",
       [&](World& w) {
         Bytes& b = *w.os.Bytes(lcalcdev);
         std::fill(b.begin() + 512, b.begin() + 1024, uint8_t{0x41});
       },
       "lcalcdev.dat: "},
      {"lcalcdev.dat longer than its header says",
       [&](World& w) { w.os.Bytes(lcalcdev)->resize(w.os.Bytes(lcalcdev)->size() + 512); },
       "lcalcdev.dat: "},
  };
  for (const Case& c : cases) {
    World w(36);
    c.damage(w);
    const Bytes before = *w.os.Bytes(lcalcdev);
    EXPECT_TRUE(w.Migrate()) << c.what;
    ExpectOrderlyEnd(w, c.what);
    const auto named =
        std::count_if(w.os.messages.begin(), w.os.messages.end(), [&](const auto& m) {
          return m.text.rfind("Fisiere deteriorate", 0) == 0 &&
                 m.text.find(c.named) != std::string::npos;
        });
    EXPECT_EQ(named, 1) << c.what;
    // A damaged lcalcdev.dat is never re-spread: its size stays.
    if (std::string(c.named).starts_with("lcalcdev")) {
      EXPECT_EQ(w.os.Bytes(lcalcdev)->size(), before.size()) << c.what;
    }
  }
}

}  // namespace
}  // namespace varmex::fault
