// Local material prices of an estimate (the records drawn in local_prices.h).
#include "grupdev/local_prices.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "grupdev/estimate_reader.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "pricebase/supplier_price.h"
#include "store/keyed_store.h"

namespace varmex::grupdev {
namespace {

// Norm records: the 4-byte code, then recipe lines of 8 bytes from offset 106.
constexpr size_t kFirstRecipeLine = 106;
constexpr size_t kRecipeLineSize = 8;
constexpr int32_t kRecipeMaterialBase = 20000000;

constexpr size_t kPrefmanKeyLength = 10;
constexpr size_t kPrefmanRecordLength = 24;

constexpr double kSupplierPriceAbove = 2147000000.0;
constexpr double kStoredTenthsAbove = 2147000064.0;

bool InRange(int32_t c, int32_t lo, int32_t hi) { return c >= lo && c <= hi; }

void StoreLocalPrice(PricingContext& ctx, int32_t material, double price, int32_t grupdevNumber) {
  std::array<uint8_t, kPrefmanRecordLength> record{};
  io::StoreI32(record.data(), material);
  io::StoreI16(record.data() + 4, 0);
  io::StoreI32(record.data() + 6, grupdevNumber);
  io::StoreI32(record.data() + 10, StoredLocalPrice(price));
  io::StoreI16(record.data() + 14, 1);
  // A write that fails is counted by Prefman.dat's handle.
  ctx.files->prefman->Write(record, kPrefmanKeyLength);
}

// Reads norm `code` from `file` into the context's norm buffer; the delivered bytes, or
// an empty span when not found.
std::span<uint8_t> ReadNorm(PricingContext& ctx, const DataFile& file, int32_t code, bool& found) {
  std::vector<uint8_t>& buffer = ctx.norm;
  io::StoreI32(buffer.data(), code);
  const ByKeyResult r = ctx.reader->ReadByKey(buffer, 4, file.blockCount, file.unit);
  found = r.status == store::kKeyedDone;
  if (!found) return {};
  const size_t length = static_cast<size_t>(std::max<int32_t>(r.length, 0));
  return std::span<uint8_t>(buffer.data(), std::min(length, buffer.size()));
}

}  // namespace

size_t CodeSet::Home(int32_t code) const {
  const uint64_t mixed = static_cast<uint32_t>(code) * 0x9E3779B97F4A7C15ULL;
  return static_cast<size_t>(mixed >> 32) & (slots_.size() - 1);
}

size_t CodeSet::count(int32_t code) const {
  if (slots_.empty()) return 0;
  for (size_t h = Home(code);; h = (h + 1) & (slots_.size() - 1)) {
    if (slots_[h] == kFree) return 0;
    if (slots_[h] == code) return 1;
  }
}

bool CodeSet::insert(int32_t code) {
  if (2 * (held_.size() + 1) > slots_.size()) {
    // Twice the room, every code placed again.
    std::vector<int64_t> codes;
    codes.reserve(held_.size());
    for (const size_t h : held_) codes.push_back(slots_[h]);
    slots_.assign(std::max<size_t>(64, 2 * slots_.size()), kFree);
    held_.clear();
    for (const int64_t c : codes) insert(static_cast<int32_t>(c));
  }
  size_t h = Home(code);
  for (; slots_[h] != kFree; h = (h + 1) & (slots_.size() - 1)) {
    if (slots_[h] == code) return false;
  }
  slots_[h] = code;
  held_.push_back(h);
  return true;
}

void CodeSet::clear() {
  for (const size_t h : held_) slots_[h] = kFree;
  held_.clear();
}

void RecordMissingArticle(MissingArticles& missing, int16_t kind, int32_t code) {
  if (kind < kMissingInNor || kind > kMissingInNorinc) return;
  if (!missing.codes.insert(code)) return;
  ++missing.counts[static_cast<size_t>(kind - 1)];
}

ArticleClass ClassifyArticle(int32_t c) {
  if (InRange(c, 8600000, 8699999) || c == 7900002 || InRange(c, 7800000, 7899999) ||
      InRange(c, 8970001, 8970021) || InRange(c, 8990001, 8999999) ||
      InRange(c, 9000001, 9999999) || InRange(c, 8980001, 8980477) ||
      InRange(c, 8982068, 8985000)) {
    return ArticleClass::kSkipped;
  }
  if (InRange(c, 2000001, 7999999)) return ArticleClass::kMaterial;
  if (c > 1000000000) return ArticleClass::kNorincNorm;
  if (c / 10000000 != 0) return ArticleClass::kTehnoNorm;
  return ArticleClass::kNorNorm;
}

int32_t StoredLocalPrice(double price) {
  if (price > kStoredTenthsAbove) return static_cast<int32_t>(-std::trunc(price / 10.0 + 0.5));
  return static_cast<int32_t>(std::trunc(price + 0.5));
}

bool UpgradeSupplierRecord(store::KeyedFile& furnmat, int32_t supplier, int32_t material) {
  if (furnmat.unit() == io::kNoUnit) return false;
  std::array<uint8_t, pricebase::kSupplierPriceRecordSize> record{};
  pricebase::SetSupplierPriceKey(record, supplier, material);
  const store::ReadResult r = furnmat.Read(record, pricebase::kSupplierPriceKeyLength);
  if (r.status != store::kKeyedDone || r.length != pricebase::kOldSupplierPriceRecordSize) {
    return false;
  }
  // The key and the two values of the old form stay.
  pricebase::FillSupplierPriceTail(record);
  furnmat.Write(record, pricebase::kSupplierPriceKeyLength);
  return true;
}

LookupResult LocalMaterialPrice(PricingContext& ctx, int32_t material) {
  static const PriceTable kNoPrices;
  const LookupResult found = PriceBaseLookup(ctx.prices ? *ctx.prices : kNoPrices, material);
  if (found.price > kSupplierPriceAbove && found.reference > 0) {
    // The supplier's own price is not used for local prices; meeting its record only
    // brings it to the current form.
    UpgradeSupplierRecord(*ctx.files->furnmat, found.reference, material);
  }
  return found;
}

void InvertNorincWords(std::span<uint8_t> record) {
  if (record.size() < 4) return;
  const size_t words = (record.size() - 4) / 4;
  for (size_t i = 1; i <= words; ++i) {
    uint8_t* w = record.data() + 4 + 4 * (i - 1);
    if (i % 2 == 1) {
      io::StoreU32(w, 0u - io::LoadU32(w));
    } else {
      io::StoreU16(w, static_cast<uint16_t>(0u - io::LoadU16(w)));
      io::StoreU16(w + 2, static_cast<uint16_t>(0u - io::LoadU16(w + 2)));
    }
  }
}

void PriceEstimateMaterials(platform::Platform& os, PricingContext& ctx, std::string_view key,
                            int32_t grupdevNumber, PricedMaterials& priced) {
  const GrupdevFiles& files = *ctx.files;
  const EstimateItems estimate =
      ctx.reader->ReadEstimateItems(os, files.dev.unit, files.dev.blockCount, key, true);
  for (const ItemEntry& item : estimate.items) {
    const int32_t c = item.code;
    const ArticleClass kind = ClassifyArticle(c);
    if (kind == ArticleClass::kSkipped) continue;
    if (kind == ArticleClass::kMaterial) {
      if (priced.count(c) != 0) continue;
      const LookupResult price = LocalMaterialPrice(ctx, c);
      if (price.reference == 0) {
        StoreLocalPrice(ctx, c, price.price, grupdevNumber);
        continue;
      }
      priced.insert(c);
    }

    // A norm (or a material priced through its supplier, looked up as a norm).
    bool found = false;
    std::span<uint8_t> norm;
    if (c > 1000000000) {
      norm = ReadNorm(ctx, files.norinc, c, found);
      if (!found) {
        RecordMissingArticle(*ctx.missing, kMissingInNorinc, c);
        continue;
      }
      InvertNorincWords(norm);
    } else if (c / 10000000 != 0) {
      norm = ReadNorm(ctx, files.tehno, c, found);
      if (!found) {
        RecordMissingArticle(*ctx.missing, kMissingInTehno, c);
        continue;
      }
    } else {
      norm = ReadNorm(ctx, files.nor, c, found);
      if (!found) {
        RecordMissingArticle(*ctx.missing, kMissingInNor, c);
        continue;
      }
    }
    if (norm.size() < kFirstRecipeLine) continue;
    const size_t lines = (norm.size() - kFirstRecipeLine) / kRecipeLineSize;
    for (size_t k = 0; k < lines; ++k) {
      const int32_t lineCode = io::LoadI32(norm.data() + kFirstRecipeLine + kRecipeLineSize * k);
      if (lineCode / 10000000 != 2) continue;
      const int32_t m = lineCode - kRecipeMaterialBase;
      if (InRange(m, 7800000, 7899999) || priced.count(m) != 0) continue;
      const LookupResult price = LocalMaterialPrice(ctx, m);
      if (price.reference == 0) StoreLocalPrice(ctx, m, price.price, grupdevNumber);
      priced.insert(m);
    }
  }
}

}  // namespace varmex::grupdev
