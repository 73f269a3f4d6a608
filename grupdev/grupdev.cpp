// The GRUPDEV driver, in three passes over dev.dat's estimates:
//   1. collect every estimate (key, investment, object, price base) from the blocks;
//   2. sort, and per investment decide one GRUPDEV per object or one for the whole
//      investment (asking the user in the middle range of sizes);
//   3. sort again and, for each run of equal investment, object and price base, write
//      GRUPDEV records of at most 1000 members, one link record per member, the last
//      number into block 1 of lcalcdev.dat, and the members' local material prices.
//
// GRUPDEV record in lcalcdev.dat (key of 4, 116 + 6 x members bytes):
//   | number i32 | 0 i32 | 0 i32 | name (30) | blanks (70) | blanks (4) | key 1 | key 2 | ...
//   0            4       8       12          42            112          116     122
// Estimate link record (key of 6, 10 bytes): | estimate key (6) | GRUPDEV number i32 |
#include "grupdev/grupdev.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "database/data_file.h"
#include "database/exchange_rates.h"
#include "grupdev/choice_dialog.h"
#include "grupdev/estimate_reader.h"
#include "grupdev/estimate_table.h"
#include "grupdev/local_prices.h"
#include "grupdev/price_table.h"
#include "installer/messages.h"
#include "io/coding.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"

