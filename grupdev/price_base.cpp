#include "grupdev/price_base.h"

#include <array>
#include <cstdlib>
#include <string>

#include "database/data_file.h"
#include "installer/messages.h"
#include "io/coding.h"
#include "io/unit_file.h"

namespace varmex::grupdev {
namespace {

constexpr size_t kBlockSize = 512;
constexpr size_t kEntrySize = 12;
constexpr size_t kWholeEntries = 42;
constexpr size_t kTailEntry = kWholeEntries * kEntrySize;  // 504: code and price only
constexpr int32_t kHeaderMarker = -1;
constexpr int32_t kHeaderlessBlocks = 127;

constexpr const char* kReadErrorText = "Eroare citere baza pret!";

void Empty(PriceTable& table) {
  table.entries.clear();
  table.base = 0;
}

// Appends the block's entries; false once a zero code ends the block.
bool TakeEntry(PriceTable& table, int32_t code, int32_t value, int32_t supplier) {
  if (code < 0) return true;
  if (code == 0) return false;
  table.entries.push_back({code, value, supplier});
  return true;
}

void TakeBlock(PriceTable& table, const std::array<uint8_t, kBlockSize>& block) {
  for (size_t k = 0; k < kWholeEntries; ++k) {
    const uint8_t* e = block.data() + k * kEntrySize;
    if (!TakeEntry(table, io::LoadI32(e), io::LoadI32(e + 4), io::LoadI32(e + 8))) return;
  }
  TakeEntry(table, io::LoadI32(block.data() + kTailEntry),
            io::LoadI32(block.data() + kTailEntry + 4), 0);
}

}  // namespace

std::string PriceBaseFileName(int16_t n) {
  std::string digits = std::to_string(n);
  if (n < 0 || digits.size() > 3) {
    digits = "***";
  } else {
    digits.insert(0, 3 - digits.size(), '0');
  }
  return "baz" + digits + ".dat";
}

void ResetPriceBaseCache(PriceTable& table) { Empty(table); }

int16_t LoadPriceBase(PriceTable& table, std::string_view directory, int16_t n) {
  if (n == table.base) return kPriceBaseLoaded;
  Empty(table);
  if (n == 0) return kPriceBaseLoaded;

  const database::OpenResult file =
      database::OpenDataFile(PriceBaseFileName(n), directory, true, 0);
  if (file.unit == io::kNoUnit) return kPriceBaseFailed;

  std::array<uint8_t, kBlockSize> block{};
  if (io::ReadRecord(file.unit, 1, block) != io::kIoOk) {
    installer::ShowError(kReadErrorText);
    io::CloseUnit(file.unit);
    return kPriceBaseFailed;
  }
  int32_t first = 1;
  int32_t last = kHeaderlessBlocks;
  if (io::LoadI32(block.data()) == kHeaderMarker) {
    first = 2;
    last = io::LoadI16(block.data() + 4);
  }
  for (int32_t b = first; b <= last; ++b) {
    if (io::ReadRecord(file.unit, b, block) != io::kIoOk) {
      io::CloseUnit(file.unit);
      installer::ShowError(kReadErrorText);
      Empty(table);
      return kPriceBaseFailed;
    }
    TakeBlock(table, block);
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
