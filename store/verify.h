// Structural check of block files and word-layout files, for support work and for
// tests that look at a file from outside the operations that wrote it.
//
// Both: the file must hold exactly its N blocks, when its size is known. Only the
// blocks the file holds are read, and what is loaded never outgrows the file.
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
#include <vector>

#include "store/block_file.h"
#include "store/keyed_store.h"

namespace varmex::store {

struct VerifyProblem {
  int32_t block = 0;  // 0: the file as a whole
  int unit = 0;       // unit (block files) or word (word layout); 0: the block as a whole
  std::string text;
};

struct VerifyReport {
  int32_t blocks = 0;          // N checked
  int32_t blocksPresent = 0;   // blocks that could be read
  int64_t records = 0;         // first pieces (block files) or last pieces (word layout)
  int64_t pieces = 0;          // live pieces / entries
  int64_t deletedEntries = 0;  // deleted entries, fillers included / removed entries
  int64_t usedUnits = 0;       // units of live pieces (block files) / words of entries
  int64_t freeUnits = 0;       // deleted entries and free ends / words after the data
  std::vector<VerifyProblem> problems;
  bool ok() const { return problems.empty(); }
};

// Reads block b (1..N) into the buffer; 0 on success, else an input/output status.
using BlockReader = std::function<int(int32_t block, std::span<uint8_t, kBlockBytes> out)>;

// Block files. `n` is the block count to check against block 1 (0: take it from
// block 1). `selector` is the hash selector of the file's keys. `fileBytes`: the
// file's size, when known.
VerifyReport VerifyBlockFile(const BlockReader& read, int32_t n,
                             HashSelector selector = HashSelector::kVariableLength,
                             std::optional<uint64_t> fileBytes = std::nullopt);
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

// What is wrong with the size of a block file whose header gives N blocks: "" when it
// holds exactly N, else "its header gives N blocks but the file holds M blocks" (or
// "... M bytes" when the size is not a whole number of blocks). Such a file is damaged:
// the tools that measure or rewrite a file refuse it.
std::string FileSizeProblem(int32_t n, uint64_t fileBytes);

// One line per problem: "block B unit U: text".
std::string FormatProblems(const VerifyReport& report);

}  // namespace varmex::store
