// Exchange rates of CURSVAL.DAT: the latest rate of each of 19 currencies kept in
// memory, and the earlier rates read from the file's history when an older date is
// asked for.
//
// CURSVAL.DAT is a direct-access file of 10-byte records:
//   record 1              history count (signed 32-bit at 0; bytes 4..9 unused)
//   records 2..20         latest rate of currency i in record i+1
//   records 21..20+count  history, in ascending order of date
// A rate record: code (signed 16-bit at 0), date YYYYMMDD from which the rate holds
// (signed 32-bit at 2; 30000101 = no rate), rate (signed 32-bit at 6).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/fixed_text.h"
#include "platform/platform.h"

namespace varmex::database {

inline constexpr int kCurrencyCount = 19;
inline constexpr int32_t kNoRateDate = 30000101;
inline constexpr int kRateRecordBytes = 10;
inline constexpr size_t kRateDirectoryChars = 40;

struct ExchangeRate {
  int16_t code = 0;
  int32_t date = kNoRateDate;
  int32_t rate = 0;
};

// Entry i-1 belongs to currency i.
using ExchangeRateTableType = std::array<ExchangeRate, kCurrencyCount>;

// The rates of one data directory: where the file lies, the latest rate of each
// currency and the history count, as loaded. The GRUPDEV generation run holds one from
// its start (the load) to its end.
struct ExchangeRates {
  ExchangeRateTableType table{};
  int32_t historyCount = 0;
  io::FixedText<kRateDirectoryChars> directory;
  std::string path = "CURSVAL.DAT";
};

const ExchangeRateTableType& ExchangeRateTable(const ExchangeRates& rates);
int32_t ExchangeRateHistoryCount(const ExchangeRates& rates);

// The Varmex data directory the file lives in (its first 40 characters are kept).
void SetExchangeRateDirectory(ExchangeRates& rates, std::string_view directory);
// The file's path: the directory, a backslash and "CURSVAL.DAT"; the bare name when
// the directory is blank or empty.
std::string_view ExchangeRatePath(const ExchangeRates& rates);

// Reads the file through `os`: 0 when loaded, 1 when the file could not be opened or
// its record 1 not read.
int16_t LoadExchangeRates(platform::Platform& os, ExchangeRates& rates);

// The rate of currency `code` valid on `date`: 0 when none is known, -1 when a
// history record could not be read.
int32_t ExchangeRateOn(platform::Platform& os, const ExchangeRates& rates, int16_t code,
                       int32_t date);

// Reads record 1 of the file on `unit` into the history count; the read's status.
int16_t ReadRateCount(ExchangeRates& rates, int16_t unit);

}  // namespace varmex::database
