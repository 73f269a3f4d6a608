// The migration pipeline run by OK in dialog 107, step by step in its fixed order.
#include "migration/pipeline.h"

#include <array>
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

// Steps after the copies, on the open files. Returns when done or when a step that
// the rest depends on failed (its message has been shown).
void WorkOnOpenFiles(platform::DialogHost& dialog, const std::string& newDataDir,
                     const std::string& newErpDir, const grupdev::GrupdevLimits& limits) {
  std::array<database::OpenResult, kOpenedFileCount> files{};
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
  grupdev::GenerateGrupdevs(g, limits);
  io::FlushAllUnits();

  Status(dialog, "Conversie baze pret...");
  for (int k = pricebase::kFirstPriceBase; k <= pricebase::kLastPriceBase; ++k) {
    pricebase::ConvertPriceBase(newDataDir, static_cast<int16_t>(k), files[kFurnmat].unit,
                                files[kFurnmat].blockCount);
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
