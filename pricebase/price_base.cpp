#include "pricebase/price_base.h"

#include <array>
#include <cstdio>
#include <span>
#include <string>

#include "database/data_file.h"
#include "installer/messages.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "store/keyed_store.h"

namespace varmex::pricebase {
namespace {

constexpr int16_t kSupplierPriceKeyLength = 8;
constexpr size_t kBlockSize = 512;

// Supplier price record of furnmat.dat (136 bytes, key = supplier code + material):
//   0 supplier code, 4 material code, 8 date, 12 price, 16 a 16-bit 0, 18 and 36 two
//   blank texts (18 and 50 characters), 86/90/94 three 32-bit zeros, 98 eighteen
//   16-bit zeros, 134 a 16-bit 0.
void BuildSupplierPrice(std::span<uint8_t> record, int32_t material, int32_t price) {
  std::fill(record.begin(), record.end(), uint8_t{0});
  io::StoreI32(record, 0, kDefaultSupplier);
  io::StoreI32(record, 4, material);
  io::StoreI32(record, 8, kSupplierPriceDate);
  io::StoreI32(record, 12, price);
  io::StoreText(record, 18, 18, "");
  io::StoreText(record, 36, 50, "");
}

bool ToConvert(int32_t material, int32_t supplierField) {
  return material >= kLowestMaterial && material <= kHighestMaterial &&
         supplierField / 1000000 == 0;
}

// Makes sure furnmat.dat holds the default supplier's price of the material. True when
// the record is there afterwards: only then may the entry give up its own price.
bool StoreSupplierPrice(int32_t material, int32_t price, int16_t unit, int32_t blocks) {
  if (blocks <= 0) return false;
  std::array<uint8_t, kSupplierPriceRecordSize> record{};
  io::StoreI32(record.data(), kDefaultSupplier);
  io::StoreI32(record.data() + 4, material);
  const store::ReadResult found = store::KeyedRead(record, kSupplierPriceKeyLength, blocks, unit,
                                                   store::kHashSelector5, kSupplierPriceRecordSize);
  if (found.status == store::kKeyedDone) return true;
  BuildSupplierPrice(record, material, price);
  const store::WriteResult w =
      store::KeyedWrite(record, kSupplierPriceKeyLength, blocks, unit, store::kHashSelector5);
  return w.status == store::kKeyedDone;
}

// Converts the entries of one data block; true when any entry changed.
bool ConvertBlock(std::span<uint8_t, kBlockSize> block, int16_t furnmatUnit,
                  int32_t furnmatBlocks) {
  bool changed = false;
  for (int e = 0; e < kEntriesPerBlock; ++e) {
    const size_t at = static_cast<size_t>(e) * kEntrySize;
    const int32_t material = io::LoadI32(block.data() + at);
    if (material < 0) continue;
    if (material == 0) break;
    if (!ToConvert(material, io::LoadI32(block.data() + at + 8))) continue;
    // When the supplier price cannot be stored, the entry keeps its own price rather
    // than pointing at a record that does not exist.
    if (!StoreSupplierPrice(material, io::LoadI32(block.data() + at + 4), furnmatUnit,
                            furnmatBlocks)) {
      continue;
    }
    io::StoreI32(block.data() + at + 4, kConvertedPrice);
    io::StoreI32(block.data() + at + 8, kConvertedSupplierField);
    changed = true;
  }
  return changed;
}

}  // namespace

int16_t ConvertPriceBase(std::string_view dataDirectory, int16_t number, int16_t furnmatUnit,
                         int32_t furnmatBlocks) {
  char name[16];
  std::snprintf(name, sizeof name, "baz%03d.dat", static_cast<int>(number));
  const database::OpenResult file = database::OpenDataFile(name, dataDirectory, false, 0);
  if (file.unit == io::kNoUnit) return kPriceBaseFailed;

  std::array<uint8_t, 12> head{};
  if (io::ReadRecord(file.unit, 1, head) != io::kIoOk) {
    io::CloseUnit(file.unit);
    return kPriceBaseFailed;
  }
  int first = 1;
  int last = kLastDataBlockWithoutHeader;
  if (io::LoadI32(head.data()) == -1) {
    first = 2;
    last = io::LoadI16(head.data() + 4);
  }

  std::array<uint8_t, kBlockSize> block{};
  for (int b = first; b <= last; ++b) {
    if (io::ReadRecord(file.unit, b, block) != io::kIoOk) {
      installer::ShowError("Eroare citere baza pret!");
      io::CloseUnit(file.unit);
      return kPriceBaseFailed;
    }
    if (ConvertBlock(block, furnmatUnit, furnmatBlocks)) io::WriteRecord(file.unit, b, block);
  }
  io::CloseUnit(file.unit);
  return kPriceBaseDone;
}

}  // namespace varmex::pricebase
