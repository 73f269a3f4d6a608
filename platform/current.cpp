#include "platform/native.h"
#include "platform/platform.h"

namespace varmex::platform {
namespace {
Platform* installed = nullptr;
}

Platform& Current() { return installed != nullptr ? *installed : NativePlatform(); }

void Install(Platform* p) { installed = p; }

}  // namespace varmex::platform
