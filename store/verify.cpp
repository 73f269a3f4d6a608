#include "store/verify.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
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

void Add(VerifyReport& report, int32_t block, int cell, std::string text) {
  report.problems.push_back({block, cell, std::move(text)});
}

// Blocks the file holds whole, by its size (INT32_MAX when the size is not known).
int32_t HeldBlocks(std::optional<uint64_t> fileBytes) {
  if (!fileBytes) return INT32_MAX;
  return static_cast<int32_t>(std::min<uint64_t>(*fileBytes / kBlockBytes, INT32_MAX));
}

// A file shorter than its N blocks: the place where it ends too early (`endedAt`, the
// first block past its end, 0 when it holds all N). A block file (`exact`) longer than
// its N blocks: the first block past them. (A word-layout file has no count of its
// own: bytes past its last whole block are no fault.)
template <typename AddFn>
void CheckSize(int32_t endedAt, int32_t n, std::optional<uint64_t> fileBytes, bool exact,
               AddFn add) {
  if (endedAt != 0) {
    const int32_t at = endedAt;
    const int cell = fileBytes && *fileBytes / kBlockBytes == static_cast<uint64_t>(at - 1)
                         ? static_cast<int>(*fileBytes % kBlockBytes) / 2 + 1
                         : 1;
    add(at, cell,
        "the file ends here, short of its " + std::to_string(n) + " blocks (blocks " +
            std::to_string(at) + " to " + std::to_string(n) + " are missing)");
  } else if (exact && fileBytes && *fileBytes > static_cast<uint64_t>(n) * kBlockBytes) {
    const bool whole = *fileBytes % kBlockBytes == 0;
    add(n + 1, 1,
        "the file goes on past its " + std::to_string(n) + " blocks: it holds " +
            std::to_string(whole ? *fileBytes / kBlockBytes : *fileBytes) +
            (whole ? " blocks" : " bytes"));
  }
}

void CheckSize(const LoadedFile& file, std::optional<uint64_t> fileBytes, bool exact,
               VerifyReport& report) {
  CheckSize(file.endedAt(), file.n(), fileBytes, exact,
            [&](int32_t b, int cell, std::string text) { Add(report, b, cell, std::move(text)); });
}

std::span<const uint8_t> KeyAt(const BlockBytes& block, int cell, int keyLength) {
  return std::span<const uint8_t>(block.data() + 2 * cell, static_cast<size_t>(keyLength));
}

