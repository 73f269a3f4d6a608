#include "store/verify.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "io/coding.h"
#include "io/unit_file.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"

namespace varmex::store {
namespace {

using Place = std::pair<int32_t, int>;

// The blocks of a file, loaded once; a block that could not be read is absent. Only
// the blocks the file holds are read: up to the first one past its end, or up to
// `held` when the file's size is known. Memory follows the file, not N.
class LoadedFile {
 public:
  LoadedFile(const BlockReader& read, int32_t n, int32_t held) : n_(n) {
    const int32_t last = std::min(n, held);
    for (int32_t b = 1; b <= last; ++b) {
      BlockBytes block{};
      const int status = read(b, block);
      if (status == io::kIoPastEnd) {
        endedAt_ = b;
        break;
      }
      if (status != 0) {
        blocks_.push_back(std::nullopt);
        continue;
      }
      blocks_.push_back(block);
    }
    if (endedAt_ == 0 && last < n) endedAt_ = last + 1;
  }
  const BlockBytes* Block(int32_t b) const {
    if (b < 1 || static_cast<size_t>(b) > blocks_.size() || !blocks_[static_cast<size_t>(b - 1)])
      return nullptr;
    return &*blocks_[static_cast<size_t>(b - 1)];
  }
  int32_t present() const {
    int32_t count = 0;
    for (const auto& b : blocks_) count += b ? 1 : 0;
    return count;
  }
  // The blocks read or found unreadable: the ones a walk over the file may visit.
  int32_t walked() const { return static_cast<int32_t>(blocks_.size()); }
  // The first block past the end of the file, 0 when the file holds all N.
  int32_t endedAt() const { return endedAt_; }
  int32_t n() const { return n_; }

