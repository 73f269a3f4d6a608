// The write-back cache of 512-byte blocks, and the ledgers that count record writes
// whose blocks reach the file only later.
//
// Which files. A unit is cached only when its owner asks for it (SetUnitCached in
// io/unit_file.h). The migration asks for the files it holds open between the opening
// of its database files and their closing: no other program runs in that stretch, so
// nothing but this process looks at their bytes. Every other file (the support tools'
// files, files shared with other programs, short records such as CURSVAL.DAT's) goes
// straight to the file as before.
//
// How. One cache serves every cached unit: blocks keyed by (unit, block number), the
// least recently used one leaving first (with a second chance: a use marks a block, and
// a marked block at the back of the list goes to the front again, unmarked, instead of
// leaving), within a budget of 64 MB whatever the size of
// the files (blocks, their bookkeeping and the index counted together; a test may set a
// smaller budget). A read of a block that is not there reads the whole block from the
// file and keeps it; a read of one that is, touches no file. A miss right after a miss
// on the block before it (a pass in block order) reads the blocks that follow with it,
// in one call of 2, then 4, ... up to 64 blocks as the pass goes on, never past the end
// of the file as the cache knows it, and keeps those it does not hold already (a held
// block keeps its bytes). The block asked for gets the answer a read of it alone gives:
// when the call fails, that block is read alone. A write changes the kept block and
// marks it dirty; the file gets it when the block leaves the cache or its unit is
// flushed. A flush writes the unit's dirty blocks in block order, each run of
// neighbouring blocks in one call (up to 64 KiB). A dirty block that leaves takes along,
// in the same call, the run of dirty blocks of its unit held on either side of it,
// which stay, clean. The owner
// flushes whenever anything else could look at the files: before an external program
// starts, when a unit is closed, at the end of each pipeline step and when the program
// ends. Written back, every block holds exactly the bytes that the same writes would
// have left without the cache, so the files come out the same byte for byte.
//
// Where faults are injected. The fault hook of io/unit_file.h is asked where a block
// really goes to or comes from the file: on a read that misses the cache, for each
// block it reads ahead, and on each write-back, never on a write that only changes the
// kept copy. A call of several blocks asks about each of them in block order before it
// is made. A read-ahead whose first block the hook fails answers with that status; one
// whose later block it fails stops before that block. A run whose block the hook fails
// is written up to that block, and that block takes the fault as a write-back of it
// alone would, then is retried alone; the blocks after it go on as a run of their own,
// so that the hook is asked in the same order as when each block is written alone. A
// test that fails the k-th write therefore fails a write-back, as a failing disk would.
//
// A write-back that fails. The caller whose write put a record into that block was told
// "done" long before. What the failure means for it:
//   - The block is written once more at once, alone (also when it failed in a run); a
//     failure that passes (a retried write succeeds) loses nothing.
//   - When the second write fails too, the block is given up: the cache forgets it, so
//     that from then on every operation sees the file's own bytes, as it would without
//     the cache after a failed write, and the unit's next flush answers with the
//     status of that write.
//   - Every record write that the lost bytes carried is counted as a failed write in
//     its ledger. A record write is a CountedWrite while the store places the record;
//     the store hands its ticket to every block read and write of the placement, and
//     the cache notes it on each dirty block it writes or reads that way (a record
//     placed further along its probe path depends on the blocks before it being as
//     the cache saw them). A block keeps 8 notes, and borrows up to 24 more from a
//     pool (a share of the budget); when it can note no more, it is written back
//     early, which empties its notes. Giving a block up counts, once
//     each, every ticket noted on it since it was last written. The owner reads the
//     ledger after its flush, so the counts it reports include these failures: a
//     record whose block never reached the disk is never reported as written.
//   - Pieces of the same records in other blocks may have reached the file: a record
//     can be left without its first or its last piece, as after a failed write without
//     the cache. Nothing beyond a journal could keep the file sound when a write-back
//     is lost after later writes were placed on the strength of it.
// A read that misses and fails answers with its status at once, as without the cache.
//
// Passing blocks. A file that its owner reads in passes (each block once a pass, the
// whole file more than the cache holds) would push out the blocks that are used again
// and again. Its blocks go on a recency list of their own: they fill whatever room is
// free, but when room is needed the least recent passing block leaves first, as long as
// more than a sixteenth of the cache is passing blocks; then the least recent kept one.
// Which list a block is on changes only which block leaves when, never a byte.
//
// The cache is process-wide and single-threaded, like the units it serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/record_file.h"
#include "io/unit_file.h"

