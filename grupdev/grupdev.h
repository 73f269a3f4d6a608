// GRUPDEV generation: every estimate grouped per investment (or object) and price base,
// GRUPDEV and link records into lcalcdev.dat, local material prices into Prefman.dat.
#pragma once

#include <cstdint>
#include <string_view>

namespace varmex::grupdev {

struct DataFile {
  int16_t unit = -1;
  int32_t blockCount = 0;
};

struct GrupdevFiles {
  std::string_view dataDirectory;  // the new Varmex data directory
  DataFile obi, dev, nor, tehno, norinc, furndev, furnmat, lcalcdev, prefman;
};

void GenerateGrupdevs(const GrupdevFiles& files);

}  // namespace varmex::grupdev