 private:
  int32_t n_;
  int32_t endedAt_ = 0;
  std::vector<std::optional<BlockBytes>> blocks_;
};

void Add(VerifyReport& report, int32_t block, int unit, std::string text) {
  report.problems.push_back({block, unit, std::move(text)});
}

// Blocks the file holds whole, by its size (INT32_MAX when the size is not known).
int32_t HeldBlocks(std::optional<uint64_t> fileBytes) {
  if (!fileBytes) return INT32_MAX;
  return static_cast<int32_t>(std::min<uint64_t>(*fileBytes / kBlockBytes, INT32_MAX));
}

// A file shorter than its N blocks: the place where it ends too early. A block file
// (`exact`) longer than its N blocks: the first block past them. (A word-layout file
// has no count of its own: bytes past its last whole block are no fault.)
void CheckSize(const LoadedFile& file, std::optional<uint64_t> fileBytes, bool exact,
               VerifyReport& report) {
  const int32_t n = file.n();
  if (file.endedAt() != 0) {
    const int32_t at = file.endedAt();
    const int unit = fileBytes && *fileBytes / kBlockBytes == static_cast<uint64_t>(at - 1)
                         ? static_cast<int>(*fileBytes % kBlockBytes) / 2 + 1
                         : 1;
    Add(report, at, unit,
        "the file ends here, short of its " + std::to_string(n) + " blocks (blocks " +
            std::to_string(at) + " to " + std::to_string(n) + " are missing)");
  } else if (exact && fileBytes && *fileBytes > static_cast<uint64_t>(n) * kBlockBytes) {
    const bool whole = *fileBytes % kBlockBytes == 0;
    Add(report, n + 1, 1,
        "the file goes on past its " + std::to_string(n) + " blocks: it holds " +
            std::to_string(whole ? *fileBytes / kBlockBytes : *fileBytes) +
            (whole ? " blocks" : " bytes"));
  }
}

std::span<const uint8_t> KeyAt(const BlockBytes& block, int unit, int keyLength) {
  return std::span<const uint8_t>(block.data() + 2 * unit, static_cast<size_t>(keyLength));
}

bool SoundPiece(const BlockBytes& block, int unit) {
  const int kl = FlagsByte(block, unit) & kFlagKeyLength;
  return kl >= 1 && !EntryRunsPast(block, unit) && 2 * SizeByte(block, unit) >= kl;
}

// The place the look-up of the key would find, if any.
std::optional<Place> Lookup(const LoadedFile& file, std::span<const uint8_t> key, int keyLength,
                            HashSelector selector) {
  int32_t b = HomeBlock(key, static_cast<int16_t>(keyLength), file.n(), selector);
  for (int32_t read = 0; read < file.n(); ++read, b = NextBlock(b, file.n())) {
    const BlockBytes* block = file.Block(b);
    if (block == nullptr) return std::nullopt;
    for (const BlockEntry& e : BlockEntries(*block)) {
      if (e.IsEnd()) return std::nullopt;
      if (e.IsFirstPiece() && PieceMatches(*block, e.unit, key, keyLength)) {
        return Place{b, e.unit};
      }
    }
  }
  return std::nullopt;
}

// Where the walk of a record's pieces from one first piece ends.
struct Segment {
  enum End { kLastPiece, kNoLastPiece, kNextFirstPiece } end = kNoLastPiece;
  Place next;  // the next first piece of the same key, for kNextFirstPiece
};

// Follows the pieces of the key of the first piece at `first`, as a read gathers them,
// claiming them, up to a last piece, up to what ends the walk (the end of a block's
// used area, a block missing, N blocks), or up to the next first piece of the same key:
// the pieces after that belong to the walk from that one. So every piece is claimed by
// one walk only, and the walks together cost what the file holds.
Segment FollowPieces(const LoadedFile& file, Place first, std::set<Place>& claimed) {
  const BlockBytes& home = *file.Block(first.first);
  const int kl = FlagsByte(home, first.second) & kFlagKeyLength;
  BlockBytes keyCopy{};
  std::memcpy(keyCopy.data(), home.data() + 2 * first.second, static_cast<size_t>(kl));
  const std::span<const uint8_t> key(keyCopy.data(), static_cast<size_t>(kl));
  int32_t b = first.first;
  int from = EntryAt(home, first.second).Next();
  for (int32_t walked = 1;; ++walked) {
    const BlockBytes* block = file.Block(b);
    if (block == nullptr) return {};
    for (const BlockEntry& e : BlockEntries(*block, from)) {
      if (e.IsEnd()) return {};
      if (!PieceMatches(*block, e.unit, key, kl)) continue;
      if ((e.flags & kFlagFirst) != 0) return {Segment::kNextFirstPiece, {b, e.unit}};
      claimed.insert({b, e.unit});
      if (e.IsClosingPiece()) return {Segment::kLastPiece, {}};
    }
    if (walked >= file.n()) return {};
    b = NextBlock(b, file.n());
    from = 1;
  }
}

// Whether the record of the first piece at `first` leads to a last piece. A walk that
// meets another first piece of its key goes on as that one's (reported once, at that
// piece); each first piece's answer is kept, so no stretch is walked twice.
bool LeadsToLastPiece(const LoadedFile& file, Place first, std::map<Place, bool>& known,
                      std::set<Place>& claimed, VerifyReport& report) {
  std::vector<Place> chain;
  std::set<Place> inChain;
  bool leads = false;
  for (Place at = first;;) {
    if (const auto it = known.find(at); it != known.end()) {
      leads = it->second;
      break;
    }
    if (!inChain.insert(at).second) break;  // round the file without a last piece
    chain.push_back(at);
    const BlockBytes& block = *file.Block(at.first);
    if ((FlagsByte(block, at.second) & kFlagLast) != 0) {
      leads = true;  // a record in one piece
      break;
    }
    const Segment s = FollowPieces(file, at, claimed);
    if (s.end != Segment::kNextFirstPiece) {
      leads = s.end == Segment::kLastPiece;
      break;
    }
    Add(report, s.next.first, s.next.second, "second first piece inside a record");
    at = s.next;
  }
  for (const Place& p : chain) known[p] = leads;
  return leads;
}

// The live pieces of a block file, sorted into first pieces and the others.
struct PieceTally {
  std::vector<Place> firsts;
  std::vector<Place> others;
};

// The counting pass: every entry of every block, counted into the report; damaged
// entries and unreadable blocks are reported, sound pieces tallied for the record pass.
PieceTally CountEntries(const LoadedFile& file, bool headerValid, VerifyReport& report) {
  PieceTally tally;
  for (int32_t b = 1; b <= file.walked(); ++b) {
    const BlockBytes* block = file.Block(b);
    if (block == nullptr) {
      Add(report, b, 0, "block cannot be read");
      continue;
    }
    for (const BlockEntry& e : BlockEntries(*block)) {
      if (e.IsEnd()) {
        report.freeUnits += e.units;
        break;
      }
      // What lies inside the block of an entry that runs past it.
      const int inside = std::min(e.units, kBlockUnits + 1 - e.unit);
      if (e.runsPast) Add(report, b, e.unit, "entry runs past the end of the block");
      if (e.IsDeleted()) {
        ++report.deletedEntries;
        report.freeUnits += inside;
      } else if (b == 1 && e.unit == 1 && headerValid) {
        report.usedUnits += inside;
      } else {
        ++report.pieces;
        report.usedUnits += inside;
        if (e.KeyLength() == 0) {
          Add(report, b, e.unit, "live piece with key length 0");
        } else if (2 * SizeByte(*block, e.unit) < e.KeyLength() && !e.runsPast) {
          Add(report, b, e.unit, "piece shorter than its key");
        } else if (SoundPiece(*block, e.unit)) {
          ((e.flags & kFlagFirst) != 0 ? tally.firsts : tally.others).push_back({b, e.unit});
        }
      }
    }
  }
  return tally;
}

// The record pass: every first piece leads to a last piece and is what the look-up of
// its key finds; every other piece belongs to a record.
void CheckRecords(const LoadedFile& file, const PieceTally& tally, HashSelector selector,
                  VerifyReport& report) {
  std::set<Place> claimed;
  std::map<Place, bool> leads;
  std::map<std::string, std::optional<Place>> found;  // by key: the look-up's answer
  for (const Place& p : tally.firsts) {
    ++report.records;
    const BlockBytes& block = *file.Block(p.first);
    const int kl = FlagsByte(block, p.second) & kFlagKeyLength;
    if (!LeadsToLastPiece(file, p, leads, claimed, report)) {
      Add(report, p.first, p.second, "first piece without a last piece");
    }
    const std::span<const uint8_t> key = KeyAt(block, p.second, kl);
    auto [it, added] = found.try_emplace(std::string(key.begin(), key.end()));
    if (added) it->second = Lookup(file, key, kl, selector);
    if (!it->second || *it->second != p)
      Add(report, p.first, p.second, "record not found by the look-up of its key");
  }
  for (const Place& p : tally.others) {
    if (claimed.count(p) == 0) Add(report, p.first, p.second, "piece without a first piece");
  }
}

}  // namespace

BlockReader ImageReader(std::span<const uint8_t> image) {
  return [image](int32_t block, std::span<uint8_t, kBlockBytes> out) {
    const uint64_t offset = static_cast<uint64_t>(block - 1) * kBlockBytes;
    if (block < 1 || offset + kBlockBytes > image.size()) return static_cast<int>(io::kIoPastEnd);
    std::memcpy(out.data(), image.data() + offset, kBlockBytes);
    return 0;
  };
}

VerifyReport VerifyBlockFile(const BlockReader& read, int32_t n, HashSelector selector,
                             std::optional<uint64_t> fileBytes) {
  VerifyReport report;
  BlockBytes first{};
  const int32_t headerCount = read(1, first) == 0 ? HeaderBlockCount(first) : 0;
  if (headerCount == 0) Add(report, 1, 0, "block 1 is not a valid header record");
  if (n == 0) n = headerCount;
  if (n > 0 && headerCount > 0 && n != headerCount) {
    Add(report, 1, 0,
        "header gives " + std::to_string(headerCount) + " blocks, checked as " + std::to_string(n));
  }
  report.blocks = n;
  if (n <= 0) return report;
  const LoadedFile file(read, n, HeldBlocks(fileBytes));
  report.blocksPresent = file.present();
  CheckSize(file, fileBytes, true, report);

  const PieceTally tally = CountEntries(file, headerCount > 0, report);
  CheckRecords(file, tally, selector, report);
  return report;
}

VerifyReport VerifyBlockFileOnUnit(int16_t unit, int32_t n, HashSelector selector,
                                   std::optional<uint64_t> fileBytes) {
  return VerifyBlockFile(
      [unit](int32_t b, std::span<uint8_t, kBlockBytes> out) {
        return io::ReadRecord(unit, b, out);
      },
      n, selector, fileBytes);
}

VerifyReport VerifyBlockImage(std::span<const uint8_t> image, int32_t n, HashSelector selector) {
  return VerifyBlockFile(ImageReader(image), n, selector, image.size());
}

VerifyReport VerifyLegacyFile(const BlockReader& read, int32_t n, int keyLength,
                              std::optional<uint64_t> fileBytes) {
  VerifyReport report;
  report.blocks = n;
  if (n <= 0) {
    Add(report, 0, 0, "no block count");
    return report;
  }
  if (keyLength < 4 || keyLength % 2 != 0) {
    Add(report, 0, 0, "key length must be even and at least 4");
    return report;
  }
  const LoadedFile file(read, n, HeldBlocks(fileBytes));
  report.blocksPresent = file.present();
  CheckSize(file, fileBytes, false, report);
  for (int32_t b = 1; b <= file.walked(); ++b) {
    const BlockBytes* block = file.Block(b);
    if (block == nullptr) {
      Add(report, b, 0, "block cannot be read");
      continue;
    }
    int end = 1;  // the first word after the block's entries
    for (const LegacyEntry& e : LegacyEntries(*block, keyLength)) {
      end = e.word;
      if (e.kind == LegacyEntryKind::kEndOfData) break;
      if (e.kind == LegacyEntryKind::kBadLength) {
        Add(report, b, e.word, "length word " + std::to_string(e.length) + " out of range");
        break;
      }
      if (e.kind == LegacyEntryKind::kPastBlock) {
        Add(report, b, e.word, "entry runs past the end of the block");
        break;
      }
      if (e.removed) {
        ++report.deletedEntries;
      } else {
        ++report.pieces;
        if (e.IsLastPiece()) ++report.records;
      }
      report.usedUnits += e.Magnitude() / 2;
      end = e.Next();
    }
    report.freeUnits += kBlockUnits + 1 - end;
  }
  return report;
}

VerifyReport VerifyLegacyImage(std::span<const uint8_t> image, int32_t n, int keyLength) {
  return VerifyLegacyFile(ImageReader(image), n, keyLength, image.size());
}

std::string FileSizeProblem(int32_t n, uint64_t fileBytes) {
  if (n > 0 && fileBytes == static_cast<uint64_t>(n) * kBlockBytes) return "";
  const bool whole = fileBytes % kBlockBytes == 0;
  return "its header gives " + std::to_string(n) + " blocks but the file holds " +
         std::to_string(whole ? fileBytes / kBlockBytes : fileBytes) +
         (whole ? " blocks" : " bytes");
}

std::string FormatProblems(const VerifyReport& report) {
  std::string out;
  for (const VerifyProblem& p : report.problems) {
    out += "block " + std::to_string(p.block) + " unit " + std::to_string(p.unit) + ": " + p.text +
           "\n";
  }
  return out;
}

}  // namespace varmex::store
