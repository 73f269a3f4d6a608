// The migration pipeline run by OK in dialog 107, step by step in its fixed order.
#include "migration/pipeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "database/data_file.h"
#include "grupdev/grupdev.h"
#include "installer/messages.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "migration/partner_record.h"
#include "migration/partner_tools.h"
#include "migration/transfer.h"
#include "migration/undo_journal.h"
#include "pricebase/conversion.h"
#include "pricebase/price_base_file.h"
#include "store/keyed_file.h"
#include "store/keyed_store.h"
#include "store/redistribute.h"
#include "store/verify.h"

namespace varmex::migration {
namespace {

constexpr std::string_view kLegacyMarkerKey = "#-[*]2";

// The ten database files in their opening order.
enum OpenedFile : size_t {
  kObi,
  kDev,
  kNor,
  kNorinc,
  kTehno,
  kFurndev,
  kFurnmat,
  kLcalcdev,
  kPrefman,
  kTerti,
  kOpenedFileCount,
};
constexpr std::array<std::string_view, kOpenedFileCount> kOpenedFileNames = {
    "obi.dat",     "dev.dat",     "nor.dat",      "norinc.dat",  "tehno.dat",
    "furndev.dat", "furnmat.dat", "lcalcdev.dat", "Prefman.dat", "terti.dat",
};
// The closing order differs from the opening order in tehno.dat and norinc.dat.
constexpr std::array<OpenedFile, kOpenedFileCount> kClosingOrder = {
    kObi, kDev, kNor, kTehno, kNorinc, kFurndev, kFurnmat, kLcalcdev, kPrefman, kTerti,
};

// The status line shows a text as it was built, up to its NUL: a piece joined whole
// keeps its trailing blanks.
void Status(platform::DialogHost& dialog, std::string_view text) {
  dialog.SetItemText(kStatusText, io::UpToNul(text));
}

// What the copies did: the destinations they filled (lower case), and whether one
// found the disk full (its message has been shown; nothing more is copied).
struct CopyOutcome {
  std::set<std::string> copied;
  bool diskFull = false;
};

// Copies one file of the collection, noting the outcome; false when the disk is full.
bool Copy(platform::Platform& os, std::string_view name, const std::string& from,
          const std::string& to, bool required, CopyOutcome& out) {
  const TransferResult r = TransferDataFile(os, name, from, to, required);
  if (r.copied) out.copied.insert(io::Lowercase(JoinPath(to, name)));
  out.diskFull = io::IsDiskFull(static_cast<int>(r.error));
  return !out.diskFull;
}

CopyOutcome CopyOldCollection(platform::Platform& os, platform::DialogHost& dialog,
                              const OldCollection& old, const std::string& newDataDir) {
  CopyOutcome out;
  for (int k = pricebase::kFirstPriceBase; k <= pricebase::kLastPriceBase; ++k) {
    const std::string name = pricebase::PriceBaseFileName(k);
    Status(dialog, "Preluare " + name);
    if (!Copy(os, name, old.dataDir, newDataDir, false, out)) return out;
  }
  // A required file's status carries the name as stored, all 20 characters; an
  // optional file's carries the name up to its last non-blank character.
  for (size_t i = kFirstRequiredEntry; i < kDataFileTable.size(); ++i) {
    const std::string name = io::Padded(kDataFileTable[i], kTableNameLength);
    Status(dialog, "Preluare " + name);
    if (!Copy(os, name, old.dataDir, newDataDir, true, out)) return out;
  }
  for (size_t i = 0; i < kFirstRequiredEntry; ++i) {
    const std::string name = io::Padded(kDataFileTable[i], kTableNameLength);
    Status(dialog, "Preluare " + std::string(io::TrimRight(name)));
    if (!Copy(os, name, old.dataDir, newDataDir, false, out)) return out;
  }
  return out;
}

// False when a copy found the disk full.
bool CarryPartnerFile(platform::Platform& os, platform::DialogHost& dialog,
                      const OldCollection& old, int16_t sourceVersion, char installDrive,
                      const std::string& newErpDir, CopyOutcome& copies) {
  if (sourceVersion == 36) {
    Status(dialog, "Preluare terti.dat");
    if (!Copy(os, "terti.dat", old.erpDir, newErpDir, true, copies)) return false;
    Status(dialog, "Preluare terti.voc");
    return Copy(os, "terti.voc", old.erpDir, newErpDir, false, copies);
  }
  Status(dialog, "Conversie ....\\Varmex\\FURN.DAT -> ....\\ERP\\TERTI.DAT");
  ConvertPartnerFile(os, dialog, installDrive);
  return true;
}

// From the opening of the database files to their closing no other program runs, so
// the files of the data directory are kept in the block cache; whatever could look at
// them (a program started, the end of a step, a close, the program's end) finds them
// flushed. terti.dat, the partner file the rest of the suite shares, goes straight to
// its file, and so do the price bases, each read and written once. dev.dat is read in
// passes (all of it, then estimate by estimate): its blocks make way first for those of
// the files written record by record.
void KeepInCache(const database::OpenResult& file, size_t which) {
  if (which != kTerti) io::SetUnitCached(file.unit, true);
  if (which == kDev) io::SetUnitReadInPasses(file.unit);
}

// The files the steps on the open files may change in place, as their folders spell
// them, leaving out those this run copied from the old collection: a run that starts
// again copies those afresh, so only the others need a copy kept for undoing.
std::vector<std::string> FilesToJournal(platform::Platform& os, const std::string& dataDir,
                                        const std::string& erpDir, const CopyOutcome& copies) {
  std::set<std::string> written = {"lcalcdev.dat", "prefman.dat", "furnmat.dat", "dev.dat"};
  for (int k = pricebase::kFirstPriceBase; k <= pricebase::kLastPriceBase; ++k)
    written.insert(pricebase::PriceBaseFileName(k));
  std::vector<std::string> in;
  auto take = [&](const std::string& folder, const std::set<std::string>& names) {
    std::vector<std::string> listing;
    os.ListDirectory(folder, listing);
    for (const std::string& entry : listing) {
      const std::string path = InFolder(folder, entry);
      if (names.count(io::Lowercase(entry)) != 0 && copies.copied.count(io::Lowercase(path)) == 0)
        in.push_back(path);
    }
  };
  take(dataDir, written);
  take(erpDir, {"terti.dat"});
  return in;
}

void ShowJournalProblem(platform::Platform& os, const JournalProblem& p) {
  installer::ShowError(os, "Eroare [" + io::FormatRightWhole(p.error, 5) +
                               "] la refacerea fisierului " + p.path +
                               " dupa o preluare neterminata!\nPreluarea datelor nu poate "
                               "continua pana cand fisierul nu este refacut.");
}

void ShowBeginProblem(platform::Platform& os, const JournalProblem& p) {
  std::string text = "Eroare [" + io::FormatRightWhole(p.error, 5) + "] la salvarea fisierului " +
                     p.path + " inainte de preluare!";
  if (io::IsDiskFull(static_cast<int>(p.error))) text += "\n" + std::string(kDiskFullAdvice);
  installer::ShowError(os, text);
}

using OpenFiles = std::array<database::OpenResult, kOpenedFileCount>;

// The first write that found the disk full, from any file the steps write: the file's
// path, empty while none has.
class DiskWatch {
 public:
  DiskWatch(const OpenFiles& files, const std::string& dataDir, const std::string& erpDir)
      : files_(files), dataDir_(dataDir), erpDir_(erpDir) {}

