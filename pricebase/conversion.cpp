// The price base conversion (declared in conversion.h).
#include "pricebase/conversion.h"

#include <array>
#include <string>

#include "installer/messages.h"
#include "io/coding.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "pricebase/price_base_file.h"
#include "pricebase/supplier_price.h"
#include "store/keyed_store.h"

namespace varmex::pricebase {
namespace {

// The default supplier's price record of a material (drawn in supplier_price.h).
void BuildSupplierPrice(SupplierPriceRecord record, int32_t material, int32_t price) {
  SetSupplierPriceKey(record, kDefaultSupplier, material);
  io::StoreI32(record.data() + kDateOfRecord, kSupplierPriceDate);
  io::StoreI32(record.data() + kPriceOfRecord, price);
  FillSupplierPriceTail(record);
}

bool ToConvert(int32_t material, int32_t supplierField) {
  return material >= kLowestMaterial && material <= kHighestMaterial &&
         supplierField / 1000000 == 0;
}

// Makes sure furnmat.dat holds the default supplier's price of the material. True when
// the record is there afterwards: only then may the entry give up its own price. So a
// new record must have reached the file (furnmat.dat may be cached) before the answer.
// A write that finds the file full has the file enlarged and is made again; one that
// finds it crowded has it enlarged afterwards.
bool StoreSupplierPrice(int32_t material, int32_t price, store::KeyedFile& furnmat) {
  if (furnmat.blocks() <= 0) return false;
  std::array<uint8_t, kSupplierPriceRecordSize> record{};
  SetSupplierPriceKey(record, kDefaultSupplier, material);
  const store::ReadResult found =
      furnmat.Read(record, kSupplierPriceKeyLength, static_cast<int32_t>(kSupplierPriceRecordSize));
  if (found.status == store::kKeyedDone) return true;
  BuildSupplierPrice(record, material, price);
  const int32_t unwrittenBefore = furnmat.Unwritten();
  if (furnmat.Write(record, kSupplierPriceKeyLength).status != store::kKeyedDone) return false;
  // The record must be on the disk before an entry points at it.
  return furnmat.Flush() == unwrittenBefore;
}

// Converts the entries of one data block; true when any entry changed.
bool ConvertBlock(PriceBaseBlock block, store::KeyedFile& furnmat) {
  bool changed = false;
  ForEachUsedEntry(block, [&](size_t index, const PriceBaseEntry& entry) {
    if (index == kTailEntry || !ToConvert(entry.code, entry.supplier)) return;
    // When the supplier price cannot be stored, the entry keeps its own price rather
    // than pointing at a record that does not exist.
    if (!StoreSupplierPrice(entry.code, entry.value, furnmat)) return;
    StoreEntryValues(block, index, kConvertedPrice, kConvertedSupplierField);
    changed = true;
  });
  return changed;
}

}  // namespace

std::string ReadErrorText() { return "Eroare citere baza pret!"; }

bool PriceBaseFaultShown(const OneMessagePerPriceBase* messages, int number) {
  return messages != nullptr && messages->shown_.count(number) != 0;
}

bool ShowPriceBaseFault(OneMessagePerPriceBase* messages, int number) {
  return messages == nullptr || messages->shown_.insert(number).second;
}

int16_t ConvertPriceBase(platform::Platform& os, std::string_view dataDirectory, int16_t number,
                         int16_t furnmatUnit, int32_t furnmatBlocks,
                         OneMessagePerPriceBase* messages) {
  store::KeyedFile furnmat(furnmatUnit, furnmatBlocks);
  return ConvertPriceBase(os, dataDirectory, number, furnmat, messages);
}

int16_t ConvertPriceBase(platform::Platform& os, std::string_view dataDirectory, int16_t number,
                         store::KeyedFile& furnmat, OneMessagePerPriceBase* messages) {
  const database::OpenResult file = OpenPriceBase(os, dataDirectory, number, database::kNoMessages);
  if (file.unit == io::kNoUnit) return kPriceBaseFailed;

  DataBlockRange range;
  if (ReadDataBlockRange(file.unit, range) != io::kIoOk) {
    io::CloseUnit(file.unit);
    return kPriceBaseFailed;
  }
  std::array<uint8_t, kPriceBaseBlockSize> block{};
  io::RecordPass pass(file.unit, range.last);
  for (int32_t b = range.first; b <= range.last; ++b) {
    if (pass.Read(b, block) != io::kIoOk) {
      if (ShowPriceBaseFault(messages, number)) installer::ShowError(os, ReadErrorText());
      io::CloseUnit(file.unit);
      return kPriceBaseFailed;
    }
    if (ConvertBlock(block, furnmat)) pass.Write(b, block);
  }
  io::CloseUnit(file.unit);
  return kPriceBaseDone;
}

}  // namespace varmex::pricebase
