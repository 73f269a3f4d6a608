// Preloaded into a program (LD_PRELOAD), counts its positioned reads and writes, those
// of exactly one 512-byte block apart, and at exit appends one line to the file named
// by VARMEX_IO_COUNT_OUT:
//   <program> <block reads> <block writes> <all positioned reads> <all positioned writes>
// The program's data files are read and written only by positioned block I/O, so the
// first two figures are the block reads and writes its data operations made. Then, per
// file name (lower case, without its folder), one line each:
//   <program> file <name> <block reads> <block writes>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
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
  unsigned long long reads, writes;
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

FileCount* Track(int fd) {
  if (fd < 0 || fd >= kMaxFd) return nullptr;
  if (!fdSeen[fd]) {
    fdSeen[fd] = true;
    byFd[fd] = FileCount{};
    NameOf(fd, byFd[fd].name, sizeof byFd[fd].name);
  }
  return &byFd[fd];
}

void Fold(int fd) {
  if (fd < 0 || fd >= kMaxFd || !fdSeen[fd]) return;
  fdSeen[fd] = false;
  const FileCount& c = byFd[fd];
  for (int i = 0; i < names; ++i) {
    if (std::strcmp(byName[i].name, c.name) == 0) {
      byName[i].reads += c.reads;
      byName[i].writes += c.writes;
      return;
    }
  }
  if (names < kMaxNames) byName[names++] = c;
}

using ReadFn = ssize_t (*)(int, void*, size_t, off_t);
using WriteFn = ssize_t (*)(int, const void*, size_t, off_t);

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

void CountRead(int fd, size_t count) {
  ++allReads;
  if (count != kBlock) return;
  ++blockReads;
  if (FileCount* c = Track(fd)) ++c->reads;
}

void CountWrite(int fd, size_t count) {
  ++allWrites;
  if (count != kBlock) return;
  ++blockWrites;
  if (FileCount* c = Track(fd)) ++c->writes;
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
  char line[256];
  const int n =
      std::snprintf(line, sizeof line, "%s %llu %llu %llu %llu\n", program, blockReads.load(),
                    blockWrites.load(), allReads.load(), allWrites.load());
  std::string text(line, n > 0 ? static_cast<size_t>(n) : 0);
  for (int fd = 0; fd < kMaxFd; ++fd) Fold(fd);
  for (int i = 0; i < names; ++i) {
    std::snprintf(line, sizeof line, "%.63s file %.39s %llu %llu\n", program, byName[i].name,
                  byName[i].reads, byName[i].writes);
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
  CountRead(fd, count);
  return real(fd, buf, count, offset);
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
  static const ReadFn real = Next<ReadFn>("pread64");
  CountRead(fd, count);
  return real(fd, buf, count, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  static const WriteFn real = Next<WriteFn>("pwrite");
  CountWrite(fd, count);
  return real(fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  static const WriteFn real = Next<WriteFn>("pwrite64");
  CountWrite(fd, count);
  return real(fd, buf, count, offset);
}

int close(int fd) {
  using CloseFn = int (*)(int);
  static const CloseFn real = Next<CloseFn>("close");
  Fold(fd);
  return real(fd);
}

}  // extern "C"
