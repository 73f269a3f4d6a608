// Dialog 101: the choice of the partition (drive letter) that receives the installed
// tree, and the opening of the migration dialog at the end of the installation.
#pragma once

#include <array>
#include <cstdint>

#include "grupdev/grupdev.h"
#include "installer/run_state.h"
#include "platform/platform.h"

namespace varmex::installer {

inline constexpr int kPartitionDialogId = 101;
inline constexpr int kDriveComboId = 1002;
inline constexpr int kOkButtonId = 1;
inline constexpr int kCancelButtonId = 2;

// Results the dialog ends with.
enum PartitionDialogResult : intptr_t {
  kPartitionChosen = 1,
  kPartitionCancelled = 2,
};

// The dialog procedure: fills the combo box with the usable drive letters (removable,
// fixed, remote and RAM disks from C to Z; "C" alone when none qualifies) and accepts
// OK only when a list item is selected.
class PartitionDialog : public platform::DialogProcedure {
 public:
  // `os` tells the drive types.
  explicit PartitionDialog(platform::Platform& os) : os_(os) {}
  bool OnInit(platform::DialogHost& host) override;
  bool OnCommand(platform::DialogHost& host, int id, int notification) override;

  char chosenLetter() const { return chosenLetter_; }
  int16_t letterCount() const { return letterCount_; }

 private:
  void AddLetter(platform::DialogHost& host, char letter);

  platform::Platform& os_;
  std::array<char, 24> letters_{};
  int16_t letterCount_ = 0;
  char chosenLetter_ = ' ';
};

struct DriveChoice {
  char letter = ' ';
  int16_t cancelled = 1;  // 1 = cancelled (or the dialog failed), 0 = a letter was chosen
  bool failed = false;    // the dialog could not be created (its error was shown)
};

// Runs dialog 101. A dialog that cannot be created shows its error and counts as
// cancelled, marked as failed.
DriveChoice ChooseInstallDrive(platform::Platform& os);

// Stores `installDrive` in the run's `state` and runs dialog 107 until it closes, handing
// it the drive and the GRUPDEV ask limits. Returns false when the dialog could not be
// created (its error was shown).
bool StartMigrationDialog(platform::Platform& os, RunState& state, char installDrive,
                          const grupdev::GrupdevLimits& limits);

}  // namespace varmex::installer
