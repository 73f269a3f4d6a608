// Windows paths on a POSIX file system.
//
// Drives: VARMEX_DRIVES names a directory whose entries `d`, `D`, `d:` or `D:` (a
// directory or a link to one) are the roots of the drives. VARMEX_DRIVE_TYPES gives
// their types as `LETTER=TYPE` pairs separated by blanks or commas. Without
// VARMEX_DRIVES there is one drive, C, whose root is "/".
//
// Paths: `X:\a\b` (or `X:/a/b`) lies under the root of drive X; backslashes are
// separators; a path without a drive is relative to the current directory, or
// absolute when it starts with "/". Each name is matched without regard to case, as
// on Windows; a name that matches nothing keeps the spelling given, so a new file or
// directory is created as written.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varmex::platform::posix {

struct DriveTable {
  std::array<std::optional<std::string>, 26> roots;  // index 0 = A
  std::array<uint32_t, 26> types{};                  // a DriveType per drive with a root

  std::optional<std::string> Root(char letter) const;
};

struct DriveSetup {
  DriveTable table;
  std::string problem;  // a one-line complaint about the environment, or empty
};

// Reads the drive table from the two variables' values (null when unset).
DriveSetup LoadDrives(const char* drivesVariable, const char* typesVariable);

// The drive letter (upper case) of a path that starts with "X:", or 0.
char DriveLetterOf(std::string_view path);

// Where a Windows path lies on this system, and whether a trailing separator was given.
struct ResolvedPath {
  std::string path;  // empty when the drive does not exist
  bool trailingSeparator = false;
};
ResolvedPath ResolvePath(const DriveTable& drives, std::string_view windowsPath);

// The entry of `directory` whose name equals `name` without regard to ASCII case: the
// exact spelling when it exists, else the first match in name order, else nullopt.
std::optional<std::string> FindEntryIgnoringCase(const std::string& directory,
                                                 std::string_view name);

// A Windows error code for errno `e`. `path` (resolved) lets ENOENT tell a missing
// file (2) from a missing parent directory (3).
uint32_t ErrorFromErrno(int e, const std::string& path = std::string());

}  // namespace varmex::platform::posix
