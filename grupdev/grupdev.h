// GRUPDEV generation: every estimate grouped per investment (or object) and price base,
// GRUPDEV and link records into lcalcdev.dat, local material prices into Prefman.dat.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace varmex::grupdev {

struct DataFile {
  int16_t unit = -1;
  int32_t blockCount = 0;
};

// Makes a block file whose keyed write answered 3 (full) larger: `file` holds its unit
// and block count and receives the new ones. False when it could not be enlarged (it
// is then open as it was on the unit `file` names, or not open at all).
using EnlargeFile = std::function<bool(DataFile& file)>;

struct GrupdevFiles {
  std::string_view dataDirectory;  // the new Varmex data directory
  DataFile obi, dev, nor, tehno, norinc, furndev, furnmat, lcalcdev, prefman;
  // For lcalcdev.dat, Prefman.dat and furnmat.dat; empty: a full file stays full.
  EnlargeFile enlarge;
  // Told, before each estimate is priced, the share of the estimates done (0 to 1).
  std::function<void(double)> progress;
  // Asked before each estimate: true ends the step at once, without its warnings (the
  // caller undoes what it wrote: the disk has filled, say).
  std::function<bool()> stop;
};

// KeyedWrite of `record` into `file` (hash selector 5). A write that answers 3 has the
// pieces it left removed, has the file enlarged and is made again, while `enlarge`
// can make room; a write that lands after a look-up of more than kCrowdedWalkBlocks
// blocks has the file enlarged afterwards. Returns the last write's status.
int16_t WriteEnlarging(std::span<const uint8_t> record, int16_t keyLength, DataFile& file,
                       const EnlargeFile& enlarge);

// Investments with fewer than askFrom estimates get one GRUPDEV for the whole
// investment; from askFrom up to askBelow (excluded) the user is asked; from askBelow
// on every object gets its own. The installer sets them (5 and 10 with "/debug") and
// hands them down through the migration dialog.
struct GrupdevLimits {
  int32_t askFrom = 100;
  int32_t askBelow = 1000;
};

void GenerateGrupdevs(const GrupdevFiles& files, const GrupdevLimits& limits);

}  // namespace varmex::grupdev
