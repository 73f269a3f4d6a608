// How full a block file of the keyed record store is.
//
// dens walks every block of the file along the store's own layout and measures two
// things:
//   - the used share: units covered by live pieces (the header record included)
//     out of the 256 units of each of the N blocks;
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
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace varmex::tools {

enum DensityVerdict : int {
  kRoomy = 0,
  kFilling = 1,
  kTooDense = 2,
  kUnmeasured = 3,
};

inline constexpr double kRoomyShare = 0.50;
inline constexpr double kFillingShare = 0.75;
inline constexpr int32_t kRoomyProbe = 8;
inline constexpr int32_t kFillingProbe = 32;

struct Density {
  DensityVerdict verdict = kUnmeasured;
  std::string problem;  // why the file could not be measured
  int32_t blocks = 0;
  int64_t records = 0;
  int64_t usedUnits = 0;
  int64_t deletedUnits = 0;
  int32_t longestProbe = 0;
  double UsedShare() const;
};

// Measures the block file at `path` (opened through the platform for reading only).
Density MeasureDensity(const std::string& path);

// The verdict for a measured share and probe length.
DensityVerdict Judge(double usedShare, int32_t longestProbe);

// The command line: dens [--] FILE, or --help / -h for the usage on standard output.
// Returns the exit status: the verdict; 2 also for an unknown option (with the usage
// on standard error), 3 for a missing or extra file name.
int RunDens(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace varmex::tools