  void Note(const std::string& path) {
    if (full_.empty()) full_ = path;
  }
  // Looks at the writes of every open file since it was opened.
  bool Full() {
    for (size_t f = 0; f < kOpenedFileCount && full_.empty(); ++f) {
      if (io::IsDiskFull(io::FirstWriteFailure(files_[f].unit))) Note(PathOf(f));
    }
    return !full_.empty();
  }
  std::string PathOf(size_t f) const {
    return (f == kTerti ? erpDir_ : dataDir_) + "\\" + std::string(kOpenedFileNames[f]);
  }
  const std::string& path() const { return full_; }

 private:
  const OpenFiles& files_;
  const std::string& dataDir_;
  const std::string& erpDir_;
  std::string full_;
};

// Enlarges the files of the open set that fill up: closes the file's unit (its cached
// blocks go to disk), has the re-spreading routine re-place its records into a new
// file of EnlargedBlockCount blocks that replaces it only once complete (block 1, with
// lcalcdev.dat's last GRUPDEV number, carried over), and opens it again, cached, where
// the table of open files holds its new unit and block count. A file that could not be
// enlarged (a full disk, a file that cannot be replaced) is left as it was, reopened,
// and not tried again; neither is a file found damaged before the steps wrote to it
// (re-spreading it would drop the records it cannot read).
class FileEnlarger {
 public:
  FileEnlarger(platform::Platform& os, OpenFiles& files, const std::string& dataDir,
               DiskWatch& disk)
      : os_(os), files_(files), dataDir_(dataDir), disk_(disk) {}