bool SoundPiece(const BlockBytes& block, int cell) {
  const int kl = FlagsByte(block, cell) & kFlagKeyLength;
  return kl >= 1 && !EntryRunsPast(block, cell) && 2 * SizeByte(block, cell) >= kl;
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
      if (e.IsFirstPiece() && PieceMatches(*block, e.cell, key, keyLength)) {
        return Place{b, e.cell};
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
      if (!PieceMatches(*block, e.cell, key, kl)) continue;
      if ((e.flags & kFlagFirst) != 0) return {Segment::kNextFirstPiece, {b, e.cell}};
      claimed.insert({b, e.cell});
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

// The entries of one readable block, counted into the report: damaged entries and
// pieces that cannot be sound are told to add(cell, text), sound pieces to
// sound(cell, first).
template <typename AddFn, typename SoundFn>
void CountBlock(const BlockBytes& block, int32_t b, bool headerValid, VerifyReport& report,
                AddFn add, SoundFn sound) {
  for (const BlockEntry& e : BlockEntries(block)) {
    if (e.IsEnd()) {
      report.freeCells += e.cells;
      break;
    }
    // What lies inside the block of an entry that runs past it.
    const int inside = std::min(e.cells, kBlockCells + 1 - e.cell);
    if (e.runsPast) add(e.cell, "entry runs past the end of the block");
    if (e.IsDeleted()) {
      ++report.deletedEntries;
      report.freeCells += inside;
    } else if (b == 1 && e.cell == 1 && headerValid) {
      report.usedCells += inside;
    } else {
      ++report.pieces;
      report.usedCells += inside;
      if (e.KeyLength() == 0) {
        add(e.cell, "live piece with key length 0");
      } else if (2 * SizeByte(block, e.cell) < e.KeyLength() && !e.runsPast) {
        add(e.cell, "piece shorter than its key");
      } else if (SoundPiece(block, e.cell)) {
        sound(e.cell, (e.flags & kFlagFirst) != 0);
      }
    }
  }
}

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
    CountBlock(
        *block, b, headerValid, report,
        [&](int cell, const char* text) { Add(report, b, cell, text); },
        [&](int cell, bool first) {
          (first ? tally.firsts : tally.others).push_back({b, cell});
        });
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

// The entries of one readable block of a word-layout file, counted into the report;
// its problems told to add(word, text).
template <typename AddFn>
void LegacyBlock(const BlockBytes& block, int keyLength, VerifyReport& report, AddFn add) {
  int end = 1;  // the first word after the block's entries
  for (const LegacyEntry& e : LegacyEntries(block, keyLength)) {
    end = e.word;
    if (e.kind == LegacyEntryKind::kEndOfData) break;
    if (e.kind == LegacyEntryKind::kBadLength) {
      add(e.word, "length word " + std::to_string(e.length) + " out of range");
      break;
    }
    if (e.kind == LegacyEntryKind::kPastBlock) {
      add(e.word, "entry runs past the end of the block");
      break;
    }
    if (e.removed) {
      ++report.deletedEntries;
    } else {
      ++report.pieces;
      if (e.IsLastPiece()) ++report.records;
    }
    report.usedCells += e.Magnitude() / 2;
    end = e.Next();
  }
  report.freeCells += kBlockCells + 1 - end;
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
  report.problemsFound = static_cast<int64_t>(report.problems.size());
  if (n <= 0) return report;
  const LoadedFile file(read, n, HeldBlocks(fileBytes));
  report.blocksPresent = file.present();
  CheckSize(file, fileBytes, true, report);

  const PieceTally tally = CountEntries(file, headerCount > 0, report);
  CheckRecords(file, tally, selector, report);
  report.problemsFound = static_cast<int64_t>(report.problems.size());
  return report;
}

VerifyReport VerifyBlockFileOnUnit(int16_t unit, int32_t n, HashSelector selector,
                                   std::optional<uint64_t> fileBytes) {
  std::vector<VerifyProblem> problems;
  const ProblemSink keep = [&problems](const VerifyProblem& p) { problems.push_back(p); };
  VerifyReport report = StreamVerifyBlockFile(UnitSource(unit), n, selector, fileBytes, &keep);
  report.problems = std::move(problems);
  return report;
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
    report.problemsFound = 1;
    return report;
  }
  if (keyLength < 4 || keyLength % 2 != 0) {
    Add(report, 0, 0, "key length must be even and at least 4");
    report.problemsFound = 1;
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
    LegacyBlock(*block, keyLength, report,
                [&](int word, std::string text) { Add(report, b, word, std::move(text)); });
  }
  report.problemsFound = static_cast<int64_t>(report.problems.size());
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
    out += "block " + std::to_string(p.block) + " unit " + std::to_string(p.cell) + ": " + p.text +
           "\n";
  }
  return out;
}

}  // namespace varmex::store

// ---- Streaming ------------------------------------------------------------------------

namespace varmex::store {
namespace {

constexpr int32_t kProgressEvery = 4096;

// The key of a live entry when a look-up or a walk could match it: 1 to 31 bytes,
// all inside the block. Empty otherwise.
std::span<const uint8_t> MatchableKey(const BlockBytes& block, const BlockEntry& e) {
  if (!e.IsLive() || e.KeyLength() < 1) return {};
  return e.KeyIn(block);
}

std::string KeyText(std::span<const uint8_t> key) { return std::string(key.begin(), key.end()); }

// Where the problems of a streaming check go: counted always, handed to the sink when
// there is one.
class ProblemOut {
 public:
  ProblemOut(VerifyReport& report, const ProblemSink* sink) : report_(report), sink_(sink) {}
  void Add(int32_t block, int cell, std::string text) {
    ++report_.problemsFound;
    if (sink_ != nullptr) (*sink_)(VerifyProblem{block, cell, std::move(text)});
  }
  bool telling() const { return sink_ != nullptr; }

