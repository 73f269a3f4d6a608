#include "tools/gencollection/collection.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "database/data_file.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "pricebase/price_base_file.h"
#include "pricebase/supplier_price.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"
#include "testing/legacy_writer.h"

namespace varmex::gencollection {
namespace {

// A small, portable generator: the same seed gives the same collection everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x5DEECE66Dull) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int32_t Below(int32_t n) {
    return n <= 0 ? 0 : static_cast<int32_t>(Next() % static_cast<uint64_t>(n));
  }
  bool Chance(int32_t percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};

constexpr size_t kBlock = io::kBlockBytes;
constexpr int32_t kRecipeMaterialBase = 20000000;

// The longest probe path a generated record of the older layout may need.
constexpr int32_t kMaxProbePath = 150;

// Codes that the look-up could not store: a first key word of 0 ends a block's data,
// the removed mark stands for a removed entry.
bool StorableCode(int32_t code) {
  const int16_t low = static_cast<int16_t>(code & 0xFFFF);
  return low != 0 && low != store::kRemovedKeyWord;
}

std::string Padded(const std::string& text, size_t width) {
  std::string s = text.substr(0, width);
  s.resize(width, ' ');
  return s;
}

struct KeyedRecord {
  int16_t keyLength;
  std::vector<uint8_t> bytes;
};

// A block file of n blocks holding `records`, written by the store itself on an
// in-memory file, so that every byte is where the suite's programs put it.
std::vector<uint8_t> BuildBlockFile(int32_t n, const std::vector<KeyedRecord>& records) {
  platform::FakePlatform scratch;
  scratch.AddFile("gencollection.tmp", store::EmptyBlockFileImage(n));
  const int16_t unit = io::FindFreeUnit();
  if (io::OpenUnit(scratch, unit, "gencollection.tmp", static_cast<int>(kBlock)) != io::kIoOk) {
    throw std::runtime_error("cannot open the scratch block file");
  }
  store::WriteContext writes;  // kept from record to record for its room
  for (const KeyedRecord& r : records) {
    const store::WriteResult w = store::KeyedWrite(r.bytes, r.keyLength, n, unit,
                                                   store::HashSelector::kVariableLength, writes);
    if (w.status != store::kKeyedDone) {
      io::CloseUnit(unit);
      throw std::runtime_error("block file too small for its records");
    }
  }
  io::CloseUnit(unit);
  return *scratch.Bytes("gencollection.tmp");
}

// Deterministic filler bytes for fields nobody reads.
std::vector<uint8_t> Filler(Random& rng, size_t n) {
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng.Below(256));
  return bytes;
}

class Builder {
 public:
  Builder(const CollectionOptions& options) : options_(options), rng_(options.seed) {}

  Collection Build() {
    c_.dataDir = options_.version == 35 ? "" : "Varmex/";
    MakeMaterials();
    MakeNorms();
    MakePriceBases();
    MakeInvestmentsAndEstimates();
    WriteDev();
    WriteObi();
    WriteNorms();
    WritePriceBases();
    WriteFurnmat();
    WriteRates();
    WriteOthers();
    return std::move(c_);
  }

 private:
  std::string Data(const std::string& name) const { return c_.dataDir + name; }

  void MakeMaterials() {
    for (int32_t k = 0; k < 400; ++k) materials_.push_back(2000001 + k * 14000 + rng_.Below(13000));
    std::sort(materials_.begin(), materials_.end());
  }

  int32_t AnyMaterial() {
    return materials_[static_cast<size_t>(rng_.Below(static_cast<int32_t>(materials_.size())))];
  }

  void MakeNormSet(std::vector<Norm>& set, int32_t count, int32_t first, int32_t step) {
    for (int32_t k = 0; k < count; ++k) {
      Norm norm;
      norm.code = first + k * step;
      if (!StorableCode(norm.code)) continue;
      const int32_t lines = rng_.Below(9);
      for (int32_t l = 0; l < lines; ++l) {
        const int32_t r = rng_.Below(100);
        if (r < 75) {
          norm.recipe.push_back(kRecipeMaterialBase + AnyMaterial());
        } else if (r < 80) {
          norm.recipe.push_back(kRecipeMaterialBase + 7800000 + rng_.Below(100000));  // not priced
        } else {
          norm.recipe.push_back(30000000 +
                                rng_.Below(1000000));  // labour, machines: not a material
        }
      }
      set.push_back(norm);
    }
  }

