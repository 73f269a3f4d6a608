// Placeholder until the POSIX layer lands: every call ends the program.
#include <cstdio>
#include <cstdlib>

#include "platform/native.h"

namespace varmex::platform {
Platform& NativePlatform() {
  std::fputs("POSIX platform not built yet\n", stderr);
  std::abort();
}
}  // namespace varmex::platform