namespace varmex::grupdev {
namespace {

constexpr size_t kBlockSize = io::kBlockBytes;
constexpr int16_t kAllObjectsInvestment = 9999;
constexpr int16_t kWholeInvestmentObject = 1;

// Estimate record fields used here.
constexpr int16_t kEstimateKeyLength = 6;
constexpr size_t kEstimateInvestment = 62;
constexpr size_t kEstimateObject = 64;
constexpr size_t kEstimatePriceBase = 72;
constexpr size_t kEstimateFieldsEnd = 76;

// Investment record of obi.dat.
constexpr size_t kInvestmentCode = 16;
constexpr size_t kInvestmentName = 32;
constexpr size_t kNameLength = 30;

// lcalcdev.dat.
constexpr size_t kLastNumberOffset = 22;
constexpr size_t kGrupdevName = 12;
constexpr size_t kGrupdevHead = 116;
constexpr size_t kMemberKeyLength = 6;
constexpr size_t kMaxMembers = 1000;
constexpr size_t kLinkRecordLength = 10;

std::string BlankName() { return std::string(kNameLength, ' '); }

// What one generation run keeps from its start to its end: the platform it shows its
// dialogs and messages on, the reader of the data files' records, the buffer an
// investment record of obi.dat is read into, and the exchange rates of the data
// directory, loaded at the start (no price the run stores is worked out with them).
struct GenerationRun {
  GenerationRun(platform::Platform& p, const GrupdevFiles& f) : os(p), files(f) {}
  platform::Platform& os;
  const GrupdevFiles& files;
  RecordReader reader;
  std::vector<uint8_t> investment = std::vector<uint8_t>(kLongestRecord);
  database::ExchangeRates rates;
};

// The investment record (investment number, 0); nullopt-like `found` false when absent.
struct InvestmentRead {
  bool found = false;
  InvestmentInfo info;
};

InvestmentRead ReadInvestment(GenerationRun& run, int16_t investment) {
  const DataFile& obi = run.files.obi;
  std::vector<uint8_t>& record = run.investment;
  std::fill(record.begin(), record.end(), uint8_t{0});
  io::StoreI16(record.data(), investment);
  io::StoreI16(record.data() + 2, 0);
  InvestmentRead result;
  result.info.number = investment;
  const store::LegacyReadResult r =
      store::LegacyKeyedRead(record, 4, obi.blockCount, obi.unit, run.reader.legacyBudget());
  if (r.status != store::kLegacyDone) return result;
  result.found = true;
  // Fields past the delivered length read as zero (code) and blanks (name).
  const size_t length =
      static_cast<size_t>(std::clamp<int32_t>(r.length, 0, static_cast<int32_t>(record.size())));
  result.info.code =
      length >= kInvestmentCode + 4 ? io::LoadI32(record.data() + kInvestmentCode) : 0;
  std::string name = BlankName();
  for (size_t i = 0; i < kNameLength && kInvestmentName + i < length; ++i) {
    name[i] = static_cast<char>(record[kInvestmentName + i]);
  }
  result.info.name = name;
  return result;
}

// Pass 1: every estimate of dev.dat, in block order.
EstimateTable CollectEstimates(const DataFile& dev, store::LegacyBudget& budget) {
  EstimateTable table;
  store::BlockBytes block{};
  std::vector<uint8_t> record(kLongestRecord);
  for (int32_t b = 1; b <= dev.blockCount; ++b) {
    if (io::ReadRecord(dev.unit, b, block) != io::kIoOk) break;
    for (const store::LegacyEntry& e : store::LegacyEntries(block, kEstimateKeyLength)) {
      if (!e.IsUsable()) break;
      if (e.IsLastPiece() && !e.removed) {
        const std::string_view key(reinterpret_cast<const char*>(block.data() + 2 * (e.word - 1)),
                                   kEstimateKeyLength);
        if (IsEstimateKey(key)) {
          std::memcpy(record.data(), key.data(), key.size());
          const store::LegacyReadResult r =
              store::LegacyKeyedRead(record, kEstimateKeyLength, dev.blockCount, dev.unit, budget);
          if (r.status == store::kLegacyDone) {
            const size_t length = static_cast<size_t>(
                std::clamp<int32_t>(r.length, 0, static_cast<int32_t>(record.size())));
            // A record too short for the fields reads them as zero.
            if (length < kEstimateFieldsEnd)
              std::fill(record.begin() + static_cast<std::ptrdiff_t>(length),
                        record.begin() + kEstimateFieldsEnd, uint8_t{0});
            EstimateRow row;
            std::memcpy(row.key.data(), key.data(), row.key.size());
            row.investment = io::LoadI16(record.data() + kEstimateInvestment);
            row.object = io::LoadI16(record.data() + kEstimateObject);
            row.priceBase =
                static_cast<int16_t>(io::LoadI32(record.data() + kEstimatePriceBase) / 1000000);
            table.push_back(row);
          }
        }
      }
    }
  }
  return table;
}

// Pass 2: one GRUPDEV per object or per investment, for each run of one investment.
void DecideInvestments(EstimateTable& table, GenerationRun& run, const GrupdevLimits& limits) {
  ChoiceState choice;
  choice.grupdevSameAnswer = kNoRememberedAnswer;
  size_t first = 0;
  while (first < table.size()) {
    size_t last = first;
    while (last + 1 < table.size() && table[last + 1].investment == table[first].investment) ++last;
    const int16_t investment = table[first].investment;
    const int64_t m = static_cast<int64_t>(last - first + 1);
    bool wholeInvestment = false;
    if (investment == kAllObjectsInvestment || m >= limits.askBelow) {
      wholeInvestment = false;
    } else if (m < limits.askFrom) {
      wholeInvestment = true;
    } else {
      int16_t answer;
      if (choice.grupdevSameAnswer != kNoRememberedAnswer) {
        answer = choice.grupdevSameAnswer;
      } else {
        const InvestmentRead read = ReadInvestment(run, investment);
        const intptr_t result = GrupdevChoiceDialog(run.os, read.info, choice);
        answer = result == 1 ? choice.grupdevAnswer : static_cast<int16_t>(kAnswerWholeInvestment);
      }
      wholeInvestment = answer == kAnswerWholeInvestment;
    }
    if (wholeInvestment) {
      for (size_t i = first; i <= last; ++i) table[i].object = kWholeInvestmentObject;
    }
    first = last + 1;
  }
}

// Pass 3 state: the open GRUPDEV record and the counters of failed writes.
class GrupdevWriter {
 public:
  explicit GrupdevWriter(store::KeyedFile& lcalcdev) : lcalcdev_(lcalcdev) {}