  void MakeNorms() {
    MakeNormSet(c_.nor, 150, 1000003, 5003);
    MakeNormSet(c_.tehno, 100, 10000001, 9000007);
    Norm edge;  // 1000000000 itself is a tehno.dat code
    edge.code = 1000000000;
    edge.recipe = {kRecipeMaterialBase + materials_[3], kRecipeMaterialBase + materials_[4]};
    c_.tehno.push_back(edge);
    MakeNormSet(c_.norinc, 80, 1000000001, 1000003);
  }

  void MakePriceBases() {
    for (int16_t b = 1; b <= options_.priceBases; ++b) {
      PriceBase base;
      base.number = b;
      base.header = b % 2 == 1;
      for (size_t k = 0; k < materials_.size(); ++k) {
        const int32_t m = materials_[k];
        if (rng_.Chance(15)) continue;  // missing from this base: priced 0
        PriceBaseEntry e{m, 100 + rng_.Below(5000000), 0};
        const int32_t r = rng_.Below(100);
        if (r < 4) {
          e.value = -(1000 + rng_.Below(5000000));  // stands for the value x 10
        } else if (r < 9) {
          const int32_t q = 1 + rng_.Below(4);  // priced through supplier q + 1000
          e.value = 2147483647;
          e.supplier = (rng_.Chance(50) ? 1 : -1) * (q * 1000000 + rng_.Below(1000000));
          SupplierPrice sp{q + 1000, m, rng_.Chance(60), 800101, 100 + rng_.Below(900000)};
          if (std::none_of(c_.supplierPrices.begin(), c_.supplierPrices.end(),
                           [&](const SupplierPrice& s) {
                             return s.supplier == sp.supplier && s.material == m;
                           })) {
            c_.supplierPrices.push_back(sp);
          }
        } else if (r < 11) {
          e.supplier = rng_.Below(1000000);  // below one supplier step: no supplier
        }
        base.entries.push_back(e);
      }
      // The rounding edges: 2500000000 stored as -250000000, and a price just above
      // the limit from which prices are stored divided by 10.
      if (base.entries.size() > 10) {
        base.entries[5].value = -250000000;
        base.entries[5].supplier = 0;
        base.entries[6].value = -214700007;
        base.entries[6].supplier = 0;
        base.entries[7].value = -214700005;
        base.entries[7].supplier = 0;
      }
      c_.priceBases.push_back(base);
    }
  }

  std::string NewKey(int32_t index) {
    static const char kFirst[] = "ABCDEFGHJKLMNPRSTUVWXYZabcdefgh$";
    static const char kRest[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int32_t attempt = 0;; ++attempt) {
      std::string key(6, ' ');
      uint64_t v = static_cast<uint64_t>(index) * 7919u + static_cast<uint64_t>(attempt) * 104729u +
                   rng_.Below(31);
      key[0] = kFirst[v % 31];
      v /= 31;
      for (size_t i = 1; i < 6; ++i) {
        key[i] = kRest[v % 36];
        v /= 36;
      }
      // Some keys with the other characters an estimate key may hold.
      const int32_t r = rng_.Below(100);
      if (r < 3)
        key[5] = '-';
      else if (r < 5)
        key[4] = '.';
      else if (r < 6)
        key[3] = ' ';
      else if (r < 7)
        key[2] = '@';
      bool dollarDigits = key[0] == '$';
      for (size_t i = 1; i < 6; ++i) dollarDigits = dollarDigits && key[i] >= '0' && key[i] <= '9';
      if (dollarDigits) continue;
      if (usedKeys_.insert(key).second) return key;
    }
  }

