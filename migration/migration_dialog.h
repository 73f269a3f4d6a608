// Dialog 107: the old collection's version and directory, and the migration pipeline
// that runs when OK is pressed.
#pragma once

#include <cstdint>

#include "grupdev/grupdev.h"
#include "platform/platform.h"

namespace varmex::migration {

inline constexpr int kMigrationDialogId = 107;

// Holds what the installation hands to the migration: the install drive and the
// GRUPDEV ask limits. OK runs the pipeline once the folder typed is short enough for
// every name the migration builds under it (236 characters for version 36, 243 for
// version 35, without a final backslash); a longer one is refused with a message and
// the dialog stays open. While the pipeline runs, a price base that cannot be read is
// named once (pricebase::OneMessagePerPriceBase).
class MigrationDialog : public platform::DialogProcedure {
 public:
  // `os` is the platform of the run, handed on to the migration it starts.
  MigrationDialog(platform::Platform& os, char installDrive, const grupdev::GrupdevLimits& limits)
      : os_(os), installDrive_(installDrive), limits_(limits) {}
  bool OnInit(platform::DialogHost& host) override;
  bool OnCommand(platform::DialogHost& host, int id, int notification) override;
  const grupdev::GrupdevLimits& limits() const { return limits_; }

 private:
  platform::Platform& os_;
  char installDrive_;
  grupdev::GrupdevLimits limits_;
  int16_t sourceVersion_ = 36;
};

}  // namespace varmex::migration