 private:
  VerifyReport& report_;
  const ProblemSink* sink_;
};

// A first piece of a block file: a live entry with the first-piece mark and a key that
// fits its block. The streaming check keeps one for each, in block order, with what
// the walk of its record's pieces met; the record pass works on these alone.
struct FirstPiece {
  enum Mark : uint8_t {
    kListed = 1,    // a sound first piece outside the header: a record of the report
    kOnePiece = 2,  // also the last piece: it has no walk
    kFollowed = 4,  // the record pass follows its walk, so the pieces it meets are claimed
  };
  enum End : uint8_t { kWalking, kNoLastPiece, kLastPiece, kNextFirstPiece };
  enum Known : uint8_t { kUnknown, kInChain, kLeads, kLeadsNowhere };
  int32_t block = 0;
  int32_t home = 0;
  uint32_t next = 0;  // for kNextFirstPiece: the first piece of the same key met
  int16_t cell = 0;
  uint8_t marks = 0;
  uint8_t end = kWalking;
  uint8_t known = kUnknown;
  bool Has(Mark m) const { return (marks & m) != 0; }
};

// The walks of the records' pieces, all at once, as a pass meets the entries: each
// follows its key from its first piece (FollowPieces), and for each key at most one is
// under way, since a first piece of the key ends the one before.
class Walks {
 public:
  // With a table, each walk's end is written into it.
  explicit Walks(std::vector<FirstPiece>* table) : table_(table) {}
  void Start(std::string key, uint32_t first) { active_[std::move(key)] = first; }
  void End(const std::string& key, uint8_t how, uint32_t next = 0) {
    const auto it = active_.find(key);
    if (it == active_.end()) return;
    Finish(it->second, how, next);
    active_.erase(it);
  }
  // Ends the walk of `first` when it is still the one under way for its key.
  void EndIf(const std::string& key, uint32_t first) {
    const auto it = active_.find(key);
    if (it != active_.end() && it->second == first) End(key, FirstPiece::kNoLastPiece);
  }
  void EndAll() {
    for (const auto& entry : active_) Finish(entry.second, FirstPiece::kNoLastPiece, 0);
    active_.clear();
  }
  bool empty() const { return active_.empty(); }
  const std::unordered_map<std::string, uint32_t>& active() const { return active_; }

  // The walks' part of one readable block: ends at its free end, at a first piece of
  // a walk's key, at a last piece; first pieces start walks when start(index) says so
  // (index: the first piece's place in the table, counted by `firsts`); other pieces
  // are told to piece(entry, walk or none).
  template <typename StartFn, typename PieceFn>
  bool Block(const BlockBytes& block, uint32_t& firsts, StartFn start, PieceFn piece) {
    for (const BlockEntry& e : BlockEntries(block)) {
      if (e.IsEnd()) {
        EndAll();
        return true;
      }
      const std::span<const uint8_t> key = MatchableKey(block, e);
      if (key.empty()) continue;
      std::string text = KeyText(key);
      if ((e.flags & kFlagFirst) != 0) {
        const uint32_t index = firsts++;
        End(text, FirstPiece::kNextFirstPiece, index);
        if (start(e, key, index)) Start(std::move(text), index);
        continue;
      }
      const auto it = active_.find(text);
      piece(e, it == active_.end() ? std::nullopt : std::optional<uint32_t>(it->second));
      if (it != active_.end() && e.IsClosingPiece()) {
        Finish(it->second, FirstPiece::kLastPiece, 0);
        active_.erase(it);
      }
    }
    return false;
  }

 private:
  void Finish(uint32_t first, uint8_t how, uint32_t next) {
    if (table_ == nullptr) return;
    (*table_)[first].end = how;
    (*table_)[first].next = next;
  }