  // The number the next GRUPDEV's search starts from: past the last one block 1
  // records and past every one this run assigned. False when block 1 cannot be read
  // or the last number could not be recorded: a number may then be taken already, and
  // no GRUPDEV is written any more.
  bool NextCandidate(int32_t& candidate) {
    std::array<uint8_t, kBlockSize> block{};
    if (numbersLost_ || io::ReadRecord(lcalcdev_.unit(), 1, block) != io::kIoOk) {
      numbersLost_ = true;
      return false;
    }
    const int32_t last = std::max(io::LoadI32(block.data() + kLastNumberOffset), number_);
    if (last == INT32_MAX) {
      numbersLost_ = true;
      return false;
    }
    candidate = last + 1;
    return true;
  }
  bool NumbersLost() const { return numbersLost_; }

  // The first number from `candidate` on under which lcalcdev.dat holds no record.
  int32_t FreeNumber(int32_t candidate) const {
    std::vector<uint8_t> record(kGrupdevHead + kMemberKeyLength * kMaxMembers);
    for (;;) {
      io::StoreI32(record.data(), candidate);
      const store::ReadResult r = lcalcdev_.Read(record, 4);
      if (r.status != store::kKeyedDone || candidate == INT32_MAX) return candidate;
      ++candidate;
    }
  }

  void Start(int32_t number, std::string_view name) {
    number_ = number;
    record_.assign(kGrupdevHead, uint8_t{0});
    io::StoreI32(record_.data(), number);
    io::StoreText(record_, kGrupdevName, kNameLength, name);
    std::memset(record_.data() + kGrupdevName + kNameLength, ' ',
                kGrupdevHead - kGrupdevName - kNameLength);
    members_.clear();
  }

  int32_t Number() const { return number_; }
  size_t Members() const { return members_.size(); }

  void Add(std::string_view key) {
    record_.insert(record_.end(), key.begin(), key.begin() + kMemberKeyLength);
    members_.emplace_back(key.substr(0, kMemberKeyLength));
  }

  // Writes the record, the last number into block 1 and the members' link records.
  void Complete() {
    if (members_.empty()) return;
    WriteRecord(record_, 4);
    StoreLastNumber();
    std::array<uint8_t, kLinkRecordLength> link{};
    for (const std::string& key : members_) {
      std::memcpy(link.data(), key.data(), kMemberKeyLength);
      io::StoreI32(link.data() + kMemberKeyLength, number_);
      WriteRecord(link, 6);
    }
    members_.clear();
  }

 private:
  // A write that fails is counted by the file's handle.
  void WriteRecord(std::span<const uint8_t> record, int16_t keyLength) {
    lcalcdev_.Write(record, keyLength);
  }

  // Block 1 is read again right before it is written, and only the last-number field
  // changes, so that whatever the store placed there meanwhile stays. A number that
  // could not be recorded ends the numbering (NextCandidate).
  void StoreLastNumber() {
    std::array<uint8_t, kBlockSize> block{};
    if (io::ReadRecord(lcalcdev_.unit(), 1, block) != io::kIoOk) {
      numbersLost_ = true;
      return;
    }
    io::StoreI32(block.data() + kLastNumberOffset, number_);
    if (io::WriteRecord(lcalcdev_.unit(), 1, block) != io::kIoOk) numbersLost_ = true;
  }

