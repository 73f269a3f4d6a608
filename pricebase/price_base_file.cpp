// The price base file's name, block range and entries (the layout is drawn in the header).
#include "pricebase/price_base_file.h"

#include <array>

#include "io/coding.h"
#include "io/unit_file.h"

namespace varmex::pricebase {

std::string PriceBaseFileName(int number) {
  std::string digits = "***";
  if (number >= 0 && number <= 999) {
    digits = std::to_string(number);
    digits.insert(0, 3 - digits.size(), '0');
  }
  return "baz" + digits + ".dat";
}

database::OpenResult OpenPriceBase(platform::Platform& os, std::string_view directory, int number,
                                   bool showMessages) {
  return database::OpenDataFile(os, PriceBaseFileName(number), directory, showMessages,
                                database::kNotFatal);
}

DataBlockRange DataBlocksOf(std::span<const uint8_t, kHeadBytes> head) {
  if (io::LoadI32(head.data() + kMarkerOffset) != kHeaderMarker) return {};
  return {2, io::LoadI16(head.data() + kLastDataBlockOffset)};
}

int ReadDataBlockRange(int16_t unit, DataBlockRange& range) {
  std::array<uint8_t, kHeadBytes> head{};
  const int status = io::ReadRecord(unit, 1, head);
  if (status == io::kIoOk) range = DataBlocksOf(head);
  return status;
}

PriceBaseEntry EntryAt(ConstPriceBaseBlock block, size_t index) {
  const uint8_t* at = block.data() + index * kEntrySize;
  PriceBaseEntry entry;
  entry.code = io::LoadI32(at + kCodeOffset);
  entry.value = io::LoadI32(at + kPriceOffset);
  if (index < kWholeEntries) entry.supplier = io::LoadI32(at + kSupplierOffset);
  return entry;
}

void StoreEntryValues(PriceBaseBlock block, size_t index, int32_t value, int32_t supplier) {
  uint8_t* at = block.data() + index * kEntrySize;
  io::StoreI32(at + kPriceOffset, value);
  io::StoreI32(at + kSupplierOffset, supplier);
}

}  // namespace varmex::pricebase