  std::vector<FirstPiece>* table_;
  std::unordered_map<std::string, uint32_t> active_;
};

// A walk that went on from block 1: it ends before its own block.
struct WrappedWalk {
  int32_t block = 0;
  uint32_t first = 0;
  std::string key;
  bool operator<(const WrappedWalk& o) const { return block < o.block; }
};

// The streaming check of a block file (CountEntries and CheckRecords, pass by pass):
//   1. the survey: counts, the stops of look-ups, every first piece with its key's home
//      block and where its walk ends (walks still under way at block N go on from
//      block 1 in a short extra pass);
//   2. when needed: the problems of the blocks in order, and for keys with more than
//      one first piece, the one the look-up meets first;
//   3. the record pass, over the first pieces kept;
//   4. when the file has pieces other than first ones: those no followed walk claims.
class BlockFileStream {
 public:
  BlockFileStream(const BlockSource& source, int32_t n, HashSelector selector,
                  std::optional<uint64_t> fileBytes, bool headerValid, VerifyReport& report,
                  ProblemOut& out)
      : source_(source),
        n_(n),
        selector_(selector),
        fileBytes_(fileBytes),
        headerValid_(headerValid),
        report_(report),
        out_(out),
        stops_(n, 0) {}

  void Run() {
    Survey();
    CheckSize(endedAt_, n_, fileBytes_, true,
              [&](int32_t b, int cell, std::string text) { out_.Add(b, cell, std::move(text)); });
    FindSuspects();
    const bool tell = blockProblems_ > 0 && out_.telling();
    if (!tell) report_.problemsFound += blockProblems_;
    if (tell || !suspects_.empty()) SecondPass(tell);
    CheckRecords();
    if (others_ > 0) FindStrayPieces();
  }

 private:
  static bool Empty(const ScannedBlocks& s) { return s.hole || s.status != 0; }

  void Survey() {
    const int32_t last = std::min(n_, HeldBlocks(fileBytes_));
    Walks walks(&table_);
    uint32_t firsts = 0;
    ScanBlocks(source_, 1, last, [&](const ScannedBlocks& s) {
      if (s.status == io::kIoPastEnd) {
        endedAt_ = s.from;
        return false;
      }
      walked_ = s.to;
      if (s.status != 0) {
        stops_.AddUnreadable(s.from);
        ++unreadable_;
        ++blockProblems_;  // "block cannot be read"
        walks.EndAll();
      } else if (s.hole) {
        report_.freeCells += (int64_t{s.to} - s.from + 1) * kBlockCells;
        walks.EndAll();
      } else {
        SurveyBlock(s.from, *s.bytes, walks, firsts);
      }
      return true;
    });
    if (endedAt_ == 0 && walked_ < n_) endedAt_ = walked_ + 1;
    stops_.SetWalked(walked_);
    report_.blocksPresent = walked_ - unreadable_;
    if (walked_ < n_) {
      walks.EndAll();  // the next block is missing
    } else {
      WrapAround(walks);
    }
  }

  void SurveyBlock(int32_t b, const BlockBytes& block, Walks& walks, uint32_t& firsts) {
    CountBlock(
        block, b, headerValid_, report_, [&](int, const char*) { ++blockProblems_; },
        [&](int, bool first) { others_ += first ? 0 : 1; });
    const bool freeEnd = walks.Block(
        block, firsts,
        [&](const BlockEntry& e, std::span<const uint8_t> key, uint32_t) {
          FirstPiece p;
          p.block = b;
          p.cell = static_cast<int16_t>(e.cell);
          p.home = HomeBlock(key, static_cast<int16_t>(key.size()), n_, selector_);
          if ((e.flags & kFlagLast) != 0) p.marks |= FirstPiece::kOnePiece;
          if (SoundPiece(block, e.cell) && !(b == 1 && e.cell == 1 && headerValid_))
            p.marks |= FirstPiece::kListed;
          table_.push_back(p);
          hashes_.push_back(KeyHash(key));
          return !p.Has(FirstPiece::kOnePiece);
        },
        [](const BlockEntry&, std::optional<uint32_t>) {});
    if (!freeEnd) stops_.AddFull(b);
  }

