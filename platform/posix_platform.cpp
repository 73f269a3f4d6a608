#include "platform/posix_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/native.h"
#include "platform/posix_process.h"
#include "platform/ui_session.h"

namespace varmex::platform {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// A file is read-only when its owner may not write it (the owner's write bit is
// what SetFileAttributes changes).
bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

// Opens `path` without waiting (a FIFO or a device can make open or read wait for
// ever) and keeps the descriptor only when it is a regular file, which is then read
// and written as usual. Anything else is refused as a directory is: access denied.
// -1 with `error` set on failure.
int OpenRegularFile(const std::string& path, int flags, uint32_t& error, mode_t mode = 0) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode);
  if (fd < 0) {
    error = errno == ENXIO ? kErrorAccessDenied : posix::ErrorFromErrno(errno, path);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = kErrorAccessDenied;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  error = 0;
  return fd;
}

class PosixFile : public File {
 public:
  explicit PosixFile(int fd, bool writable = true) : fd_(fd), writable_(writable) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
    got = 0;
    while (got < out.size()) {
      const ssize_t n =
          ::pread(fd_, out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno == EIO ? kErrorReadFault : posix::ErrorFromErrno(errno);
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    return 0;
  }

  uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
    put = 0;
    if (!writable_) return kErrorAccessDenied;
    while (put < in.size()) {
      const ssize_t n =
          ::pwrite(fd_, in.data() + put, in.size() - put, static_cast<off_t>(offset + put));
      if (n < 0) {
        if (errno == EINTR) continue;
        return posix::ErrorFromErrno(errno);
      }
      if (n == 0) return kErrorDiskFull;
      put += static_cast<size_t>(n);
    }
    return 0;
  }

  uint32_t Flush() override {
    if (!writable_) return 0;
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) return errno == EIO ? kErrorWriteFault : posix::ErrorFromErrno(errno);
    }
    return 0;
  }

  std::pair<uint64_t, uint64_t> DataExtent(uint64_t offset) override {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
      struct stat st {};
      if (errno != ENXIO || ::fstat(fd_, &st) != 0) return {offset, UINT64_MAX};
      const uint64_t end = std::max<uint64_t>(offset, static_cast<uint64_t>(st.st_size));
      return {end, end};  // only holes from `offset` to the end
    }
    const off_t hole = ::lseek(fd_, data, SEEK_HOLE);
    if (hole < 0) return {static_cast<uint64_t>(data), UINT64_MAX};
    return {static_cast<uint64_t>(data), static_cast<uint64_t>(hole)};
#else
    return {offset, UINT64_MAX};
#endif
  }

 private:
  int fd_;
  bool writable_;
};

// The hold of LockFile: a BSD lock on a descriptor of its own. Unlike a POSIX record
// lock it is not dropped when the program closes some other descriptor of the file,
// so the program's own opens and closes of the file leave it in place.
class PosixFileLock : public FileLock {
 public:
  PosixFileLock(PosixPlatform& platform, int fd, std::string path)
      : platform_(platform), fd_(fd), path_(std::move(path)) {}
  ~PosixFileLock() override { ::close(fd_); }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

  // The hold stays on through the rename: a second holder that opened the old file
  // meanwhile finds, once it gets the hold, that the name now names another file.
  uint32_t ReplaceWith(std::string_view replacement) override {
    const std::string from = platform_.Resolve(replacement);
    if (from.empty()) return kErrorPathNotFound;
    struct stat held {};
    if (::fstat(fd_, &held) != 0) return posix::ErrorFromErrno(errno);
    if (::chmod(from.c_str(), held.st_mode & 07777) != 0) return posix::ErrorFromErrno(errno, from);
    return platform_.RenameFile(replacement, path_);
  }

 private:
  PosixPlatform& platform_;
  int fd_;
  std::string path_;
};

