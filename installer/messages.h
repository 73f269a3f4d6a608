// The program's channel to the user: error and warning message boxes with no owner
// window, and the orderly stop, each through the platform of the run.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace varmex::installer {

// Style of both message boxes: one OK button, exclamation icon, system-modal, topmost.
inline constexpr uint32_t kMessageStyle = 0x41030;
inline constexpr std::string_view kErrorCaption = "Eroare";
inline constexpr std::string_view kWarningCaption = "Atentie";

// Shows `text` under "Eroare", up to its first NUL or its end, exactly as it was
// built: a built text ends after its last piece, and the trailing blanks of a literal
// piece are part of it. Callers hand over texts, not blank-padded fields.
void ShowError(platform::Platform& os, std::string_view text);
// The same under "Atentie".
void ShowWarning(platform::Platform& os, std::string_view text);

// Closes every open data unit (cached blocks written back first) and ends the process
// with `status`. Never returns.
[[noreturn]] void EndProgram(platform::Platform& os, int32_t status);

// The normal end: closes every open data unit (cached blocks written back first),
// records the end in the transcript and gives back the status for the entry point to
// return: `status`, or 1 instead of 0 when the transcript could not be written whole.
int FinishProgram(platform::Platform& os, int32_t status);

}  // namespace varmex::installer
