// Synthetic old data collections (the layout of the suite's versions 35 and 36):
// estimates, investments, norms, price bases, supplier prices and exchange rates,
// seeded and repeatable. The files are built in memory; the model that produced them
// is handed back too, so that a test can tell what a migration must make of them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace varmex::gencollection {

// An investment whose size a test wants exactly.
struct InvestmentPlan {
  int16_t number = 0;
  int32_t estimates = 0;
  int16_t objects = 1;            // objects 1..objects, estimates spread over them
  std::vector<int16_t> bases{1};  // price bases, estimates spread over them
  bool inObi = true;              // false: no investment record in obi.dat
  int32_t code = 0;               // 0: derived from the number
  std::string name;               // empty: derived from the number
};

struct CollectionOptions {
  int version = 36;
  int32_t estimates = 200;  // estimates besides those of the planned investments
  uint64_t seed = 1;
  std::vector<InvestmentPlan> investments;
  bool blockFileNorms = false;  // nor.dat, tehno.dat, norinc.dat as block files
  int32_t splitPercent = 20;    // chance that a record is cut into extra pieces
  int32_t priceBases = 3;       // bases 1..priceBases (odd: with header, even: without)
};

struct ArticleLine {
  int16_t number = 0;
  int32_t code = 0;
  int32_t value = 0;
  int32_t further[6] = {};
  int16_t flags = 0;
};

struct Estimate {
  std::string key;  // 6 characters
  int16_t investment = 0;
  int16_t object = 0;
  int32_t priceField = 0;  // price base x 1000000 + a remainder
  std::vector<ArticleLine> lines;
  int32_t trailingBytes = 0;  // a partial line after the last whole one
};

struct Investment {
  int16_t number = 0;
  int32_t code = 0;
  std::string name;  // 30 characters
  bool inObi = true;
};

struct Norm {
  int32_t code = 0;
  std::vector<int32_t> recipe;  // line codes (materials are 20000000 + material)
};

struct PriceBaseEntry {
  int32_t code = 0;
  int32_t value = 0;
  int32_t supplier = 0;
};

struct PriceBase {
  int16_t number = 0;
  bool header = true;
  std::vector<PriceBaseEntry> entries;
};

// A supplier price record of furnmat.dat (its layout: pricebase/supplier_price.h).
struct SupplierPrice {
  int32_t supplier = 0;  // the supplier number of the record (field / 1000000 + 1000)
  int32_t material = 0;
  bool oldForm = false;  // stored in the 16-byte form
  int32_t date = 0;
  int32_t price = 0;
};

struct Rate {
  int16_t currency = 0;
  int32_t date = 0;
  int32_t rate = 0;
};

struct Collection {
  // File bytes by path relative to the output directory ("Varmex/DEV.DAT").
  std::map<std::string, std::vector<uint8_t>> files;
  std::vector<Estimate> estimates;
  std::vector<std::string> otherDevKeys;  // records of dev.dat that are not estimates
  std::vector<Investment> investments;
  std::vector<Norm> nor, tehno, norinc;
  std::vector<PriceBase> priceBases;
  std::vector<SupplierPrice> supplierPrices;
  std::vector<Rate> latestRates, history;
  int32_t devBlocks = 0, obiBlocks = 0, norBlocks = 0, tehnoBlocks = 0, norincBlocks = 0;
  std::string dataDir;  // "Varmex/" (version 36) or "" (version 35)
};

Collection GenerateCollection(const CollectionOptions& options);

// The fresh installation's empty lcalcdev.dat and Prefman.dat (block files of the
// given sizes, header only), by file name.
std::map<std::string, std::vector<uint8_t>> FreshFiles(int32_t lcalcdevBlocks,
                                                       int32_t prefmanBlocks);

// Writes the files under `directory` (created as needed). False on a write failure.
bool WriteFiles(const std::map<std::string, std::vector<uint8_t>>& files,
                const std::string& directory);

}  // namespace varmex::gencollection
