// GRUPDEV generation: every estimate grouped per investment (or object) and price base,
// GRUPDEV and link records into lcalcdev.dat, local material prices into Prefman.dat.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "database/data_file.h"
#include "platform/platform.h"
#include "pricebase/conversion.h"
#include "store/keyed_file.h"

namespace varmex::grupdev {

// An open data file: its unit and its block count, as the opening gave them.
using DataFile = database::OpenResult;

struct GrupdevFiles {
  std::string_view dataDirectory;  // the new Varmex data directory
  DataFile obi, dev, nor, tehno, norinc, furndev;
  // The files the step writes into, held by the caller (whose grow functions enlarge
  // them when they fill up).
  store::KeyedFile* furnmat = nullptr;
  store::KeyedFile* lcalcdev = nullptr;
  store::KeyedFile* prefman = nullptr;
  // Told, before each estimate is priced, the share of the estimates done (0 to 1).
  std::function<void(double)> progress;
  // Asked before each estimate: true ends the step at once, without its warnings (the
  // caller undoes what it wrote: the disk has filled, say).
  std::function<bool()> stop;
  // The migration's record of the price bases whose failure was shown; nullptr shows
  // each failure met.
  pricebase::OneMessagePerPriceBase* priceBaseMessages = nullptr;
};

// Investments with fewer than askFrom estimates get one GRUPDEV for the whole
// investment; from askFrom up to askBelow (excluded) the user is asked; from askBelow
// on every object gets its own. The installer sets them (5 and 10 with "/debug") and
// hands them down through the migration dialog.
struct GrupdevLimits {
  int32_t askFrom = 100;
  int32_t askBelow = 1000;
};

void GenerateGrupdevs(platform::Platform& os, const GrupdevFiles& files,
                      const GrupdevLimits& limits);

}  // namespace varmex::grupdev
