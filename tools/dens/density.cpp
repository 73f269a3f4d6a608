#include "tools/dens/density.h"

#include <cstdio>
#include <span>
#include <string>

#include "io/unit_file.h"
#include "platform/platform.h"
#include "store/block_file.h"
#include "store/block_header.h"
#include "store/keyed_store.h"
#include "store/verify.h"
#include "tools/common/progress.h"

namespace varmex::tools {
namespace {

// Walks one block, adding to `d`. False when its chain of entries is broken.
bool MeasureBlock(const store::BlockBytes& block, int32_t b, Density& d) {
  for (const store::BlockEntry& e : store::BlockEntries(block)) {
    if (e.IsEnd()) return true;
    if (e.runsPast) return false;
    if (e.IsDeleted()) {
      d.deletedCells += e.cells;
    } else {
      d.usedCells += e.cells;
      const int keyLength = e.KeyLength();
      if (e.IsFirstPiece() && !store::IsHeaderPiece(block, b, e.cell)) {
        const std::span<const uint8_t> key = e.KeyIn(block);
        if (key.size() != static_cast<size_t>(keyLength)) return false;
        const int32_t home = store::HomeBlock(key, static_cast<int16_t>(keyLength), d.blocks,
                                              store::HashSelector::kVariableLength);
        const int32_t probe = store::ProbeDistance(home, b, d.blocks) + 1;
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
  return static_cast<double>(usedCells) / (static_cast<double>(blocks) * store::kBlockCells);
}

DensityVerdict Judge(double usedShare, int32_t longestProbe) {
  if (usedShare <= kRoomyShare && longestProbe <= kRoomyProbe) return kRoomy;
  if (usedShare <= kFillingShare && longestProbe <= kFillingProbe) return kFilling;
  return kTooDense;
}

Density MeasureDensity(platform::Platform& os, const std::string& path,
                       const std::function<void(int32_t block, int32_t last)>& progress) {
  Density d;
  const int16_t unit = io::FindFreeUnit();
  if (unit == io::kNoUnit) {
    d.problem = "no free file unit";
    return d;
  }
  // Only read: a file the user may not write is measured too.
  if (int status = io::OpenUnitForReading(os, unit, path, store::kBlockBytes);
      status != io::kIoOk) {
    d.problem = "cannot open the file (error " + std::to_string(status) + ")";
    return d;
  }
  store::BlockBytes block{};
  if (int status = io::ReadRecord(unit, 1, block); status != io::kIoOk) {
    d.problem = "cannot read block 1 (error " + std::to_string(status) + ")";
  } else if (!store::IsBlockFileHeader(block)) {
    d.problem = "block 1 is not a block-file header";
  } else if (std::string size = store::FileSizeProblem(store::HeaderBlockCount(block),
                                                       os.FileSize(path).value_or(0));
             !size.empty()) {
    d.problem = size;  // a damaged file: every block walked is one the file holds
  } else {
    d.blocks = store::HeaderBlockCount(block);
    // Holes of a sparse file hold nothing: they are not read.
    store::BlockSource source = store::UnitSource(unit);
    source.progress = progress;
    store::ScanBlocks(source, 1, d.blocks, [&](const store::ScannedBlocks& s) {
      if (s.status != io::kIoOk) {
        d.problem = "cannot read block " + std::to_string(s.from) + " (error " +
                    std::to_string(s.status) + ")";
      } else if (!s.hole && !MeasureBlock(*s.bytes, s.from, d)) {
        d.problem = "the entries of block " + std::to_string(s.from) + " are damaged";
      }
      return d.problem.empty();
    });
  }
  io::CloseUnit(unit);
  d.verdict = d.problem.empty() ? Judge(d.UsedShare(), d.longestProbe) : kUnmeasured;
  return d;
}

namespace {

constexpr const char* kUsage =
    "usage: dens FILE\n"
    "Measures a block file of the keyed record store. Exit status:\n"
    "  0 roomy      at most 50% of the units used, no probe path over 8 blocks\n"
    "  1 filling    at most 75% used, no probe path over 32 blocks\n"
    "  2 too dense  more: spread the file over more blocks (nredisp)\n"
    "  3 the file cannot be measured (missing, no valid header, damaged)\n"
    "  7 a bad command line\n";

std::string Percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * share);
  return text;
}

}  // namespace

int RunDens(platform::Platform& os, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, bool showProgress) {
  std::vector<std::string> files;
  bool options = true;
  for (const std::string& a : args) {
    if (options && (a == "--help" || a == "-h")) {
      out << kUsage;
      return kRoomy;
    }
    if (options && a == "--") {
      options = false;
    } else if (options && !a.empty() && a[0] == '-') {
      err << "dens: unknown option " << a << "\n" << kUsage;
      return kDensUsage;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 1) {
    err << kUsage;
    return kDensUsage;
  }
  const std::string& file = files[0];
  if (file.empty()) {
    err << "dens: the file name is empty\n";
    return kDensUsage;
  }
  ProgressMeter meter(err, "dens", showProgress);
  const Density d = MeasureDensity(os, file, meter.Callback());
  meter.Wipe();
  if (d.verdict == kUnmeasured) {
    err << "dens: " << file << ": " << d.problem << "\n";
    return d.verdict;
  }
  static const char* const kWords[] = {"roomy", "filling", "too dense"};
  out << file << ": " << d.blocks << " blocks, " << d.records << " records, "
      << Percent(d.UsedShare()) << " used, "
      << Percent(static_cast<double>(d.deletedCells) / (static_cast<double>(d.blocks) * 256.0))
      << " deleted, longest probe path " << d.longestProbe << " blocks: " << kWords[d.verdict]
      << "\n";
  return d.verdict;
}

}  // namespace varmex::tools
