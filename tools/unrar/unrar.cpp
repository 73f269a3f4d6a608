// The unpacking tool of the POSIX build (see unrar.h): the header walk and the entry
// rules first, then libarchive for the data, each file checked against its header's
// size and CRC-32 before it takes its place.
#include "tools/unrar/unrar.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "platform/terminal_text.h"
#include "tools/rarformat/rar_layout.h"

namespace varmex::tools {
namespace {

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};

struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

std::string ErrnoText(int err) { return std::strerror(err); }

class FdSource : public RarSource {
 public:
  FdSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    while (n > 0) {
      const ssize_t got = pread(fd_, out, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        return false;
      }
      out += got;
      n -= static_cast<size_t>(got);
      offset += static_cast<uint64_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

// Opens the archive for reading. The open does not wait (a pipe with no writer would
// hold it for ever), and only a regular file is taken.
UnrarOutcome OpenArchive(const std::string& path, Fd& fd, uint64_t& size) {
  fd.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st {};
  if (fd.fd < 0 || fstat(fd.fd, &st) != 0) {
    return OpenFailed(path, ErrnoText(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    return OpenFailed(path, "is a folder");
  }
  if (!S_ISREG(st.st_mode)) {
    return OpenFailed(path, "not a regular file");
  }
  const int flags = fcntl(fd.fd, F_GETFL);
  if (flags < 0 || fcntl(fd.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return OpenFailed(path, ErrnoText(errno));
  }
  size = static_cast<uint64_t>(st.st_size);
  return {};
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes `dir` exist (each missing level created).
UnrarOutcome MakeDirectories(const std::string& dir) {
  if (dir.empty() || IsDirectory(dir)) {
    return {};
  }
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    UnrarOutcome parent = MakeDirectories(dir.substr(0, slash));
    if (parent.exitCode != kUnrarOk) {
      return parent;
    }
  }
  if (mkdir(dir.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(dir))) {
    return FolderFailed(dir, ErrnoText(errno));
  }
  return {};
}

std::string Folded(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// The names in the folders unpacked into, each folder read once: looking a name up
// does not read the folder again, so unpacking many files into one folder stays
// linear. The tool keeps the index up to date with what it adds.
class FolderNames {
 public:
  // The spelling under which `name` is found in `folder`: the exact one if present,
  // else the first in name order that matches without regard to case, else `name`.
  std::string Spelling(const std::string& folder, const std::string& name) {
    Index& index = Load(folder);
    if (index.exact.count(name) != 0) {
      return name;
    }
    const auto it = index.folded.find(Folded(name));
    return it != index.folded.end() ? it->second : name;
  }

  void Added(const std::string& folder, const std::string& name) { Note(Load(folder), name); }

 private:
  struct Index {
    std::unordered_set<std::string> exact;
    std::unordered_map<std::string, std::string> folded;
  };

  static void Note(Index& index, const std::string& name) {
    if (!index.exact.insert(name).second) {
      return;
    }
    const auto [it, added] = index.folded.try_emplace(Folded(name), name);
    if (!added && name < it->second) {
      it->second = name;
    }
  }

  Index& Load(const std::string& folder) {
    const auto [it, added] = folders_.try_emplace(folder);
    if (added) {
      if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d)) {
          Note(it->second, e->d_name);
        }
        closedir(d);
      }
    }
    return it->second;
  }

  std::unordered_map<std::string, Index> folders_;
};

// A temporary file that is removed unless it was renamed into its place.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd.fd >= 0) {
      close(fd.fd);
      fd.fd = -1;
    }
    if (!path.empty()) {
      unlink(path.c_str());
    }
  }
  Fd fd;
  std::string path;  // empty once the file has taken its place
};

class Unpacker {
 public:
  Unpacker(char command, std::string destination)
      : command_(command), dest_(std::move(destination)) {
    const mode_t old = umask(0);
    umask(old);
    umask_ = old;
  }

