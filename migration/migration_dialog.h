// Dialog 107: the old collection's version and directory, and the migration pipeline
// that runs when OK is pressed.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace varmex::migration {

inline constexpr int kMigrationDialogId = 107;

class MigrationDialog : public platform::DialogProcedure {
 public:
  explicit MigrationDialog(char installDrive) : installDrive_(installDrive) {}
  bool OnInit(platform::DialogHost& host) override;
  bool OnCommand(platform::DialogHost& host, int id, int notification) override;

 private:
  char installDrive_;
  int16_t sourceVersion_ = 36;
};

}  // namespace varmex::migration
