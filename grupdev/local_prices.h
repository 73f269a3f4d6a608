// Local material prices of an estimate: every material an estimate uses, directly or
// through the recipes of its norms, gets a local price record in Prefman.dat under the
// number of its GRUPDEV.
//
// Local price record of Prefman.dat (24 bytes, key of 10):
//   | material i32 | 0 i16 | grupdev i32 | price i32 | 1 i16 | 8 zero bytes |
//   0              4       6             10          14      16             24
// A negative price means the price divided by 10 (prices above 2147000064).
//
// Supplier price record of furnmat.dat (drawn in pricebase/supplier_price.h). Records of
// the older 16-byte form are brought to the 136-byte form when met.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "grupdev/estimate_reader.h"
#include "grupdev/grupdev.h"
#include "grupdev/price_table.h"

namespace varmex::grupdev {

enum ArticleKind : int16_t {
  kMissingInNor = 1,
  kMissingInTehno = 2,
  kMissingInNorinc = 3,
};

// A set of article codes, looked up for every line of every estimate: open-addressed in
// one array, which keeps its room when the set is cleared.
class CodeSet {
 public:
  size_t count(int32_t code) const;
  // True when the code was not in the set yet.
  bool insert(int32_t code);
  void clear();
  size_t size() const { return held_.size(); }

 private:
  static constexpr int64_t kFree = INT64_MIN;  // no code is
  size_t Home(int32_t code) const;
  std::vector<int64_t> slots_;  // a power of two long, at most half used
  std::vector<size_t> held_;    // the slots in use, for clearing
};

// Materials already handled in the current GRUPDEV.
using PricedMaterials = CodeSet;

// Norm codes not found, each counted once for the kind it was first missed in.
struct MissingArticles {
  std::array<int32_t, 3> counts{};  // nor.dat, tehno.dat, norinc.dat
  CodeSet codes;
  bool Any() const { return counts[0] != 0 || counts[1] != 0 || counts[2] != 0; }
};

void RecordMissingArticle(MissingArticles& missing, int16_t kind, int32_t code);

// What a run of the pricing needs besides the estimate: the files (Prefman.dat's handle
// counts the local prices it could not write), the price table of the group, the
// missing-article bookkeeping, the run's reader of estimates and norms, and the buffer
// a norm record is read into.
struct PricingContext {
  const GrupdevFiles* files = nullptr;
  const PriceTable* prices = nullptr;
  MissingArticles* missing = nullptr;
  RecordReader* reader = nullptr;
  std::vector<uint8_t> norm = std::vector<uint8_t>(kLongestRecord);
};

// What an article code stands for.
enum class ArticleClass { kSkipped, kMaterial, kNorincNorm, kTehnoNorm, kNorNorm };
ArticleClass ClassifyArticle(int32_t code);

// The stored form of a price: rounded, or -(price / 10) rounded when above 2147000064.
int32_t StoredLocalPrice(double price);

// Price and supplier reference of a material from the price table; a supplier record
// met on the way (price above 2147000000 with a supplier) is upgraded in furnmat.dat.
LookupResult LocalMaterialPrice(PricingContext& ctx, int32_t material);

// Brings the supplier price record (supplier, material) of furnmat.dat to its 136-byte
// form when it is stored in the 16-byte form. True when a record was rewritten.
bool UpgradeSupplierRecord(store::KeyedFile& furnmat, int32_t supplier, int32_t material);

// Undoes the sign inversion of a norinc.dat record's data words (in place): the bytes
// after the 4-byte key as 4-byte words from 1, odd words negated whole, even words
// negated in each 16-bit half. Applying it twice gives the record back.
void InvertNorincWords(std::span<uint8_t> record);

// Prices every material of the estimate `key` for GRUPDEV `grupdevNumber`; a failed
// read of the estimate is shown through `os`.
void PriceEstimateMaterials(platform::Platform& os, PricingContext& ctx, std::string_view key,
                            int32_t grupdevNumber, PricedMaterials& priced);

}  // namespace varmex::grupdev
