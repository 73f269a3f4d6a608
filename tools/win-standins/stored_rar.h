// The unpacking tool of the Windows build, for RAR archives (both formats) whose
// entries are stored uncompressed: the unrar.exe the Windows end-to-end tests give the
// setup program, since no full RAR reader is available for the Windows build here. It
// answers as the POSIX tool does (tools/unrar): the same header walk, entry rules,
// exit codes and messages; every entry's data checked against its CRC-32; each file
// unpacked into a new temporary file beside its place and moved over an existing file
// only when whole and sound; an archive that is not a file on disk (a pipe, a device)
// refused without being read. Compressed entries are refused as not supported.
//
//   unrar t ARCHIVE            test every entry
//   unrar e -y ARCHIVE [DEST]  unpack every file into DEST, without the archive's folders
//   unrar x -y ARCHIVE [DEST]  unpack keeping the folders
#pragma once

#include <string>
#include <vector>

#include "tools/unrar/unrar_rules.h"

namespace varmex::tools {

// Runs one command line (the words after the program name).
UnrarOutcome RunStoredUnrar(const std::vector<std::string>& args);

}  // namespace varmex::tools
