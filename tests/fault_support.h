// Whole migrations run in this process over the in-memory platform, for the fault
// injection tests: a small generated old collection on drive C, a freshly installed
// tree on drive D, the suite's tools answered without doing anything (convfurn leaves
// an empty partner file, as a converter of an empty supplier file would), dialog 102
// answered "one GRUPDEV per object", and the checks every faulted run must pass.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "grupdev/choice_dialog.h"
#include "io/unit_file.h"
#include "migration/pipeline.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/block_header.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"
#include "store/redistribute.h"
#include "store/verify.h"
#include "testing/recording_dialog_host.h"
#include "tools/gencollection/collection.h"

namespace varmex::fault {

using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;  // Windows path -> bytes

inline constexpr const char* kSuccess = "Instalare cu succes!";
inline constexpr const char* kNewData = "D:\\kedro\\Varmex\\";
inline constexpr const char* kNewErp = "D:\\kedro\\ERP\\";

// The old collection: an investment that leads to dialog 102 under the debug limits,
// one of its estimates left without a record in obi.dat, a few random ones, two price
// bases (one with a header, one without).
inline gencollection::Collection SmallCollection(int version) {
  gencollection::CollectionOptions options;
  options.version = version;
  options.estimates = 1;
  options.priceBases = 1;
  options.seed = 83;
  options.splitPercent = 40;
  gencollection::InvestmentPlan asked;
  asked.number = 12;
  asked.estimates = 6;
  asked.objects = 2;
  asked.bases = {1};
  options.investments.push_back(asked);
  return gencollection::GenerateCollection(options);
}

// A block file spread over `factor` times its blocks by the store's re-spreading (what
// the suite's nredisp does to furnmat.dat before a migration adds its supplier prices;
// the in-memory runs do not start the tool).
inline Bytes Respread(const Bytes& old, int32_t factor) {
  const int32_t n = store::HeaderBlockCount(std::span<const uint8_t, 512>(old.data(), 512));
  platform::FakePlatform scratch;
  scratch.AddFile("S:\\furnmat.dat", old);
  const store::RedistributeResult r = store::Redistribute(scratch, "S:\\furnmat.dat", n * factor);
  EXPECT_EQ(r.status, store::RedistributeStatus::kDone) << r.problem;
  return *scratch.Bytes("S:\\furnmat.dat");
}

// The collection's files by their Windows paths under `root` ("C:\Palunor\"), its
// furnmat.dat already spread over `furnmatSpread` times its blocks.
inline Files OldFiles(const gencollection::Collection& c, const std::string& root,
                      int32_t furnmatSpread) {
  Files out;
  for (const auto& [relative, bytes] : c.files) {
    std::string path = root + relative;
    for (char& ch : path) {
      if (ch == '/') ch = '\\';
    }
    out[path] = relative.ends_with("FURNMAT.DAT") && furnmatSpread > 1
                    ? Respread(bytes, furnmatSpread)
                    : bytes;
  }
  return out;
}

// The old collection of a version, made once per test program.
inline const Files& CachedOldFiles(int version, const std::string& root, int32_t furnmatSpread) {
  static std::map<std::pair<int, int32_t>, Files> cache;
  const std::pair<int, int32_t> key{version, furnmatSpread};
  auto it = cache.find(key);
  if (it == cache.end())
    it = cache.emplace(key, OldFiles(SmallCollection(version), root, furnmatSpread)).first;
  return it->second;
}

// The sizes of the files a world starts with: the fresh lcalcdev.dat and Prefman.dat
// of the new tree, and how many times its blocks the old furnmat.dat is spread over.
struct WorldSizes {
  int32_t lcalcdevBlocks = 23;
  int32_t prefmanBlocks = 41;
  int32_t furnmatSpread = 4;
};

// The in-memory machine of one run.
class World {
 public:
  explicit World(int version, const WorldSizes& sizes = {}) : version_(version) {
    io::CloseAllUnits();
    io::SetIoFaultHook(nullptr);
    root_ = version == 36 ? "C:\\Palunor\\" : "C:\\Varmex35\\";
    old_ = CachedOldFiles(version, root_, sizes.furnmatSpread);
    for (const char* dir : {"C:\\Palunor", "C:\\Palunor\\Varmex", "C:\\Palunor\\ERP",
                            "C:\\Varmex35", "D:\\kedro", "D:\\kedro\\Varmex", "D:\\kedro\\ERP"}) {
      os.AddDirectory(dir);
    }
    for (const auto& [path, bytes] : old_) os.AddFile(path, bytes);
    for (const auto& [name, bytes] :
         gencollection::FreshFiles(sizes.lcalcdevBlocks, sizes.prefmanBlocks))
      os.AddFile(kNewData + name, bytes);
    os.runProcess = [this](const platform::FakePlatform::Run& run) {
      if (run.commandLine.find("\\convfurn ") != std::string::npos) {
        os.AddFile(std::string(kNewErp) + "TERTI.DAT", store::EmptyBlockFileImage(9));
      }
      return platform::ProcessResult{0, 0u};
    };
    os.runDialog = [](int, platform::DialogProcedure& proc) -> intptr_t {
      doubles::RecordingDialogHost host;
      proc.OnInit(host);
      proc.OnCommand(host, grupdev::kPerObjectButtonId, platform::kBnClicked);
      return host.result.value_or(-1);
    };
    dialog.texts[migration::kOldDirectoryEdit] = version == 36 ? "C:\\Palunor" : "C:\\Varmex35";
  }
  ~World() {
    io::SetIoFaultHook(nullptr);
    io::CloseAllUnits();
  }

