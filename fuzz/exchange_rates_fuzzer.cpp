// CURSVAL.DAT of arbitrary bytes: the rates loaded and asked for must be exactly those
// a plain reading of the file gives (latest rates from memory, earlier ones from the
// history in date order), whatever history count the file claims.
#include <algorithm>
#include <limits>
#include <optional>

#include "database/exchange_rates.h"
#include "fuzz/fuzz_support.h"

using namespace varmex;

namespace {

struct Rec {
  int16_t code;
  int32_t date;
  int32_t rate;
};

// Record r (from 1) of the file, if the file holds all of it.
std::optional<Rec> RecordAt(std::span<const uint8_t> file, int64_t r) {
  const uint64_t off = static_cast<uint64_t>(r - 1) * 10;
  if (r < 1 || off + 10 > file.size()) return std::nullopt;
  return Rec{io::LoadI16(file.data() + off), io::LoadI32(file.data() + off + 2),
             io::LoadI32(file.data() + off + 6)};
}

int32_t ExpectedRate(std::span<const uint8_t> file, int16_t code, int32_t date) {
  const int64_t count = file.size() >= 10 ? io::LoadI32(file.data()) : 0;
  if (code <= 0 || code >= 20 || count <= 0) return 0;
  const std::optional<Rec> latest = RecordAt(file, code + 1);
  const Rec e = latest ? *latest : Rec{code, database::kNoRateDate, 0};
  if (date >= e.date) return e.rate;
  if (e.date >= database::kNoRateDate) return 0;
  int32_t result = 0;
  for (int64_t r = 21; r <= 20 + count; ++r) {
    const std::optional<Rec> h = RecordAt(file, r);
    if (!h) return -1;
    if (h->code != code) continue;
    if (h->date > date) break;
    result = h->rate;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return 0;
  const std::span<const uint8_t> file(data, size);
  fuzz::Scene scene;
  scene.AddFile("CURSVAL.DAT", file);
  database::ExchangeRates rates;
  database::SetExchangeRateDirectory(rates, fuzz::kDataDir);
  const int16_t status = database::LoadExchangeRates(scene.os, rates);
  fuzz::Check(status == (size >= 10 ? 0 : 1), "the load status is wrong");
  fuzz::Check(!io::UnitInUse(1), "the load left the file open");

  // Dates around every date the file mentions, and a few fixed ones.
  std::vector<int32_t> dates = {0, -1, 19991231, 20240101, 30000101, 2147483647};
  for (int64_t r = 2; r <= 25; ++r) {
    if (const auto rec = RecordAt(file, r)) {
      dates.push_back(rec->date);
      if (rec->date > std::numeric_limits<int32_t>::min()) dates.push_back(rec->date - 1);
      if (rec->date < std::numeric_limits<int32_t>::max()) dates.push_back(rec->date + 1);
    }
  }
  for (int16_t code = -1; code <= 20; ++code) {
    for (int32_t date : dates) {
      if (database::ExchangeRateOn(scene.os, rates, code, date) != ExpectedRate(file, code, date)) {
        std::fprintf(stderr, "code %d date %d\n", code, date);
        fuzz::Fail("a rate differs from the file's");
      }
    }
  }
  fuzz::Check(!io::UnitInUse(1), "a history scan left the file open");
  return 0;
}