  // The walks still under way after block N go on from block 1 up to the block before
  // their own (N blocks in all); a walk from block 1 has read them all already.
  void WrapAround(Walks& walks) {
    std::vector<std::string> fromOne;
    for (const auto& [key, first] : walks.active()) {
      if (table_[first].block == 1) {
        fromOne.push_back(key);
      } else {
        wrapped_.push_back({table_[first].block, first, key});
      }
    }
    for (const std::string& key : fromOne) walks.End(key, FirstPiece::kNoLastPiece);
    if (wrapped_.empty()) return;
    std::sort(wrapped_.begin(), wrapped_.end());
    size_t limit = 0;
    uint32_t firsts = 0;
    ScanBlocks(source_, 1, wrapped_.back().block - 1, [&](const ScannedBlocks& s) {
      for (; limit < wrapped_.size() && wrapped_[limit].block <= s.from; ++limit) {
        walks.EndIf(wrapped_[limit].key, wrapped_[limit].first);
      }
      if (Empty(s)) {
        walks.EndAll();
      } else {
        firsts = IndexOf(s.from);
        walks.Block(
            *s.bytes, firsts,
            [](const BlockEntry&, std::span<const uint8_t>, uint32_t) { return false; },
            [](const BlockEntry&, std::optional<uint32_t>) {});
      }
      return !walks.empty();
    });
    walks.EndAll();
  }

  // The place in the table of the first first piece of block b.
  uint32_t IndexOf(int32_t b) const {
    const auto it = std::lower_bound(table_.begin(), table_.end(), b,
                                     [](const FirstPiece& p, int32_t at) { return p.block < at; });
    return static_cast<uint32_t>(it - table_.begin());
  }

  void FindSuspects() {
    std::sort(hashes_.begin(), hashes_.end());
    for (size_t i = 1; i < hashes_.size(); ++i) {
      if (hashes_[i] == hashes_[i - 1]) suspects_.insert(hashes_[i]);
    }
    std::vector<uint64_t>().swap(hashes_);
  }

  // The problems of the blocks in order (when told), and for keys that may have several
  // first pieces, the one the look-up meets first: the nearest along the probe path,
  // then the earliest in its block.
  void SecondPass(bool tell) {
    VerifyReport scratch;
    uint32_t index = 0;
    std::unordered_map<std::string, uint32_t> groups;
    ScanBlocks(source_, 1, walked_, [&](const ScannedBlocks& s) {
      if (s.status != 0 || stops_.Unreadable(s.from)) {
        if (tell) out_.Add(s.from, 0, "block cannot be read");
        return true;
      }
      if (s.hole) return true;
      const BlockBytes& block = *s.bytes;
      if (tell) {
        CountBlock(
            block, s.from, headerValid_, scratch,
            [&](int cell, const char* text) { out_.Add(s.from, cell, text); }, [](int, bool) {});
      }
      if (suspects_.empty()) return true;
      for (const BlockEntry& e : BlockEntries(block)) {
        if (e.IsEnd()) break;
        const std::span<const uint8_t> key = MatchableKey(block, e);
        if (key.empty() || (e.flags & kFlagFirst) == 0) continue;
        const uint32_t at = index++;
        if (suspects_.count(KeyHash(key)) == 0) continue;
        const auto [it, added] =
            groups.try_emplace(KeyText(key), static_cast<uint32_t>(chosen_.size()));
        if (added) chosen_.push_back(at);
        group_.emplace_back(at, it->second);
        const FirstPiece& best = table_[chosen_[it->second]];
        const FirstPiece& here = table_[at];
        const int32_t d = ProbeDistance(here.home, here.block, n_);
        const int32_t bestD = ProbeDistance(best.home, best.block, n_);
        if (d < bestD || (d == bestD && here.cell < best.cell)) chosen_[it->second] = at;
      }
      return true;
    });
  }

