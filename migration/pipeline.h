// The migration pipeline that dialog 107 runs when OK is pressed: copy the old
// collection into the new tree, convert or copy the partner file, check furnmat.dat,
// open the ten database files, make sure of the default supplier, generate the
// GRUPDEVs, convert the price bases, remove the obsolete marker record, close the
// files and report completion.
#pragma once

#include <cstdint>
#include <string>

#include "grupdev/grupdev.h"
#include "platform/platform.h"
#include "pricebase/conversion.h"

namespace varmex::migration {

// Controls of dialog 107.
enum MigrationControl : int {
  kOkButton = 1,
  kCancelButton = 2,
  kStatusText = 1003,
  kVersion35Radio = 1004,
  kVersion36Radio = 1005,
  kOldDirectoryEdit = 1021,
};

// Longest text read from the directory field.
inline constexpr size_t kDirectoryFieldChars = 255;

// Where the old collection lies, derived from the directory the user typed.
struct OldCollection {
  std::string dataDir;  // ends with a backslash
  std::string erpDir;   // version 36 only; ends with a backslash
};
// `entered` is the field's text; an entry of blanks only gives nothing (empty dataDir).
OldCollection LocateOldCollection(std::string_view entered, int16_t sourceVersion);

// The block count a file of `blocks` blocks that filled up is enlarged to during the
// migration: twice as many and an eighth more, so that its records take at most half
// of the new file. When only a share of the step's work is done, so many more that the
// same pace of records to the end of the step fills at most three quarters of it (at
// most 8 times the least).
int64_t EnlargedBlockCount(int32_t blocks);
int64_t EnlargedBlockCount(int32_t blocks, double shareDone);

// The OK handler. Returns with the dialog still open when the field is empty or the
// directory holds no dev.dat; otherwise runs every step and ends the dialog with 1.
// `limits` go to the GRUPDEV generation; `priceBaseMessages` to both readers of the
// price bases (nullptr: each failure met is shown); every step works through `os`.
void RunMigration(platform::Platform& os, platform::DialogHost& dialog, char installDrive,
                  int16_t sourceVersion, const grupdev::GrupdevLimits& limits,
                  pricebase::OneMessagePerPriceBase* priceBaseMessages = nullptr);

}  // namespace varmex::migration
