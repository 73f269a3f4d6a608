// The price table: one price base brought into memory for the pricing of a group, with
// the cache of the base held and the binary search of a material's price. The file's
// layout is owned by pricebase/price_base_file.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pricebase/conversion.h"
#include "pricebase/price_base_file.h"

namespace varmex::grupdev {

using PriceEntry = pricebase::PriceBaseEntry;

struct PriceTable {
  std::vector<PriceEntry> entries;  // in file order, codes expected ascending
  int16_t base = 0;                 // the base held, 0 = none
};

enum PriceBaseStatus : int16_t {
  kPriceBaseLoaded = 0,
  kPriceBaseFailed = 1,
};

// Loads base n from `directory` (opened through `os`) into `table`, unless it is the
// base held. Base 0 is never read: it leaves an empty table holding no base. Failures
// leave the table empty; they are shown to the user, once a base when `messages` (the
// run's pricebase::OneMessagePerPriceBase) is given, each time when it is nullptr.
int16_t LoadPriceBase(platform::Platform& os, PriceTable& table, std::string_view directory,
                      int16_t n, pricebase::OneMessagePerPriceBase* messages);

// The table becomes empty and holds no base.
void ResetPriceBaseCache(PriceTable& table);

struct LookupResult {
  double price = -1.0;
  int32_t reference = 0;  // supplier number + 1000, 0 = none
};

// Binary search of the material code among the table's codes.
LookupResult PriceBaseLookup(const PriceTable& table, int32_t material);

}  // namespace varmex::grupdev
