// Damaged and hostile archives, each with the answer both unpacking tools must give to
// "t", "e" and "x" alike: the refusal table of their tests and the seeds of the fuzz
// target. Every archive's first entry is "a.txt" or is refused before any data is
// read, so a destination that already holds an "a.txt" must come out unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varmex::tools {

struct HostileArchive {
  std::string label;  // a few words; also the seed's file name
  std::vector<uint8_t> bytes;
  int exitCode;
  std::string reason;  // "ARCHIVE" stands for the archive's path as given
};

std::vector<HostileArchive> HostileArchives();

// `reason` with ARCHIVE replaced by `path`.
std::string ExpectedReason(const HostileArchive& hostile, const std::string& path);

}  // namespace varmex::tools
