// Dialog 107's procedure: initialisation, the radio buttons that swap the default
// directory, OK (the pipeline) and Cancel.
#include "migration/migration_dialog.h"

#include <string>

#include "io/fixed_text.h"
#include "migration/pipeline.h"

namespace varmex::migration {
namespace {

constexpr std::string_view kDefault35 = "C:\\Varmex35";
constexpr std::string_view kDefault36 = "C:\\Palunor";

// The directory field as a 256-character blank-padded text.
std::string DirectoryField(platform::DialogHost& host) {
  return io::Padded(host.GetItemText(kOldDirectoryEdit, kDirectoryFieldChars), 256);
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
    case kOkButton:
      RunMigration(host, installDrive_, sourceVersion_, limits_);
      return true;
    case kCancelButton:
      host.EndDialog(2);
      return true;
    default:
      return false;
  }
}

}  // namespace varmex::migration
