// A reader of the RAR archives (format 4) whose entries are stored uncompressed: the
// unpacking tool that the Windows end-to-end tests give the setup program, since no
// full RAR reader is available for the Windows build here. It checks every header
// CRC and every entry's data CRC, so a damaged archive is found as the real tool
// would find it. Compressed entries are reported as not supported.
//
//   unrar t ARCHIVE          test every entry
//   unrar e -y ARCHIVE DEST  unpack every file into DEST, without the archive's folders
//   unrar x -y ARCHIVE DEST  unpack keeping the folders
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varmex::tools {

enum StoredRarExit : int {
  kStoredRarOk = 0,
  kStoredRarUnsupported = 2,  // not a RAR archive, or a compressed/encrypted entry
  kStoredRarDamaged = 3,      // bad header or data CRC, truncated archive
  kStoredRarWriteFailed = 5,  // a file or folder in DEST cannot be written
  kStoredRarOpenFailed = 6,   // the archive cannot be read
  kStoredRarUsage = 7,        // bad command line
  kStoredRarUnsafe = 9,       // an entry would land outside DEST
};

struct StoredEntry {
  std::string name;  // folders separated by '\'
  bool directory = false;
  std::vector<uint8_t> data;
};

struct StoredArchive {
  int status = kStoredRarOk;
  std::string reason;
  std::vector<StoredEntry> entries;
};

// Parses and checks a whole archive held in memory.
StoredArchive ParseStoredRar(std::span<const uint8_t> bytes);

// Runs one command line (the words after the program name); prints a reason on failure.
int RunStoredUnrar(const std::vector<std::string>& args);

}  // namespace varmex::tools
