#include "installer/messages.h"

#include <cstdlib>

#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "platform/platform.h"

namespace varmex::installer {

void ShowError(platform::Platform& os, std::string_view text) {
  os.MessageBox(io::UpToNul(text), kErrorCaption, kMessageStyle);
}

void ShowWarning(platform::Platform& os, std::string_view text) {
  os.MessageBox(io::UpToNul(text), kWarningCaption, kMessageStyle);
}

void EndProgram(platform::Platform& os, int32_t status) {
  io::CloseAllUnits();
  os.ExitProcess(status);
  std::abort();  // not reached: ExitProcess does not return
}

int FinishProgram(platform::Platform& os, int32_t status) {
  io::CloseAllUnits();
  return os.NoteProgramEnd(status);
}

}  // namespace varmex::installer
