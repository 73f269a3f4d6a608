// Structural check of block files and word-layout files, for support work and for
// tests that look at a file from outside the operations that wrote it.
//
// Both: the file must hold exactly its N blocks, when its size is known. Only the
// blocks the file holds are read, and what is loaded never outgrows the file. The
// streaming checks (StreamVerify...) give the same answers in the same order, with
// memory that grows with the records the file holds, not with its blocks, and skip
// the holes of sparse files (a hole is zeros: a block with nothing in it).
// Block files: block 1 must hold a valid header whose block count is the N checked;
// no entry may run past its block; a live piece needs a key length of 1..31 and a body
// that holds its key; every first piece must lead, along its probe path, to a last
// piece; every middle or last piece must belong to a first piece; and every record
// must be the one the look-up of its key finds.
// Word-layout files: length words in range and no entry running past its block.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "store/block_file.h"
#include "store/keyed_store.h"

namespace varmex::store {

struct VerifyProblem {
  int32_t block = 0;  // 0: the file as a whole
  int cell = 0;       // cell (block files) or word (word layout); 0: the block as a whole
  std::string text;
};

struct VerifyReport {
  int32_t blocks = 0;          // N checked
  int32_t blocksPresent = 0;   // blocks that could be read
  int64_t records = 0;         // first pieces (block files) or last pieces (word layout)
  int64_t pieces = 0;          // live pieces / entries
  int64_t deletedEntries = 0;  // deleted entries, fillers included / removed entries
  int64_t usedCells = 0;       // cells of live pieces (block files) / words of entries
  int64_t freeCells = 0;       // deleted entries and free ends / words after the data
  std::vector<VerifyProblem> problems;
  int64_t problemsFound = 0;  // problems found (the streaming checks keep only the count)
  bool ok() const { return problems.empty() && problemsFound == 0; }
};

// Block files read through a BlockReader (store/keyed_store.h).

// Block files. `n` is the block count to check against block 1 (0: take it from
// block 1). `selector` is the hash selector of the file's keys. `fileBytes`: the
// file's size, when known.
VerifyReport VerifyBlockFile(const BlockReader& read, int32_t n,
                             HashSelector selector = HashSelector::kVariableLength,
                             std::optional<uint64_t> fileBytes = std::nullopt);
// (On a unit the streaming check is made, its problems gathered into the report.)
VerifyReport VerifyBlockFileOnUnit(int16_t unit, int32_t n,
                                   HashSelector selector = HashSelector::kVariableLength,
                                   std::optional<uint64_t> fileBytes = std::nullopt);
VerifyReport VerifyBlockImage(std::span<const uint8_t> image, int32_t n,
                              HashSelector selector = HashSelector::kVariableLength);

// Word-layout files with keys of `keyLength` bytes (even, 4 or more).
VerifyReport VerifyLegacyFile(const BlockReader& read, int32_t n, int keyLength,
                              std::optional<uint64_t> fileBytes = std::nullopt);
VerifyReport VerifyLegacyImage(std::span<const uint8_t> image, int32_t n, int keyLength);

// A reader over the bytes of a whole file (blocks past its end fail with status 38).
BlockReader ImageReader(std::span<const uint8_t> image);

// ---- Streaming -----------------------------------------------------------------------

// Where a pass over a file takes its blocks from.
struct BlockSource {
  BlockReader read;
  // From block b on: the first block that may hold a byte other than zero or that lies
  // past the end of the file (every block before it is zeros, a hole of a sparse file),
  // and the first block after it that is a hole again (INT64_MAX when not known).
  // Empty: every block is read.
  std::function<std::pair<int64_t, int64_t>(int64_t b)> data;
  // Told now and then how far a pass has come: the block reached, of the last one.
  std::function<void(int32_t block, int32_t last)> progress;
};

// The blocks of the file open on `unit` (io::ReadRecord, io::DataRecords).
BlockSource UnitSource(int16_t unit);
// The blocks of a whole file's bytes, every block of zeros taken as a hole.
BlockSource ImageSource(std::span<const uint8_t> image);

// One step of a pass: a block read, or a stretch of holes (zeros, not read).
struct ScannedBlocks {
  int32_t from = 0;  // the block read, or the first block of the stretch
  int32_t to = 0;    // the same block, or the last block of the stretch
  bool hole = false;
  int status = 0;                     // of the read (0 for holes)
  const BlockBytes* bytes = nullptr;  // what was read (zeros for holes)
};
// One pass over blocks `first` to `last` of the source, in order, a step at a time;
// the step may end the pass by answering false (ScanBlocks then answers false too).
using ScanStep = std::function<bool(const ScannedBlocks&)>;
bool ScanBlocks(const BlockSource& source, int32_t first, int32_t last, const ScanStep& step);

// The blocks where a look-up (or the walk of a record's pieces) ends: a block with a
// free end, one that cannot be read, one past the `walked` blocks read. Kept as the
// runs of the other blocks (full ones), which only full blocks make longer.
class StopMap {
 public:
  StopMap(int32_t n, int32_t walked) : n_(n), walked_(walked) {}
  // Block b (given in increasing order) was read and has no free end.
  void AddFull(int32_t b);
  // Block b (given in increasing order) could not be read.
  void AddUnreadable(int32_t b) { unreadable_.push_back(b); }
  // The first block from `home` on, round the file, where a look-up ends; none when it
  // goes round all N blocks.
  std::optional<int32_t> FirstStop(int32_t home) const;
  bool Unreadable(int32_t b) const;
  void SetWalked(int32_t walked) { walked_ = walked; }

 private:
  int32_t n_;
  int32_t walked_;
  std::vector<std::pair<int32_t, int32_t>> full_;  // runs [first, last]
  std::vector<int32_t> unreadable_;
};

// Receives each problem as it is found, in the order the report of the same check
// would list them.
using ProblemSink = std::function<void(const VerifyProblem&)>;

// VerifyBlockFile and VerifyLegacyFile, streaming: the same answers, each problem
// handed to `sink` (when given) instead of kept; report.problemsFound counts them.
// Without a sink only the counts are made, which can take fewer passes.
VerifyReport StreamVerifyBlockFile(const BlockSource& source, int32_t n,
                                   HashSelector selector = HashSelector::kVariableLength,
                                   std::optional<uint64_t> fileBytes = std::nullopt,
                                   const ProblemSink* sink = nullptr);
VerifyReport StreamVerifyLegacyFile(const BlockSource& source, int32_t n, int keyLength,
                                    std::optional<uint64_t> fileBytes = std::nullopt,
                                    const ProblemSink* sink = nullptr);

// What is wrong with the size of a block file whose header gives N blocks: "" when it
// holds exactly N, else "its header gives N blocks but the file holds M blocks" (or
// "... M bytes" when the size is not a whole number of blocks). Such a file is damaged:
// the tools that measure or rewrite a file refuse it.
std::string FileSizeProblem(int32_t n, uint64_t fileBytes);

// One line per problem: "block B unit U: text", U being its cell (or word).
std::string FormatProblems(const VerifyReport& report);

}  // namespace varmex::store