  // The share of the current step's work done, for the size of the next enlargement.
  void SetShareDone(double share) { shareDone_ = share; }
  void Refuse(OpenedFile f) { failed_[f] = true; }

  bool Enlarge(OpenedFile f) {
    database::OpenResult& file = files_[f];
    const int64_t blocks = EnlargedBlockCount(file.blockCount, shareDone_);
    if (failed_[f] || file.unit == io::kNoUnit || file.blockCount <= 0 || blocks > INT32_MAX) {
      failed_[f] = true;
      return false;
    }
    const int closed = io::CloseUnit(file.unit);
    const std::string path = dataDir_ + "\\" + std::string(kOpenedFileNames[f]);
    if (io::IsDiskFull(closed)) disk_.Note(path);
    const store::RedistributeResult r =
        store::Redistribute(os_, path, static_cast<int32_t>(blocks), {},
                            store::RedistributeCaching::kCachedInHomeOrder);
    if (io::IsDiskFull(static_cast<int>(r.systemError))) disk_.Note(path);
    file = database::OpenDataFile(os_, kOpenedFileNames[f], dataDir_, database::kShowMessages,
                                  database::kNotFatal);
    if (file.unit != io::kNoUnit) io::SetUnitCached(file.unit, true);
    if (r.status != store::RedistributeStatus::kDone || file.blockCount != blocks) {
      failed_[f] = true;
      return false;
    }
    return true;
  }

 private:
  platform::Platform& os_;
  OpenFiles& files_;
  const std::string& dataDir_;
  DiskWatch& disk_;
  std::array<bool, kOpenedFileCount> failed_{};
  double shareDone_ = 1;
};

// Checks the block files the steps write into before they do: one warning names those
// that are damaged or whose size disagrees with their header, and none of them is
// re-spread (what cannot be placed in them is counted as not written).
void CheckWrittenFiles(platform::Platform& os, const OpenFiles& files, const DiskWatch& names,
                       FileEnlarger& enlarger) {
  std::string damaged;
  for (OpenedFile f : {kFurnmat, kLcalcdev, kPrefman}) {
    const std::string path = names.PathOf(f);
    const std::optional<uint64_t> size = os.FileSize(path);
    std::string problem = size ? store::FileSizeProblem(files[f].blockCount, *size) : std::string();
    if (problem.empty()) {
      const store::VerifyReport report =
          store::VerifyBlockFileOnUnit(files[f].unit, files[f].blockCount);
      if (!report.ok()) {
        problem = std::to_string(report.problems.size()) + " probleme, prima in blocul " +
                  std::to_string(report.problems.front().block) + ": " +
                  report.problems.front().text;
      }
    }
    if (problem.empty()) continue;
    enlarger.Refuse(f);
    damaged += "\n";
    damaged += path;
    damaged += ": ";
    damaged += problem;
  }
  if (!damaged.empty()) {
    installer::ShowWarning(os,
                           "Fisiere deteriorate (nu vor fi extinse; inregistrarile care nu "
                           "incap raman nescrise):" +
                               damaged);
  }
}

// The word-layout files take their block counts from the OBI header: one warning names
// those whose count is not that of the file's blocks. A count of no blocks or fewer is
// replaced by the file's own; a larger one stays (the blocks past the end are missing).
int32_t CheckedCount(platform::Platform& os, const std::string& path, int32_t count,
                     std::string& warnings) {
  const std::optional<uint64_t> size = os.FileSize(path);
  if (!size) return count;
  const int64_t blocks = static_cast<int64_t>(*size / 512);
  if (count == blocks && *size % 512 == 0) return count;
  warnings += "\n" + path + ": " + std::to_string(count) + " blocuri in antetul OBI.DAT, " +
              std::to_string(*size) + " octeti (" + std::to_string(blocks) + " blocuri)";
  if (count > 0) return count;
  return static_cast<int32_t>(std::min<int64_t>(blocks, INT32_MAX));
}

// Shown when the disk filled during the steps on the open files, once they are undone.
void ShowDiskFull(platform::Platform& os, const std::string& path, bool restored) {
  std::string text = "Spatiu insuficient pe disc la scrierea fisierului " + path + "!\n";
  text += std::string(kDiskFullAdvice);
  if (restored) {
    text += "\nFisierele pe care preluarea le modificase au fost readuse la starea dinainte.";
  }
  installer::ShowError(os, text);
}

// The steps on the open files, each undone when the disk fills.
class OpenFilesRun {
 public:
  OpenFilesRun(platform::Platform& os, platform::DialogHost& dialog, const std::string& dataDir,
               const std::string& erpDir, UndoJournal& journal,
               pricebase::OneMessagePerPriceBase* priceBaseMessages)
      : os_(os),
        dialog_(dialog),
        dataDir_(dataDir),
        erpDir_(erpDir),
        journal_(journal),
        priceBaseMessages_(priceBaseMessages),
        disk_(files_, dataDir_, erpDir_),
        enlarger_(os_, files_, dataDir_, disk_) {}

