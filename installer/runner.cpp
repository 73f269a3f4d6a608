#include "installer/runner.h"

#include <array>
#include <cstring>

#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "platform/platform.h"

namespace varmex::installer {
namespace {

// The outcome of one start: the runner's result and, when it is 0, the exit status.
struct Outcome {
  int32_t result;
  int32_t exitCode;
};

Outcome Run(platform::Platform& os, std::string_view commandLine, bool wantExitCode) {
  const size_t n = io::TrimmedLength(commandLine);
  if (n > kMaxCommandLength) {
    os.NoteRefusedRun(io::UpToNul(commandLine.substr(0, n)), wantExitCode, kRunCommandTooLong);
    return {kRunCommandTooLong, 0};
  }
  // The command buffer: the meaningful part and a NUL. The platform reads it up to
  // its first NUL, which is the caller's own when the caller put one.
  std::array<char, kCommandBufferSize> buffer{};
  std::memcpy(buffer.data(), commandLine.data(), n);
  buffer[n] = '\0';
  const std::string_view built(buffer.data(), std::strlen(buffer.data()));

  // The program started may read any file this one holds: cached blocks go first.
  io::FlushAllUnits();
  const platform::ProcessResult r = os.RunProcess(built, wantExitCode);
  if (r.startError != 0) return {static_cast<int32_t>(r.startError), 0};
  return {kRunEnded, r.exitCode ? static_cast<int32_t>(*r.exitCode) : -1};
}

}  // namespace

int32_t RunProgram(platform::Platform& os, std::string_view commandLine) {
  return Run(os, commandLine, false).result;
}

int32_t RunProgramForExitCode(platform::Platform& os, std::string_view commandLine,
                              int32_t& exitCode) {
  const Outcome o = Run(os, commandLine, true);
  if (o.result == kRunEnded) exitCode = o.exitCode;
  return o.result;
}

}  // namespace varmex::installer