// Twelve characters of a-z and 0-9 from the system's random source.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof bytes) {
    // No random source: the clock and the process still make a name hard to foresee,
    // and the exclusive create keeps a foreseen one harmless.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    uint64_t mix = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
                   static_cast<uint64_t>(now.tv_sec) ^ (static_cast<uint64_t>(::getpid()) << 32);
    for (unsigned char& b : bytes) {
      mix = mix * 6364136223846793005ull + 1442695040888963407ull;
      b = static_cast<unsigned char>(mix >> 56);
    }
  }
  std::string out;
  for (unsigned char b : bytes) out += kAlphabet[b % (sizeof kAlphabet - 1)];
  return out;
}

// Copies every byte of `in` to `out`; 0 or a Windows error code.
uint32_t CopyBytes(int in, int out) {
  char buffer[64 * 1024];
  while (true) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kErrorReadFault;
    }
    if (n == 0) return 0;
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return posix::ErrorFromErrno(errno);
      }
      if (w == 0) return kErrorDiskFull;
      done += w;
    }
  }
}

}  // namespace

PosixPlatform::PosixPlatform(posix::DriveTable drives) : drives_(std::move(drives)) {}
PosixPlatform::~PosixPlatform() = default;

std::string PosixPlatform::Resolve(std::string_view path) {
  return posix::ResolvePath(drives_, path, &listings_).path;
}

UiSession& PosixPlatform::Terminal() {
  if (!terminal_)
    terminal_ = std::make_unique<UiSession>(TypedActions(std::cin), nullptr, &std::cout);
  return *terminal_;
}

int PosixPlatform::MessageBox(std::string_view text, std::string_view caption, uint32_t style) {
  return Terminal().MessageBox(text, caption, style);
}

intptr_t PosixPlatform::DialogBox(int resourceId, DialogProcedure& proc) {
  return Terminal().DialogBox(resourceId, proc, lastError_);
}

ProcessResult PosixPlatform::RunProcess(std::string_view commandLine, bool /*wantExitCode*/) {
  std::fflush(nullptr);  // the child shares our standard output
  const ProcessResult result = posix::RunCommandLine(drives_, commandLine);
  listings_.Forget();  // the child may have created, renamed or removed anything
  return result;
}

uint32_t PosixPlatform::GetFileAttributes(std::string_view path) {
  const std::string p = Resolve(path);
  struct stat st {};
  if (p.empty() || ::stat(p.c_str(), &st) != 0) return kInvalidFileAttributes;
  if (S_ISDIR(st.st_mode)) return kAttributeDirectory;
  return IsReadOnly(st) ? kAttributeReadOnly : kAttributeNormal;
}

uint32_t PosixPlatform::CreateDirectory(std::string_view path) {
  const std::string p = Resolve(path);
  if (p.empty()) return kErrorPathNotFound;
  if (::mkdir(p.c_str(), 0777) != 0) return posix::ErrorFromErrno(errno, p);
  listings_.Created(p);
  return 0;
}

uint32_t PosixPlatform::GetDriveType(std::string_view root) {
  const char letter = posix::DriveLetterOf(root);
  if (letter == 0 || !drives_.Root(letter)) return kDriveNoRootDir;
  return drives_.types[static_cast<size_t>(letter - 'A')];
}

uint32_t PosixPlatform::SetFileAttributes(std::string_view path, uint32_t attributes) {
  const std::string p = Resolve(path);
  struct stat st {};
  if (p.empty()) return kErrorPathNotFound;
  if (::stat(p.c_str(), &st) != 0) return posix::ErrorFromErrno(errno, p);
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttributeReadOnly) {
    mode &= ~kWriteBits;
  } else {
    mode |= S_IWUSR;
  }
  if (::chmod(p.c_str(), mode) != 0) return posix::ErrorFromErrno(errno, p);
  return 0;
}

