// Records of an open file, read and written where they lie: record n of a file of
// records of length L at byte offset L * (n - 1). Every read and write of a record that
// reaches a file passes here (the units' straight path and the block cache's misses
// and write-backs alike), so the counters see each one and a test's fault hook can
// fail it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace varmex::platform {
class File;
}

namespace varmex::io {

// The record length of every block file of the suite: one block.
inline constexpr size_t kBlockBytes = 512;

// Reads up to out.size() bytes of record n of `file` (`got` says how many: fewer at the
// end of the file). `unit` names the file to the fault hook. 0 or an error code.
int ReadFileRecord(platform::File& file, int16_t unit, int64_t n, int recordLength,
                   std::span<uint8_t> out, size_t& got);
// Writes `in` at the start of record n. 0 or an error code (112 when only part of it
// could be put).
int WriteFileRecord(platform::File& file, int16_t unit, int64_t n, int recordLength,
                    std::span<const uint8_t> in);

// Reads up to `count` records from record n on in one call, for reading ahead
// (out.size() == count * recordLength; `got` bytes from its start came from the file).
// The fault hook is asked for each record in turn before the call: a fault of record n
// is the answer, as ReadFileRecord gives it; a fault of a later record ends the extent
// before that record. When the call fails or brings less than the whole of record n,
// record n is read again alone (the hook is not asked twice), so that its answer and
// its bytes are those ReadFileRecord would give.
int ReadFileRecords(platform::File& file, int16_t unit, int64_t n, int recordLength, size_t count,
                    std::span<uint8_t> out, size_t& got);
// Writes `count` records from record n on in one call (in.size() == count *
// recordLength). The fault hook is asked for each record in turn before the call; the
// first record it fails takes its fault as WriteFileRecord would (the first shortBytes
// of it put) and nothing after it is written. `whole` says how many records from n on
// are wholly on the file: all of them when the answer is 0, otherwise record n + whole
// is the one whose write failed.
int WriteFileRecords(platform::File& file, int16_t unit, int64_t n, int recordLength, size_t count,
                     std::span<const uint8_t> in, size_t& whole);

// Counts of record reads and writes that reached a file (successful or not); a call
// that moves several records counts each of them.
struct IoCounters {
  uint64_t reads = 0;
  uint64_t writes = 0;
};
IoCounters& Counters();

// Fault injection for tests: the hook is asked before every read and write that reaches
// a file (for a cached unit: a read that misses, each block it reads ahead and each
// write-back), once for each record of a call that moves several. It may let the
// operation pass (status 0, shortBytes < 0), fail it with a status, or let a write put
// only the first shortBytes bytes and then fail with kErrorDiskFull.
enum class IoOp { kRead, kWrite };
struct IoFault {
  int status = 0;
  int shortBytes = -1;
};
using IoFaultHook = std::function<IoFault(IoOp op, int16_t unit, int64_t record)>;
void SetIoFaultHook(IoFaultHook hook);

}  // namespace varmex::io
