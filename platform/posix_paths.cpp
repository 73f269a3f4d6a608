#include "platform/posix_paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include "platform/platform.h"

namespace varmex::platform::posix {
namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// The name as it is compared: ASCII letters in upper case.
std::string Folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = Upper(c);
  return out;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<uint32_t> DriveTypeNamed(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    uint32_t type;
  } kTypes[] = {{"removable", kDriveRemovable}, {"fixed", kDriveFixed},
                {"remote", kDriveRemote},       {"cdrom", kDriveCdrom},
                {"ramdisk", kDriveRamdisk},     {"unknown", kDriveUnknown}};
  for (const auto& t : kTypes) {
    if (SameIgnoringCase(t.name, name)) return t.type;
  }
  return std::nullopt;
}

// The drive letter named by a directory entry ("d", "D", "d:", "D:"), or 0.
char LetterOfEntry(std::string_view name) {
  if (name.empty() || name.size() > 2) return 0;
  if (!std::isalpha(static_cast<unsigned char>(name[0]))) return 0;
  if (name.size() == 2 && name[1] != ':') return 0;
  return Upper(name[0]);
}

std::string Join(const std::string& base, std::string_view name) {
  if (base.empty()) return std::string(name);
  if (base.back() == '/') return base + std::string(name);
  return base + "/" + std::string(name);
}

}  // namespace

std::optional<std::string> DriveTable::Root(char letter) const {
  const char up = Upper(letter);
  if (up < 'A' || up > 'Z') return std::nullopt;
  return roots[static_cast<size_t>(up - 'A')];
}

DriveSetup LoadDrives(const char* drivesVariable, const char* typesVariable) {
  DriveSetup setup;
  DriveTable& t = setup.table;
  if (drivesVariable == nullptr) {
    t.roots['C' - 'A'] = "/";
  } else {
    const std::string dir = drivesVariable;
    DIR* d = dir.empty() ? nullptr : ::opendir(dir.c_str());
    if (d == nullptr) {
      setup.problem = "VARMEX_DRIVES=" + dir + " is not a readable directory; no drives are known";
    } else {
      // Entries in name order, so that of "d" and "D:" the same one always wins.
      std::vector<std::string> names;
      while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
      ::closedir(d);
      std::sort(names.begin(), names.end());
      for (const std::string& name : names) {
        const char letter = LetterOfEntry(name);
        if (letter == 0) continue;
        const std::string root = Join(dir, name);
        auto& slot = t.roots[static_cast<size_t>(letter - 'A')];
        if (slot || !IsDirectory(root)) continue;
        if (root.size() > kLongestDriveRoot) {
          if (setup.problem.empty()) {
            setup.problem = "VARMEX_DRIVES: the root of drive " + std::string(1, letter) + " is " +
                            std::to_string(root.size()) + " bytes long; the program's paths " +
                            "need a root of at most " + std::to_string(kLongestDriveRoot) +
                            " bytes";
          }
          continue;
        }
        slot = root;
      }
    }
  }
  for (size_t i = 0; i < 26; ++i) t.types[i] = t.roots[i] ? kDriveFixed : kDriveNoRootDir;

  if (typesVariable != nullptr) {
    std::string_view rest = typesVariable;
    while (!rest.empty()) {
      const size_t start = rest.find_first_not_of(" \t,");
      if (start == std::string_view::npos) break;
      rest.remove_prefix(start);
      const size_t end = rest.find_first_of(" \t,");
      const std::string_view pair = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);

      const size_t eq = pair.find('=');
      std::string_view letterPart = eq == std::string_view::npos ? pair : pair.substr(0, eq);
      if (letterPart.size() == 2 && letterPart[1] == ':') letterPart.remove_suffix(1);
      const std::optional<uint32_t> type =
          eq == std::string_view::npos ? std::nullopt : DriveTypeNamed(pair.substr(eq + 1));
      if (letterPart.size() != 1 || !std::isalpha(static_cast<unsigned char>(letterPart[0])) ||
          !type) {
        if (setup.problem.empty()) {
          setup.problem = "VARMEX_DRIVE_TYPES: cannot understand \"" + std::string(pair) + "\"";
        }
        continue;
      }
      const size_t i = static_cast<size_t>(Upper(letterPart[0]) - 'A');
      if (t.roots[i]) t.types[i] = *type;
    }
  }
  return setup;
}

char DriveLetterOf(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    return Upper(path[0]);
  }
  return 0;
}

std::optional<std::string> FindEntryIgnoringCase(const std::string& directory,
                                                 std::string_view name) {
  const std::string dir = directory.empty() ? "." : directory;
  if (Exists(Join(dir, name))) return std::string(name);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view entry = e->d_name;
    if (SameIgnoringCase(entry, name) && (!best || entry < *best)) best = std::string(entry);
  }
  ::closedir(d);
  return best;
}

