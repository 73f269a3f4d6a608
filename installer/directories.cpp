#include "installer/directories.h"

#include <string>

#include "installer/messages.h"
#include "io/fixed_text.h"
#include "platform/platform.h"

namespace varmex::installer {

void EnsureDirectory(platform::Platform& os, std::string_view path) {
  const std::string p(io::PlatformText(path));
  const uint32_t attributes = os.GetFileAttributes(p);
  if (attributes == platform::kInvalidFileAttributes) {
    const uint32_t error = os.CreateDirectory(p);
    if (error == 0) {
      return;
    }
    ShowError(os,
              "Nu poate fi creat directorul " + p + " (eroare " + io::FormatRight(error, 5) + ")!");
    EndProgram(os, 1);
  }
  if (attributes & platform::kAttributeDirectory) {
    return;
  }
  ShowError(os, "Nu poate fi creat directorul " + p + " (exista un fisier cu acest nume)!");
  EndProgram(os, 1);
}

}  // namespace varmex::installer
