// Audit of the blocks keyed operations move: for each operation, the block reads and
// writes that reach the file, beside the least its walk needs (each block of the walk
// read once, only the blocks whose bytes changed written).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bench/workload.h"

namespace varmex::bench {

struct WalkTotals {
  uint64_t ops = 0;
  uint64_t reads = 0;          // block reads that reached the file
  uint64_t distinctReads = 0;  // different blocks among them, per operation
  uint64_t writes = 0;         // block writes that reached the file
  uint64_t changedWrites = 0;  // written blocks whose bytes differ from before the operation
  uint64_t excessOps = 0;      // operations that read a block twice or wrote one unchanged

  double PerOp(uint64_t v) const {
    return ops == 0 ? 0 : static_cast<double>(v) / static_cast<double>(ops);
  }
};

// Watches the file open on `unit` (its bytes at `path`). Each Run performs one
// operation with the io layer's fault hook recording the blocks it reads and writes
// on that unit, then reads the written blocks back to see which changed.
class WalkAuditor {
 public:
  WalkAuditor(std::string path, int16_t unit);
  ~WalkAuditor();
  WalkAuditor(const WalkAuditor&) = delete;
  WalkAuditor& operator=(const WalkAuditor&) = delete;

  // Re-reads the file: call after the file was changed other than through Run.
  void Reload();
  void Run(const std::function<void()>& op);
  const WalkTotals& totals() const { return totals_; }

 private:
  std::string path_;
  int16_t unit_;
  int fd_ = -1;
  Bytes mirror_;
  WalkTotals totals_;
};

}  // namespace varmex::bench