DirectoryListings::Listing* DirectoryListings::Current(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  const Key key{st.st_dev, st.st_ino};
  auto it = listings_.find(key);
  if (it != listings_.end() && SameTime(it->second.modified, st.st_mtim)) return &it->second;

  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) {
    if (it != listings_.end()) listings_.erase(it);
    return nullptr;
  }
  ++reads_;
  Listing listing;
  listing.modified = st.st_mtim;
  while (const dirent* e = ::readdir(d)) listing.names[Folded(e->d_name)].insert(e->d_name);
  ::closedir(d);
  Listing& kept = listings_[key];
  kept = std::move(listing);
  return &kept;
}

std::optional<std::string> DirectoryListings::Find(const std::string& directory,
                                                   std::string_view name) {
  const std::string dir = directory.empty() ? "." : directory;
  if (Exists(Join(dir, name))) return std::string(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Listing* listing = Current(dir);
    if (listing == nullptr) return std::nullopt;
    const auto it = listing->names.find(Folded(name));
    if (it == listing->names.end()) return std::nullopt;
    const std::string& spelling = *it->second.begin();
    if (Exists(Join(dir, spelling))) return spelling;
    listings_.clear();  // a name went away unseen: read the directory again
  }
  return FindEntryIgnoringCase(dir, name);
}

void DirectoryListings::Update(const std::string& path, bool created) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return;
  const auto it = listings_.find(Key{st.st_dev, st.st_ino});
  if (it == listings_.end()) return;
  Listing& listing = it->second;
  const std::string folded = Folded(name);
  if (created) {
    listing.names[folded].insert(name);
  } else if (auto n = listing.names.find(folded); n != listing.names.end()) {
    n->second.erase(name);
    if (n->second.empty()) listing.names.erase(n);
  }
  listing.modified = st.st_mtim;
}

void DirectoryListings::Created(const std::string& path) { Update(path, true); }
void DirectoryListings::Removed(const std::string& path) { Update(path, false); }

ResolvedPath ResolvePath(const DriveTable& drives, std::string_view windowsPath,
                         DirectoryListings* listings) {
  ResolvedPath out;
  std::string_view rest = windowsPath;
  std::string root;  // empty for a path relative to the current directory
  if (const char letter = DriveLetterOf(rest)) {
    const std::optional<std::string> driveRoot = drives.Root(letter);
    if (!driveRoot) return out;
    root = *driveRoot;
    rest.remove_prefix(2);
  } else if (!rest.empty() && (rest[0] == '/' || rest[0] == '\\')) {
    root = "/";
  }
  out.trailingSeparator = !rest.empty() && (rest.back() == '\\' || rest.back() == '/');

  // Walk the names: while the directories exist each name takes the spelling found
  // there; after the first name that matches nothing, the rest is taken as written.
  // ".." never climbs above a drive's root, as on Windows.
  std::vector<std::string> names;
  auto current = [&] {
    std::string p = root;
    for (const std::string& n : names) p = Join(p, n);
    return p;
  };
  bool walking = true;
  while (!rest.empty()) {
    const size_t sep = rest.find_first_of("\\/");
    const std::string_view name = rest.substr(0, sep);
    rest.remove_prefix(sep == std::string_view::npos ? rest.size() : sep + 1);
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!names.empty() && names.back() != "..") {
        names.pop_back();
      } else if (root.empty()) {
        names.emplace_back("..");
      }
      continue;
    }
    std::string spelled(name);
    if (walking) {
      std::optional<std::string> found = listings != nullptr
                                             ? listings->Find(current(), name)
                                             : FindEntryIgnoringCase(current(), name);
      if (found) {
        spelled = *found;
      } else {
        walking = false;
      }
    }
    names.push_back(std::move(spelled));
  }
  out.path = current();
  if (out.path.empty()) out.path = ".";
  return out;
}

uint32_t ErrorFromErrno(int e, const std::string& path) {
  switch (e) {
    case 0:
      return kErrorSuccess;
    case ENOENT: {
      if (path.empty()) return kErrorFileNotFound;
      const size_t slash = path.find_last_of('/');
      const std::string parent = slash == std::string::npos ? "."
                                 : slash == 0               ? "/"
                                                            : path.substr(0, slash);
      return IsDirectory(parent) ? kErrorFileNotFound : kErrorPathNotFound;
    }
    case ENOTDIR:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case ENOEXEC:
      return 193;  // ERROR_BAD_EXE_FORMAT
    case EIO:
      return kErrorWriteFault;
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

}  // namespace varmex::platform::posix