  // Runs the OK handler of dialog 107 over the world's platform, or over `over` (a
  // decorator of it); false when the program tried to stop.
  bool Migrate() { return Migrate(os); }
  bool Migrate(platform::Platform& over) {
    try {
      migration::RunMigration(over, dialog, 'D', static_cast<int16_t>(version_),
                              grupdev::GrupdevLimits{5, 10});  // the debug limits
    } catch (const platform::FakePlatform::ExitCalled& e) {
      ADD_FAILURE() << "the migration ended the program with status " << e.status;
      return false;
    }
    return true;
  }

  const Files& old() const { return old_; }
  const std::string& root() const { return root_; }

  platform::FakePlatform os;
  doubles::RecordingDialogHost dialog;

 private:
  int version_;
  std::string root_;
  Files old_;
};

// The messages the migration has of its own; anything else is a fault.
inline bool OwnMessage(const std::string& text) {
  static const std::vector<std::string> prefixes = {"Eroare (",
                                                    "Eroare [",
                                                    "Eroare citere baza pret!",
                                                    "Deviz negasit ",
                                                    "Eroare citire DEV.DAT!",
                                                    "** Eroare citire Header fisier OBI.DAT **",
                                                    "Articole negasite in nor.dat:",
                                                    "Eroare generare [Furnizor provizoriu]!",
                                                    "Nu exista fisierul ",
                                                    "Inregistrari nescrise in ",
                                                    "Fisiere deteriorate ",
                                                    "Spatiu insuficient pe disc ",
                                                    "Inregistrarea #-[*]2 nu a putut ",
                                                    kSuccess};
  for (const auto& p : prefixes) {
    if (text.rfind(p, 0) == 0) return true;
  }
  return false;
}

// The run ended as the program ends a migration: every message its own, the
// completion message last, the dialog ended with 1.
inline void ExpectOrderlyEnd(const World& w, const std::string& context) {
  ASSERT_FALSE(w.os.messages.empty()) << context;
  EXPECT_EQ(w.os.messages.back().text, kSuccess) << context;
  EXPECT_EQ(w.dialog.result, 1) << context;
  for (const auto& m : w.os.messages) EXPECT_TRUE(OwnMessage(m.text)) << context << ": " << m.text;
}

// The old collection is byte for byte as it was.
inline void ExpectOldCollectionUntouched(World& w, const std::string& context) {
  for (const auto& [path, bytes] : w.old()) {
    const Bytes* now = w.os.Bytes(path);
    ASSERT_NE(now, nullptr) << context << ": " << path << " disappeared";
    EXPECT_TRUE(*now == bytes) << context << ": " << path << " was changed";
  }
}

// Copies in the new tree that no step is asked to change are the old files' bytes.
inline void ExpectPlainCopiesIntact(World& w, const std::string& oldDataDir,
                                    const std::string& context) {
  static const std::set<std::string> changed = {"dev.dat", "furnmat.dat", "prefman.dat",
                                                "lcalcdev.dat", "terti.dat"};
  for (const auto& [path, bytes] : w.old()) {
    if (path.rfind(oldDataDir, 0) != 0) continue;
    std::string name = path.substr(oldDataDir.size());
    if (name.find('\\') != std::string::npos) continue;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (changed.count(name) != 0 || name.rfind("baz", 0) == 0) continue;
    const Bytes* copy = w.os.Bytes(std::string(kNewData) + name);
    if (copy == nullptr) continue;  // a copy that failed
    EXPECT_TRUE(*copy == bytes) << context << ": the copy of " << name << " was changed";
  }
}

// The problems of a block file written by the store, leaving out those `allowed`.
inline std::string BlockFileProblems(World& w, const std::string& path,
                                     const std::set<std::string>& allowed) {
  const Bytes* image = w.os.Bytes(path);
  if (image == nullptr) return "";
  const store::VerifyReport report = store::VerifyBlockImage(*image, 0);
  std::string out;
  for (const auto& p : report.problems) {
    if (allowed.count(p.text) == 0) {
      out += path + ": block " + std::to_string(p.block) + " unit " + std::to_string(p.cell) +
             ": " + p.text + "\n";
    }
  }
  return out;
}

// Every record the look-up finds whole in the block file at `path` of the world's
// platform, by key (the key's bytes as a string).
inline std::map<std::string, Bytes> WholeRecords(World& w, const std::string& path) {
  std::map<std::string, Bytes> out;
  const Bytes* image = w.os.Bytes(path);
  if (image == nullptr || image->size() < 512) return out;
  const int32_t n = store::HeaderBlockCount(std::span<const uint8_t, 512>(image->data(), 512));
  const int16_t unit = io::FindFreeUnit();
  if (n <= 0 || io::OpenUnit(w.os, unit, path, 512) != io::kIoOk) return out;
  Bytes record(store::kMaxRecordLength);
  for (int32_t b = 2; b <= n && static_cast<size_t>(b) * 512 <= image->size(); ++b) {
    const auto block = std::span<const uint8_t, 512>(image->data() + 512 * (b - 1), 512);
    for (const store::BlockEntry& e : store::BlockEntries(block)) {
      if (e.IsEnd()) break;
      if (!e.IsFirstPiece() || e.runsPast || 2 * e.cell + e.KeyLength() > 512) continue;
      const std::string key(block.begin() + 2 * e.cell, block.begin() + 2 * e.cell + e.KeyLength());
      std::copy(key.begin(), key.end(), record.begin());
      const store::ReadResult r = store::KeyedRead(record, static_cast<int16_t>(key.size()), n,
                                                   unit, store::HashSelector::kVariableLength);
      if (r.status == store::kKeyedDone)
        out[key] = Bytes(record.begin(), record.begin() + r.length);
    }
  }
  io::CloseUnit(unit);
  return out;
}

// The two counts of the warning about records not written (lcalcdev.dat, Prefman.dat),
// zero when it was not shown.
inline std::pair<int, int> UnwrittenCounts(const World& w) {
  const std::string lcalcdev = "Inregistrari nescrise in lcalcdev.dat:";
  const std::string prefman = "Inregistrari nescrise in Prefman.dat:";
  for (const auto& m : w.os.messages) {
    if (m.text.rfind(lcalcdev, 0) != 0) continue;
    const size_t second = m.text.find(prefman);
    if (second == std::string::npos) continue;
    return {std::stoi(m.text.substr(lcalcdev.size(), 5)),
            std::stoi(m.text.substr(second + prefman.size(), 5))};
  }
  return {0, 0};
}

// The block files of the new tree that the store writes into.
inline std::vector<std::string> StoreWrittenFiles() {
  return {std::string(kNewData) + "lcalcdev.dat", std::string(kNewData) + "Prefman.dat",
          std::string(kNewData) + "FURNMAT.DAT", std::string(kNewErp) + "terti.dat"};
}

}  // namespace varmex::fault