  UnrarOutcome Run(const std::string& archivePath) {
    Fd fd;
    uint64_t size = 0;
    UnrarOutcome opened = OpenArchive(archivePath, fd, size);
    if (opened.exitCode != kUnrarOk) {
      return opened;
    }
    FdSource source(fd.fd, size);
    walk_ = WalkRarHeaders(source);
    if (walk_.problem != RarProblem::kNone) {
      return WalkFailed(archivePath, walk_);
    }
    EntryRules rules(false);
    std::vector<std::string> parts;
    for (const RarFileHeader& header : walk_.files) {
      UnrarOutcome admitted = rules.Admit(header, parts);
      if (admitted.exitCode != kUnrarOk) {
        return admitted;
      }
    }

    std::unique_ptr<archive, ArchiveCloser> a(archive_read_new());
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    if (lseek(fd.fd, 0, SEEK_SET) != 0 ||
        archive_read_open_fd(a.get(), fd.fd, 65536) != ARCHIVE_OK) {
      return WalkFailed(archivePath, Problem(RarProblem::kDamaged, ErrorOf(a.get())));
    }
    size_t index = 0;
    for (;; ++index) {
      archive_entry* entry = nullptr;
      const int r = archive_read_next_header(a.get(), &entry);
      if (r == ARCHIVE_EOF) {
        break;
      }
      if (r < ARCHIVE_WARN) {
        return WalkFailed(archivePath, Problem(RarProblem::kDamaged, ErrorOf(a.get())));
      }
      if (index >= walk_.files.size()) {
        break;
      }
      UnrarOutcome one = HandleEntry(a.get(), entry, walk_.files[index]);
      if (one.exitCode != kUnrarOk) {
        return one;
      }
    }
    if (index != walk_.files.size()) {
      return WalkFailed(archivePath, Problem(RarProblem::kDamaged,
                                             "the reader found " + std::to_string(index) + " of " +
                                                 std::to_string(walk_.files.size()) + " entries"));
    }
    return {};
  }

 private:
  static std::string ErrorOf(archive* a) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : "unreadable";
  }

  static RarHeaders Problem(RarProblem problem, std::string detail) {
    RarHeaders h;
    h.problem = problem;
    h.detail = std::move(detail);
    return h;
  }

  // One entry as libarchive reads it; `header` is what the walk found for it.
  UnrarOutcome HandleEntry(archive* a, archive_entry* entry, const RarFileHeader& header) {
    const mode_t type = archive_entry_filetype(entry);
    const bool link =
        archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
    if (link || (type != AE_IFREG && type != AE_IFDIR)) {
      return EntryRefused(kUnrarUnsafeEntry, header.name, "not a plain file or folder");
    }
    // The name written is the reader's: it passes the same rules as the header's.
    const char* raw = archive_entry_pathname(entry);
    std::vector<std::string> parts;
    if (raw == nullptr || !SplitEntryName(raw, parts)) {
      return EntryRefused(kUnrarUnsafeEntry, header.name, "outside the destination");
    }
    if (platform::HoldsControl(raw)) {
      return EntryRefused(kUnrarUnsafeEntry, header.name, "a control character in its name");
    }
    UnrarOutcome placed = written_.Place(header.name, parts, type == AE_IFDIR);
    if (placed.exitCode != kUnrarOk) {
      return placed;
    }
    if (type == AE_IFDIR) {
      if (command_ != 'x') {
        return {};
      }
      std::string folder;
      return MakeFolders(parts, parts.size(), folder);
    }
    if (command_ == 't') {
      return CopyData(a, header, -1, "");
    }
    if (command_ == 'e') {
      parts = {parts.back()};
    }
    std::string folder;
    UnrarOutcome made = MakeFolders(parts, parts.size() - 1, folder);
    if (made.exitCode != kUnrarOk) {
      return made;
    }
    return WriteFile(a, entry, header, folder, parts.back());
  }

