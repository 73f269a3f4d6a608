// The exchange-rate table of CURSVAL.DAT (the file drawn in exchange_rates.h).
#include "database/exchange_rates.h"

#include <string>

#include "io/coding.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"

namespace varmex::database {
namespace {

constexpr int kFirstHistoryRecord = 21;

ExchangeRate DecodeRate(const uint8_t* record) {
  ExchangeRate rate;
  rate.code = io::LoadI16(record);
  rate.date = io::LoadI32(record + 2);
  rate.rate = io::LoadI32(record + 6);
  return rate;
}

// Opens the file on the lowest free unit; kNoUnit when it cannot be opened.
int16_t OpenRateFile(platform::Platform& os, const ExchangeRates& rates) {
  const int16_t unit = io::FindFreeUnit();
  if (unit == io::kNoUnit) return io::kNoUnit;
  if (io::OpenUnit(os, unit, rates.path, kRateRecordBytes) != io::kIoOk) return io::kNoUnit;
  return unit;
}

}  // namespace

const ExchangeRateTableType& ExchangeRateTable(const ExchangeRates& rates) { return rates.table; }
int32_t ExchangeRateHistoryCount(const ExchangeRates& rates) { return rates.historyCount; }

void SetExchangeRateDirectory(ExchangeRates& s, std::string_view directory) {
  s.directory.Assign(directory);
  // A NUL ends the directory's text wherever it stands, as the platform would read it.
  const std::string_view dir = io::PlatformText(s.directory.view());
  s.path = dir.empty() ? "CURSVAL.DAT" : std::string(dir) + "\\CURSVAL.DAT";
}

std::string_view ExchangeRatePath(const ExchangeRates& rates) { return rates.path; }

int16_t ReadRateCount(ExchangeRates& rates, int16_t unit) {
  uint8_t record[kRateRecordBytes] = {};
  const int status = io::ReadRecord(unit, 1, record);
  if (status == io::kIoOk) rates.historyCount = io::LoadI32(record);
  return static_cast<int16_t>(status);
}

int16_t LoadExchangeRates(platform::Platform& os, ExchangeRates& s) {
  s.historyCount = 0;
  for (int i = 0; i < kCurrencyCount; ++i)
    s.table[static_cast<size_t>(i)] = {static_cast<int16_t>(i + 1), kNoRateDate, 0};
  const int16_t unit = OpenRateFile(os, s);
  if (unit == io::kNoUnit) return 1;
  int16_t status = 0;
  if (ReadRateCount(s, unit) != 0) {
    status = 1;
    s.historyCount = 0;
  }
  for (int i = 0; i < kCurrencyCount; ++i) {
    uint8_t record[kRateRecordBytes] = {};
    if (io::ReadRecord(unit, i + 2, record) == io::kIoOk)
      s.table[static_cast<size_t>(i)] = DecodeRate(record);
  }
  io::CloseUnit(unit);
  return status;
}

int32_t ExchangeRateOn(platform::Platform& os, const ExchangeRates& s, int16_t code, int32_t date) {
  if (code <= 0 || code > kCurrencyCount || s.historyCount <= 0) return 0;
  const ExchangeRate& latest = s.table[static_cast<size_t>(code - 1)];
  if (date >= latest.date) return latest.rate;
  if (latest.date >= kNoRateDate) return 0;
  const int16_t unit = OpenRateFile(os, s);
  if (unit == io::kNoUnit) return 0;
  int32_t result = 0;
  const int64_t lastRecord = int64_t{kFirstHistoryRecord} - 1 + s.historyCount;
  for (int64_t r = kFirstHistoryRecord; r <= lastRecord; ++r) {
    uint8_t record[kRateRecordBytes] = {};
    if (io::ReadRecord(unit, r, record) != io::kIoOk) {
      result = -1;
      break;
    }
    const ExchangeRate rate = DecodeRate(record);
    if (rate.code != code) continue;
    if (rate.date > date) break;
    result = rate.rate;
  }
  io::CloseUnit(unit);
  return result;
}

}  // namespace varmex::database
