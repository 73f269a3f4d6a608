// Which platform is in force: the native one, or the one installed over it.
#include "platform/native.h"
#include "platform/platform.h"

namespace varmex::platform {
namespace {
Platform* installed = nullptr;
}

Platform& Current() { return installed != nullptr ? *installed : NativePlatform(); }

Platform* Install(Platform* p) {
  Platform* const before = installed;
  installed = p;
  return before;
}

}  // namespace varmex::platform
