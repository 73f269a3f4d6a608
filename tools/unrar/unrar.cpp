#include "tools/unrar/unrar.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <span>

#include "io/coding.h"
#include "tools/rarwrite/rar_writer.h"

namespace varmex::tools {

const char* const kUnrarUsageText =
    "usage: unrar t ARCHIVE            test every entry of ARCHIVE\n"
    "       unrar e -y ARCHIVE [DEST]  unpack every file into DEST (default: .), no folders\n"
    "       unrar x -y ARCHIVE [DEST]  unpack keeping the archive's folders\n"
    "Existing files are overwritten. Exit codes:\n"
    "  0 all entries sound / unpacked\n"
    "  2 not a RAR archive, or an unsupported feature\n"
    "  3 damaged archive (checksum, header or truncated data)\n"
    "  5 cannot write into the destination\n"
    "  6 cannot open the archive\n"
    "  7 bad command line\n"
    "  9 unsafe entry (absolute path, '..', or a link) refused\n";

namespace {

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

UnrarOutcome Fail(int code, std::string reason) { return UnrarOutcome{code, std::move(reason)}; }

std::string ErrnoText(int err) { return std::strerror(err); }

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The spelling of `name` inside `dir`: an existing entry that matches without regard
// to case, or `name` itself.
std::string MatchInDirectory(const std::string& dir, const std::string& name) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    return name;
  }
  std::string found = name;
  bool exact = false;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, name.c_str()) == 0) {
      exact = true;
      break;
    }
    if (found == name && strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
    }
  }
  closedir(d);
  return exact ? name : found;
}

// Makes `dir` exist (each missing level created). Returns an empty string or a reason.
std::string MakeDirectories(const std::string& dir) {
  if (dir.empty() || IsDirectory(dir)) {
    return "";
  }
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    std::string parentError = MakeDirectories(dir.substr(0, slash));
    if (!parentError.empty()) {
      return parentError;
    }
  }
  if (mkdir(dir.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(dir))) {
    return "cannot create folder " + dir + ": " + ErrnoText(errno);
  }
  return "";
}

// Splits an entry name into folder components ('/' and '\' both separate). Returns
// false when the name is absolute, carries a drive letter or climbs with "..".
bool SplitSafely(const std::string& name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name[0] == '/' || name[0] == '\\') {
    return false;
  }
  std::string part;
  auto flush = [&]() -> bool {
    if (part == "..") {
      return false;
    }
    if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
    return true;
  };
  for (char c : name) {
    if (c == '/' || c == '\\') {
      if (!flush()) {
        return false;
      }
    } else {
      part.push_back(c);
    }
  }
  if (!flush()) {
    return false;
  }
  if (!parts.empty() && parts[0].size() >= 2 && parts[0][1] == ':') {
    return false;
  }
  return !parts.empty();
}