  // Whether the look-up of first piece i's key finds it (Lookup).
  bool LookupFinds(uint32_t i, size_t& groupCursor) const {
    const FirstPiece& p = table_[i];
    while (groupCursor < group_.size() && group_[groupCursor].first < i) ++groupCursor;
    if (groupCursor < group_.size() && group_[groupCursor].first == i &&
        chosen_[group_[groupCursor].second] != i) {
      return false;
    }
    const std::optional<int32_t> stop = stops_.FirstStop(p.home);
    return !stop || ProbeDistance(p.home, p.block, n_) <= ProbeDistance(p.home, *stop, n_);
  }

  // Whether the record of first piece i leads to a last piece (LeadsToLastPiece),
  // telling each second first piece its walks meet.
  bool Leads(uint32_t first) {
    std::vector<uint32_t> chain;
    bool leads = false;
    for (uint32_t at = first;;) {
      FirstPiece& p = table_[at];
      if (p.known == FirstPiece::kLeads || p.known == FirstPiece::kLeadsNowhere) {
        leads = p.known == FirstPiece::kLeads;
        break;
      }
      if (p.known == FirstPiece::kInChain) break;  // round the file without a last piece
      p.known = FirstPiece::kInChain;
      chain.push_back(at);
      if (p.Has(FirstPiece::kOnePiece)) {
        leads = true;
        break;
      }
      p.marks |= FirstPiece::kFollowed;
      if (p.end != FirstPiece::kNextFirstPiece) {
        leads = p.end == FirstPiece::kLastPiece;
        break;
      }
      const FirstPiece& next = table_[p.next];
      out_.Add(next.block, next.cell, "second first piece inside a record");
      at = p.next;
    }
    for (uint32_t c : chain)
      table_[c].known = leads ? FirstPiece::kLeads : FirstPiece::kLeadsNowhere;
    return leads;
  }

  void CheckRecords() {
    size_t groupCursor = 0;
    for (uint32_t i = 0; i < table_.size(); ++i) {
      if (!table_[i].Has(FirstPiece::kListed)) continue;
      ++report_.records;
      if (!Leads(i)) out_.Add(table_[i].block, table_[i].cell, "first piece without a last piece");
      if (!LookupFinds(i, groupCursor)) {
        out_.Add(table_[i].block, table_[i].cell, "record not found by the look-up of its key");
      }
    }
  }

  // The walks once more, now only those the record pass followed (a wrapped one from
  // block 1 on): a sound piece other than a first one that none of them meets belongs
  // to no record.
  void FindStrayPieces() {
    Walks walks(nullptr);
    std::vector<WrappedWalk> limits;
    for (const WrappedWalk& w : wrapped_) {
      if (!table_[w.first].Has(FirstPiece::kFollowed)) continue;
      walks.Start(w.key, w.first);
      limits.push_back(w);
    }
    size_t limit = 0;
    uint32_t firsts = 0;
    ScanBlocks(source_, 1, walked_, [&](const ScannedBlocks& s) {
      for (; limit < limits.size() && limits[limit].block <= s.from; ++limit) {
        walks.EndIf(limits[limit].key, limits[limit].first);
      }
      if (Empty(s) || stops_.Unreadable(s.from)) {
        walks.EndAll();
        return true;
      }
      const BlockBytes& block = *s.bytes;
      walks.Block(
          block, firsts,
          [&](const BlockEntry&, std::span<const uint8_t>, uint32_t at) {
            return !table_[at].Has(FirstPiece::kOnePiece) && table_[at].Has(FirstPiece::kFollowed);
          },
          [&](const BlockEntry& e, std::optional<uint32_t> walk) {
            if (!walk && SoundPiece(block, e.cell))
              out_.Add(s.from, e.cell, "piece without a first piece");
          });
      return true;
    });
  }

