// dens FILE: measures how full a block file is and exits with its verdict
// (0 roomy, 1 filling, 2 too dense, 3 not measured; see density.h).
#include <cstdio>
#include <string>

#include "tools/dens/density.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dens FILE\n");
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