  std::vector<ArticleLine> MakeLines() {
    std::vector<ArticleLine> lines;
    const int32_t count = 1 + rng_.Below(24);
    int16_t number = 0;
    bool continued = false;  // the line before continues another: no chains
    for (int32_t k = 0; k < count; ++k) {
      const bool afterContinuation = continued;
      continued = false;
      ArticleLine line;
      line.number = ++number;
      line.value = 1 + rng_.Below(100000);
      for (int32_t& f : line.further) f = rng_.Below(1000000);
      line.flags = static_cast<int16_t>(rng_.Below(4));
      const int32_t r = rng_.Below(100);
      if (r < 36) {
        line.code = AnyMaterial();
      } else if (r < 50) {
        line.code =
            c_.nor[static_cast<size_t>(rng_.Below(static_cast<int32_t>(c_.nor.size())))].code;
      } else if (r < 60) {
        line.code =
            c_.tehno[static_cast<size_t>(rng_.Below(static_cast<int32_t>(c_.tehno.size())))].code;
      } else if (r < 68) {
        line.code =
            c_.norinc[static_cast<size_t>(rng_.Below(static_cast<int32_t>(c_.norinc.size())))].code;
      } else if (r < 72) {
        // A norm that none of the norm files holds.
        const int32_t kind = rng_.Below(3);
        line.code = kind == 0   ? 1900001 + rng_.Below(40000) * 2
                    : kind == 1 ? 990000001 + rng_.Below(5000000) * 2
                                : 2100000001 + rng_.Below(4000000) * 2;
      } else if (r < 77) {
        static const int32_t kSkipped[] = {8600123, 7900002, 7812345, 8970005,
                                           8990500, 9500000, 8980100, 8983000};
        line.code = kSkipped[rng_.Below(8)];
      } else if (r < 80) {
        line.code = 2000000001 + rng_.Below(9999);  // a formula line
      } else if (r < 83) {
        line.code = 7700001 + rng_.Below(99);  // only ever on lines left out
        line.value = -1100000000 - rng_.Below(1000);
      } else if (r < 88 && !lines.empty() && lines.back().number != 0 && !afterContinuation) {
        // A continuation of the line before.
        line = lines.back();
        line.value = 0;
        for (int32_t& f : line.further) f = rng_.Below(1000000);
        --number;
        continued = true;
        lines.push_back(line);
        continue;
      } else if (r < 91) {
        line.number = 0;  // an empty line
        line.code = AnyMaterial();
        --number;
      } else {
        line.code = AnyMaterial();
      }
      lines.push_back(line);
    }
    return lines;
  }

  void AddEstimates(const Investment& inv, int32_t count, int16_t objects,
                    const std::vector<int16_t>& bases) {
    for (int32_t k = 0; k < count; ++k) {
      Estimate e;
      e.key = NewKey(static_cast<int32_t>(c_.estimates.size()));
      e.investment = inv.number;
      e.object = static_cast<int16_t>(1 + rng_.Below(objects));
      const int16_t base =
          bases.empty()
              ? 0
              : bases[static_cast<size_t>(rng_.Below(static_cast<int32_t>(bases.size())))];
      e.priceField = base * 1000000 + rng_.Below(1000000);
      e.lines = MakeLines();
      e.trailingBytes = rng_.Chance(10) ? 2 * (1 + rng_.Below(17)) : 0;
      c_.estimates.push_back(std::move(e));
    }
  }

  Investment NewInvestment(int16_t number, int32_t code, const std::string& name, bool inObi) {
    Investment inv;
    inv.number = number;
    inv.code = code != 0 ? code : 100000 + number * 7;
    inv.name = Padded(name.empty() ? "Investitia nr. " + std::to_string(number) : name, 30);
    inv.inObi = inObi;
    usedInvestments_.insert(number);
    return inv;
  }

