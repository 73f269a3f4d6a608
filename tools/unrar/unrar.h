// The unpacking tool of the POSIX build: tests and unpacks RAR archives through
// libarchive. It answers the command lines the setup program builds:
//
//   unrar t ARCHIVE                 test every entry (its data and checksum)
//   unrar e -y ARCHIVE [DEST]       unpack every file into DEST, without folders
//   unrar x -y ARCHIVE [DEST]       unpack keeping the archive's folders
//
// The archive's headers are walked and every entry judged (unrar_rules.h) before
// anything is written; an archive that is not a regular file is refused without being
// read. Each file is unpacked into a new temporary file beside its place and renamed
// over an existing file only when its size and data checksum are right, so a failure
// leaves the old file as it was. Names in DEST are matched without regard to case, as
// the rest of the system does, so an entry "DEV.DAT" replaces an existing "dev.dat"
// instead of making a second file.
#pragma once

#include <string>
#include <vector>

#include "tools/unrar/unrar_rules.h"

namespace varmex::tools {

// Runs one command; `args` are the words after the program name.
UnrarOutcome RunUnrar(const std::vector<std::string>& args);

}  // namespace varmex::tools