  void Run(const grupdev::GrupdevLimits& limits) {
    if (!Open()) return;
    EnsureDefaultSupplier(os_, files_[kTerti].unit, files_[kTerti].blockCount);
    io::FlushAllUnits();
    if (Stopped()) return;
    if (database::ReadObiHeader(os_, files_[kObi].unit, obi_) != 0) return;
    CheckWrittenFiles(os_, files_, disk_, enlarger_);
    for (OpenedFile f : {kFurnmat, kLcalcdev, kPrefman}) TakeInHand(f);

    Status(dialog_, "Generare preturi locale pe lucrari (GRUPDEV)...");
    Generate(limits);
    io::FlushAllUnits();
    if (Stopped()) return;

    Status(dialog_, "Conversie baze pret...");
    if (!ConvertPriceBases()) return;
    RemoveMarker();
    if (Stopped()) return;

    bool closedFull = false;
    for (OpenedFile f : kClosingOrder) {
      const int status = io::CloseUnit(files_[f].unit);
      if (io::IsDiskFull(status)) {
        disk_.Note(disk_.PathOf(f));
        closedFull = true;
      }
    }
    if (closedFull) Undo();
  }

 private:
  // Opens the ten files; false when one could not be (its message has been shown; the
  // files opened so far stay open, as the program's stop closes them).
  bool Open() {
    for (size_t f = 0; f < kOpenedFileCount; ++f) {
      const std::string& dir = f == kTerti ? erpDir_ : dataDir_;
      files_[f] = database::OpenDataFile(os_, kOpenedFileNames[f], dir, database::kShowMessages,
                                         database::kNotFatal);
      if (files_[f].unit == io::kNoUnit) return false;
      KeepInCache(files_[f], f);
    }
    return true;
  }

  void Generate(const grupdev::GrupdevLimits& limits) {
    const database::ObiHeader& obi = obi_;
    std::string damaged;
    auto count = [&](size_t f, int32_t n) {
      return CheckedCount(os_, disk_.PathOf(f), n, damaged);
    };
    grupdev::GrupdevFiles g;
    g.dataDirectory = dataDir_;
    g.obi = {files_[kObi].unit, count(kObi, obi.ObiBlocks())};
    g.dev = {files_[kDev].unit, count(kDev, obi.DevBlocks())};
    g.nor = {files_[kNor].unit, count(kNor, obi.NorBlocks())};
    g.tehno = {files_[kTehno].unit, count(kTehno, obi.TehnoBlocks())};
    g.norinc = {files_[kNorinc].unit, count(kNorinc, obi.NorincBlocks())};
    devBlocks_ = g.dev.blockCount;
    if (!damaged.empty()) {
      installer::ShowWarning(os_, "Fisiere deteriorate (se citeste doar ce contin):" + damaged);
    }
    g.furndev = {files_[kFurndev].unit, files_[kFurndev].blockCount};
    g.furnmat = &written_[kFurnmat];
    g.lcalcdev = &written_[kLcalcdev];
    g.prefman = &written_[kPrefman];
    g.progress = [this](double share) { enlarger_.SetShareDone(share); };
    g.stop = [this] { return disk_.Full(); };
    g.priceBaseMessages = priceBaseMessages_;
    grupdev::GenerateGrupdevs(os_, g, limits);
  }

