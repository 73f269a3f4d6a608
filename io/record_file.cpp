// Record reads and writes on an open file (declared in record_file.h).
#include "io/record_file.h"

#include <algorithm>
#include <utility>

#include "platform/platform.h"

namespace varmex::io {
namespace {

// The hook and the counters are the test's view of every record that reaches a file;
// they live for the process, as the files they watch are the process's.
IoFaultHook& Hook() {
  static IoFaultHook hook;
  return hook;
}

uint64_t OffsetOf(int64_t n, int recordLength) {
  return static_cast<uint64_t>(n - 1) * static_cast<uint64_t>(recordLength);
}

}  // namespace

int ReadFileRecord(platform::File& file, int16_t unit, int64_t n, int recordLength,
                   std::span<uint8_t> out, size_t& got) {
  got = 0;
  ++Counters().reads;
  if (Hook()) {
    const IoFault fault = Hook()(IoOp::kRead, unit, n);
    if (fault.status != 0) return fault.status;
  }
  return static_cast<int>(file.ReadAt(OffsetOf(n, recordLength), out, got));
}

int WriteFileRecord(platform::File& file, int16_t unit, int64_t n, int recordLength,
                    std::span<const uint8_t> in) {
  ++Counters().writes;
  const uint64_t offset = OffsetOf(n, recordLength);
  if (Hook()) {
    const IoFault fault = Hook()(IoOp::kWrite, unit, n);
    if (fault.shortBytes >= 0) {
      size_t put = 0;
      const size_t part = std::min(in.size(), static_cast<size_t>(fault.shortBytes));
      file.WriteAt(offset, in.first(part), put);
      return fault.status != 0 ? fault.status : static_cast<int>(platform::kErrorDiskFull);
    }
    if (fault.status != 0) return fault.status;
  }
  size_t put = 0;
  const uint32_t error = file.WriteAt(offset, in, put);
  if (error != 0) return static_cast<int>(error);
  if (put < in.size()) return platform::kErrorDiskFull;
  return 0;
}

int ReadFileRecords(platform::File& file, int16_t unit, int64_t n, int recordLength, size_t count,
                    std::span<uint8_t> out, size_t& got) {
  got = 0;
  const auto length = static_cast<size_t>(recordLength);
  size_t asked = 0;
  while (asked < count) {
    ++Counters().reads;
    if (Hook()) {
      const IoFault fault = Hook()(IoOp::kRead, unit, n + static_cast<int64_t>(asked));
      if (fault.status != 0) {
        if (asked == 0) return fault.status;
        break;
      }
    }
    ++asked;
  }
  const uint64_t offset = OffsetOf(n, recordLength);
  const uint32_t error = file.ReadAt(offset, out.first(asked * length), got);
  // A call that ends at the end of the file brings what a read of record n alone would
  // bring; a call that fails reads record n alone again (its fault already asked).
  if (error == 0) return 0;
  return static_cast<int>(file.ReadAt(offset, out.first(length), got));
}

int WriteFileRecords(platform::File& file, int16_t unit, int64_t n, int recordLength, size_t count,
                     std::span<const uint8_t> in, size_t& whole) {
  whole = 0;
  const auto length = static_cast<size_t>(recordLength);
  IoFault fault;
  size_t asked = 0;
  while (asked < count) {
    ++Counters().writes;
    if (Hook()) {
      fault = Hook()(IoOp::kWrite, unit, n + static_cast<int64_t>(asked));
      if (fault.status != 0 || fault.shortBytes >= 0) break;
    }
    ++asked;
  }
  // The records that passed, and the first shortBytes of the one that did not.
  size_t bytes = asked * length;
  if (asked < count && fault.shortBytes >= 0)
    bytes += std::min(length, static_cast<size_t>(fault.shortBytes));
  size_t put = 0;
  const uint32_t error =
      bytes == 0 ? 0 : file.WriteAt(OffsetOf(n, recordLength), in.first(bytes), put);
  whole = std::min(asked, put / length);
  if (whole == count) return 0;
  if (whole < asked)
    return error != 0 ? static_cast<int>(error) : static_cast<int>(platform::kErrorDiskFull);
  return fault.status != 0 ? fault.status : static_cast<int>(platform::kErrorDiskFull);
}

IoCounters& Counters() {
  static IoCounters counters;
  return counters;
}

void SetIoFaultHook(IoFaultHook hook) { Hook() = std::move(hook); }

}  // namespace varmex::io
