#include "platform/bounded_input.h"

#include <cstdint>
#include <istream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace varmex::platform {
namespace {

#ifdef _WIN32

FileRead ReadOpened(HANDLE handle, size_t maxBytes, std::string& contents) {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(handle, &size) && static_cast<uint64_t>(size.QuadPart) > maxBytes) {
    return FileRead::kTooLarge;
  }
  char buffer[64 * 1024];
  DWORD got = 0;
  while (::ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
    if (got == 0) return FileRead::kRead;
    // A file that grew since its size was asked is held to the same bound.
    if (contents.size() + got > maxBytes) return FileRead::kTooLarge;
    contents.append(buffer, got);
  }
  return FileRead::kUnreadable;
}

FileRead ReadFileAt(const std::string& path, size_t maxBytes, std::string& contents) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileRead::kFolder;
  }
  HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? FileRead::kMissing
                                                                  : FileRead::kUnreadable;
  }
  // A pipe, a console or another device: never read, as the platform opens no such file.
  const FileRead read = ::GetFileType(handle) == FILE_TYPE_DISK
                            ? ReadOpened(handle, maxBytes, contents)
                            : FileRead::kNotRegular;
  ::CloseHandle(handle);
  return read;
}

#else

FileRead ReadOpened(int fd, size_t maxBytes, std::string& contents) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return FileRead::kUnreadable;
  if (S_ISDIR(st.st_mode)) return FileRead::kFolder;
  if (!S_ISREG(st.st_mode)) return FileRead::kNotRegular;
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return FileRead::kTooLarge;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  char buffer[64 * 1024];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileRead::kUnreadable;
    }
    if (n == 0) return FileRead::kRead;
    // A file that grew since it was measured is held to the same bound.
    if (contents.size() + static_cast<size_t>(n) > maxBytes) return FileRead::kTooLarge;
    contents.append(buffer, static_cast<size_t>(n));
  }
}

FileRead ReadFileAt(const std::string& path, size_t maxBytes, std::string& contents) {
  // O_NONBLOCK: opening a FIFO that has no writer would wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileRead::kMissing;
    return errno == ENXIO ? FileRead::kNotRegular : FileRead::kUnreadable;
  }
  const FileRead read = ReadOpened(fd, maxBytes, contents);
  ::close(fd);
  return read;
}

#endif

}  // namespace

FileRead ReadRegularFile(const std::string& path, size_t maxBytes, std::string& contents) {
  contents.clear();
  const FileRead read = ReadFileAt(path, maxBytes, contents);
  if (read != FileRead::kRead) contents.clear();
  return read;
}

std::string DescribeFileRead(FileRead read, size_t maxBytes) {
  switch (read) {
    case FileRead::kRead:
      return "read";
    case FileRead::kMissing:
      return "no such file";
    case FileRead::kFolder:
      return "a folder";
    case FileRead::kNotRegular:
      return "not a regular file (a pipe or a device)";
    case FileRead::kTooLarge:
      return "larger than " + std::to_string(maxBytes) + " bytes";
    case FileRead::kUnreadable:
      break;
  }
  return "cannot be read";
}

size_t FirstLongLine(std::string_view text, size_t maxLine) {
  size_t number = 1;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    if ((nl == std::string_view::npos ? text.size() : nl) > maxLine) return number;
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
    ++number;
  }
  return 0;
}

LineRead ReadBoundedLine(std::istream& in, size_t maxLine, size_t& budget, std::string& line) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  bool any = false;
  while (true) {
    const int c = buffer == nullptr ? std::char_traits<char>::eof() : buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      return any ? LineRead::kLine : LineRead::kEnd;
    }
    if (budget == 0) return LineRead::kTooMuch;
    --budget;
    any = true;
    if (c == '\n') return LineRead::kLine;
    if (line.size() == maxLine) return LineRead::kLongLine;
    line.push_back(static_cast<char>(c));
  }
}

std::string StandardInputRefusal() {
#ifdef _WIN32
  return std::string();  // the Windows build has no terminal dialogs
#else
  struct stat st {};
  if (::fstat(STDIN_FILENO, &st) != 0) return std::string();
  if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) return std::string();
  if (S_ISCHR(st.st_mode)) return ::isatty(STDIN_FILENO) ? std::string() : "a device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return S_ISDIR(st.st_mode) ? "a folder" : "a device";
#endif
}

}  // namespace varmex::platform
