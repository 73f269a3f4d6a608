// Re-spreading a block file over a new number of blocks, and the walk it is made of:
// the records of a block file as the store finds them, in block order.
//
// The walk. Every first piece of a record is visited in block order (blocks 1 to N,
// entries in chain order within a block; block 1 holds only the header, which is
// passed by), and for each the walk tells what KeyedRead of its key makes of it,
// without a look-up per record: it reads the file once to learn which blocks end a
// look-up early (a free end, a block that cannot be read) and which keys have more
// than one first piece, then reads it again and gathers each record from its first
// piece as KeyedRead gathers it. Its reads grow with the file, not with the length of
// the probe paths, and it never reads a block past the ones the file holds; the holes
// of a sparse file are not read at all. Memory: a few bytes per record and per run of
// full blocks, none per block.
//
// Re-spreading. Redistribute builds a new file of the requested block count beside
// the old one and re-places into it, with KeyedWrite (hash selector 5), every record
// the store finds in the old file, in the walk's order: by the block, then the cell,
// of each record's first piece. Block 1 is carried over whole with only the block
// count changed, so whatever the file's owner keeps there (lcalcdev.dat's last GRUPDEV
// number at byte 22) stays. The new file gets a name no one can foresee, made
// exclusively, and takes the old file's name in one rename only once every record is
// in it and it is on the disk; a result beside the file takes the access rights of the
// file it replaces, or a new file's usual ones. On any failure (a record that cannot be read whole
// or placed, a full disk, a file busy with another run) the old file is left untouched and the new
// one removed. A file that is a symbolic link keeps its link: the file it leads to gets the new
// contents. A run holds the file exclusively from start to end, and removes the temporary files a
// run killed on the same file left behind.
//
// Callers close their own unit on the file before the call and open it afresh after
// it, with the new block count from block 1.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "store/keyed_store.h"
#include "store/verify.h"

namespace varmex::store {

// ---- The walk ---------------------------------------------------------------------

// A first piece the walk meets, and what the look-up of its key makes of it.
struct RecordSighting {
  int32_t block = 0;
  int cell = 0;
  std::span<const uint8_t> key;  // empty when the key would run past the block
  // Where the look-up of the key finds another first piece of it, 0 when it finds
  // this one or none.
  int32_t otherBlock = 0;
  int otherCell = 0;
  // The status KeyedRead of the key answers, when the look-up does not find another
  // piece: kKeyedDone with `record`, or why not (1 and 5 from the look-up; 3, 4, 5 and
  // 10 from the gathering of the pieces).
  int16_t status = 0;
  std::span<const uint8_t> record;  // key and data, as KeyedRead delivers them
  // False when the record fills the largest buffer a read can have (32767 bytes)
  // without its last piece: KeyedRead delivers it cut there.
  bool whole = true;
};

// What the walk reports, in block order. Each call may stop the walk by answering false.
class RecordVisitor {
 public:
  virtual ~RecordVisitor() = default;
  // A block that cannot be read (`status`: the input/output status).
  virtual bool OnUnreadableBlock(int32_t block, int status) = 0;
  // An entry that would cross the end of its block: the walk of the block ends there.
  virtual bool OnDamagedEntry(int32_t block, int cell) = 0;
  virtual bool OnRecord(const RecordSighting& sighting) = 0;
};

// Walks the block file open on `unit`, whose header gives `n` blocks, of which the
// file holds the first `held` (blocks past them are taken as unreadable and never
// read), its keys placed by `selector`. Returns false when the visitor stopped the walk.
bool WalkRecords(int16_t unit, int32_t n, int32_t held, RecordVisitor& visitor,
                 HashSelector selector = HashSelector::kVariableLength);
bool WalkRecords(const BlockSource& source, int32_t n, int32_t held, RecordVisitor& visitor,
                 HashSelector selector = HashSelector::kVariableLength);

// ---- Re-spreading -------------------------------------------------------------------

enum class RedistributeStatus : int {
  kDone = 0,
  kBadRequest = 1,     // a new block count below 2
  kFileUnusable = 2,   // missing, not a block file, of a size its header disagrees
                       // with, damaged entries, a record that cannot be read whole
  kNewFileFailed = 3,  // the new file cannot be made, written, flushed or put in the
                       // old one's place, or the records do not fit its blocks
  kBusy = 4,           // another run holds the file
};

struct RedistributeResult {
  RedistributeStatus status = RedistributeStatus::kDone;
  std::string problem;       // what went wrong, in a few words naming the file
  uint32_t systemError = 0;  // the error code behind a failure, when there is one
                             // (112: the disk is full)
  int64_t records = 0;       // records re-placed
  int32_t oldBlocks = 0;
  std::string writtenTo;  // the file that holds the result
};

// Re-spreads the block file at `path` over `newBlocks` blocks (see the top of this
// file), every file reached through `os`. With an empty `resultPath` the result replaces the file;
// otherwise it is left under `resultPath` (in the same folder, replacing what was there) and the
// file stays.
//
// `caching` kCached keeps both files' blocks in the io layer's block cache for the run
// (for an owner whose files no other program sees meanwhile); the new file is written
// back whole and checked before it takes the old one's place. kCachedInHomeOrder does
// the same and places the records in the order of their home blocks in the new file
// instead of the walk's (in slices of the new file, each holding about 4 MB of records
// and taking one more reading of the old file), so that the new file is written from
// its first block to its last rather than at random: the same records, at places that
// may differ.
//
// `progress`, when given, is told now and then how far each pass over the old file has
// come (BlockSource::progress).
enum class RedistributeCaching : uint8_t { kStraight, kCached, kCachedInHomeOrder };
RedistributeResult Redistribute(
    platform::Platform& os, std::string_view path, int32_t newBlocks,
    std::string_view resultPath = {}, RedistributeCaching caching = RedistributeCaching::kStraight,
    const std::function<void(int32_t block, int32_t last)>& progress = {});

// The name prefix of the temporary files a run on `path` makes: "<path>.nredisp-",
// followed by 12 random characters a-z and 0-9.
std::string TemporaryPrefix(std::string_view path);
// True for the name of a re-spreading's new file: "<name>.nredisp-" followed by 12
// characters a-z, 0-9 (what a killed run leaves beside its file).
bool IsRespreadingTemporary(std::string_view name);

}  // namespace varmex::store
