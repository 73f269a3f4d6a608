// Keyed records of block files (find, read, write, delete) and of the older word
// layout (read, delete). Every call names the open file unit and its block count N.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "io/unit_file.h"
#include "store/block_file.h"

namespace varmex::store {

// Status words of the keyed operations.
enum KeyedStatus : int16_t {
  kKeyedDone = 0,
  kKeyedNotFound = 1,
  kKeyedWriteError = 2,
  kKeyedFull = 3,        // file full, or all blocks visited
  kKeyedIncomplete = 4,  // the record's last piece was not met
  kKeyedReadError = 5,
  kKeyedBufferTooSmall = 7,
  kKeyedPiecePastBlock = 10,
};

// Which function takes a key to its home block. Each is made for one shape of key;
// the suite's programs use kVariableLength for every file. The numbers are the ones
// the suite's support tools take on their command lines.
enum class HashSelector : int16_t {
  kFirstWord = 1,           // a key that is one 32-bit number: |word at 0|
  kWordAndHalfWord = 2,     // 6-byte keys: |word at 0 + 16-bit word at 4|
  kSixHalfWords = 3,        // 12-byte keys of six 16-bit numbers, summed
  kThreeWordsMixed = 4,     // 12-byte keys of three 32-bit numbers, mixed
  kVariableLength = 5,      // keys of any length, mixed word by word
  kFourteenBytesMixed = 6,  // 16-byte keys: 14 bytes mixed, plus the last 16-bit word
  kFirstWordByTen = 100,    // keys numbered in tens: |word at 0| / 10
};

// The selector a number names; nullopt for any other number. Numbers enter only at the
// tools' command lines, which refuse what this refuses.
std::optional<HashSelector> HashSelectorFromNumber(long number);

// Home block 1..N of a key (the first keyLength bytes of `key`); 0 when N <= 0.
int32_t HomeBlock(std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                  HashSelector selector);

struct FindResult {
  int16_t status = 0;
  int32_t block = 0;
  int16_t cell = 0;
  int32_t freeBlock = 0;
  int16_t freeCell = 0;
  int32_t blocksRead = 0;
  bool operator==(const FindResult&) const = default;
};
FindResult KeyedFind(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                     HashSelector selector);

struct ReadResult {
  int16_t status = 0;
  int32_t length = 0;  // bytes delivered, key included
  int32_t block = 0;
  int16_t cell = 0;
  int32_t freeBlock = 0;
  int16_t freeCell = 0;
  bool operator==(const ReadResult&) const = default;
};
// `record` holds the key on entry and receives the record. `capacity` 0 means the
// whole buffer (record.size()); a read never delivers more than the buffer holds.
ReadResult KeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                     HashSelector selector, int32_t capacity = 0);

// Reads block b (1..N) of the file into `out`: 0, or an input/output status.
using BlockReader = std::function<int(int32_t block, std::span<uint8_t, kBlockBytes> out)>;
// Reads block b (1..N) of the file and points `view` at its bytes: 0, or an
// input/output status.
using BlockViewer = std::function<int(int32_t block, std::span<const uint8_t, kBlockBytes>& view)>;

// A record's pieces gathered from its first piece on.
struct Gathered {
  int16_t status = 0;  // kKeyedDone, or 4, 3, 5 or 10 as KeyedRead answers them
  int64_t length = 0;  // bytes gathered, key included (so far, when not done)
  bool whole = false;  // done with every byte of its last piece (not cut at out.size())
};
// Gathers into `out` (at most out.size() bytes) the record of `key` whose first piece is
// `first` in `walk`, which holds block b, the blocksRead-th block of the key's probe
// path: the first piece whole (key and data), then the data of each piece of the key, in this
// block after the first and in the blocks that follow (whose bytes `read` gives), up
// to the last piece, the end of a used area, N blocks read, or a full `out`. The one
// gathering of KeyedRead and of re-spreading.
Gathered GatherPieces(std::span<const uint8_t> key, std::span<const uint8_t, kBlockBytes> walk,
                      int32_t b, const BlockEntry& first, int32_t blocksRead, int32_t n,
                      std::span<uint8_t> out, const BlockViewer& read);

struct WriteResult {
  int16_t status = 0;
  int32_t block = 0;
  int16_t cell = 0;
  int32_t lookupBlocks = 0;  // blocks the look-up of the key read
  bool operator==(const WriteResult&) const = default;
};
// A write whose look-up read more blocks than this found the file crowded to within a
// hair of full (a file of 24-byte records reaches it at about 95% of its room used;
// each insert then reads some hundreds of blocks, a hundred times what it reads at
// half full, and the last ones before the file answers 3 walk the whole file). An
// owner that can enlarge the file does it then.
inline constexpr int32_t kCrowdedWalkBlocks = 256;

// Inserts or replaces the record (its length is record.size(), key included).
WriteResult KeyedWrite(std::span<const uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                       HashSelector selector);

// What a keyed write carries besides its record: the record write it serves, whose
// ticket goes with every block it reads and writes (io/unit_file.h), and room for the
// blocks its look-up keeps for the placement. An owner of many writes keeps one and
// hands it to each, so the room is reused.
struct WriteContext {
  io::WriteTicket serving;
  std::vector<BlockBytes> copies;
};
WriteResult KeyedWrite(std::span<const uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                       HashSelector selector, WriteContext& context);

// A write that landed after a look-up longer than kCrowdedWalkBlocks.
inline bool LandedCrowded(const WriteResult& w) {
  return w.status == kKeyedDone && w.lookupBlocks > kCrowdedWalkBlocks;
}

// Deletes every piece of the key's record. startBlock 0 looks the key up.
int16_t KeyedDelete(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                    HashSelector selector, int32_t startBlock = 0, io::WriteTicket serving = {});

// Status words of the word-layout look-up and deletion.
enum LegacyStatus : int16_t {
  kLegacyDone = 0,
  kLegacyNotFound = 1,
  kLegacyWriteError = 2,
  kLegacyIncomplete = 4,  // read: pieces gathered, last missing; delete: no piece found
};

struct LegacyReadResult {
  int16_t status = 0;
  int32_t length = 0;  // bytes delivered, key included
};
// How many blocks a reader's word-layout look-ups may walk. The suite's reader starts
// at 200 and widens to 5987 for good at its first look-up of a 6-byte key: every later
// look-up of the same reader walks the wider budget, whatever its key. Whoever reads a
// collection keeps one budget for the run and hands it to each look-up.
struct LegacyBudget {
  int32_t blocks = 200;
};

// Word-layout look-up. `capacity` 0 means the whole buffer; gathering stops there
// with status 4.
LegacyReadResult LegacyKeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n,
                                 int16_t file, LegacyBudget& budget, int32_t capacity = 0);
// A look-up on its own, with a budget of its own.
LegacyReadResult LegacyKeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n,
                                 int16_t file, int32_t capacity = 0);

// Marks every piece of the key's word-layout record removed (status 0), 4 when none was
// found, 2 when a block could not be written back.
int16_t RemoveLegacyRecord(std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                           int16_t file);

}  // namespace varmex::store