  void MakeInvestmentsAndEstimates() {
    for (const InvestmentPlan& plan : options_.investments) {
      const Investment inv = NewInvestment(plan.number, plan.code, plan.name, plan.inObi);
      c_.investments.push_back(inv);
      AddEstimates(inv, plan.estimates, std::max<int16_t>(plan.objects, 1), plan.bases);
    }
    int32_t left = options_.estimates;
    int32_t made = 0;
    while (left > 0) {
      int16_t number;
      do {
        number = static_cast<int16_t>(1 + rng_.Below(9998));
      } while (usedInvestments_.count(number) != 0 || number == 32639);
      int32_t size;
      const int32_t r = rng_.Below(100);
      if (made == 0 && options_.estimates >= 40 && usedInvestments_.count(9999) == 0) {
        number = 9999;  // the investment that always keeps its objects
        size = 20;
      } else if (r < 85) {
        size = 1 + rng_.Below(40);
      } else if (r < 97) {
        size = 100 + rng_.Below(200);
      } else {
        size = 1000 + rng_.Below(400);
      }
      size = std::min(size, left);
      std::string name;
      int32_t code = 0;
      const int32_t look = rng_.Below(100);
      if (look < 5) name = "      Nume dupa blancuri";  // first six characters blank
      if (look >= 5 && look < 8) name = " ";
      if (look >= 8 && look < 10) code = -1;
      Investment inv = NewInvestment(number, code == -1 ? 0 : code, name, !rng_.Chance(5));
      if (code == -1) inv.code = 0;
      c_.investments.push_back(inv);
      std::vector<int16_t> bases;
      const int32_t baseCount = 1 + (rng_.Chance(20) ? 1 : 0);
      for (int32_t k = 0; k < baseCount; ++k) {
        bases.push_back(rng_.Chance(3) || options_.priceBases == 0
                            ? 0
                            : static_cast<int16_t>(1 + rng_.Below(options_.priceBases)));
      }
      AddEstimates(inv, size, static_cast<int16_t>(1 + rng_.Below(std::min(size, 6))), bases);
      left -= size;
      ++made;
    }
  }

  static std::vector<uint8_t> EstimateRecord(const Estimate& e, Random& rng) {
    std::vector<uint8_t> r = Filler(rng, 104);
    std::memcpy(r.data(), e.key.data(), 6);
    io::StoreI16(r.data() + 62, e.investment);
    io::StoreI16(r.data() + 64, e.object);
    io::StoreI32(r.data() + 72, e.priceField);
    for (const ArticleLine& l : e.lines) {
      uint8_t line[36];
      io::StoreI16(line, l.number);
      io::StoreI32(line + 2, l.code);
      io::StoreI32(line + 6, l.value);
      for (size_t k = 0; k < 6; ++k) io::StoreI32(line + 10 + 4 * k, l.further[k]);
      io::StoreI16(line + 34, l.flags);
      r.insert(r.end(), line, line + 36);
    }
    const std::vector<uint8_t> tail = Filler(rng, static_cast<size_t>(e.trailingBytes));
    r.insert(r.end(), tail.begin(), tail.end());
    return r;
  }

  int32_t BlocksFor(size_t bytes) const {
    // About half full, so that probe paths stay short.
    return static_cast<int32_t>(bytes / (kBlock / 2)) + 16;
  }

  // Places a record of the older layout, its pieces cut at random as the options say;
  // throws when the file is too full, so that it is tried again with more blocks.
  std::vector<size_t> PlaceOrThrow(store::testing::LegacyWriter& writer,
                                   std::span<const uint8_t> record) {
    store::testing::LegacyCutRule rule;
    rule.halve = [this] { return rng_.Chance(options_.splitPercent); };
    rule.maxPath = kMaxProbePath;
    const store::testing::LegacyPlacement p = writer.Place(record, rule);
    if (!p.placed) throw std::runtime_error("word-layout file too full");
    return p.offsets;
  }

  void WriteDev() {
    std::vector<std::vector<uint8_t>> records;
    size_t total = 0;
    for (const Estimate& e : c_.estimates) {
      records.push_back(EstimateRecord(e, rng_));
      total += records.back().size() + 16;
    }
    // Records that are not estimates: the marker the migration removes at its end,
    // a key of "$" and five digits, and a removed estimate.
    auto other = [&](const std::string& key) {
      Estimate e;
      e.key = key;
      e.investment = c_.investments.empty() ? 1 : c_.investments.front().number;
      e.object = 1;
      e.priceField = 1000000;
      e.lines = {ArticleLine{1, materials_[0], 5, {}, 0}};
      records.push_back(EstimateRecord(e, rng_));
      total += records.back().size() + 16;
      c_.otherDevKeys.push_back(key);
    };
    other("#-[*]2");
    other("$12345");
    other(
        "ZZ\x7F"
        "DEL");
    const std::string removedKey = "Zrm001";
    other(removedKey);

    for (int32_t n = BlocksFor(total);; n = n * 3 / 2) {
      try {
        store::testing::LegacyWriter writer(n, 6);
        for (const auto& r : records) {
          const std::vector<size_t> pieces = PlaceOrThrow(writer, r);
          if (std::memcmp(r.data(), removedKey.data(), 6) == 0) {
            for (size_t at : pieces)
              io::StoreI16(writer.bytes().data() + at, store::kRemovedKeyWord);
          }
        }
        c_.devBlocks = n;
        c_.files[Data("DEV.DAT")] = std::move(writer.bytes());
        return;
      } catch (const std::runtime_error&) {
      }
    }
  }

