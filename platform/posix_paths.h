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

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace varmex::platform::posix {

struct DriveTable {
  std::array<std::optional<std::string>, 26> roots;  // index 0 = A
  std::array<uint32_t, 26> types{};                  // a DriveType per drive with a root

  std::optional<std::string> Root(char letter) const;
};

// The longest root a drive may have: the program's paths are at most 256 characters
// ("D:" and 254 more), a unique file's name adds 12 to its prefix, and the path under
// the root must stay within the system's limit (PATH_MAX, 4096 bytes with the NUL).
// A drive of a longer root is refused when VARMEX_DRIVES is read, never reached under
// a path the system cannot take.
inline constexpr size_t kLongestDriveRoot = 4096 - 1 - 254 - 12;

struct DriveSetup {
  DriveTable table;
  std::string problem;  // a one-line complaint about the environment, or empty
};

// Reads the drive table from the two variables' values (null when unset). A drive
// whose root is longer than kLongestDriveRoot is left out and named in `problem`.
DriveSetup LoadDrives(const char* drivesVariable, const char* typesVariable);

// The drive letter (upper case) of a path that starts with "X:", or 0.
char DriveLetterOf(std::string_view path);

// The entry of `directory` whose name equals `name` without regard to ASCII case: the
// exact spelling when it exists, else the first match in name order, else nullopt.
std::optional<std::string> FindEntryIgnoringCase(const std::string& directory,
                                                 std::string_view name);

// The names of directories read once and kept for the run, so that a name not spelt
// as on disk costs a look-up instead of a read of the whole directory (the data
// folder of a collection may hold a hundred thousand files). Find answers exactly as
// FindEntryIgnoringCase does.
//
// A directory is known by its device and inode, so every spelling of its path shares
// one listing. The program's own creates, copies and deletes update the listing
// (Created, Removed); Forget drops every listing when another program may have
// changed the disk. As a guard against changes made behind the listing's back, a
// listing is read again whenever the directory's modification time is no longer the
// one seen when it was read or last updated, and a spelling it offers is checked to
// exist before it is given out.
class DirectoryListings {
 public:
  std::optional<std::string> Find(const std::string& directory, std::string_view name);
  // `path` (resolved) now names an entry, or no longer does.
  void Created(const std::string& path);
  void Removed(const std::string& path);
  void Forget() { listings_.clear(); }

  // How many times a directory was read (for tests and measurements).
  size_t reads() const { return reads_; }

 private:
  struct Listing {
    timespec modified{};
    // Upper-cased name -> the spellings on disk, in name order.
    std::unordered_map<std::string, std::set<std::string>> names;
  };
  using Key = std::pair<dev_t, ino_t>;
  Listing* Current(const std::string& directory);
  void Update(const std::string& path, bool created);

  std::map<Key, Listing> listings_;
  size_t reads_ = 0;
};

// Where a Windows path lies on this system, and whether a trailing separator was given.
struct ResolvedPath {
  std::string path;  // empty when the drive does not exist
  bool trailingSeparator = false;
};
// Names are looked up in `listings` when given, else by reading each directory.
ResolvedPath ResolvePath(const DriveTable& drives, std::string_view windowsPath,
                         DirectoryListings* listings = nullptr);

// A Windows error code for errno `e`. `path` (resolved) lets ENOENT tell a missing
// file (2) from a missing parent directory (3).
uint32_t ErrorFromErrno(int e, const std::string& path = std::string());

}  // namespace varmex::platform::posix
