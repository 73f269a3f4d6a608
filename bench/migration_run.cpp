#include "bench/migration_run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace varmex::bench {
namespace {

namespace fs = std::filesystem;

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Copies one file with 64 KiB reads and writes; the bytes copied, or -1.
int64_t CopyFileBytes(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return -1;
  }
  static char buffer[64 * 1024];
  int64_t total = 0;
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n <= 0) {
      if (n < 0) total = -1;
      break;
    }
    if (::write(out, buffer, static_cast<size_t>(n)) != n) {
      total = -1;
      break;
    }
    total += n;
  }
  ::close(in);
  if (::close(out) != 0) total = -1;
  return total;
}

bool IsDataFile(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == ".dat" || ext == ".voc";
}

}  // namespace

bool CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  return !ec;
}

bool LayOutDrives(const std::string& root, const std::string& collection, const std::string& fresh,
                  const std::string& binDir) {
  std::error_code ec;
  fs::remove_all(root, ec);
  const std::string varmex = root + "/drives/D/kedro/Varmex";
  const std::string erp = root + "/drives/D/kedro/ERP";
  fs::create_directories(varmex, ec);
  fs::create_directories(erp, ec);
  if (ec || !CopyTree(collection, root + "/drives/C/Palunor") || !CopyTree(fresh, varmex))
    return false;
  for (const char* tool : {"dens", "nredisp"}) {
    if (!fs::copy_file(binDir + "/" + tool, varmex + "/" + tool,
                       fs::copy_options::overwrite_existing, ec))
      return false;
  }
  for (const char* tool : {"convfurn", "cuvterti", "lsort", "fo2", "mkhvoc"}) {
    if (!fs::copy_file(binDir + "/" + tool, erp + "/" + tool, fs::copy_options::overwrite_existing,
                       ec))
      return false;
  }
  return true;
}

ChildRun RunChild(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env, const std::string& cwd) {
  ChildRun run;
  if (argv.empty()) return run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    const int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return run;
  }
  run.wallSeconds = Since(start);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.userSeconds = static_cast<double>(usage.ru_utime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
  run.systemSeconds = static_cast<double>(usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
  run.maxRssKb = usage.ru_maxrss;
  return run;
}

std::map<std::string, BlockCounts> ReadBlockCounts(const std::string& path) {
  std::map<std::string, BlockCounts> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string program, second;
    BlockCounts c;
    if (!(fields >> program >> second)) continue;
    if (second == "file") {
      std::string name;
      if (fields >> name >> c.reads >> c.writes) {
        BlockCounts& f = out[program + " " + name];
        f.reads += c.reads;
        f.writes += c.writes;
        if (fields >> c.allReads >> c.allWrites) {
          f.allReads += c.allReads;
          f.allWrites += c.allWrites;
        }
      }
      continue;
    }
    std::istringstream number(second);
    if (!(number >> c.reads) || !(fields >> c.writes >> c.allReads >> c.allWrites)) continue;
    if (!(fields >> c.peakKb)) c.peakKb = 0;
    BlockCounts& sum = out[program];
    sum.peakKb = std::max(sum.peakKb, c.peakKb);
    sum.reads += c.reads;
    sum.writes += c.writes;
    sum.allReads += c.allReads;
    sum.allWrites += c.allWrites;
  }
  return out;
}

uint64_t DataDigest(const std::string& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
    if (e.is_regular_file() && IsDataFile(e.path())) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  uint64_t h = 14695981039346656037ULL;
  auto mix = [&h](const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
      h ^= p[i];
      h *= 1099511628211ULL;
    }
  };
  std::vector<char> buffer(1 << 16);
  for (const fs::path& f : files) {
    const std::string rel = fs::relative(f, dir).generic_string();
    mix(rel.data(), rel.size() + 1);
    const uint64_t size = fs::file_size(f, ec);
    mix(&size, sizeof size);
    std::ifstream in(f, std::ios::binary);
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      mix(buffer.data(), static_cast<size_t>(in.gcount()));
    }
  }
  return h;
}

IoFloor MeasureIoFloor(const std::string& collection, const std::string& scratch,
                       const std::vector<std::string>& blockFiles) {
  IoFloor floor;
  std::error_code ec;
  fs::remove_all(scratch, ec);
  std::vector<std::pair<fs::path, fs::path>> copies;
  for (const auto& e : fs::recursive_directory_iterator(collection, ec)) {
    const fs::path target = fs::path(scratch) / fs::relative(e.path(), collection);
    if (e.is_directory()) {
      fs::create_directories(target, ec);
    } else if (e.is_regular_file()) {
      copies.emplace_back(e.path(), target);
    }
  }
  fs::create_directories(scratch, ec);
  auto start = std::chrono::steady_clock::now();
  for (const auto& [from, to] : copies) {
    const int64_t n = CopyFileBytes(from.string(), to.string());
    if (n > 0) {
      floor.bytesCopied += static_cast<uint64_t>(n);
      floor.blocksCopied += (static_cast<uint64_t>(n) + 511) / 512;
    }
  }
  floor.copySeconds = Since(start);

  start = std::chrono::steady_clock::now();
  for (const std::string& file : blockFiles) {
    const std::string copy = scratch + "/" + file;
    const int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char block[512];
    for (off_t at = 0; ::pread(fd, block, sizeof block, at) == static_cast<ssize_t>(sizeof block);
         at += 512) {
      ++floor.blocksRead;
    }
    ::close(fd);
  }
  floor.readSeconds = Since(start);
  fs::remove_all(scratch, ec);
  return floor;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace varmex::bench