  void WriteObi() {
    std::vector<std::vector<uint8_t>> records;
    for (const Investment& inv : c_.investments) {
      if (!inv.inObi) continue;
      std::vector<uint8_t> r = Filler(rng_, 80);
      io::StoreI16(r.data(), inv.number);
      io::StoreI16(r.data() + 2, 0);
      io::StoreI32(r.data() + 16, inv.code);
      std::memcpy(r.data() + 32, inv.name.data(), 30);
      records.push_back(r);
    }
    for (int32_t n = BlocksFor(records.size() * 96) + 2;; n = n * 3 / 2) {
      try {
        store::testing::LegacyWriter writer(n, 4);
        writer.Reserve(1);
        for (const auto& r : records) PlaceOrThrow(writer, r);
        c_.obiBlocks = n;
        c_.files[Data("OBI.DAT")] = std::move(writer.bytes());
        break;
      } catch (const std::runtime_error&) {
      }
    }
  }

  void FinishObiHeader() {
    std::vector<uint8_t>& obi = c_.files[Data("OBI.DAT")];
    // Block 1 is the header; its first words make the look-up pass over it.
    const uint8_t lead[6] = {'O', 'B', 'I', 0, 0xFF, 0xFF};
    std::memcpy(obi.data(), lead, sizeof lead);
    io::StoreI32(obi.data() + database::kObiBlocksOffset, c_.obiBlocks);
    io::StoreI32(obi.data() + database::kDevBlocksOffset, c_.devBlocks);
    io::StoreI32(obi.data() + database::kNorBlocksOffset, c_.norBlocks);
    io::StoreI32(obi.data() + database::kTehnoBlocksOffset, c_.tehnoBlocks);
    io::StoreI32(obi.data() + database::kNorincBlocksOffset, c_.norincBlocks);
  }

  // The sign inversion norinc.dat stores its records with: after the 4-byte key, odd
  // 4-byte words negated whole, even ones negated in each 16-bit half.
  static void InvertWords(std::vector<uint8_t>& r) {
    for (size_t i = 0; 4 + 4 * i + 4 <= r.size(); ++i) {
      uint8_t* w = r.data() + 4 + 4 * i;
      if (i % 2 == 0) {
        io::StoreI32(w, static_cast<int32_t>(0u - static_cast<uint32_t>(io::LoadI32(w))));
      } else {
        io::StoreI16(w, static_cast<int16_t>(-static_cast<int32_t>(io::LoadI16(w))));
        io::StoreI16(w + 2, static_cast<int16_t>(-static_cast<int32_t>(io::LoadI16(w + 2))));
      }
    }
  }

  std::vector<uint8_t> NormRecord(const Norm& norm, bool inverted) {
    std::vector<uint8_t> r = Filler(rng_, 106);
    io::StoreI32(r.data(), norm.code);
    for (int32_t code : norm.recipe) {
      uint8_t line[8];
      io::StoreI32(line, code);
      io::StoreI32(line + 4, 1 + rng_.Below(10000));
      r.insert(r.end(), line, line + 8);
    }
    if (inverted) InvertWords(r);
    return r;
  }

