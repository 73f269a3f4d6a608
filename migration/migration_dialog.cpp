// Dialog 107's procedure: initialisation, the radio buttons that swap the default
// directory, OK (the pipeline) and Cancel.
#include "migration/migration_dialog.h"

#include <algorithm>
#include <string>

#include "installer/messages.h"
#include "io/fixed_text.h"
#include "migration/pipeline.h"
#include "migration/transfer.h"
#include "pricebase/conversion.h"

namespace varmex::migration {
namespace {

constexpr std::string_view kDefault35 = "C:\\Varmex35";
constexpr std::string_view kDefault36 = "C:\\Palunor";

// The directory field as a 256-character blank-padded text.
std::string DirectoryField(platform::DialogHost& host) {
  return io::Padded(host.GetItemText(kOldDirectoryEdit, kDirectoryFieldChars), 256);
}

// The longest name the migration looks for in the old data folder: a data file of the
// table (8.3 names) or a price base (baz001.dat).
constexpr size_t LongestDataFileName() {
  size_t longest = std::string_view("baz000.dat").size();
  for (std::string_view name : kDataFileTable) longest = std::max(longest, name.size());
  return longest;
}

// The longest folder (without a final backslash) that may be typed for version
// `sourceVersion`: every name the migration builds under it, the folder, a backslash
// and "Varmex\" + a data file's name for version 36 (or "ERP\terti.voc"), or a data
// file's name alone for version 35, fits the path field of kPathLength characters. A
// longer folder would have its names cut, and files looked up under names it does
// not hold.
constexpr size_t LongestOldFolder(int16_t sourceVersion) {
  const size_t tail = sourceVersion == 36
                          ? std::max(std::string_view("Varmex\\").size() + LongestDataFileName(),
                                     std::string_view("ERP\\terti.voc").size())
                          : LongestDataFileName();
  return kPathLength - 1 - tail;
}
static_assert(LongestOldFolder(36) == 236 && LongestOldFolder(35) == 243);

// More than an edit field holds (30,000 characters): the whole text typed.
constexpr size_t kWholeField = 65536;

// True when the folder typed fits; otherwise the user is told the limit, and the
// dialog stays open for a shorter path.
bool OldFolderFits(platform::Platform& os, platform::DialogHost& host, int16_t sourceVersion) {
  const std::string text = host.GetItemText(kOldDirectoryEdit, kWholeField);
  std::string_view folder = io::TrimRight(text);
  if (!folder.empty() && folder.back() == '\\') folder.remove_suffix(1);
  const size_t most = LongestOldFolder(sourceVersion);
  if (folder.size() <= most) return true;
  installer::ShowError(os, "Calea directorului este prea lunga (" + std::to_string(folder.size()) +
                               " de caractere)!\nPentru preluarea din Varmex " +
                               std::to_string(sourceVersion) + " calea poate avea cel mult " +
                               std::to_string(most) + " de caractere.");
  return false;
}

// True when the field still holds `otherDefault` (followed by a blank) or starts with
// two blanks: the default of the chosen version may then replace it.
bool HoldsDefaultOrNothing(const std::string& field, std::string_view otherDefault) {
  return field.compare(0, otherDefault.size() + 1, std::string(otherDefault) + " ") == 0 ||
         field.compare(0, 2, "  ") == 0;
}

}  // namespace

bool MigrationDialog::OnInit(platform::DialogHost& host) {
  sourceVersion_ = 36;
  host.CheckRadioButton(kVersion35Radio, kVersion36Radio, kVersion36Radio);
  host.SetItemText(kOldDirectoryEdit, kDefault36);
  return true;
}

bool MigrationDialog::OnCommand(platform::DialogHost& host, int id, int notification) {
  switch (id) {
    case kVersion35Radio:
      if (notification != platform::kBnClicked) return false;
      if (HoldsDefaultOrNothing(DirectoryField(host), kDefault36))
        host.SetItemText(kOldDirectoryEdit, kDefault35);
      sourceVersion_ = 35;
      return false;
    case kVersion36Radio:
      if (notification != platform::kBnClicked) return false;
      if (HoldsDefaultOrNothing(DirectoryField(host), kDefault35))
        host.SetItemText(kOldDirectoryEdit, kDefault36);
      sourceVersion_ = 36;
      return false;
    case kOkButton: {
      if (!OldFolderFits(os_, host, sourceVersion_)) return true;
      pricebase::OneMessagePerPriceBase oneMessageEach;
      RunMigration(os_, host, installDrive_, sourceVersion_, limits_, &oneMessageEach);
      return true;
    }
    case kCancelButton:
      host.EndDialog(2);
      return true;
    default:
      return false;
  }
}

}  // namespace varmex::migration
