// The demo installation medium: the suite's ten archives with small placeholder
// contents, erp.rar carrying the stand-in shortcut maker. Used by the demo and by the
// end-to-end tests, which leave archives out or add entries to provoke each case.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/rarwrite/rar_writer.h"

namespace varmex::tools {

// The ten archive names, in the order the installer checks them.
extern const char* const kMediumArchives[10];

struct MediumOptions {
  std::string mklnkPath;       // packed as "mklnk" in erp.rar; empty: left out
  std::set<std::string> omit;  // archives not written
  std::map<std::string, std::vector<RarEntry>> extra;  // more entries per archive
  std::set<std::string> damaged;  // archives whose first stored data byte is flipped
};

// The entries of every archive of the medium.
std::map<std::string, std::vector<RarEntry>> MediumContents(const MediumOptions& options);

// Writes the archives into `dir` (which must exist). Throws std::runtime_error when a
// file cannot be read or written, or an archive to damage has no data.
void WriteMedium(const std::string& dir, const MediumOptions& options);

}  // namespace varmex::tools