  void WriteNormFile(const std::vector<Norm>& set, const std::string& name, bool inverted,
                     int32_t& blocks) {
    std::vector<std::vector<uint8_t>> records;
    size_t total = 0;
    for (const Norm& n : set) {
      records.push_back(NormRecord(n, inverted));
      total += records.back().size() + 16;
    }
    if (options_.blockFileNorms) {
      blocks = BlocksFor(total * 2);
      std::vector<KeyedRecord> keyed;
      for (auto& r : records) keyed.push_back({4, r});
      c_.files[Data(name)] = BuildBlockFile(blocks, keyed);
      return;
    }
    for (int32_t n = BlocksFor(total);; n = n * 3 / 2) {
      try {
        store::testing::LegacyWriter writer(n, 4);
        for (const auto& r : records) PlaceOrThrow(writer, r);
        blocks = n;
        c_.files[Data(name)] = std::move(writer.bytes());
        return;
      } catch (const std::runtime_error&) {
      }
    }
  }

  void WriteNorms() {
    WriteNormFile(c_.nor, "NOR.DAT", false, c_.norBlocks);
    WriteNormFile(c_.tehno, "TEHNO.DAT", false, c_.tehnoBlocks);
    WriteNormFile(c_.norinc, "NORINC.DAT", true, c_.norincBlocks);
    FinishObiHeader();
  }

  void WritePriceBases() {
    for (const PriceBase& base : c_.priceBases) {
      // Entries go into blocks of 42 whole entries and a 43rd in the last 8 bytes
      // (code and price only, so only entries without a supplier go there); now and
      // then a block ends early with a code of 0, or holds an empty entry (-1).
      std::vector<std::vector<uint8_t>> blocks;
      size_t k = 0;
      while (k < base.entries.size()) {
        std::vector<uint8_t> block(kBlock, 0);
        const size_t stopAt = rng_.Chance(15) ? 10 + static_cast<size_t>(rng_.Below(30)) : 42;
        size_t slot = 0;
        for (; slot < stopAt && k < base.entries.size(); ++slot) {
          uint8_t* e = block.data() + slot * pricebase::kEntrySize;
          if (rng_.Chance(4)) {
            io::StoreI32(e + pricebase::kCodeOffset, -1);
            io::StoreI32(e + pricebase::kPriceOffset, 777);
            continue;
          }
          io::StoreI32(e + pricebase::kCodeOffset, base.entries[k].code);
          io::StoreI32(e + pricebase::kPriceOffset, base.entries[k].value);
          io::StoreI32(e + pricebase::kSupplierOffset, base.entries[k].supplier);
          ++k;
        }
        if (slot == pricebase::kWholeEntries && k < base.entries.size() &&
            base.entries[k].supplier == 0 && rng_.Chance(50)) {
          uint8_t* tail = block.data() + pricebase::kTailEntry * pricebase::kEntrySize;
          io::StoreI32(tail + pricebase::kCodeOffset, base.entries[k].code);
          io::StoreI32(tail + pricebase::kPriceOffset, base.entries[k].value);
          ++k;
        }
        blocks.push_back(block);
      }
      std::vector<uint8_t> file;
      if (base.header) {
        std::vector<uint8_t> head(kBlock, 0);
        io::StoreI32(head.data() + pricebase::kMarkerOffset, pricebase::kHeaderMarker);
        io::StoreI16(head.data() + pricebase::kLastDataBlockOffset,
                     static_cast<int16_t>(blocks.size() + 1));
        file = head;
      } else {
        blocks.resize(pricebase::kLastBlockWithoutHeader, std::vector<uint8_t>(kBlock, 0));
      }
      for (const auto& b : blocks) file.insert(file.end(), b.begin(), b.end());
      c_.files[Data(pricebase::PriceBaseFileName(base.number))] = std::move(file);
    }
  }

  void WriteFurnmat() {
    std::vector<KeyedRecord> records;
    for (const SupplierPrice& sp : c_.supplierPrices) {
      std::array<uint8_t, pricebase::kSupplierPriceRecordSize> record{};
      pricebase::SetSupplierPriceKey(record, sp.supplier, sp.material);
      io::StoreI32(record.data() + pricebase::kDateOfRecord, sp.date);
      io::StoreI32(record.data() + pricebase::kPriceOfRecord, sp.price);
      pricebase::FillSupplierPriceTail(record);
      // The older form is the first 16 bytes alone.
      const size_t size =
          sp.oldForm ? static_cast<size_t>(pricebase::kOldSupplierPriceRecordSize) : record.size();
      records.push_back({pricebase::kSupplierPriceKeyLength,
                         std::vector<uint8_t>(record.begin(), record.begin() + size)});
    }
    const int32_t n = BlocksFor(records.size() * 300) + 16;
    c_.files[Data("FURNMAT.DAT")] = BuildBlockFile(n, records);
    c_.files[Data("FURNDEV.DAT")] = store::EmptyBlockFileImage(16);
  }

