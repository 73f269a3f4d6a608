// Making sure one directory of the installed tree exists.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace varmex::installer {

// Leaves an existing directory alone and creates a missing one (the last level only;
// its parent must exist). When the directory cannot be created, or a file of that name
// is in the way, shows the error and ends the program with status 1. `path` is a
// blank-padded field holding an absolute path without closing backslash.
void EnsureDirectory(platform::Platform& os, std::string_view path);

}  // namespace varmex::installer