namespace varmex::io {

inline constexpr size_t kDefaultCacheBudget = size_t{64} << 20;
// The last block of a file the cache keeps; blocks past it go straight to the file.
inline constexpr int64_t kMostCachedBlock = INT32_MAX;

// The budget of the cache in bytes (blocks, bookkeeping and index together). Setting it
// writes back and forgets every cached block first. A budget of 0 turns the cache off:
// units asked to be cached go straight to their files (for comparing the two paths).
void SetCacheBudget(size_t bytes);
size_t CacheBudget();

struct CacheStats {
  uint64_t hits = 0;        // reads and writes served without the file
  uint64_t misses = 0;      // blocks read from the file into the cache when asked for
  uint64_t readAhead = 0;   // blocks read from the file into the cache with a miss before them
  uint64_t writeBacks = 0;  // dirty blocks written to the file
  uint64_t givenUp = 0;     // dirty blocks whose write-back failed twice
  size_t blocks = 0;        // blocks held now
  size_t peakBytes = 0;     // most memory held since the budget was last set
};
const CacheStats& CurrentCacheStats();

// Counts the record writes of one kind whose blocks could not be written: those that
// failed at once (CountedWrite::Failed) and those whose blocks were given up later.
// Flush the units written before reading the count, and before the ledger goes: a
// block given up after that is counted nowhere.
class WriteLedger {
 public:
  WriteLedger();
  ~WriteLedger();
  WriteLedger(const WriteLedger&) = delete;
  WriteLedger& operator=(const WriteLedger&) = delete;

  int32_t failed() const { return failed_; }

 private:
  friend struct LedgerRegistry;
  friend class CountedWrite;
  int32_t failed_ = 0;
  uint32_t slot_ = 0;
};

// One record write counted in a ledger. Its ticket goes with every block read and write
// that places the record (io/unit_file.h).
class CountedWrite {
 public:
  explicit CountedWrite(WriteLedger& ledger);
  CountedWrite(const CountedWrite&) = delete;
  CountedWrite& operator=(const CountedWrite&) = delete;

  WriteTicket ticket() const { return serving_; }
  // The write answered with a failure status: counted now, and never again.
  void Failed();

 private:
  WriteTicket serving_;
};

// What the units of io/unit_file.h ask of the cache: reads and writes of cached units,
// flushing and forgetting a unit's blocks. The cache reads and writes the file beneath
// a unit itself, through io/record_file.h.
namespace cache {

// The file beneath `unit`, from the moment the unit is cached (not owned), and its size
// then (UINT64_MAX: not known), beyond which the cache does not read ahead.
void Attach(int16_t unit, platform::File* file, uint64_t size);
// The status of the first write to the unit's file that failed since it was attached.
int FirstWriteFailure(int16_t unit);
// Marks the unit's blocks as passing (on) from now on, or kept (off, as at Attach).
void SetPassing(int16_t unit, bool on);

int Read(int16_t unit, int64_t block, std::span<uint8_t> out, WriteTicket serving);
int Write(int16_t unit, int64_t block, std::span<const uint8_t> in, WriteTicket serving);
// The held block's bytes where they lie (io/unit_file.h, ViewRecord); empty when not held.
std::span<const uint8_t> View(int16_t unit, int64_t block, WriteTicket serving);
// Writes the unit's dirty blocks in block order. 0, or the status of the first write
// given up since the unit's last flush (at eviction or now).
int Flush(int16_t unit);
// Forgets the unit's blocks and its file (flush first: dirty ones are lost).
void Forget(int16_t unit);

}  // namespace cache

}  // namespace varmex::io