  // False when the disk filled (the steps are undone).
  bool ConvertPriceBases() {
    for (int k = pricebase::kFirstPriceBase; k <= pricebase::kLastPriceBase; ++k) {
      enlarger_.SetShareDone(static_cast<double>(k - 1) / pricebase::kLastPriceBase);
      pricebase::ConvertPriceBase(os_, dataDir_, static_cast<int16_t>(k), written_[kFurnmat],
                                  priceBaseMessages_);
      if (Stopped()) return false;
    }
    io::FlushAllUnits();
    return !Stopped();
  }

  // Removes the obsolete marker record from dev.dat; a removal that fails, or whose
  // block does not reach the disk, is shown.
  void RemoveMarker() {
    // A dev.dat without blocks holds no marker to remove.
    if (devBlocks_ <= 0) return;
    const auto* key = reinterpret_cast<const uint8_t*>(kLegacyMarkerKey.data());
    const int16_t status = store::RemoveLegacyRecord(
        std::span<const uint8_t>(key, kLegacyMarkerKey.size()),
        static_cast<int16_t>(kLegacyMarkerKey.size()), devBlocks_, files_[kDev].unit);
    const int flushed = io::FlushUnit(files_[kDev].unit);
    if (io::IsDiskFull(flushed)) disk_.Note(disk_.PathOf(kDev));
    if (status == store::kLegacyDone || status == store::kLegacyNotFound) {
      if (flushed == io::kIoOk) return;
    }
    installer::ShowWarning(os_, "Inregistrarea " + std::string(kLegacyMarkerKey) +
                                    " nu a putut fi stearsa din " + disk_.PathOf(kDev) + " (cod " +
                                    std::to_string(flushed != io::kIoOk ? flushed : status) + ")!");
  }

  // The handle of a file the steps write into: it grows (lcalcdev.dat, Prefman.dat and
  // furnmat.dat do when they fill up) through the enlarger, which reopens it.
  void TakeInHand(OpenedFile f) {
    written_[f] = store::KeyedFile(files_[f].unit, files_[f].blockCount);
    written_[f].SetGrow([this, f](store::KeyedFile& file) {
      const bool enlarged = enlarger_.Enlarge(f);
      file.Reopened(files_[f].unit, files_[f].blockCount);
      return enlarged;
    });
  }

  // True (after undoing the steps) when the disk has filled.
  bool Stopped() {
    if (!disk_.Full()) return false;
    Undo();
    return true;
  }

  // Drops what the open files hold unwritten and puts every journalled file back.
  void Undo() {
    for (const database::OpenResult& f : files_) io::AbandonUnit(f.unit);
    const JournalProblem p = journal_.RollBack();
    ShowDiskFull(os_, disk_.path(), p.ok());
    if (!p.ok()) ShowJournalProblem(os_, p);
  }