  const BlockSource& source_;
  int32_t n_;
  HashSelector selector_;
  std::optional<uint64_t> fileBytes_;
  bool headerValid_;
  VerifyReport& report_;
  ProblemOut& out_;
  StopMap stops_;
  int32_t walked_ = 0;
  int32_t endedAt_ = 0;
  int32_t unreadable_ = 0;
  int64_t blockProblems_ = 0;
  int64_t others_ = 0;
  std::vector<FirstPiece> table_;
  std::vector<uint64_t> hashes_;
  std::unordered_set<uint64_t> suspects_;
  std::vector<uint32_t> chosen_;                      // by key: its nearest first piece
  std::vector<std::pair<uint32_t, uint32_t>> group_;  // first piece, key (suspects only)
  std::vector<WrappedWalk> wrapped_;
};

}  // namespace

BlockSource UnitSource(int16_t unit) {
  BlockSource source;
  source.read = [unit](int32_t b, std::span<uint8_t, kBlockBytes> out) {
    return io::ReadRecord(unit, b, out);
  };
  source.data = [unit](int64_t b) {
    const io::RecordStretch s = io::DataRecords(unit, b);
    return std::pair<int64_t, int64_t>{s.first, s.end};
  };
  return source;
}

BlockSource ImageSource(std::span<const uint8_t> image) {
  BlockSource source;
  source.read = ImageReader(image);
  const int64_t blocks = static_cast<int64_t>(image.size() / kBlockBytes);
  const auto zero = [image](int64_t b) {
    const uint8_t* at = image.data() + (b - 1) * kBlockBytes;
    return std::all_of(at, at + kBlockBytes, [](uint8_t c) { return c == 0; });
  };
  source.data = [blocks, zero](int64_t b) {
    int64_t first = b;
    while (first <= blocks && zero(first)) ++first;
    int64_t end = first + 1;
    while (end <= blocks && !zero(end)) ++end;
    return std::pair<int64_t, int64_t>{first, end};
  };
  return source;
}

bool ScanBlocks(const BlockSource& source, int32_t first, int32_t last, const ScanStep& step) {
  static const BlockBytes zeros{};
  BlockBytes block{};
  int64_t dataEnd = first;  // blocks before it are known to hold data (or to be read)
  int64_t told = first;
  for (int64_t b = first; b <= last;) {
    if (source.progress && b - told >= kProgressEvery) {
      source.progress(static_cast<int32_t>(b), last);
      told = b;
    }
    if (source.data && b >= dataEnd) {
      const auto [from, end] = source.data(b);
      if (from > b) {
        const int64_t to = std::min<int64_t>(from - 1, last);
        ScannedBlocks s;
        s.from = static_cast<int32_t>(b);
        s.to = static_cast<int32_t>(to);
        s.hole = true;
        s.bytes = &zeros;
        if (!step(s)) return false;
        b = to + 1;
        continue;
      }
      dataEnd = std::max<int64_t>(end, b + 1);
    }
    ScannedBlocks s;
    s.from = s.to = static_cast<int32_t>(b);
    s.status = source.read(s.from, block);
    s.bytes = &block;
    if (!step(s)) return false;
    ++b;
  }
  if (source.progress && last >= first) source.progress(last, last);
  return true;
}

void StopMap::AddFull(int32_t b) {
  if (!full_.empty() && full_.back().second == b - 1) {
    full_.back().second = b;
  } else {
    full_.emplace_back(b, b);
  }
}

bool StopMap::Unreadable(int32_t b) const {
  return b > walked_ || std::binary_search(unreadable_.begin(), unreadable_.end(), b);
}

std::optional<int32_t> StopMap::FirstStop(int32_t home) const {
  if (home > walked_) return home;
  const auto run = [this](int32_t b) -> const std::pair<int32_t, int32_t>* {
    auto it =
        std::upper_bound(full_.begin(), full_.end(), std::pair<int32_t, int32_t>{b, INT32_MAX});
    if (it == full_.begin()) return nullptr;
    --it;
    return it->second >= b ? &*it : nullptr;
  };
  const auto* at = run(home);
  if (at == nullptr) return home;
  if (at->second < n_) return at->second + 1;  // a stop, or a block the file lacks
  // Full up to block N: on from block 1.
  const auto* wrapped = run(1);
  const int32_t stop = wrapped == nullptr ? 1 : wrapped->second + 1;
  if (stop < home) return stop;
  return std::nullopt;
}

VerifyReport StreamVerifyBlockFile(const BlockSource& source, int32_t n, HashSelector selector,
                                   std::optional<uint64_t> fileBytes, const ProblemSink* sink) {
  VerifyReport report;
  ProblemOut out(report, sink);
  BlockBytes first{};
  const int32_t headerCount = source.read(1, first) == 0 ? HeaderBlockCount(first) : 0;
  if (headerCount == 0) out.Add(1, 0, "block 1 is not a valid header record");
  if (n == 0) n = headerCount;
  if (n > 0 && headerCount > 0 && n != headerCount) {
    out.Add(
        1, 0,
        "header gives " + std::to_string(headerCount) + " blocks, checked as " + std::to_string(n));
  }
  report.blocks = n;
  if (n <= 0) return report;
  BlockFileStream(source, n, selector, fileBytes, headerCount > 0, report, out).Run();
  return report;
}

VerifyReport StreamVerifyLegacyFile(const BlockSource& source, int32_t n, int keyLength,
                                    std::optional<uint64_t> fileBytes, const ProblemSink* sink) {
  VerifyReport report;
  ProblemOut out(report, sink);
  report.blocks = n;
  if (n <= 0) {
    out.Add(0, 0, "no block count");
    return report;
  }
  if (keyLength < 4 || keyLength % 2 != 0) {
    out.Add(0, 0, "key length must be even and at least 4");
    return report;
  }
  // A block of zeros, once: what every hole adds.
  VerifyReport zero;
  int64_t zeroProblems = 0;
  LegacyBlock(BlockBytes{}, keyLength, zero, [&](int, const std::string&) { ++zeroProblems; });
  const int32_t last = std::min(n, HeldBlocks(fileBytes));
  int32_t walked = 0;
  int32_t endedAt = 0;
  int32_t unreadable = 0;
  int64_t blockProblems = 0;
  const auto add = [&](const VerifyReport& r, int64_t times) {
    report.records += r.records * times;
    report.pieces += r.pieces * times;
    report.deletedEntries += r.deletedEntries * times;
    report.usedCells += r.usedCells * times;
    report.freeCells += r.freeCells * times;
  };
  ScanBlocks(source, 1, last, [&](const ScannedBlocks& s) {
    if (s.status == io::kIoPastEnd) {
      endedAt = s.from;
      return false;
    }
    walked = s.to;
    const int64_t count = int64_t{s.to} - s.from + 1;
    if (s.status != 0) {
      ++unreadable;
      ++blockProblems;
    } else if (s.hole) {
      add(zero, count);
      blockProblems += zeroProblems * count;
    } else {
      LegacyBlock(*s.bytes, keyLength, report, [&](int, const std::string&) { ++blockProblems; });
    }
    return true;
  });
  if (endedAt == 0 && walked < n) endedAt = walked + 1;
  report.blocksPresent = walked - unreadable;
  CheckSize(endedAt, n, fileBytes, false,
            [&](int32_t b, int cell, std::string text) { out.Add(b, cell, std::move(text)); });
  if (blockProblems == 0 || !out.telling()) {
    report.problemsFound += blockProblems;
    return report;
  }
  VerifyReport scratch;
  ScanBlocks(source, 1, walked, [&](const ScannedBlocks& s) {
    if (s.status != 0) {
      out.Add(s.from, 0, "block cannot be read");
      return true;
    }
    for (int32_t b = s.from; b <= s.to && (!s.hole || zeroProblems > 0); ++b) {
      LegacyBlock(*s.bytes, keyLength, scratch,
                  [&](int word, std::string text) { out.Add(b, word, std::move(text)); });
    }
    return true;
  });
  return report;
}

}  // namespace varmex::store
