// Testing and unpacking one archive with the external unpacking tool.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace varmex::installer {

// The maker's web site, named in the message about a damaged archive.
inline constexpr std::string_view kSiteAddress = "www.varmex.ro";

// Mode 't' or 'T' tests the archive ("unrar t A"); any other character is the tool's
// command letter for unpacking into `destination` ("unrar e -y A D"). `archive` and
// `destination` are blank-padded fields; `destination` has no closing backslash and is
// ignored when testing. Returns only on success: any failure shows its message and
// ends the program with status 1.
void CheckArchive(platform::Platform& os, char mode, std::string_view archive,
                  std::string_view destination);

// The command line CheckArchive runs, NUL included.
std::string BuildArchiveCommand(char mode, std::string_view archive, std::string_view destination);

}  // namespace varmex::installer
