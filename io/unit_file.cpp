#include "io/unit_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "io/block_cache.h"
#include "io/record_file.h"
#include "platform/platform.h"

namespace varmex::io {
namespace {

struct Unit {
  std::unique_ptr<platform::File> file;
  platform::Platform* os = nullptr;  // the platform that opened it
  std::string path;
  int recordLength = 0;
  bool cached = false;
  // The status of the first write straight to the file that failed since the unit was
  // opened (the cache keeps its own for its write-backs).
  int firstWriteFailure = 0;
};

// Record n of the unit goes through the block cache (past the last block the cache
// keeps, straight to the file).
bool ThroughCache(const Unit& slot, int64_t n) { return slot.cached && n <= kMostCachedBlock; }

// The process's table of units, as a process has one table of file descriptors: a unit
// number names an open file to every caller, whoever opened it.
std::array<Unit, kLastUnit + 1>& Units() {
  static std::array<Unit, kLastUnit + 1> units;
  return units;
}

bool ValidUnit(int16_t unit) { return unit >= kFirstUnit && unit <= kLastUnit; }

}  // namespace

int16_t FindFreeUnit() {
  for (int16_t u = kFirstUnit; u <= kLastUnit; ++u) {
    if (!Units()[u].file) return u;
  }
  return kNoUnit;
}

namespace {

int Open(platform::Platform& os, int16_t unit, std::string_view path, int recordLength,
         bool writable) {
  if (!ValidUnit(unit) || recordLength <= 0) return kIoBadArgument;
  CloseUnit(unit);
  Unit& slot = Units()[unit];
  uint32_t error = 0;
  slot.file = writable ? os.OpenExistingFile(path, error) : os.OpenFileForReading(path, error);
  if (!slot.file)
    return error != 0 ? static_cast<int>(error) : static_cast<int>(platform::kErrorFileNotFound);
  slot.os = &os;
  slot.recordLength = recordLength;
  slot.path = path;
  return kIoOk;
}

}  // namespace

int OpenUnit(platform::Platform& os, int16_t unit, std::string_view path, int recordLength) {
  return Open(os, unit, path, recordLength, true);
}

int OpenUnitForReading(platform::Platform& os, int16_t unit, std::string_view path,
                       int recordLength) {
  return Open(os, unit, path, recordLength, false);
}

int ReadRecord(int16_t unit, int64_t n, std::span<uint8_t> out, WriteTicket serving) {
  if (!ValidUnit(unit)) return kIoBadArgument;
  Unit& slot = Units()[unit];
  if (!slot.file) return kIoUnitNotOpen;
  if (n < 1 || out.size() > static_cast<size_t>(slot.recordLength)) return kIoBadArgument;
  if (ThroughCache(slot, n)) return cache::Read(unit, n, out, serving);
  size_t got = 0;
  if (const int status = ReadFileRecord(*slot.file, unit, n, slot.recordLength, out, got);
      status != kIoOk)
    return status;
  return got < out.size() ? static_cast<int>(kIoPastEnd) : static_cast<int>(kIoOk);
}

std::span<const uint8_t> ViewRecord(int16_t unit, int64_t n, WriteTicket serving) {
  if (!ValidUnit(unit) || n < 1) return {};
  const Unit& slot = Units()[unit];
  if (!slot.file || !ThroughCache(slot, n)) return {};
  return cache::View(unit, n, serving);
}

RecordPass::RecordPass(int16_t unit, int64_t last) : unit_(unit), last_(last) {}

int RecordPass::Read(int64_t n, std::span<uint8_t> out) {
  constexpr size_t kWindowBytes = size_t{32} << 10;
  if (n >= first_ && n < first_ + held_) {
    const size_t length = static_cast<size_t>(RecordLengthOf(unit_));
    if (out.size() > length) return kIoBadArgument;
    std::memcpy(out.data(), window_.data() + static_cast<size_t>(n - first_) * length, out.size());
    return kIoOk;
  }
  held_ = 0;
  if (!ValidUnit(unit_) || n < 1 || n >= last_) return ReadRecord(unit_, n, out);
  Unit& slot = Units()[unit_];
  if (!slot.file || slot.cached || out.size() > static_cast<size_t>(slot.recordLength)) {
    return ReadRecord(unit_, n, out);
  }
  const auto length = static_cast<size_t>(slot.recordLength);
  const size_t count = std::min<size_t>(std::max<size_t>(kWindowBytes / length, 1),
                                        static_cast<size_t>(last_ - n + 1));
  window_.resize(count * length);
  size_t got = 0;
  if (const int status =
          ReadFileRecords(*slot.file, unit_, n, slot.recordLength, count, window_, got);
      status != kIoOk) {
    return status;
  }
  if (got < out.size()) return kIoPastEnd;
  first_ = n;
  held_ = static_cast<int64_t>(got / length);
  std::memcpy(out.data(), window_.data(), out.size());
  return kIoOk;
}

int RecordPass::Write(int64_t n, std::span<const uint8_t> in) {
  const int status = WriteRecord(unit_, n, in);
  if (n >= first_ && n < first_ + held_) {
    if (status == kIoOk) {
      const size_t length = static_cast<size_t>(RecordLengthOf(unit_));
      std::memcpy(window_.data() + static_cast<size_t>(n - first_) * length, in.data(), in.size());
    } else {
      held_ = 0;  // what the file holds now is not known: read it again
    }
  }
  return status;
}

RecordStretch DataRecords(int16_t unit, int64_t n) {
  const RecordStretch all{n, INT64_MAX};
  if (!ValidUnit(unit) || n < 1) return all;
  Unit& slot = Units()[unit];
  if (!slot.file || slot.cached) return all;
  const auto length = static_cast<uint64_t>(slot.recordLength);
  const auto [start, end] = slot.file->DataExtent(static_cast<uint64_t>(n - 1) * length);
  if (end == UINT64_MAX || start / length + 1 > static_cast<uint64_t>(INT64_MAX / 2)) return all;
  const auto first = static_cast<int64_t>(start / length) + 1;
  const auto after = static_cast<int64_t>((end + length - 1) / length) + 1;
  return {std::max(first, n), std::max(after, first)};
}

int WriteRecord(int16_t unit, int64_t n, std::span<const uint8_t> in, WriteTicket serving) {
  if (!ValidUnit(unit)) return kIoBadArgument;
  Unit& slot = Units()[unit];
  if (!slot.file) return kIoUnitNotOpen;
  if (n < 1 || in.size() > static_cast<size_t>(slot.recordLength)) return kIoBadArgument;
  if (ThroughCache(slot, n)) return cache::Write(unit, n, in, serving);
  const int status = WriteFileRecord(*slot.file, unit, n, slot.recordLength, in);
  if (status != kIoOk && slot.firstWriteFailure == kIoOk) slot.firstWriteFailure = status;
  return status;
}

int CloseUnit(int16_t unit) {
  if (!ValidUnit(unit)) return kIoOk;
  const int status = FlushUnit(unit);
  if (Units()[unit].cached) cache::Forget(unit);
  Units()[unit] = Unit{};
  return status;
}

void AbandonUnit(int16_t unit) {
  if (!ValidUnit(unit)) return;
  if (Units()[unit].cached) cache::Forget(unit);
  Units()[unit] = Unit{};
}

void AbandonAllUnits() {
  for (int16_t u = kFirstUnit; u <= kLastUnit; ++u) AbandonUnit(u);
}

int FirstWriteFailure(int16_t unit) {
  if (!UnitInUse(unit)) return kIoOk;
  const int straight = Units()[unit].firstWriteFailure;
  if (straight != kIoOk || !Units()[unit].cached) return straight;
  return cache::FirstWriteFailure(unit);
}

bool IsDiskFull(int status) {
  return status == platform::kErrorDiskFull || status == platform::kErrorHandleDiskFull;
}

bool UnitInUse(int16_t unit) { return ValidUnit(unit) && Units()[unit].file != nullptr; }

int RecordLengthOf(int16_t unit) { return ValidUnit(unit) ? Units()[unit].recordLength : 0; }

void CloseAllUnits() {
  for (int16_t u = kFirstUnit; u <= kLastUnit; ++u) CloseUnit(u);
}

int SetUnitCached(int16_t unit, bool on) {
  if (!UnitInUse(unit) || RecordLengthOf(unit) != static_cast<int>(kBlockBytes))
    return kIoBadArgument;
  Unit& slot = Units()[unit];
  if (on || !slot.cached) {
    const bool wasCached = slot.cached;
    slot.cached = on && CacheBudget() != 0;
    if (slot.cached && !wasCached)
      cache::Attach(unit, slot.file.get(), slot.os->FileSize(slot.path).value_or(UINT64_MAX));
    return kIoOk;
  }
  const int status = cache::Flush(unit);
  cache::Forget(unit);
  slot.cached = false;
  return status;
}

bool UnitCached(int16_t unit) { return ValidUnit(unit) && Units()[unit].cached; }

void SetUnitReadInPasses(int16_t unit) {
  if (UnitCached(unit)) cache::SetPassing(unit, true);
}

int FlushUnit(int16_t unit) { return UnitCached(unit) ? cache::Flush(unit) : kIoOk; }

int FlushAllUnits() {
  int first = kIoOk;
  for (int16_t u = kFirstUnit; u <= kLastUnit; ++u) {
    const int status = FlushUnit(u);
    if (first == kIoOk) first = status;
  }
  return first;
}

}  // namespace varmex::io