uint32_t PosixPlatform::DeleteFile(std::string_view path) {
  const std::string p = Resolve(path);
  struct stat st {};
  if (p.empty()) return kErrorPathNotFound;
  if (::lstat(p.c_str(), &st) != 0) return posix::ErrorFromErrno(errno, p);
  if (S_ISDIR(st.st_mode)) return kErrorAccessDenied;
  if (!S_ISLNK(st.st_mode) && IsReadOnly(st)) return kErrorAccessDenied;  // as Windows refuses
  if (::unlink(p.c_str()) != 0) return posix::ErrorFromErrno(errno, p);
  listings_.Removed(p);
  return 0;
}

uint32_t PosixPlatform::CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  const std::string src = Resolve(from);
  const std::string dst = Resolve(to);
  if (src.empty() || dst.empty()) return kErrorPathNotFound;

  uint32_t openError = 0;
  const int in = OpenRegularFile(src, O_RDONLY, openError);
  if (in < 0) return openError;
  struct stat srcStat {};
  if (::fstat(in, &srcStat) != 0) {
    ::close(in);
    return kErrorAccessDenied;
  }

  struct stat dstStat {};
  if (::stat(dst.c_str(), &dstStat) == 0) {
    if (failIfExists) {
      ::close(in);
      return kErrorFileExists;
    }
    // Copying a file onto itself (two spellings of one name) would empty it.
    if (dstStat.st_dev == srcStat.st_dev && dstStat.st_ino == srcStat.st_ino) {
      ::close(in);
      return kErrorSharingViolation;
    }
    if (!S_ISREG(dstStat.st_mode) || IsReadOnly(dstStat)) {
      ::close(in);
      return kErrorAccessDenied;
    }
  }

  // O_TRUNC only once the descriptor is known to be a regular file.
  const int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : 0);
  const int out = OpenRegularFile(dst, flags, openError, 0666);
  if (out < 0) {
    ::close(in);
    return openError == kErrorAlreadyExists ? kErrorFileExists : openError;
  }
  if (!failIfExists && ::ftruncate(out, 0) != 0) {
    const int e = errno;
    ::close(in);
    ::close(out);
    return posix::ErrorFromErrno(e, dst);
  }
  uint32_t error = CopyBytes(in, out);
  if (::close(out) != 0 && error == 0) error = posix::ErrorFromErrno(errno, dst);
  ::close(in);
  if (error != 0) {
    ::unlink(dst.c_str());  // no half-copied file is left behind
    return error;
  }
  listings_.Created(dst);
  // The copy keeps the source's read-only mark, as on Windows.
  if (IsReadOnly(srcStat)) {
    struct stat st {};
    if (::stat(dst.c_str(), &st) == 0) ::chmod(dst.c_str(), st.st_mode & 07777 & ~kWriteBits);
  }
  return 0;
}

std::optional<uint64_t> PosixPlatform::FileSize(std::string_view path) {
  const std::string p = Resolve(path);
  struct stat st {};
  if (p.empty() || ::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::unique_ptr<File> PosixPlatform::OpenExistingFile(std::string_view path, uint32_t& error) {
  const std::string p = Resolve(path);
  if (p.empty()) {
    error = kErrorPathNotFound;
    return nullptr;
  }
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) {
    error = posix::ErrorFromErrno(errno, p);
    return nullptr;
  }
  // Windows refuses to open a read-only file or a directory for writing; so do we,
  // also when running with the rights to override the permission bits. A FIFO, a
  // device or a socket is no data file: refused the same way, before it is opened.
  if (!S_ISREG(st.st_mode) || IsReadOnly(st)) {
    error = kErrorAccessDenied;
    return nullptr;
  }
  const int fd = OpenRegularFile(p, O_RDWR, error);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<File> PosixPlatform::OpenFileForReading(std::string_view path, uint32_t& error) {
  const std::string p = Resolve(path);
  if (p.empty()) {
    error = kErrorPathNotFound;
    return nullptr;
  }
  const int fd = OpenRegularFile(p, O_RDONLY, error);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd, false);
}

std::unique_ptr<File> PosixPlatform::CreateUniqueFile(std::string_view prefix,
                                                      std::string& createdPath, uint32_t& error) {
  const std::string p = Resolve(prefix);
  if (p.empty()) {
    error = kErrorPathNotFound;
    return nullptr;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = RandomSuffix();
    const std::string name = p + suffix;
    // O_EXCL never opens what lies there already, not even through a link.
    const int fd =
        ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
      listings_.Created(name);
      createdPath = std::string(prefix) + suffix;
      error = 0;
      return std::make_unique<PosixFile>(fd);
    }
    if (errno != EEXIST && errno != EINTR) {
      error = posix::ErrorFromErrno(errno, name);
      return nullptr;
    }
  }
  error = kErrorFileExists;
  return nullptr;
}

