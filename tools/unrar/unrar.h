// The unpacking tool of the POSIX build: tests and unpacks RAR archives through
// libarchive. It answers the command lines the setup program builds:
//
//   unrar t ARCHIVE                 test every entry (its data and checksum)
//   unrar e -y ARCHIVE [DEST]       unpack every file into DEST, without folders
//   unrar x -y ARCHIVE [DEST]       unpack keeping the archive's folders
//
// Existing files are overwritten. Names in DEST are matched without regard to case,
// as the rest of the system does, so an entry "DEV.DAT" replaces an existing
// "dev.dat" instead of making a second file.
#pragma once

#include <string>
#include <vector>

namespace varmex::tools {

// Exit codes (also listed in the usage text).
enum UnrarExit : int {
  kUnrarOk = 0,
  kUnrarNotAnArchive = 2,  // not a RAR archive, or a feature the reader lacks
  kUnrarDamaged = 3,       // bad checksum, bad header, truncated data
  kUnrarWriteFailed = 5,   // the destination or a file in it cannot be written
  kUnrarOpenFailed = 6,    // the archive is missing or cannot be read
  kUnrarUsage = 7,         // bad command line
  kUnrarUnsafeEntry = 9,   // an entry would land outside DEST, or is a link
};

struct UnrarOutcome {
  int exitCode = kUnrarOk;
  std::string reason;  // one line, empty on success
};

// Runs one command; `args` are the words after the program name.
UnrarOutcome RunUnrar(const std::vector<std::string>& args);

// The text printed for a bad command line.
extern const char* const kUnrarUsageText;

}  // namespace varmex::tools
