// How full a block file of the keyed record store is.
//
// dens walks every block of the file along the store's own layout and measures two
// things:
//   - the used share: cells covered by live pieces (the header record included)
//     out of the 256 cells of each of the N blocks;
//   - the longest probe path: for every record, the number of blocks from its home
//     block (hash selector 5) to the block that holds its first piece, counting both.
//
// Its verdict, which is also its exit status:
//   0  roomy       used share at most 50 % and no probe path longer than 8 blocks
//   1  filling     used share at most 75 % and no probe path longer than 32 blocks
//   2  too dense   anything else: the file should be spread over more blocks
//   3  unmeasured  the file is missing, unreadable, has no valid header, is shorter
//                  or longer than its block count says, or a block's chain of entries
//                  is broken
// and 7 for a bad command line (as for nredisp and kedro-db). The holes of a sparse
// file are not read (they hold nothing), and memory does not grow with the file.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace varmex::tools {

enum DensityVerdict : int {
  kRoomy = 0,
  kFilling = 1,
  kTooDense = 2,
  kUnmeasured = 3,
};
inline constexpr int kDensUsage = 7;  // a bad command line: no verdict

inline constexpr double kRoomyShare = 0.50;
inline constexpr double kFillingShare = 0.75;
inline constexpr int32_t kRoomyProbe = 8;
inline constexpr int32_t kFillingProbe = 32;

struct Density {
  DensityVerdict verdict = kUnmeasured;
  std::string problem;  // why the file could not be measured
  int32_t blocks = 0;
  int64_t records = 0;
  int64_t usedCells = 0;
  int64_t deletedCells = 0;
  int32_t longestProbe = 0;
  double UsedShare() const;
};

// Measures the block file at `path` (opened through the platform for reading only).
// `progress` is told now and then how far the pass has come.
Density MeasureDensity(platform::Platform& os, const std::string& path,
                       const std::function<void(int32_t block, int32_t last)>& progress = {});

// The verdict for a measured share and probe length.
DensityVerdict Judge(double usedShare, int32_t longestProbe);

// The command line: dens [--] FILE, or --help / -h for the usage on standard output.
// Returns the exit status: the verdict, or kDensUsage for an unknown option, a missing,
// extra or empty file name (with the usage or the reason on standard error).
// `showProgress`: a progress line on `err` while a large file is read. The file is read
// through `os`.
int RunDens(platform::Platform& os, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, bool showProgress = false);

}  // namespace varmex::tools
