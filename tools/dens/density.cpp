#include "tools/dens/density.h"

#include <span>

#include "io/unit_file.h"
#include "store/block_file.h"
#include "store/block_header.h"
#include "store/keyed_store.h"

namespace varmex::tools {
namespace {

// Walks one block, adding to `d`. False when its chain of entries is broken.
bool MeasureBlock(const store::BlockBytes& block, int32_t b, Density& d) {
  for (const store::BlockEntry& e : store::BlockEntries(block)) {
    if (e.IsEnd()) return true;
    if (e.runsPast) return false;
    if (e.IsDeleted()) {
      d.deletedUnits += e.units;
    } else {
      d.usedUnits += e.units;
      const int keyLength = e.KeyLength();
      if (e.IsFirstPiece() && !store::IsHeaderPiece(block, b, e.unit)) {
        const size_t keyAt = static_cast<size_t>(2 * e.unit);
        if (keyAt + static_cast<size_t>(keyLength) > block.size()) return false;
        const std::span<const uint8_t> key(block.data() + keyAt, block.size() - keyAt);
        const int32_t home = store::HomeBlock(key, static_cast<int16_t>(keyLength), d.blocks,
                                              store::HashSelector::kVariableLength);
        const auto probe = static_cast<int32_t>((int64_t{b} - home + d.blocks) % d.blocks + 1);
        if (probe > d.longestProbe) d.longestProbe = probe;
        ++d.records;
      }
    }
  }
  return true;
}

}  // namespace

double Density::UsedShare() const {
  if (blocks <= 0) return 0.0;
  return static_cast<double>(usedUnits) / (static_cast<double>(blocks) * store::kBlockUnits);
}

DensityVerdict Judge(double usedShare, int32_t longestProbe) {
  if (usedShare <= kRoomyShare && longestProbe <= kRoomyProbe) return kRoomy;
  if (usedShare <= kFillingShare && longestProbe <= kFillingProbe) return kFilling;
  return kTooDense;
}

Density MeasureDensity(const std::string& path) {
  Density d;
  const int16_t unit = io::FindFreeUnit();
  if (unit == io::kNoUnit) {
    d.problem = "no free file unit";
    return d;
  }
  if (int status = io::OpenUnit(unit, path, store::kBlockBytes); status != io::kIoOk) {
    d.problem = "cannot open the file (error " + std::to_string(status) + ")";
    return d;
  }
  store::BlockBytes block{};
  if (int status = io::ReadRecord(unit, 1, block); status != io::kIoOk) {
    d.problem = "cannot read block 1 (error " + std::to_string(status) + ")";
  } else if (!store::IsBlockFileHeader(block)) {
    d.problem = "block 1 is not a block-file header";
  } else {
    d.blocks = store::HeaderBlockCount(block);
    for (int32_t b = 1; b <= d.blocks && d.problem.empty(); ++b) {
      if (int status = io::ReadRecord(unit, b, block); status != io::kIoOk) {
        d.problem =
            "cannot read block " + std::to_string(b) + " (error " + std::to_string(status) + ")";
      } else if (!MeasureBlock(block, b, d)) {
        d.problem = "the entries of block " + std::to_string(b) + " are damaged";
      }
    }
  }
  io::CloseUnit(unit);
  d.verdict = d.problem.empty() ? Judge(d.UsedShare(), d.longestProbe) : kUnmeasured;
  return d;
}

}  // namespace varmex::tools
