// dens FILE: measures how full a block file is and exits with its verdict
// (0 roomy, 1 filling, 2 too dense, 3 not measured; see density.h).
#include <cstdio>
#include <string>

#include "tools/dens/density.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: dens FILE\n"
                 "Measures a block file of the keyed record store. Exit status:\n"
                 "  0 roomy      at most 50%% of the units used, no probe path over 8 blocks\n"
                 "  1 filling    at most 75%% used, no probe path over 32 blocks\n"
                 "  2 too dense  more: spread the file over more blocks (nredisp)\n"
                 "  3 the file cannot be measured (missing, no valid header, damaged)\n");
    return varmex::tools::kUnmeasured;
  }
  const varmex::tools::Density d = varmex::tools::MeasureDensity(argv[1]);
  if (d.verdict == varmex::tools::kUnmeasured) {
    std::fprintf(stderr, "dens: %s: %s\n", argv[1], d.problem.c_str());
    return d.verdict;
  }
  static const char* const kWords[] = {"roomy", "filling", "too dense"};
  std::printf(
      "%s: %d blocks, %lld records, %.1f%% used, %.1f%% deleted, longest probe path %d blocks: "
      "%s\n",
      argv[1], static_cast<int>(d.blocks), static_cast<long long>(d.records), 100.0 * d.UsedShare(),
      100.0 * static_cast<double>(d.deletedUnits) / (static_cast<double>(d.blocks) * 256.0),
      static_cast<int>(d.longestProbe), kWords[d.verdict]);
  return d.verdict;
}
