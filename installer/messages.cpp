#include "installer/messages.h"

#include <cstdlib>

#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "platform/platform.h"

namespace varmex::installer {

void ShowError(std::string_view text) {
  platform::Current().MessageBox(io::UpToNul(text), kErrorCaption, kMessageStyle);
}

void ShowWarning(std::string_view text) {
  platform::Current().MessageBox(io::UpToNul(text), kWarningCaption, kMessageStyle);
}

void EndProgram(int32_t status) {
  io::CloseAllUnits();
  platform::Current().ExitProcess(status);
  std::abort();  // not reached: ExitProcess does not return
}

int FinishProgram(int32_t status) {
  io::CloseAllUnits();
  return platform::Current().NoteProgramEnd(status);
}

}  // namespace varmex::installer
