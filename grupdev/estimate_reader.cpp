// Article lines of an estimate, and the record reader with its file-kind cache (the
// record drawn in estimate_reader.h).
#include "grupdev/estimate_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "installer/messages.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "store/block_header.h"
#include "store/keyed_store.h"

namespace varmex::grupdev {
namespace {

constexpr size_t kFirstLine = 104;
constexpr size_t kLineSize = 36;
constexpr size_t kLineNumber = 0;
constexpr size_t kLineCode = 2;
constexpr size_t kLineValue = 6;
constexpr size_t kLineFurther = 10;
constexpr size_t kLineFlags = 34;
// The three values a continuation line hands over (offsets 22, 26, 30).
constexpr size_t kFirstContinuedValue = 3;

constexpr int32_t kFirstFormulaCode = 2000000001;
constexpr int32_t kLastFormulaCode = 2000009999;
constexpr int32_t kLeftOutValue = -1100000000;

ItemEntry EntryOfLine(const uint8_t* line) {
  ItemEntry e;
  e.code = io::LoadI32(line + kLineCode);
  e.value = io::LoadI32(line + kLineValue);
  for (size_t k = 0; k < e.further.size(); ++k)
    e.further[k] = io::LoadI32(line + kLineFurther + 4 * k);
  e.flags = io::LoadI16(line + kLineFlags);
  return e;
}

bool IsFormulaCode(int32_t code) { return code >= kFirstFormulaCode && code <= kLastFormulaCode; }

}  // namespace

RecordReader::RecordReader() : estimate_(kLongestRecord) {}

int16_t RecordReader::FileKindOf(int16_t unit) {
  for (const KindSlot& slot : kinds_) {
    if (slot.unit != 0 && slot.unit == unit) return slot.kind;
  }
  store::BlockBytes block{};
  if (io::ReadRecord(unit, 1, block) != io::kIoOk) return kFileKindUnreadable;
  const int16_t kind = store::IsBlockFileHeader(block) ? kFileKindBlockFile : kFileKindLegacy;
  for (KindSlot& slot : kinds_) {
    if (slot.unit == 0) {
      slot = {unit, kind};
      break;
    }
  }
  return kind;
}

ByKeyResult RecordReader::ReadByKey(std::span<uint8_t> record, int16_t keyLength,
                                    int32_t blockCount, int16_t unit) {
  switch (FileKindOf(unit)) {
    case kFileKindBlockFile: {
      const store::ReadResult r = store::KeyedRead(record, keyLength, blockCount, unit,
                                                   store::HashSelector::kVariableLength, 0);
      return {r.status, r.length};
    }
    case kFileKindLegacy: {
      const store::LegacyReadResult r =
          store::LegacyKeyedRead(record, keyLength, blockCount, unit, legacy_);
      return {r.status, r.length};
    }
    default:
      return {store::kKeyedReadError, 0};
  }
}

std::vector<ItemEntry> ParseArticleLines(std::span<const uint8_t> record, bool leaveOutFormulas) {
  std::vector<ItemEntry> items;
  if (record.size() < kFirstLine) return items;
  const size_t lines = (record.size() - kFirstLine) / kLineSize;
  auto line = [&](size_t j) { return record.data() + kFirstLine + kLineSize * (j - 1); };
  for (size_t j = 1; j <= lines; ++j) {
    const uint8_t* current = line(j);
    const int16_t number = io::LoadI16(current + kLineNumber);
    if (number == 0) continue;
    ItemEntry entry = EntryOfLine(current);
    if (leaveOutFormulas && IsFormulaCode(entry.code)) continue;
    if (j + 1 <= lines) {
      const uint8_t* next = line(j + 1);
      if (io::LoadI32(next + kLineValue) == 0 && io::LoadI16(next + kLineNumber) == number &&
          io::LoadI32(next + kLineCode) == entry.code) {
        for (size_t k = kFirstContinuedValue; k < entry.further.size(); ++k) {
          entry.further[k] = io::LoadI32(next + kLineFurther + 4 * k);
        }
        ++j;
      }
    }
    if (leaveOutFormulas && entry.value <= kLeftOutValue) continue;
    items.push_back(entry);
  }
  return items;
}

EstimateItems RecordReader::ReadEstimateItems(platform::Platform& os, int16_t devUnit,
                                              int32_t devBlocks, std::string_view key,
                                              bool leaveOutFormulas, int16_t reportMode) {
  std::vector<uint8_t>& record = estimate_;
  std::array<char, 6> key6;
  key6.fill(' ');
  std::memcpy(key6.data(), key.data(), std::min(key.size(), key6.size()));
  std::memcpy(record.data(), key6.data(), key6.size());

  EstimateItems result;
  const ByKeyResult read = ReadByKey(record, 6, devBlocks, devUnit);
  if (read.status == store::kKeyedNotFound) {
    result.status = kEstimateNotFound;
    if (reportMode == kReportByMessageBox) {
      installer::ShowError(os, "Deviz negasit " + std::string(key6.data(), key6.size()) + "!");
    }
    return result;
  }
  if (read.status != store::kKeyedDone) {
    result.status = kEstimateReadError;
    if (reportMode == kReportByMessageBox) installer::ShowError(os, "Eroare citire DEV.DAT!");
    return result;
  }
  const size_t length =
      std::min<size_t>(static_cast<size_t>(std::max<int32_t>(read.length, 0)), record.size());
  result.items =
      ParseArticleLines(std::span<const uint8_t>(record.data(), length), leaveOutFormulas);
  return result;
}

}  // namespace varmex::grupdev
