// Starting an external program and waiting for it.
//
// A command line arrives as blank-padded fixed-length text whose meaningful part ends
// with the caller's NUL. Its trimmed length n (the NUL counts) must fit a 512-byte
// buffer together with a terminating NUL, so at most 511 characters are accepted.
// Nothing here shows a message: what a failure means is the caller's business.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace varmex::installer {

// Results of RunProgram and RunProgramForExitCode.
enum RunResult : int32_t {
  kRunEnded = 0,           // the program was started and has ended
  kRunCommandTooLong = -1  // over 511 characters: nothing was started
  // any positive value: the platform error code of the failed start
};

inline constexpr size_t kCommandBufferSize = 512;
inline constexpr size_t kMaxCommandLength = kCommandBufferSize - 1;

// Starts the command line through `os` and waits without a time limit.
int32_t RunProgram(platform::Platform& os, std::string_view commandLine);

// As RunProgram; when the result is 0, `exitCode` receives the child's exit status
// (or -1 when it could not be read). Otherwise `exitCode` is left as it was.
int32_t RunProgramForExitCode(platform::Platform& os, std::string_view commandLine,
                              int32_t& exitCode);

}  // namespace varmex::installer