  // Unpacks the entry into a new temporary file in `folder` and renames it over
  // `name` once its size and checksum are right.
  UnrarOutcome WriteFile(archive* a, archive_entry* entry, const RarFileHeader& header,
                         const std::string& folder, const std::string& name) {
    const std::string spelled = names_.Spelling(folder, name);
    const std::string path = folder + "/" + spelled;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        return WriteFailed(path, "a folder of that name exists");
      }
      if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        return WriteFailed(path, ErrnoText(EACCES));  // read-only: left as it is
      }
    }
    mode_t perm = archive_entry_perm(entry) & 0777;
    if (perm == 0) {
      perm = 0644;
    }
    perm &= ~umask_;

    TempFile temp;
    std::string pattern = folder + "/.unrar-XXXXXX";
    temp.fd.fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (temp.fd.fd < 0) {
      return WriteFailed(path, ErrnoText(errno));
    }
    temp.path = pattern;
    UnrarOutcome copied = CopyData(a, header, temp.fd.fd, path);
    if (copied.exitCode != kUnrarOk) {
      return copied;
    }
    if (fchmod(temp.fd.fd, perm) != 0) {
      return WriteFailed(path, ErrnoText(errno));
    }
    if (archive_entry_mtime_is_set(entry)) {
      struct timespec times[2] = {};
      times[0].tv_nsec = UTIME_OMIT;
      times[1].tv_sec = archive_entry_mtime(entry);
      futimens(temp.fd.fd, times);
    }
    const int closed = close(temp.fd.fd);
    temp.fd.fd = -1;
    if (closed != 0) {
      return WriteFailed(path, ErrnoText(errno));
    }
    if (rename(temp.path.c_str(), path.c_str()) != 0) {
      return WriteFailed(path, ErrnoText(errno));
    }
    temp.path.clear();
    names_.Added(folder, spelled);
    return {};
  }

  // Walks (and makes) the first `count` folders of `parts` under the destination;
  // `path` receives the folder reached. The destination itself is made on first use,
  // so an archive that fails before its first entry leaves no folder behind.
  UnrarOutcome MakeFolders(const std::vector<std::string>& parts, size_t count, std::string& path) {
    if (!destMade_) {
      UnrarOutcome made = MakeDirectories(dest_);
      if (made.exitCode != kUnrarOk) {
        return made;
      }
      destMade_ = true;
    }
    path = dest_;
    for (size_t i = 0; i < count; ++i) {
      const std::string spelled = names_.Spelling(path, parts[i]);
      std::string next = path;
      next += "/";
      next += spelled;
      if (knownFolders_.count(next) == 0) {
        struct stat st {};
        if (lstat(next.c_str(), &st) == 0) {
          if (!S_ISDIR(st.st_mode)) {
            return FolderFailed(next, "a file of that name exists");
          }
        } else if (mkdir(next.c_str(), 0777) != 0) {
          return FolderFailed(next, ErrnoText(errno));
        } else {
          names_.Added(path, spelled);
        }
        knownFolders_.insert(next);
      }
      path = next;
    }
    return {};
  }

  // Reads the entry's data to its end, writing it to `fd` when fd >= 0, and checks
  // its size and CRC-32 against the header.
  UnrarOutcome CopyData(archive* a, const RarFileHeader& header, int fd, const std::string& path) {
    uint32_t crc = 0;
    uint64_t next = 0;
    for (;;) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      const int r = archive_read_data_block(a, &block, &size, &offset);
      if (r == ARCHIVE_EOF) {
        break;
      }
      if (r < ARCHIVE_WARN) {
        return EntryDamaged(header.name, ErrorOf(a));
      }
      // The checksum is over the data in order; the reader never leaves holes in it.
      if (offset < 0 || static_cast<uint64_t>(offset) != next) {
        return EntryDamaged(header.name, "data out of order");
      }
      next += size;
      crc = Crc32(std::span<const uint8_t>(static_cast<const uint8_t*>(block), size), crc);
      const char* p = static_cast<const char*>(block);
      while (fd >= 0 && size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
          continue;
        }
        if (n < 0) {
          return WriteFailed(path, ErrnoText(errno));
        }
        p += n;
        size -= static_cast<size_t>(n);
      }
    }
    if (header.sizeKnown && next != header.size) {
      return EntryDamaged(header.name, "holds " + std::to_string(next) +
                                           " bytes, its header says " +
                                           std::to_string(header.size));
    }
    if (header.crc && crc != *header.crc) {
      return EntryDamaged(header.name, "checksum error");
    }
    return {};
  }

  char command_;
  std::string dest_;
  RarHeaders walk_;
  EntryRules written_{false};
  FolderNames names_;
  std::unordered_set<std::string> knownFolders_;
  bool destMade_ = false;
  mode_t umask_ = 022;
};

}  // namespace

UnrarOutcome RunUnrar(const std::vector<std::string>& args) {
  UnrarCommand command;
  UnrarOutcome parsed = ParseUnrarCommand(args, command);
  if (parsed.exitCode != kUnrarOk) {
    return parsed;
  }
  std::string dest = command.dest;
  while (dest.size() > 1 && dest.back() == '/') {
    dest.pop_back();
  }
  return Unpacker(command.command, dest).Run(command.archive);
}

}  // namespace varmex::tools
