// Conversion of a price base into the form that refers every material price to a
// supplier: each material entry without a supplier gets a supplier price record in
// furnmat.dat under the default supplier (2499), and the entry is rewritten to point
// there. The file's layout is owned by pricebase/price_base_file.h; its 43rd entry has
// no room for a supplier field, so it is never converted and never written.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "store/keyed_file.h"

namespace varmex::pricebase {

enum PriceBaseStatus : int16_t {
  kPriceBaseDone = 0,
  kPriceBaseFailed = 1,  // not opened, block 1 unreadable, or a data block unreadable
};

inline constexpr int32_t kDefaultSupplier = 2499;
inline constexpr int32_t kSupplierPriceDate = 800101;
inline constexpr int32_t kConvertedPrice = 2147483647;
// 1499 x 1000000 + 800101: supplier 1499 + 1000 = 2499, with the record's date.
inline constexpr int32_t kConvertedSupplierField = 1499800101;
inline constexpr int32_t kLowestMaterial = 2000001;
inline constexpr int32_t kHighestMaterial = 8000000;

// What both readers of a base (the GRUPDEV pricing and the conversion) show when a
// block of it cannot be read. The suite's text names no base: OneMessagePerPriceBase
// keeps it to one box per base.
std::string ReadErrorText();

// A base that cannot be read is named once in a migration. The run holds one object of
// this class (the migration dialog's OK handler makes it and hands it down through the
// pipeline to both readers): the first failure met on a base is shown and the later
// ones stay silent, although each GRUPDEV group priced from the base tries it again and
// its conversion reads it once more. A reader handed none (nullptr) shows each failure
// it meets.
class OneMessagePerPriceBase {
 public:
  OneMessagePerPriceBase() = default;
  OneMessagePerPriceBase(const OneMessagePerPriceBase&) = delete;
  OneMessagePerPriceBase& operator=(const OneMessagePerPriceBase&) = delete;

 private:
  friend bool PriceBaseFaultShown(const OneMessagePerPriceBase* messages, int number);
  friend bool ShowPriceBaseFault(OneMessagePerPriceBase* messages, int number);
  std::set<int> shown_;
};

// Whether a failure of base `number` was already shown (a reader then opens it
// without messages).
bool PriceBaseFaultShown(const OneMessagePerPriceBase* messages, int number);
// A failure of base `number` was met: true when its message is to be shown now (and
// it then counts as shown), false when it was shown before.
bool ShowPriceBaseFault(OneMessagePerPriceBase* messages, int number);

// Converts price base `number` in `dataDirectory`, storing supplier prices in the open
// furnmat.dat (unit and block count as opened); the base is opened through `os`. A
// block that cannot be read is shown as `messages` says.
int16_t ConvertPriceBase(platform::Platform& os, std::string_view dataDirectory, int16_t number,
                         int16_t furnmatUnit, int32_t furnmatBlocks,
                         OneMessagePerPriceBase* messages);
// The same, enlarging furnmat.dat when it is full; `furnmat` follows the file.
int16_t ConvertPriceBase(platform::Platform& os, std::string_view dataDirectory, int16_t number,
                         store::KeyedFile& furnmat, OneMessagePerPriceBase* messages);

}  // namespace varmex::pricebase