// The last component of an entry name ('/' and '\' both separate).
std::string BaseName(const std::string& name) {
  const size_t cut = name.find_last_of("/\\");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The checksums of the file entries of a classic (version 4) RAR archive, in order.
// The archive library checks header checksums but not always the checksum of an
// entry's data, so the tool compares that itself. The walk reads only the 7-byte base
// header of each block (and the size fields after it) and jumps over the rest.
struct Rar4Checksums {
  bool classic = false;  // the archive opens with the classic marker
  bool sound = true;     // the block chain is whole
  std::vector<uint32_t> crcs;
};

Rar4Checksums ReadRar4Checksums(const std::string& path) {
  static constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
  Rar4Checksums out;
  std::ifstream in(path, std::ios::binary);
  uint8_t head[32] = {};
  if (!in.read(reinterpret_cast<char*>(head), 7) || std::memcmp(head, kMarker, 7) != 0) {
    return out;
  }
  out.classic = true;
  in.seekg(0, std::ios::end);
  const uint64_t total = static_cast<uint64_t>(in.tellg());
  uint64_t pos = 7;
  while (pos < total) {
    in.seekg(static_cast<std::streamoff>(pos));
    const uint64_t avail = total - pos < 32 ? total - pos : 32;
    // A few bytes after the last whole block are a cut header, not the archive's end.
    if (avail < 7 || !in.read(reinterpret_cast<char*>(head), static_cast<std::streamsize>(avail))) {
      out.sound = false;
      return out;
    }
    const uint8_t type = head[2];
    const uint16_t flags = io::LoadU16(head + 3);
    const uint16_t size = io::LoadU16(head + 5);
    if (size < 7 || pos + size > total) {
      out.sound = false;
      return out;
    }
    uint64_t data = 0;
    if (flags & 0x8000) {
      if (size < 11) {
        out.sound = false;
        return out;
      }
      data = io::LoadU32(head + 7);
    }
    if (type == 0x74) {
      if (size < 32) {
        out.sound = false;
        return out;
      }
      out.crcs.push_back(io::LoadU32(head + 16));
      if (flags & 0x100) {  // 64-bit sizes: the high half of the packed size follows
        uint8_t high[4];
        in.seekg(static_cast<std::streamoff>(pos + 32));
        if (!in.read(reinterpret_cast<char*>(high), 4)) {
          out.sound = false;
          return out;
        }
        data |= static_cast<uint64_t>(io::LoadU32(high)) << 32;
      }
    }
    if (type == 0x7b) {
      break;
    }
    pos += size + data;
  }
  return out;
}

class Unpacker {
 public:
  Unpacker(char command, std::string destination)
      : command_(command), dest_(std::move(destination)) {
    const mode_t old = umask(0);
    umask(old);
    umask_ = old;
  }

  UnrarOutcome Run(const std::string& archivePath) {
    struct stat st {};
    if (stat(archivePath.c_str(), &st) != 0) {
      return Fail(kUnrarOpenFailed, "cannot open " + archivePath + ": " + ErrnoText(errno));
    }
    if (S_ISDIR(st.st_mode)) {
      return Fail(kUnrarOpenFailed, "cannot open " + archivePath + ": is a folder");
    }
    if (command_ != 't') {
      std::string error = MakeDirectories(dest_);
      if (!error.empty()) {
        return Fail(kUnrarWriteFailed, error);
      }
    }

    std::unique_ptr<archive, ArchiveCloser> a(archive_read_new());
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    if (archive_read_open_filename(a.get(), archivePath.c_str(), 65536) != ARCHIVE_OK) {
      // EILSEQ is the library's code for a file of another format.
      if (archive_errno(a.get()) == EILSEQ) {
        return Fail(kUnrarNotAnArchive, archivePath + " is not a RAR archive: " + ErrorOf(a.get()));
      }
      return Fail(kUnrarOpenFailed, "cannot open " + archivePath + ": " + ErrorOf(a.get()));
    }
    checksums_ = ReadRar4Checksums(archivePath);
    int entries = 0;
    for (;;) {
      archive_entry* entry = nullptr;
      const int r = archive_read_next_header(a.get(), &entry);
      if (r == ARCHIVE_EOF) {
        break;
      }
      if (r < ARCHIVE_WARN) {
        if (entries == 0 && archive_format(a.get()) == 0) {
          return Fail(kUnrarNotAnArchive,
                      archivePath + " is not a RAR archive: " + ErrorOf(a.get()));
        }
        return Fail(kUnrarDamaged, archivePath + " is damaged: " + ErrorOf(a.get()));
      }
      if (checksums_.classic && static_cast<size_t>(entries) < checksums_.crcs.size()) {
        expectedCrc_ = checksums_.crcs[static_cast<size_t>(entries)];
      } else {
        expectedCrc_.reset();
      }
      ++entries;
      UnrarOutcome one = HandleEntry(a.get(), entry);
      if (one.exitCode != kUnrarOk) {
        return one;
      }
    }
    if (entries == 0 && archive_format(a.get()) == 0) {
      return Fail(kUnrarNotAnArchive, archivePath + " is not a RAR archive");
    }
    if (checksums_.classic &&
        (!checksums_.sound || checksums_.crcs.size() != static_cast<size_t>(entries))) {
      return Fail(kUnrarDamaged, archivePath + " is damaged: its block chain is broken");
    }
    return UnrarOutcome{};
  }

 private:
  static std::string ErrorOf(archive* a) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : "unknown error";
  }

  UnrarOutcome HandleEntry(archive* a, archive_entry* entry) {
    const char* raw = archive_entry_pathname(entry);
    const std::string name = raw != nullptr ? raw : "";
    const mode_t type = archive_entry_filetype(entry);
    const bool link =
        archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
    if (link || (type != AE_IFREG && type != AE_IFDIR)) {
      return Fail(kUnrarUnsafeEntry, "refused entry " + name + ": not a plain file or folder");
    }
    if (command_ == 't') {
      return CopyData(a, name, -1, "");
    }
    if (type == AE_IFDIR) {
      if (command_ == 'e') {
        return SkipData(a, name);
      }
      std::vector<std::string> parts;
      if (!SplitSafely(name, parts)) {
        return Fail(kUnrarUnsafeEntry, "refused entry " + name + ": outside the destination");
      }
      std::string path;
      UnrarOutcome made = MakeFolders(parts, parts.size(), path);
      if (made.exitCode != kUnrarOk) {
        return made;
      }
      return SkipData(a, name);
    }

    std::vector<std::string> parts;
    if (command_ == 'e') {
      const std::string base = BaseName(name);
      if (base.empty() || base == "." || base == "..") {
        return Fail(kUnrarUnsafeEntry, "refused entry " + name + ": no file name");
      }
      parts.push_back(base);
    } else if (!SplitSafely(name, parts)) {
      return Fail(kUnrarUnsafeEntry, "refused entry " + name + ": outside the destination");
    }
    std::string folder;
    UnrarOutcome made = MakeFolders(parts, parts.size() - 1, folder);
    if (made.exitCode != kUnrarOk) {
      return made;
    }
    const std::string path = folder + "/" + MatchInDirectory(folder, parts.back());
    if (IsDirectory(path)) {
      return Fail(kUnrarWriteFailed, "cannot write " + path + ": a folder of that name exists");
    }

    mode_t perm = archive_entry_perm(entry) & 0777;
    if (perm == 0) {
      perm = 0644;
    }
    perm &= ~umask_;
    Fd out;
    out.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, perm);
    if (out.fd < 0) {
      return Fail(kUnrarWriteFailed, "cannot write " + path + ": " + ErrnoText(errno));
    }
    UnrarOutcome copied = CopyData(a, name, out.fd, path);
    if (copied.exitCode != kUnrarOk) {
      return copied;
    }
    if (fchmod(out.fd, perm) != 0 || close(out.fd) != 0) {
      out.fd = -1;
      return Fail(kUnrarWriteFailed, "cannot write " + path + ": " + ErrnoText(errno));
    }
    out.fd = -1;
    if (archive_entry_mtime_is_set(entry)) {
      struct timespec times[2] = {};
      times[0].tv_nsec = UTIME_OMIT;
      times[1].tv_sec = archive_entry_mtime(entry);
      utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    return UnrarOutcome{};
  }

  // Walks (and makes) the first `count` folders of `parts` under the destination;
  // `path` receives the folder reached.
  UnrarOutcome MakeFolders(const std::vector<std::string>& parts, size_t count, std::string& path) {
    path = dest_;
    for (size_t i = 0; i < count; ++i) {
      path += "/" + MatchInDirectory(path, parts[i]);
      struct stat st {};
      if (lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
          continue;
        }
        return Fail(kUnrarWriteFailed,
                    "cannot create folder " + path + ": a file of that name exists");
      }
      if (mkdir(path.c_str(), 0777) != 0) {
        return Fail(kUnrarWriteFailed, "cannot create folder " + path + ": " + ErrnoText(errno));
      }
    }
    return UnrarOutcome{};
  }

  UnrarOutcome SkipData(archive* a, const std::string& name) { return CopyData(a, name, -1, ""); }

  // Reads the entry's data to its end (which checks its checksum), writing it to `fd`
  // when fd >= 0.
  UnrarOutcome CopyData(archive* a, const std::string& name, int fd, const std::string& path) {
    uint32_t crc = 0;
    la_int64_t next = 0;
    bool inOrder = true;  // the checksum is over the data in order, without holes
    for (;;) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      const int r = archive_read_data_block(a, &block, &size, &offset);
      if (r == ARCHIVE_EOF) {
        if (expectedCrc_ && inOrder && crc != *expectedCrc_) {
          return Fail(kUnrarDamaged, "damaged entry " + name + ": checksum error");
        }
        return UnrarOutcome{};
      }
      if (r < ARCHIVE_WARN) {
        return Fail(kUnrarDamaged, "damaged entry " + name + ": " + ErrorOf(a));
      }
      if (offset != next) {
        inOrder = false;
      }
      next = offset + static_cast<la_int64_t>(size);
      crc = Crc32(std::span<const uint8_t>(static_cast<const uint8_t*>(block), size), crc);
      if (fd < 0) {
        continue;
      }
      if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Fail(kUnrarWriteFailed, "cannot write " + path + ": " + ErrnoText(errno));
      }
      const char* p = static_cast<const char*>(block);
      while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0) {
          if (errno == EINTR) {
            continue;
          }
          return Fail(kUnrarWriteFailed, "cannot write " + path + ": " + ErrnoText(errno));
        }
        p += n;
        size -= static_cast<size_t>(n);
      }
    }
  }

  char command_;
  std::string dest_;
  Rar4Checksums checksums_;
  std::optional<uint32_t> expectedCrc_;
  mode_t umask_ = 022;
};

}  // namespace

UnrarOutcome RunUnrar(const std::vector<std::string>& args) {
  if (args.empty() || args[0].size() != 1) {
    return Fail(kUnrarUsage, "no command given");
  }
  const char command = static_cast<char>(args[0][0] | 0x20);  // commands in either case
  if (command != 't' && command != 'e' && command != 'x') {
    return Fail(kUnrarUsage, "unknown command " + args[0]);
  }
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (words.empty() && a.size() > 1 && a[0] == '-') {
      if (a == "-y" || a == "-Y") {
        continue;  // the only answer this tool ever gives is yes
      }
      return Fail(kUnrarUsage, "unknown switch " + a);
    }
    words.push_back(a);
  }
  if (words.empty()) {
    return Fail(kUnrarUsage, "no archive given");
  }
  const size_t most = command == 't' ? 1 : 2;
  if (words.size() > most) {
    return Fail(kUnrarUsage, "unexpected argument " + words[most]);
  }
  std::string dest = words.size() > 1 ? words[1] : ".";
  while (dest.size() > 1 && dest.back() == '/') {
    dest.pop_back();
  }
  return Unpacker(command, dest).Run(words[0]);
}

}  // namespace varmex::tools