  void WriteRates() {
    // Latest rates of a few currencies; earlier ones in the history, by date.
    std::vector<uint8_t> file(10 * 20, 0);
    for (int16_t cur = 1; cur <= 19; ++cur) {
      Rate latest{cur, 30000101, 0};
      if (cur <= 8) latest = {cur, 20240101 + cur, 10000 + rng_.Below(50000)};
      c_.latestRates.push_back(latest);
    }
    for (int32_t year = 2015; year <= 2023; ++year) {
      for (int16_t cur : {int16_t{1}, int16_t{2}, int16_t{5}}) {
        c_.history.push_back({cur, year * 10000 + 101 + cur, 9000 + rng_.Below(50000)});
      }
    }
    io::StoreI32(file.data(), static_cast<int32_t>(c_.history.size()));
    for (size_t i = 0; i < c_.latestRates.size(); ++i) {
      uint8_t* r = file.data() + 10 * (i + 1);
      io::StoreI16(r, c_.latestRates[i].currency);
      io::StoreI32(r + 2, c_.latestRates[i].date);
      io::StoreI32(r + 6, c_.latestRates[i].rate);
    }
    for (const Rate& h : c_.history) {
      uint8_t r[10];
      io::StoreI16(r, h.currency);
      io::StoreI32(r + 2, h.date);
      io::StoreI32(r + 6, h.rate);
      file.insert(file.end(), r, r + 10);
    }
    c_.files[Data("CURSVAL.DAT")] = std::move(file);
  }

  void WriteOthers() {
    // Files the migration only copies: a few blocks each, their bytes are checked whole.
    for (const char* name : {"EXT.DAT", "EXTDEN.DAT", "MAT.DAT", "DIC.DAT", "IDIC.DAT", "PREF.DAT",
                             "TABEL.DAT", "UM.DAT", "CATLUC.DAT"}) {
      c_.files[Data(name)] = Filler(rng_, kBlock * static_cast<size_t>(1 + rng_.Below(4)));
    }
    // Partners: a block file without the default supplier.
    std::vector<KeyedRecord> partners;
    for (int32_t code = 1; code <= 5; ++code) {
      std::vector<uint8_t> r(480, ' ');
      io::StoreI32(r.data(), code);
      const std::string name = Padded("Partener " + std::to_string(code), 60);
      std::memcpy(r.data() + 16, name.data(), 60);
      io::StoreI16(r.data() + 400, 1);
      partners.push_back({4, r});
    }
    const std::vector<uint8_t> terti = BuildBlockFile(64, partners);
    if (options_.version == 35) {
      c_.files["FURN.DAT"] = terti;
    } else {
      c_.files["ERP/terti.dat"] = terti;
      c_.files["ERP/terti.voc"] = Filler(rng_, 2 * kBlock);
    }
  }

  const CollectionOptions& options_;
  Random rng_;
  Collection c_;
  std::vector<int32_t> materials_;
  std::set<std::string> usedKeys_;
  std::set<int16_t> usedInvestments_;
};

}  // namespace

Collection GenerateCollection(const CollectionOptions& options) { return Builder(options).Build(); }

std::map<std::string, std::vector<uint8_t>> FreshFiles(int32_t lcalcdevBlocks,
                                                       int32_t prefmanBlocks) {
  return {{"lcalcdev.dat", store::EmptyBlockFileImage(lcalcdevBlocks)},
          {"Prefman.dat", store::EmptyBlockFileImage(prefmanBlocks)}};
}

bool WriteFiles(const std::map<std::string, std::vector<uint8_t>>& files,
                const std::string& directory) {
  namespace fs = std::filesystem;
  for (const auto& [name, bytes] : files) {
    const fs::path path = fs::path(directory) / name;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  return true;
}

}  // namespace varmex::gencollection
