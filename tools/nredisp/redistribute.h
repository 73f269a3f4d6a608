// Re-spreading a block file of the keyed record store over a new number of blocks.
//
// Every record that the store can find in the old file is read whole and written with
// hash selector 5 into a new file of the requested size, built beside the old one
// under a temporary name. Block 1 of the new file is the old header record with the
// new block count; every other block starts zero-filled. Only when every record has
// been placed and the new file is safely on disk does it take the old file's name, in
// one rename: a failure or a crash at any earlier point leaves the old file whole and
// untouched.
//
// A record that cannot be read whole (its last piece is missing, a block cannot be
// read) stops the work before anything is replaced: re-spreading must never lose or
// cut a record.
#pragma once

#include <cstdint>
#include <string>

namespace varmex::tools {

enum RedistributeStatus : int {
  kRedistributed = 0,
  kBadCommandLine = 1,
  kOldFileUnusable = 2,  // missing, unreadable, no valid header, damaged records
  kNewFileFailed = 3,    // the new file cannot be written, or the records do not fit
};

struct RedistributeResult {
  RedistributeStatus status = kRedistributed;
  std::string problem;
  int64_t records = 0;
  int32_t oldBlocks = 0;
  std::string writtenTo;  // the file that holds the result
};

// Rewrites `path` into `newBlocks` blocks. With `replace` the result takes the old
// file's place; otherwise it is left as path + ".nredisp" and the old file stays.
RedistributeResult Redistribute(const std::string& path, int32_t newBlocks, bool replace);

// Name of the file the new layout is built in before it replaces the old one.
std::string TemporaryName(const std::string& path);

}  // namespace varmex::tools
