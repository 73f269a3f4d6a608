// The migration pipeline run by OK in dialog 107, step by step in its fixed order.
#include "migration/pipeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "database/data_file.h"
#include "grupdev/grupdev.h"
#include "installer/messages.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "migration/partner_record.h"
#include "migration/partner_tools.h"
#include "migration/transfer.h"
#include "pricebase/price_base.h"
#include "pricebase/price_base_file.h"
#include "store/keyed_store.h"
#include "store/redistribute.h"

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

void CopyOldCollection(platform::DialogHost& dialog, const OldCollection& old,
                       const std::string& newDataDir) {
  for (int k = pricebase::kFirstPriceBase; k <= pricebase::kLastPriceBase; ++k) {
    const std::string name = pricebase::PriceBaseFileName(k);
    Status(dialog, "Preluare " + name);
    TransferDataFile(name, old.dataDir, newDataDir, false);
  }
  // A required file's status carries the name as stored, all 20 characters; an
  // optional file's carries the name up to its last non-blank character.
  for (size_t i = kFirstRequiredEntry; i < kDataFileTable.size(); ++i) {
    const std::string name = io::Padded(kDataFileTable[i], kTableNameLength);
    Status(dialog, "Preluare " + name);
    TransferDataFile(name, old.dataDir, newDataDir, true);
  }
  for (size_t i = 0; i < kFirstRequiredEntry; ++i) {
    const std::string name = io::Padded(kDataFileTable[i], kTableNameLength);
    Status(dialog, "Preluare " + std::string(io::TrimRight(name)));
    TransferDataFile(name, old.dataDir, newDataDir, false);
  }
}

void CarryPartnerFile(platform::DialogHost& dialog, const OldCollection& old, int16_t sourceVersion,
                      char installDrive, const std::string& newErpDir) {
  if (sourceVersion == 36) {
    Status(dialog, "Preluare terti.dat");
    TransferDataFile("terti.dat", old.erpDir, newErpDir, true);
    Status(dialog, "Preluare terti.voc");
    TransferDataFile("terti.voc", old.erpDir, newErpDir, false);
  } else {
    Status(dialog, "Conversie ....\\Varmex\\FURN.DAT -> ....\\ERP\\TERTI.DAT");
    ConvertPartnerFile(dialog, installDrive);
  }
}

// From the opening of the database files to their closing no other program runs, so
// the files of the data directory are kept in the block cache; whatever could look at
// them (a program started, the end of a step, a close, the program's end) finds them
// flushed. terti.dat, the partner file the rest of the suite shares, goes straight to
// its file, and so do the price bases, each read and written once.
void Cache(const database::OpenResult& file, size_t which) {
  if (which != kTerti) io::SetUnitCached(file.unit, true);
}

using OpenFiles = std::array<database::OpenResult, kOpenedFileCount>;

// Enlarges the files of the open set that fill up: closes the file's unit (its cached
// blocks go to disk), has the re-spreading routine re-place its records into a new
// file of EnlargedBlockCount blocks that replaces it only once complete (block 1, with
// lcalcdev.dat's last GRUPDEV number, carried over), and opens it again, cached, where
// the table of open files holds its new unit and block count. A file that could not be
// enlarged (a full disk, a file that cannot be replaced) is left as it was, reopened,
// and not tried again.
class FileEnlarger {
 public:
  FileEnlarger(OpenFiles& files, const std::string& dataDir) : files_(files), dataDir_(dataDir) {}

  // The share of the current step's work done, for the size of the next enlargement.
  void SetShareDone(double share) { shareDone_ = share; }

  bool Enlarge(OpenedFile f) {
    database::OpenResult& file = files_[f];
    const int64_t blocks = EnlargedBlockCount(file.blockCount, shareDone_);
    if (failed_[f] || file.unit == io::kNoUnit || file.blockCount <= 0 || blocks > INT32_MAX) {
      failed_[f] = true;
      return false;
    }
    io::CloseUnit(file.unit);
    const store::RedistributeResult r =
        store::Redistribute(dataDir_ + "\\" + std::string(kOpenedFileNames[f]),
                            static_cast<int32_t>(blocks), {}, store::RedistributeCaching::kCached);
    file = database::OpenDataFile(kOpenedFileNames[f], dataDir_, database::kShowMessages,
                                  database::kNotFatal);
    if (file.unit != io::kNoUnit) io::SetUnitCached(file.unit, true);
    if (r.status != store::RedistributeStatus::kDone || file.blockCount != blocks) {
      failed_[f] = true;
      return false;
    }
    return true;
  }

  // The GRUPDEV step's side: `file` names the open file by its unit and gets its new pair.
  bool Enlarge(grupdev::DataFile& file) {
    for (OpenedFile f : {kFurnmat, kLcalcdev, kPrefman}) {
      if (files_[f].unit != file.unit) continue;
      const bool enlarged = Enlarge(f);
      file = {files_[f].unit, files_[f].blockCount};
      return enlarged;
    }
    return false;
  }

 private:
  OpenFiles& files_;
  const std::string& dataDir_;
  std::array<bool, kOpenedFileCount> failed_{};
  double shareDone_ = 1;
};

