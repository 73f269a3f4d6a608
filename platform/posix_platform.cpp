#include "platform/posix_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

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

 private:
  int fd_;
};

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
