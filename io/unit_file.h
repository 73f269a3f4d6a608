// Unit-numbered direct-access files. Every data file of the suite is opened on a unit
// number 1..999 with a fixed record length (512 for block files, 10 for CURSVAL.DAT);
// record n lies at byte offset recordLength * (n - 1). Files are opened as existing
// files, for reading and writing, shared with the suite's other programs, through the
// platform the opener hands to the open call.
//
// Every operation returns an input/output status: 0 on success, otherwise a Windows
// error code (the platform's for open, read and write failures; 38 for a record that
// lies wholly or partly beyond the end of the file; 6 for a unit that is not open;
// 87 for a bad unit or record number). Messages show these numbers.
//
// A unit goes straight to its file, or, when cached (io/block_cache.h), through the
// block cache, whose blocks go to and come from the file only on a miss, a write-back
// or a flush. Either way what reaches the file passes through io/record_file.h, whose
// counters see it and whose fault hook can fail it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "io/record_file.h"
#include "platform/platform.h"

namespace varmex::io {

inline constexpr int16_t kFirstUnit = 1;
inline constexpr int16_t kLastUnit = 999;
inline constexpr int16_t kNoUnit = -1;

enum IoStatus : int {
  kIoOk = 0,
  kIoUnitNotOpen = 6,
  kIoPastEnd = 38,
  kIoBadArgument = 87,
  kIoNoFreeUnit = 84,
};

// The lowest unit not connected to a file, or kNoUnit when all 999 are in use.
int16_t FindFreeUnit();

// Opens an existing file on `unit` with the given record length, through `os`: the
// unit keeps the file that platform opened until it is closed.
int OpenUnit(platform::Platform& os, int16_t unit, std::string_view path, int recordLength);

// The same for reading only (a read-only file opens too); every write on the unit
// fails with 5.
int OpenUnitForReading(platform::Platform& os, int16_t unit, std::string_view path,
                       int recordLength);

// The record write of a keyed file that a block read or write serves (io/block_cache.h,
// CountedWrite). A cached unit notes it on the dirty block it reads or writes, so that
// giving that block up later counts the write as failed. The default serves none.
struct WriteTicket {
  uint32_t ticket = 0;
  uint32_t ledger = 0;
};

// Reads record n (from 1) into `out`. `out` may be shorter than the record length
// (the first out.size() bytes of the record are read) but not longer.
int ReadRecord(int16_t unit, int64_t n, std::span<uint8_t> out, WriteTicket serving = {});

// The bytes of record n of a cached unit while the block cache holds them, seen where
// they lie: good until the next call of this layer on any unit, and counted as a read
// the cache served (the ticket noted as ReadRecord notes it). Empty when the unit is not
// cached or the block not held (or given up while its note was made): ReadRecord then.
std::span<const uint8_t> ViewRecord(int16_t unit, int64_t n, WriteTicket serving = {});

// Writes `in` as record n. `in` may be shorter than the record length (only those
// bytes are written) but not longer.
int WriteRecord(int16_t unit, int64_t n, std::span<const uint8_t> in, WriteTicket serving = {});

// Reads the records of a unit in order, up to record `last`, fetching the records
// ahead of the one asked for in calls of up to 32 KiB: one system call for many records
// of a file read from start to end (a cached unit goes through the cache, which reads
// ahead on its own). Read answers exactly as ReadRecord would, bytes and status: a
// record the extent did not bring whole is read alone. Write writes through ReadRecord's
// twin and keeps the records fetched ahead in step with the file.
class RecordPass {
 public:
  RecordPass(int16_t unit, int64_t last);
  int Read(int64_t n, std::span<uint8_t> out);
  int Write(int64_t n, std::span<const uint8_t> in);

 private:
  int16_t unit_;
  int64_t last_;
  int64_t first_ = 0;  // the first record held; records first_ .. first_ + held_ - 1
  int64_t held_ = 0;
  std::vector<uint8_t> window_;
};

// For skipping the holes of sparse files: from record n on, the first record that may
// hold a byte other than zero or that is not wholly inside the file (`first`; every
// record from n to it is zeros), and the first record after it wholly inside a hole
// again (`end`, INT64_MAX when not known). A system that cannot tell, and a cached
// unit, answer {n, INT64_MAX}: nothing is skipped.
struct RecordStretch {
  int64_t first = 0;
  int64_t end = 0;
};
RecordStretch DataRecords(int16_t unit, int64_t n);

// Flushes the unit when it is cached, then closes it. 0, or the status of the first
// cached block that could not be written (io/block_cache.h).
int CloseUnit(int16_t unit);
bool UnitInUse(int16_t unit);

// Closes the unit without writing its cached blocks back: their changes are lost, as
// when the process is killed. For an owner that is about to put the file back as it
// was before it wrote (and for tests that play a kill).
void AbandonUnit(int16_t unit);
void AbandonAllUnits();

// The status of the first write to the unit's file that failed since it was opened (a
// write-back of a cached block included), 0 when none did or the unit is not open.
int FirstWriteFailure(int16_t unit);

// True for the statuses that mean the disk has no room left (112, and 39 on a handle).
bool IsDiskFull(int status);
int RecordLengthOf(int16_t unit);

// Closes every open unit (the orderly stop of the program), flushing cached ones.
void CloseAllUnits();

// Keeps the blocks of an open unit of 512-byte records in the block cache (on), or
// writes them back and goes straight to the file again (off). kIoBadArgument for a
// unit that is not open with 512-byte records.
int SetUnitCached(int16_t unit, bool on);
bool UnitCached(int16_t unit);
// Tells the cache that the cached unit's file is read in passes, so that its blocks
// make way first for those of the other files (io/block_cache.h, passing blocks).
// Nothing for a unit that is not cached.
void SetUnitReadInPasses(int16_t unit);

// Writes the unit's dirty cached blocks to its file (nothing to do for a unit that is
// not cached). 0, or the status of the first block that could not be written since
// the unit's last flush.
int FlushUnit(int16_t unit);
// FlushUnit for every cached unit; the first failure's status, or 0.
int FlushAllUnits();

}  // namespace varmex::io
