// Preloaded into a program (LD_PRELOAD), counts the bytes its reads and writes of
// regular files move (positioned or not), in 512-byte blocks: a call that moves n bytes
// counts n / 512 blocks, rounded up, whatever its size, so a larger read is no way round
// the count. At exit it appends one line to the file named by VARMEX_IO_COUNT_OUT:
//   <program> <block reads> <block writes> <read calls> <write calls> <peak KB>
// (the peak: the program's own largest resident set, VmHWM, 0 when not known)
// then, per file name (lower case, without its folder), one line each:
//   <program> file <name> <block reads> <block writes> <read calls> <write calls>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kBlock = 512;

std::atomic<unsigned long long> blockReads{0}, blockWrites{0}, allReads{0}, allWrites{0};

// Block counts per open descriptor, folded into per-name totals when it is closed. The
// program is single-threaded; the tables are plain.
constexpr int kMaxFd = 1024;
constexpr int kMaxNames = 2048;
struct FileCount {
  char name[40];
  bool regular;
  unsigned long long reads, writes, readCalls, writeCalls;
};
FileCount byFd[kMaxFd];
bool fdSeen[kMaxFd];
FileCount byName[kMaxNames];
int names = 0;

void NameOf(int fd, char* out, size_t size) {
  char link[64], target[512];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  target[n > 0 ? n : 0] = '\0';
  const char* base = std::strrchr(target, '/');
  base = base != nullptr ? base + 1 : target;
  size_t i = 0;
  for (; base[i] != '\0' && i + 1 < size; ++i) {
    const char c = base[i];
    out[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  out[i] = '\0';
}

// The counts of a regular file's descriptor; null for anything else.
FileCount* Track(int fd) {
  if (fd < 0 || fd >= kMaxFd) return nullptr;
  if (!fdSeen[fd]) {
    fdSeen[fd] = true;
    byFd[fd] = FileCount{};
    struct stat st {};
    byFd[fd].regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (byFd[fd].regular) NameOf(fd, byFd[fd].name, sizeof byFd[fd].name);
  }
  return byFd[fd].regular ? &byFd[fd] : nullptr;
}

void Fold(int fd) {
  if (fd < 0 || fd >= kMaxFd || !fdSeen[fd]) return;
  fdSeen[fd] = false;
  const FileCount& c = byFd[fd];
  if (!c.regular) return;
  for (int i = 0; i < names; ++i) {
    if (std::strcmp(byName[i].name, c.name) == 0) {
      byName[i].reads += c.reads;
      byName[i].writes += c.writes;
      byName[i].readCalls += c.readCalls;
      byName[i].writeCalls += c.writeCalls;
      return;
    }
  }
  if (names < kMaxNames) byName[names++] = c;
}

using ReadFn = ssize_t (*)(int, void*, size_t, off_t);
using WriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using PlainReadFn = ssize_t (*)(int, void*, size_t);
using PlainWriteFn = ssize_t (*)(int, const void*, size_t);

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

unsigned long long Blocks(ssize_t moved) {
  return moved > 0 ? (static_cast<unsigned long long>(moved) + kBlock - 1) / kBlock : 0;
}

// Both leave errno as the call they count left it.
void CountRead(int fd, ssize_t moved) {
  const int error = errno;
  if (FileCount* c = Track(fd)) {
    ++allReads;
    blockReads += Blocks(moved);
    c->reads += Blocks(moved);
    ++c->readCalls;
  }
  errno = error;
}

void CountWrite(int fd, ssize_t moved) {
  const int error = errno;
  if (FileCount* c = Track(fd)) {
    ++allWrites;
    blockWrites += Blocks(moved);
    c->writes += Blocks(moved);
    ++c->writeCalls;
  }
  errno = error;
}

__attribute__((destructor)) void Report() {
  const char* out = std::getenv("VARMEX_IO_COUNT_OUT");
  if (out == nullptr || *out == '\0') return;
  char program[64] = "?";
  const int comm = ::open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
  if (comm >= 0) {
    const ssize_t n = ::read(comm, program, sizeof program - 1);
    program[n > 0 ? n : 0] = '\0';
    if (char* nl = std::strchr(program, '\n')) *nl = '\0';
    ::close(comm);
  }
  // The resident peak of this program alone: a parent's wait4 would also count the
  // pages the child shared with it between fork and exec.
  unsigned long long peakKb = 0;
  const int status = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (status >= 0) {
    char text[4096];
    const ssize_t n = ::read(status, text, sizeof text - 1);
    text[n > 0 ? n : 0] = '\0';
    if (const char* hwm = std::strstr(text, "VmHWM:")) peakKb = std::strtoull(hwm + 6, nullptr, 10);
    ::close(status);
  }
  char line[256];
  const int n =
      std::snprintf(line, sizeof line, "%s %llu %llu %llu %llu %llu\n", program, blockReads.load(),
                    blockWrites.load(), allReads.load(), allWrites.load(), peakKb);
  std::string text(line, n > 0 ? static_cast<size_t>(n) : 0);
  for (int fd = 0; fd < kMaxFd; ++fd) Fold(fd);
  for (int i = 0; i < names; ++i) {
    std::snprintf(line, sizeof line, "%.63s file %.39s %llu %llu %llu %llu\n", program,
                  byName[i].name, byName[i].reads, byName[i].writes, byName[i].readCalls,
                  byName[i].writeCalls);
    text += line;
  }
  const int fd = ::open(out, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, text.data(), text.size()) < 0) {
    // Nothing to do: the counts are lost and the caller sees no line.
  }
  ::close(fd);
}

}  // namespace

extern "C" {

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  static const ReadFn real = Next<ReadFn>("pread");
  const ssize_t n = real(fd, buf, count, offset);
  CountRead(fd, n);
  return n;
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
  static const ReadFn real = Next<ReadFn>("pread64");
  const ssize_t n = real(fd, buf, count, offset);
  CountRead(fd, n);
  return n;
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  static const WriteFn real = Next<WriteFn>("pwrite");
  const ssize_t n = real(fd, buf, count, offset);
  CountWrite(fd, n);
  return n;
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  static const WriteFn real = Next<WriteFn>("pwrite64");
  const ssize_t n = real(fd, buf, count, offset);
  CountWrite(fd, n);
  return n;
}

ssize_t read(int fd, void* buf, size_t count) {
  static const PlainReadFn real = Next<PlainReadFn>("read");
  const ssize_t n = real(fd, buf, count);
  CountRead(fd, n);
  return n;
}

ssize_t write(int fd, const void* buf, size_t count) {
  static const PlainWriteFn real = Next<PlainWriteFn>("write");
  const ssize_t n = real(fd, buf, count);
  CountWrite(fd, n);
  return n;
}

int close(int fd) {
  using CloseFn = int (*)(int);
  static const CloseFn real = Next<CloseFn>("close");
  Fold(fd);
  return real(fd);
}

}  // extern "C"
