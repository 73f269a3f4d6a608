// The price table: loading a base through the price base file module, and the look-up.
#include "grupdev/price_table.h"

#include <array>
#include <cstdlib>
#include <string>

#include "database/data_file.h"
#include "installer/messages.h"
#include "io/unit_file.h"
#include "pricebase/conversion.h"

namespace varmex::grupdev {
namespace {

void Empty(PriceTable& table) {
  table.entries.clear();
  table.base = 0;
}

}  // namespace

void ResetPriceBaseCache(PriceTable& table) { Empty(table); }

int16_t LoadPriceBase(platform::Platform& os, PriceTable& table, std::string_view directory,
                      int16_t n, pricebase::OneMessagePerPriceBase* messages) {
  if (n == table.base) return kPriceBaseLoaded;
  Empty(table);
  if (n == 0) return kPriceBaseLoaded;

  // A base whose failure was shown before in this migration is tried again silently.
  const bool quiet = pricebase::PriceBaseFaultShown(messages, n);
  const database::OpenResult file = pricebase::OpenPriceBase(
      os, directory, n, quiet ? database::kNoMessages : database::kShowMessages);
  if (file.unit == io::kNoUnit) {
    pricebase::ShowPriceBaseFault(messages, n);  // shown by the opening, unless quiet
    return kPriceBaseFailed;
  }

  pricebase::DataBlockRange range;
  if (pricebase::ReadDataBlockRange(file.unit, range) != io::kIoOk) {
    if (pricebase::ShowPriceBaseFault(messages, n))
      installer::ShowError(os, pricebase::ReadErrorText());
    io::CloseUnit(file.unit);
    return kPriceBaseFailed;
  }
  std::array<uint8_t, pricebase::kPriceBaseBlockSize> block{};
  io::RecordPass pass(file.unit, range.last);
  for (int32_t b = range.first; b <= range.last; ++b) {
    if (pass.Read(b, block) != io::kIoOk) {
      io::CloseUnit(file.unit);
      if (pricebase::ShowPriceBaseFault(messages, n))
        installer::ShowError(os, pricebase::ReadErrorText());
      Empty(table);
      return kPriceBaseFailed;
    }
    pricebase::ForEachUsedEntry(block, [&table](size_t, const pricebase::PriceBaseEntry& entry) {
      table.entries.push_back(entry);
    });
  }
  io::CloseUnit(file.unit);
  table.base = n;
  return kPriceBaseLoaded;
}

LookupResult PriceBaseLookup(const PriceTable& table, int32_t material) {
  int64_t low = 1;
  int64_t high = static_cast<int64_t>(table.entries.size());
  while (low <= high) {
    const int64_t middle = (low + high) / 2;
    const PriceEntry& e = table.entries[static_cast<size_t>(middle - 1)];
    if (material < e.code) {
      high = middle - 1;
    } else if (material > e.code) {
      low = middle + 1;
    } else {
      LookupResult found;
      found.price =
          e.value >= 0 ? static_cast<double>(e.value) : -static_cast<double>(e.value) * 10.0;
      const int64_t q = std::llabs(static_cast<int64_t>(e.supplier)) / 1000000;
      found.reference = q > 0 ? static_cast<int32_t>(q + 1000) : 0;
      return found;
    }
  }
  return {};
}

}  // namespace varmex::grupdev
