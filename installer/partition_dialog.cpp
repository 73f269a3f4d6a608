#include "installer/partition_dialog.h"

#include <string>

#include "installer/messages.h"
#include "io/fixed_text.h"
#include "migration/migration_dialog.h"

namespace varmex::installer {
namespace {

bool QualifiesForInstall(uint32_t driveType) {
  return driveType == platform::kDriveRemovable || driveType == platform::kDriveFixed ||
         driveType == platform::kDriveRemote || driveType == platform::kDriveRamdisk;
}

// "Eroare (_____) in DialogBox (instalare N)!" with the platform's error code.
void ShowDialogError(platform::Platform& os, int which) {
  const uint32_t error = os.LastError();
  ShowError(os, "Eroare (" + io::FormatRight(error, 5) + ") in DialogBox (instalare " +
                    std::to_string(which) + ")!");
}

}  // namespace

void PartitionDialog::AddLetter(platform::DialogHost& host, char letter) {
  host.ComboAddString(kDriveComboId, std::string(1, letter));
  ++letterCount_;
  letters_[static_cast<size_t>(letterCount_ - 1)] = letter;
}

bool PartitionDialog::OnInit(platform::DialogHost& host) {
  host.ComboReset(kDriveComboId);
  letterCount_ = 0;
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (QualifiesForInstall(os_.GetDriveType(root))) {
      AddLetter(host, letter);
    }
  }
  if (letterCount_ == 0) {
    AddLetter(host, 'C');
  }
  host.ComboSetSelection(kDriveComboId, 0);
  return true;  // let the platform put the focus on the first control
}

bool PartitionDialog::OnCommand(platform::DialogHost& host, int id, int /*notification*/) {
  switch (id) {
    case kOkButtonId: {
      const int index = host.ComboGetSelection(kDriveComboId);
      if (index < 0 || index >= letterCount_) {
        return true;  // nothing chosen: stay open
      }
      chosenLetter_ = letters_[static_cast<size_t>(index)];
      host.EndDialog(kPartitionChosen);
      return true;
    }
    case kCancelButtonId:
      host.EndDialog(kPartitionCancelled);
      return true;
    default:
      return false;
  }
}

DriveChoice ChooseInstallDrive(platform::Platform& os) {
  PartitionDialog dialog(os);
  const intptr_t result = os.DialogBox(kPartitionDialogId, dialog);
  if (result == -1) {
    ShowDialogError(os, 1);
    DriveChoice failed;
    failed.failed = true;
    return failed;
  }
  // A dialog that ended without an accepted OK (Cancel, or closed by other means with
  // some other result) has chosen nothing: installing onto an unset letter would
  // write to a drive the user never picked.
  if (result == kPartitionCancelled || dialog.chosenLetter() == ' ') {
    return DriveChoice{};
  }
  return DriveChoice{dialog.chosenLetter(), 0};
}

bool StartMigrationDialog(platform::Platform& os, RunState& state, char installDrive,
                          const grupdev::GrupdevLimits& limits) {
  state.installDrive = installDrive;
  migration::MigrationDialog dialog(os, installDrive, limits);
  if (os.DialogBox(migration::kMigrationDialogId, dialog) != -1) {
    return true;
  }
  ShowDialogError(os, 2);
  return false;
}

}  // namespace varmex::installer
