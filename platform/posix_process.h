// Running a Windows-style command line on POSIX.
//
// The line is split at blanks (the system never quotes). The first word is the
// program: a path (with a drive, a separator, or starting with "/") is resolved like
// any path; a bare name is looked for in the program's own directory, then the
// current directory, then each PATH directory. A name not found as written is looked
// for again with ".exe" appended, or without it when it was written with ".exe".
// In every argument a drive path, also one glued behind an option ("-fD:\x"), is
// handed over as the resolved POSIX path.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_paths.h"

namespace varmex::platform::posix {

std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// An argument with its drive path (if any) resolved.
std::string TranslateArgument(const DriveTable& drives, std::string_view argument);

struct ProgramSearch {
  std::string ownDirectory;              // where the running program lies
  std::string currentDirectory;          // "." is fine
  std::vector<std::string> pathEntries;  // the PATH directories, in order
};
ProgramSearch SearchOfThisProcess();

// The executable file the first word names, or nullopt when there is none.
std::optional<std::string> FindProgram(const DriveTable& drives, const ProgramSearch& search,
                                       std::string_view word);

// Starts the command line, waits for it and gives its exit status.
ProcessResult RunCommandLine(const DriveTable& drives, std::string_view commandLine);

}  // namespace varmex::platform::posix
