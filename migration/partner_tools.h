// The migration steps done by the suite's own command-line tools in the new tree:
// converting a version-35 supplier file into the partner file, rebuilding the partner
// vocabulary, and the density check of furnmat.dat with its redistribution.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace varmex::migration {

// "X:\kedro\Varmex" and "X:\kedro\ERP", without a closing backslash.
std::string VarmexDirectory(char installDrive);
std::string ErpDirectory(char installDrive);

// Runs convfurn over the new ERP and Varmex directories, writes "Refacere TERTI.VOC"
// to the status line (control 1003) and rebuilds the vocabulary.
void ConvertPartnerFile(platform::Platform& os, platform::DialogHost& dialog, char installDrive);

// cuvterti, lsort, fo2 and mkhvoc, in this order, each waited for.
void RebuildPartnerVocabulary(platform::Platform& os, char installDrive);

// The smallest block count furnmat.dat is spread over, and the size below which it is
// always redistributed.
inline constexpr int64_t kFurnmatMinimumBlocks = 12000;
inline constexpr int64_t kFurnmatLargeEnough = 8000;
// dens exit codes from this value on mean "too dense"; 3 and above say dens could not
// measure the file.
inline constexpr int32_t kDensTooDense = 2;
inline constexpr int32_t kDensUnmeasurable = 3;
// nredisp's exit code for a disk without room for the new file.
inline constexpr int32_t kNredispDiskFull = 5;

// Measures furnmat.dat with dens and has nredisp spread it over more blocks when it is
// smaller than 8000 blocks or too dense. A missing furnmat.dat skips the check. A tool
// that fails is named with its exit code; false when nredisp found the disk full (the
// message says so, and the migration writes nothing more).
bool CheckFurnmatFile(platform::Platform& os, char installDrive);

// Block count for the redistribution of a file of `blocks` blocks: twice as many, at
// least 12000.
int64_t RedistributedBlockCount(int64_t blocks);

}  // namespace varmex::migration