  platform::Platform& os_;
  platform::DialogHost& dialog_;
  const std::string& dataDir_;
  const std::string& erpDir_;
  UndoJournal& journal_;
  pricebase::OneMessagePerPriceBase* priceBaseMessages_;
  OpenFiles files_{};
  database::ObiHeader obi_;  // obi.dat's block 1, read once the files are open
  std::array<store::KeyedFile, kOpenedFileCount> written_;  // furnmat, lcalcdev, Prefman
  DiskWatch disk_;
  FileEnlarger enlarger_;
  int32_t devBlocks_ = 0;
};

}  // namespace

// The full file held at most 256 cells in each of its N blocks (its header included);
// re-placed, every record keeps its cells, and only a record cut at the end of a block
// of the new file costs more: one size-and-flags cell and its key again, at most 6
// cells for the keys of lcalcdev.dat, Prefman.dat and furnmat.dat (10 bytes at most),
// and at most once per block. So at most N / 2.125N + 6 / 256 < 50% of the new file
// is used.
int64_t EnlargedBlockCount(int32_t blocks) {
  return 2 * static_cast<int64_t>(blocks) + (static_cast<int64_t>(blocks) + 7) / 8;
}

// A file fills at a pace: the records the step has put in it so far (about a full file
// of N blocks) came with the share done. Growing it only to the least would let it fill
// again, and a file near full costs ever longer walks; growing it to hold the whole
// step's records at that pace at three quarters full makes one re-spreading do.
int64_t EnlargedBlockCount(int32_t blocks, double shareDone) {
  const int64_t least = EnlargedBlockCount(blocks);
  const double share = std::clamp(shareDone, 0.0, 1.0);
  const double paced = static_cast<double>(blocks) / (std::max(share, 1.0 / 16) * 0.75);
  return std::clamp(static_cast<int64_t>(std::ceil(paced)), least, 8 * least);
}

OldCollection LocateOldCollection(std::string_view entered, int16_t sourceVersion) {
  std::string dir(io::TrimRight(entered.substr(0, kDirectoryFieldChars)));
  if (dir.empty()) return {};
  if (dir.back() != '\\') dir.push_back('\\');
  if (sourceVersion == 36) return {JoinPath(dir, "Varmex\\"), JoinPath(dir, "ERP\\")};
  return {JoinPath(dir, ""), ""};
}

void RunMigration(platform::Platform& os, platform::DialogHost& dialog, char installDrive,
                  int16_t sourceVersion, const grupdev::GrupdevLimits& limits,
                  pricebase::OneMessagePerPriceBase* priceBaseMessages) {
  const OldCollection old = LocateOldCollection(
      dialog.GetItemText(kOldDirectoryEdit, kDirectoryFieldChars), sourceVersion);
  if (old.dataDir.empty()) return;

  if (os.GetFileAttributes(JoinPath(old.dataDir, "dev.dat")) == platform::kInvalidFileAttributes) {
    installer::ShowError(os, "Directorul " + old.dataDir + " nu contine date!");
    return;
  }

  for (int id : {kVersion35Radio, kVersion36Radio, kOldDirectoryEdit, kOkButton, kCancelButton}) {
    dialog.EnableItem(id, false);
  }

  const std::string drive(1, installDrive);
  const std::string newErpDir = drive + ":\\kedro\\ERP\\";
  // From the opening of the database files on, the folders are named without their
  // closing backslash.
  const std::string dataDir = VarmexDirectory(installDrive);
  const std::string erpDir = ErpDirectory(installDrive);
  UndoJournal journal(os, dataDir, {dataDir, erpDir});
  if (const JournalProblem p = journal.Recover(); !p.ok()) {
    ShowJournalProblem(os, p);
  } else if (CopyOutcome copies = CopyOldCollection(os, dialog, old, drive + ":\\kedro\\Varmex\\");
             !copies.diskFull &&
             CarryPartnerFile(os, dialog, old, sourceVersion, installDrive, newErpDir, copies)) {
    if (!CheckFurnmatFile(os, installDrive)) {
      // nredisp found the disk full; its message has been shown.
    } else if (const JournalProblem begun =
                   journal.Begin(FilesToJournal(os, dataDir, erpDir, copies));
               !begun.ok()) {
      ShowBeginProblem(os, begun);
    } else {
      OpenFilesRun(os, dialog, dataDir, erpDir, journal, priceBaseMessages).Run(limits);
    }
  }

  os.MessageBox("Instalare cu succes!", "Instalare Varmex 38 ERP",
                platform::kMbOk | platform::kMbIconExclamation);
  // The migration's changes stand only once the user has been told it ended: a run
  // stopped before (killed, the machine turned off) is undone by the next one, which
  // then does the whole of it again.
  journal.Commit();
  dialog.EndDialog(1);
}

}  // namespace varmex::migration
