#include "bench/walk_audit.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "io/unit_file.h"
#include "store/block_file.h"

namespace varmex::bench {

WalkAuditor::WalkAuditor(std::string path, int16_t unit) : path_(std::move(path)), unit_(unit) {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  Reload();
}

WalkAuditor::~WalkAuditor() {
  if (fd_ >= 0) ::close(fd_);
}

void WalkAuditor::Reload() { mirror_ = ReadWholeFile(path_); }

void WalkAuditor::Run(const std::function<void()>& op) {
  std::vector<int64_t> reads, writes;
  io::SetIoFaultHook([&](io::IoOp kind, int16_t unit, int64_t record) {
    if (unit == unit_) (kind == io::IoOp::kRead ? reads : writes).push_back(record);
    return io::IoFault{};
  });
  op();
  io::SetIoFaultHook(nullptr);

  const std::set<int64_t> distinct(reads.begin(), reads.end());
  const std::set<int64_t> written(writes.begin(), writes.end());
  uint64_t changed = 0;
  for (int64_t b : written) {
    uint8_t now[store::kBlockBytes];
    const off_t at = static_cast<off_t>(b - 1) * store::kBlockBytes;
    if (::pread(fd_, now, sizeof now, at) != static_cast<ssize_t>(sizeof now)) continue;
    const size_t offset = static_cast<size_t>(at);
    if (offset + sizeof now > mirror_.size()) continue;
    if (std::memcmp(now, mirror_.data() + offset, sizeof now) != 0) {
      ++changed;
      std::memcpy(mirror_.data() + offset, now, sizeof now);
    }
  }
  ++totals_.ops;
  totals_.reads += reads.size();
  totals_.distinctReads += distinct.size();
  totals_.writes += writes.size();
  totals_.changedWrites += changed;
  if (distinct.size() != reads.size() || changed != writes.size()) ++totals_.excessOps;
}

}  // namespace varmex::bench