// Steps after the copies, on the open files. Returns when done or when a step that
// the rest depends on failed (its message has been shown).
void WorkOnOpenFiles(platform::DialogHost& dialog, const std::string& newDataDir,
                     const std::string& newErpDir, const grupdev::GrupdevLimits& limits) {
  OpenFiles files{};
  for (size_t f = 0; f < kOpenedFileCount; ++f) {
    const std::string& dir = f == kTerti ? newErpDir : newDataDir;
    files[f] = database::OpenDataFile(kOpenedFileNames[f], dir, database::kShowMessages,
                                      database::kNotFatal);
    // The files opened so far stay open; the program's stop closes them.
    if (files[f].unit == io::kNoUnit) return;
    Cache(files[f], f);
  }

  EnsureDefaultSupplier(files[kTerti].unit, files[kTerti].blockCount);
  io::FlushAllUnits();

  if (database::ReadObiHeader(files[kObi].unit) != 0) return;
  const database::ObiHeader& obi = database::CurrentObiHeader();

  Status(dialog, "Generare preturi locale pe lucrari (GRUPDEV)...");
  grupdev::GrupdevFiles g;
  g.dataDirectory = newDataDir;
  g.obi = {files[kObi].unit, obi.ObiBlocks()};
  g.dev = {files[kDev].unit, obi.DevBlocks()};
  g.nor = {files[kNor].unit, obi.NorBlocks()};
  g.tehno = {files[kTehno].unit, obi.TehnoBlocks()};
  g.norinc = {files[kNorinc].unit, obi.NorincBlocks()};
  g.furndev = {files[kFurndev].unit, files[kFurndev].blockCount};
  g.furnmat = {files[kFurnmat].unit, files[kFurnmat].blockCount};
  g.lcalcdev = {files[kLcalcdev].unit, files[kLcalcdev].blockCount};
  g.prefman = {files[kPrefman].unit, files[kPrefman].blockCount};
  // lcalcdev.dat, Prefman.dat and furnmat.dat grow when they fill up.
  FileEnlarger enlarger(files, newDataDir);
  g.enlarge = [&enlarger](grupdev::DataFile& file) { return enlarger.Enlarge(file); };
  g.progress = [&enlarger](double share) { enlarger.SetShareDone(share); };
  grupdev::GenerateGrupdevs(g, limits);
  io::FlushAllUnits();

  Status(dialog, "Conversie baze pret...");
  pricebase::FurnmatFile furnmat{files[kFurnmat].unit, files[kFurnmat].blockCount, {}};
  furnmat.enlarge = [&](pricebase::FurnmatFile& file) {
    const bool enlarged = enlarger.Enlarge(kFurnmat);
    file.unit = files[kFurnmat].unit;
    file.blockCount = files[kFurnmat].blockCount;
    return enlarged;
  };
  for (int k = pricebase::kFirstPriceBase; k <= pricebase::kLastPriceBase; ++k) {
    enlarger.SetShareDone(static_cast<double>(k - 1) / pricebase::kLastPriceBase);
    pricebase::ConvertPriceBase(newDataDir, static_cast<int16_t>(k), furnmat);
  }
  io::FlushAllUnits();

  // A dev.dat without blocks holds no marker to remove.
  if (obi.DevBlocks() > 0) {
    const auto* key = reinterpret_cast<const uint8_t*>(kLegacyMarkerKey.data());
    store::RemoveLegacyRecord(std::span<const uint8_t>(key, kLegacyMarkerKey.size()),
                              static_cast<int16_t>(kLegacyMarkerKey.size()), obi.DevBlocks(),
                              files[kDev].unit);
    io::FlushAllUnits();
  }

  for (OpenedFile f : kClosingOrder) io::CloseUnit(files[f].unit);
}

}  // namespace

// The full file held at most 256 units in each of its N blocks (its header included);
// re-placed, every record keeps its units, and only a record cut at the end of a block
// of the new file costs more: one size-and-flags unit and its key again, at most 6
// units for the keys of lcalcdev.dat, Prefman.dat and furnmat.dat (10 bytes at most),
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

void RunMigration(platform::DialogHost& dialog, char installDrive, int16_t sourceVersion,
                  const grupdev::GrupdevLimits& limits) {
  const OldCollection old = LocateOldCollection(
      dialog.GetItemText(kOldDirectoryEdit, kDirectoryFieldChars), sourceVersion);
  if (old.dataDir.empty()) return;

  if (platform::Current().GetFileAttributes(JoinPath(old.dataDir, "dev.dat")) ==
      platform::kInvalidFileAttributes) {
    installer::ShowError("Directorul " + old.dataDir + " nu contine date!");
    return;
  }

  for (int id : {kVersion35Radio, kVersion36Radio, kOldDirectoryEdit, kOkButton, kCancelButton}) {
    dialog.EnableItem(id, false);
  }

  const std::string drive(1, installDrive);
  const std::string newErpDir = drive + ":\\kedro\\ERP\\";
  CopyOldCollection(dialog, old, drive + ":\\kedro\\Varmex\\");
  CarryPartnerFile(dialog, old, sourceVersion, installDrive, newErpDir);
  CheckFurnmatFile(installDrive);
  // From here on the data directory is named without its closing backslash.
  WorkOnOpenFiles(dialog, VarmexDirectory(installDrive), newErpDir, limits);

  platform::Current().MessageBox("Instalare cu succes!", "Instalare Varmex 38 ERP",
                                 platform::kMbOk | platform::kMbIconExclamation);
  dialog.EndDialog(1);
}

}  // namespace varmex::migration
