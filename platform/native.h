// The build's own platform: Win32 in the Windows build, POSIX elsewhere.
#pragma once

#include "platform/platform.h"

namespace varmex::platform {
Platform& NativePlatform();
}