uint32_t PosixPlatform::RenameFile(std::string_view from, std::string_view to) {
  const std::string src = Resolve(from);
  const std::string dst = Resolve(to);
  if (src.empty() || dst.empty()) return kErrorPathNotFound;
  if (::rename(src.c_str(), dst.c_str()) != 0) return posix::ErrorFromErrno(errno, src);
  listings_.Removed(src);
  listings_.Created(dst);
  return 0;
}

uint32_t PosixPlatform::MatchAccess(std::string_view path, std::string_view like) {
  const std::string target = Resolve(path);
  const std::string model = Resolve(like);
  if (target.empty()) return kErrorPathNotFound;
  struct stat st {};
  mode_t mode = 0;
  if (!model.empty() && ::stat(model.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::chmod(target.c_str(), mode) != 0) return posix::ErrorFromErrno(errno, target);
  return 0;
}

std::unique_ptr<FileLock> PosixPlatform::LockFile(std::string_view path, uint32_t& error) {
  const std::string p = Resolve(path);
  if (p.empty()) {
    error = kErrorPathNotFound;
    return nullptr;
  }
  // The hold is on the file the name names once the hold is had: a file put in the
  // name's place while this waited for nothing is held afresh.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = OpenRegularFile(p, O_RDONLY, error);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      ::close(fd);
      error = e == EWOULDBLOCK ? kErrorLockViolation : posix::ErrorFromErrno(e, p);
      return nullptr;
    }
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(p.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      error = 0;
      return std::make_unique<PosixFileLock>(*this, fd, p);
    }
    ::close(fd);
  }
  error = kErrorLockViolation;
  return nullptr;
}

std::optional<std::string> PosixPlatform::FinalPath(std::string_view path) {
  const std::string p = Resolve(path);
  if (p.empty()) return std::nullopt;
  char buffer[PATH_MAX];
  if (::realpath(p.c_str(), buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

uint32_t PosixPlatform::ListDirectory(std::string_view path, std::vector<std::string>& names) {
  const std::string p = Resolve(path);
  if (p.empty()) return kErrorPathNotFound;
  DIR* dir = ::opendir(p.c_str());
  if (dir == nullptr) return posix::ErrorFromErrno(errno, p);
  names.clear();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return 0;
}

void PosixPlatform::WriteStandardOutput(std::string_view text) {
  std::cout << text;
  if (text.empty() || text.back() != '\n') std::cout << '\n';
  std::cout.flush();
}

void PosixPlatform::ExitProcess(int status) {
  std::cout.flush();
  std::exit(status);
}

namespace {

struct Native {
  std::string problem;
  std::unique_ptr<PosixPlatform> platform;
};

// Made on first use and never destroyed, so that it outlives every static object
// that might still reach the platform while the process ends.
Native& TheNative() {
  static Native* native = [] {
    posix::DriveSetup setup =
        posix::LoadDrives(std::getenv("VARMEX_DRIVES"), std::getenv("VARMEX_DRIVE_TYPES"));
    if (!setup.problem.empty()) std::fprintf(stderr, "varmex: %s\n", setup.problem.c_str());
    return new Native{setup.problem, std::make_unique<PosixPlatform>(std::move(setup.table))};
  }();
  return *native;
}

}  // namespace

const std::string& NativeDriveProblem() { return TheNative().problem; }

Platform& NativePlatform() { return *TheNative().platform; }

}  // namespace varmex::platform
