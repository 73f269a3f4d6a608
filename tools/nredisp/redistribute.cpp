#include "tools/nredisp/redistribute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <span>
#include <vector>

#include "io/unit_file.h"
#include "store/block_file.h"
#include "store/block_header.h"
#include "store/keyed_store.h"

namespace varmex::tools {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

RedistributeResult Failure(RedistributeStatus status, std::string problem) {
  RedistributeResult r;
  r.status = status;
  r.problem = std::move(problem);
  return r;
}

// Writes `header` then newBlocks - 1 zero blocks into a new file, and flushes it.
std::string CreateEmptyFile(const std::string& path, const store::BlockBytes& header,
                            int32_t newBlocks, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return Errno("cannot create " + path);
  std::string problem;
  auto put = [&](const uint8_t* data, size_t size) {
    while (size > 0 && problem.empty()) {
      const ssize_t n = ::write(fd, data, size);
      if (n < 0) {
        if (errno != EINTR) problem = Errno("cannot write " + path);
        continue;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
  };
  put(header.data(), header.size());
  const std::vector<uint8_t> zeros(static_cast<size_t>(store::kBlockBytes) * 256, 0);
  int64_t left = static_cast<int64_t>(newBlocks - 1) * store::kBlockBytes;
  while (left > 0 && problem.empty()) {
    const size_t chunk =
        left < static_cast<int64_t>(zeros.size()) ? static_cast<size_t>(left) : zeros.size();
    put(zeros.data(), chunk);
    left -= static_cast<int64_t>(chunk);
  }
  if (problem.empty() && ::fchmod(fd, mode) != 0) problem = Errno("cannot set the mode of " + path);
  if (::close(fd) != 0 && problem.empty()) problem = Errno("cannot close " + path);
  return problem;
}

std::string SyncToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return Errno("cannot reopen " + path);
  const int rc = ::fsync(fd);
  ::close(fd);
  return rc == 0 ? "" : Errno("cannot flush " + path);
}

void SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(dir.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Copies every record of the old file into the new one. Keys are copied once each:
// a second first piece of a key that the store would never find is left behind.
RedistributeResult CopyRecords(int16_t oldUnit, int32_t oldBlocks, int16_t newUnit,
                               int32_t newBlocks) {
  RedistributeResult r;
  std::set<std::string> copied;
  std::vector<uint8_t> record(static_cast<size_t>(store::kMaxRecordLength));
  store::BlockBytes block{};
  for (int32_t b = 1; b <= oldBlocks; ++b) {
    if (int status = io::ReadRecord(oldUnit, b, block); status != io::kIoOk) {
      return Failure(kOldFileUnusable, "cannot read block " + std::to_string(b) + " (error " +
                                           std::to_string(status) + ")");
    }
    for (const store::BlockEntry& e : store::BlockEntries(block)) {
      if (e.IsEnd()) break;
      if (e.runsPast) {
        return Failure(kOldFileUnusable,
                       "the entries of block " + std::to_string(b) + " are damaged");
      }
      const int keyLength = e.KeyLength();
      if (e.IsFirstPiece() && !store::IsHeaderPiece(block, b, e.unit)) {
        if (2 * e.unit + keyLength > store::kBlockBytes) {
          return Failure(kOldFileUnusable,
                         "the entries of block " + std::to_string(b) + " are damaged");
        }
        const auto keyAt = block.begin() + 2 * e.unit;
        const std::string key(keyAt, keyAt + keyLength);
        if (copied.insert(key).second) {
          std::copy(key.begin(), key.end(), record.begin());
          const store::ReadResult got =
              store::KeyedRead(record, static_cast<int16_t>(keyLength), oldBlocks, oldUnit,
                               store::HashSelector::kVariableLength, 0);
          if (got.status != store::kKeyedDone) {
            return Failure(kOldFileUnusable, "a record in block " + std::to_string(b) +
                                                 " cannot be read whole (store status " +
                                                 std::to_string(got.status) + ")");
          }
          const store::WriteResult put = store::KeyedWrite(
              std::span<const uint8_t>(record.data(), static_cast<size_t>(got.length)),
              static_cast<int16_t>(keyLength), newBlocks, newUnit,
              store::HashSelector::kVariableLength);
          if (put.status != store::kKeyedDone) {
            return Failure(kNewFileFailed, "record " + std::to_string(r.records + 1) +
                                               " cannot be placed in " + std::to_string(newBlocks) +
                                               " blocks (store status " +
                                               std::to_string(put.status) + ")");
          }
          ++r.records;
        }
      }
    }
  }
  return r;
}

}  // namespace

std::string TemporaryName(const std::string& path) { return path + ".nredisp-tmp"; }

RedistributeResult Redistribute(const std::string& path, int32_t newBlocks, bool replace) {
  if (newBlocks < 2) return Failure(kBadCommandLine, "the new block count must be at least 2");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return Failure(kOldFileUnusable, Errno("cannot find " + path));

  const int16_t oldUnit = io::FindFreeUnit();
  if (oldUnit == io::kNoUnit) return Failure(kOldFileUnusable, "no free file unit");
  if (int status = io::OpenUnit(oldUnit, path, store::kBlockBytes); status != io::kIoOk) {
    return Failure(kOldFileUnusable,
                   "cannot open " + path + " (error " + std::to_string(status) + ")");
  }
  store::BlockBytes header{};
  const int readStatus = io::ReadRecord(oldUnit, 1, header);
  if (readStatus != io::kIoOk || !store::IsBlockFileHeader(header)) {
    io::CloseUnit(oldUnit);
    return Failure(kOldFileUnusable, path + " has no valid block-file header");
  }
  const int32_t oldBlocks = store::HeaderBlockCount(header);
  store::BlockBytes last{};
  if (io::ReadRecord(oldUnit, oldBlocks, last) != io::kIoOk) {
    io::CloseUnit(oldUnit);
    return Failure(kOldFileUnusable,
                   path + " is shorter than its " + std::to_string(oldBlocks) + " blocks");
  }

  // The new header keeps whatever else the old one carried.
  store::SetHeaderBlockCount(header, newBlocks);
  const std::string temporary = TemporaryName(path);
  if (std::string problem = CreateEmptyFile(temporary, header, newBlocks, info.st_mode & 07777);
      !problem.empty()) {
    io::CloseUnit(oldUnit);
    ::unlink(temporary.c_str());
    return Failure(kNewFileFailed, problem);
  }
  const int16_t newUnit = io::FindFreeUnit();
  if (newUnit == io::kNoUnit || io::OpenUnit(newUnit, temporary, store::kBlockBytes) != io::kIoOk) {
    io::CloseUnit(oldUnit);
    ::unlink(temporary.c_str());
    return Failure(kNewFileFailed, "cannot open " + temporary);
  }

  RedistributeResult r = CopyRecords(oldUnit, oldBlocks, newUnit, newBlocks);
  io::CloseUnit(newUnit);
  io::CloseUnit(oldUnit);
  r.oldBlocks = oldBlocks;
  if (r.status == kRedistributed) {
    if (std::string problem = SyncToDisk(temporary); !problem.empty())
      r = Failure(kNewFileFailed, problem);
  }
  if (r.status != kRedistributed) {
    ::unlink(temporary.c_str());
    return r;
  }
  const std::string target = replace ? path : path + ".nredisp";
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string problem = Errno("cannot rename " + temporary + " to " + target);
    ::unlink(temporary.c_str());
    return Failure(kNewFileFailed, problem);
  }
  SyncDirectoryOf(target);
  r.writtenTo = target;
  return r;
}

}  // namespace varmex::tools