  store::KeyedFile& lcalcdev_;
  int32_t number_ = 0;
  bool numbersLost_ = false;
  std::vector<uint8_t> record_;
  std::vector<std::string> members_;
};

std::string MissingArticlesText(const MissingArticles& missing) {
  return io::Padded("Articole negasite in nor.dat:", 34) + io::FormatRight(missing.counts[0], 5) +
         "\n" + io::Padded("Articole negasite in tehnno.dat:", 34) +
         io::FormatRight(missing.counts[1], 5) + "\n" +
         io::Padded("Articole negasite in norinc.dat:", 34) +
         io::FormatRight(missing.counts[2], 5) + "\n ";
}

// Records, not write attempts; a count of 100000 or more is written in full.
std::string UnwrittenRecordsText(int64_t lcalcdev, int64_t prefman, int64_t leftOut) {
  std::string text = "Inregistrari nescrise in lcalcdev.dat:" + io::FormatRightWhole(lcalcdev, 5) +
                     "\n" +
                     "Inregistrari nescrise in Prefman.dat:" + io::FormatRightWhole(prefman, 5);
  if (leftOut != 0) {
    text +=
        "\nDevize fara GRUPDEV (numarul GRUPDEV nu a putut fi citit sau scris in "
        "lcalcdev.dat):" +
        io::FormatRightWhole(leftOut, 5);
  }
  return text;
}

// The records a run of estimates left out would have given lcalcdev.dat: a GRUPDEV
// record per started thousand and a link record per estimate.
int64_t LeftOutRecords(int64_t estimates) {
  return estimates +
         (estimates + static_cast<int64_t>(kMaxMembers) - 1) / static_cast<int64_t>(kMaxMembers);
}

// Pass 3: the GRUPDEVs of every run of equal investment, object and price base.
void BuildGrupdevs(GenerationRun& run, const EstimateTable& table) {
  const GrupdevFiles& files = run.files;
  platform::Platform& os = run.os;
  PriceTable prices;
  MissingArticles missing;
  ResetPriceBaseCache(prices);

  PricingContext pricing;
  pricing.files = &files;
  pricing.prices = &prices;
  pricing.missing = &missing;
  pricing.reader = &run.reader;

  GrupdevWriter writer(*files.lcalcdev);
  PricedMaterials priced;
  int64_t leftOut = 0;         // estimates without a GRUPDEV: no number could be given
  int64_t leftOutRecords = 0;  // the lcalcdev.dat records they would have had
  size_t first = 0;
  while (first < table.size()) {
    size_t last = first;
    while (last + 1 < table.size() && table[last + 1].investment == table[first].investment &&
           table[last + 1].object == table[first].object &&
           table[last + 1].priceBase == table[first].priceBase) {
      ++last;
    }
    const EstimateRow& head = table[first];
    if (LoadPriceBase(os, prices, files.dataDirectory, head.priceBase, files.priceBaseMessages) ==
        kPriceBaseLoaded) {
      const InvestmentRead investment = ReadInvestment(run, head.investment);
      const std::string name = investment.found ? investment.info.name : BlankName();
      size_t i = first;
      int32_t candidate = 0;
      if (writer.NextCandidate(candidate)) {
        writer.Start(writer.FreeNumber(candidate), name);
        priced.clear();
        for (; i <= last; ++i) {
          if (files.stop && files.stop()) return;
          if (writer.Members() == kMaxMembers) {
            writer.Complete();
            if (!writer.NextCandidate(candidate)) break;
            writer.Start(writer.FreeNumber(candidate), name);
            priced.clear();
          }
          writer.Add(table[i].Key());
          if (files.progress)
            files.progress(static_cast<double>(i) / static_cast<double>(table.size()));
          PriceEstimateMaterials(os, pricing, table[i].Key(), writer.Number(), priced);
        }
        if (i > last) writer.Complete();
      }
      const int64_t missed = static_cast<int64_t>(last + 1 - i);
      leftOut += missed;
      leftOutRecords += missed > 0 ? LeftOutRecords(missed) : 0;
    }
    first = last + 1;
  }

  // The files go to disk before the counts are read, so that a write the block cache
  // could not make is counted with the others.
  const int64_t lcalcdevFailed = files.lcalcdev->Flush() + leftOutRecords;
  const int64_t prefmanFailed = files.prefman->Flush();
  files.furnmat->Flush();
  if (files.stop && files.stop()) return;
  if (missing.Any()) installer::ShowWarning(os, MissingArticlesText(missing));
  if (lcalcdevFailed != 0 || prefmanFailed != 0) {
    installer::ShowWarning(os, UnwrittenRecordsText(lcalcdevFailed, prefmanFailed, leftOut));
  }
}

}  // namespace

void GenerateGrupdevs(platform::Platform& os, const GrupdevFiles& files,
                      const GrupdevLimits& limits) {
  GenerationRun run(os, files);
  database::SetExchangeRateDirectory(
      run.rates, io::Padded(files.dataDirectory, database::kRateDirectoryChars));
  database::LoadExchangeRates(os, run.rates);

  EstimateTable table = CollectEstimates(files.dev, run.reader.legacyBudget());
  if (table.empty()) return;
  SortEstimates(table);
  DecideInvestments(table, run, limits);
  SortEstimates(table);
  BuildGrupdevs(run, table);
}

}  // namespace varmex::grupdev
