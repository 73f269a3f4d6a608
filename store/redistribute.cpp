// The records of a block file in block order, and re-spreading a block file over a
// new number of blocks (both described in redistribute.h).
#include "store/redistribute.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/unit_file.h"
#include "platform/platform.h"
#include "store/block_file.h"
#include "store/block_file_builder.h"
#include "store/block_header.h"
#include "store/keyed_store.h"
#include "store/verify.h"

namespace varmex::store {
namespace {

constexpr HashSelector kSelector = HashSelector::kVariableLength;

std::string KeyText(std::span<const uint8_t> key) { return std::string(key.begin(), key.end()); }

// A first piece: where it lies and how far along its key's probe path.
struct Place {
  int32_t block = 0;
  int cell = 0;
  int32_t distance = 0;
  bool operator==(const Place& o) const { return block == o.block && cell == o.cell; }
  // The look-up meets the nearer piece first, and within one block the earlier cell.
  bool Before(const Place& o) const {
    return distance != o.distance ? distance < o.distance : cell < o.cell;
  }
};

// One walk over a file: what the first reading learnt, and the second reading.
class Walk {
 public:
  Walk(const BlockSource& source, int32_t n, int32_t held, HashSelector selector,
       RecordVisitor& visitor)
      : source_(source),
        n_(n),
        held_(std::min(held, n)),
        selector_(selector),
        visitor_(visitor),
        stops_(n, held_) {}

  // Reads the file `passes` times after the first reading, calling `afterPass` after
  // each (false from it stops the walk). From the second pass on, the records whose key
  // `leaveOut` is true for are passed by unseen: the first has shown them all.
  bool Run(int passes = 1, const std::function<bool()>& afterPass = {},
           const std::function<bool(std::span<const uint8_t> key)>& leaveOut = {}) {
    Survey();
    if (!suspects_.empty()) ChooseAmongCopies();
    for (int p = 0; p < passes; ++p) {
      if (p == 1) leaveOut_ = leaveOut;
      if (!Visit() || (afterPass && !afterPass())) return false;
    }
    return true;
  }

 private:
  int Read(int32_t b, std::span<uint8_t, kBlockBytes> block) const {
    if (b > held_) return io::kIoPastEnd;
    return source_.read(b, block);
  }

  // Calls `f(entry, key)` for every first piece a look-up may meet in the block: those of
  // the records, and the header's (no record to visit, but a look-up of its key that
  // comes by block 1 finds it first, as it would a copy of the record).
  template <typename F>
  void ForEachFirstPiece(const BlockBytes& block, F f) const {
    for (const BlockEntry& e : BlockEntries(block)) {
      if (e.IsEnd()) break;
      if (e.IsFirstPiece()) f(e, e.KeyIn(block));
      if (e.runsPast) break;
    }
  }

  // The first reading: which blocks end a look-up, which keys have several first pieces.
  // Holes are blocks with nothing in them: each ends a look-up.
  void Survey() {
    std::vector<uint64_t> hashes;
    ScanBlocks(source_, 1, held_, [&](const ScannedBlocks& s) {
      if (s.status != io::kIoOk) {
        stops_.AddUnreadable(s.from);
        return true;
      }
      if (s.hole) return true;
      const BlockBytes& block = *s.bytes;
      bool freeEnd = false;
      for (const BlockEntry& e : BlockEntries(block)) {
        if (e.IsEnd()) freeEnd = true;
      }
      if (!freeEnd) stops_.AddFull(s.from);
      ForEachFirstPiece(block, [&](const BlockEntry&, std::span<const uint8_t> key) {
        if (!key.empty()) hashes.push_back(KeyHash(key));
      });
      return true;
    });
    std::sort(hashes.begin(), hashes.end());
    for (size_t i = 1; i < hashes.size(); ++i) {
      if (hashes[i] == hashes[i - 1]) suspects_.insert(hashes[i]);
    }
  }

  // For keys that may have several first pieces: the one the look-up meets first.
  void ChooseAmongCopies() {
    ScanBlocks(source_, 1, held_, [&](const ScannedBlocks& s) {
      if (s.status != io::kIoOk || s.hole) return true;
      const int32_t b = s.from;
      ForEachFirstPiece(*s.bytes, [&](const BlockEntry& e, std::span<const uint8_t> key) {
        if (key.empty() || suspects_.count(KeyHash(key)) == 0) return;
        const Place here{b, e.cell, ProbeDistance(HomeOf(key), b, n_)};
        auto [it, added] = chosen_.try_emplace(KeyText(key), here);
        if (!added && here.Before(it->second)) it->second = here;
      });
      return true;
    });
  }

  int32_t HomeOf(std::span<const uint8_t> key) const {
    return HomeBlock(key, static_cast<int16_t>(key.size()), n_, selector_);
  }

  // The status of a look-up that stops at block `stop` before reaching the key.
  int16_t StopStatus(int32_t stop) const {
    return stops_.Unreadable(stop) ? kKeyedReadError : kKeyedNotFound;
  }

  // The second reading, in block order.
  bool Visit() {
    return ScanBlocks(source_, 1, held_, [&](const ScannedBlocks& s) {
      if (s.status != io::kIoOk) return visitor_.OnUnreadableBlock(s.from, s.status);
      if (s.hole) return true;
      const BlockBytes& block = *s.bytes;
      for (const BlockEntry& e : BlockEntries(block)) {
        if (e.IsEnd()) break;
        if (e.IsFirstPiece() && !IsHeaderPiece(block, s.from, e.cell)) {
          if (!VisitRecord(s.from, block, e)) return false;
        }
        if (e.runsPast) {
          if (!visitor_.OnDamagedEntry(s.from, e.cell)) return false;
          break;
        }
      }
      return true;
    });
  }

  bool VisitRecord(int32_t b, const BlockBytes& block, const BlockEntry& e) {
    RecordSighting s;
    s.block = b;
    s.cell = e.cell;
    s.key = e.KeyIn(block);
    if (e.KeyLength() == 0) {
      s.status = kKeyedFull;  // no key to look up: the look-up answers 3
      return visitor_.OnRecord(s);
    }
    if (s.key.empty()) {
      s.status = kKeyedPiecePastBlock;
      return visitor_.OnRecord(s);
    }
    if (leaveOut_ && leaveOut_(s.key)) return true;
    const int32_t home = HomeOf(s.key);
    Place found{b, e.cell, ProbeDistance(home, b, n_)};
    if (suspects_.count(KeyHash(s.key)) != 0) found = chosen_.at(KeyText(s.key));
    const std::optional<int32_t> stop = stops_.FirstStop(home);
    if (stop && ProbeDistance(home, *stop, n_) < found.distance) {
      s.status = StopStatus(*stop);
    } else if (!(found == Place{b, e.cell, 0})) {
      s.otherBlock = found.block;
      s.otherCell = found.cell;
    } else {
      Gather(block, e, found.distance, s);
    }
    return visitor_.OnRecord(s);
  }

  // Collects the record whose first piece is `first` in block s.block, as KeyedRead
  // does once its look-up has read `distance` + 1 blocks.
  void Gather(const BlockBytes& block, const BlockEntry& first, int32_t distance,
              RecordSighting& s) {
    record_.resize(static_cast<size_t>(kMaxRecordLength));
    const std::vector<uint8_t> key(s.key.begin(), s.key.end());
    BlockBytes ahead = block;
    const Gathered g =
        GatherPieces(key, ahead, s.block, first, distance + 1, n_, record_,
                     [this, &ahead](int32_t b, std::span<const uint8_t, kBlockBytes>& view) {
                       const int status = Read(b, ahead);
                       view = ahead;
                       return status;
                     });
    s.status = g.status;
    s.whole = g.status == kKeyedDone && g.whole;
    if (g.status == kKeyedDone) {
      s.record = std::span<const uint8_t>(record_.data(), static_cast<size_t>(g.length));
    }
  }

  const BlockSource& source_;
  int32_t n_;
  int32_t held_;
  HashSelector selector_;
  RecordVisitor& visitor_;
  StopMap stops_;  // what ends a look-up
  std::unordered_set<uint64_t> suspects_;
  std::unordered_map<std::string, Place> chosen_;
  std::vector<uint8_t> record_;
  std::function<bool(std::span<const uint8_t> key)> leaveOut_;
};

// ---- Re-spreading -------------------------------------------------------------------

std::string Number(int64_t v) { return std::to_string(v); }

RedistributeResult Failure(RedistributeStatus status, std::string problem, uint32_t error = 0) {
  RedistributeResult r;
  r.status = status;
  r.problem = std::move(problem);
  r.systemError = error;
  return r;
}

// The folder part of a path and the separator it uses ("." and "\" without a folder).
std::pair<std::string, char> FolderOf(std::string_view path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string_view::npos) return {".", '\\'};
  return {std::string(path.substr(0, slash == 0 ? 1 : slash)), path[slash]};
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

constexpr size_t kTemporarySuffix = 12;

// The 12 characters a-z, 0-9 a unique file's name ends with.
bool UniqueSuffix(std::string_view suffix) {
  return suffix.size() == kTemporarySuffix && std::all_of(suffix.begin(), suffix.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
         });
}

// True for "<name>.nredisp-" followed by 12 characters a-z, 0-9.
bool IsTemporaryName(std::string_view entry, std::string_view prefix) {
  return entry.size() == prefix.size() + kTemporarySuffix &&
         SameIgnoringCase(entry.substr(0, prefix.size()), prefix) &&
         UniqueSuffix(entry.substr(prefix.size()));
}

// Removes what a killed run on `path` left behind. Runs only while the file is held,
// so no other run is using one of these names.
void RemoveStaleTemporaries(platform::Platform& os, std::string_view path) {
  const auto [folder, separator] = FolderOf(path);
  const std::string prefix = TemporaryPrefix(path).substr(path.find_last_of("\\/") + 1);
  std::vector<std::string> names;
  if (os.ListDirectory(folder, names) != 0) return;
  for (const std::string& name : names) {
    if (!IsTemporaryName(name, prefix)) continue;
    std::string stale = folder;
    if (folder != "/") stale += separator;
    stale += name;
    os.DeleteFile(stale);
  }
}

// The record bytes one slice of a re-spreading in home order holds at most, about.
constexpr int64_t kSliceBytes = int64_t{4} << 20;

// Places the records of the walk into the new file, stopping at the first one that
// cannot be read whole or placed. In the walk's order (one slice), or in the order of
// the records' home blocks in the new file: the new file's blocks are then split into
// `slices` stretches, each pass of the walk keeps the records whose home lies in the
// next one and places them at the pass's end, home by home (in the walk's order within
// a home), so that the new file is written from its first block to its last.
class Placer : public RecordVisitor {
 public:
  Placer(int16_t to, int32_t newBlocks, int32_t slices = 0)
      : to_(to), newBlocks_(newBlocks), slices_(slices) {}

  bool OnUnreadableBlock(int32_t block, int status) override {
    result_ = Failure(RedistributeStatus::kFileUnusable,
                      "cannot read block " + Number(block) + " (error " + Number(status) + ")",
                      static_cast<uint32_t>(status));
    return false;
  }
  bool OnDamagedEntry(int32_t block, int /*cell*/) override {
    result_ = Failure(RedistributeStatus::kFileUnusable,
                      "the entries of block " + Number(block) + " are damaged");
    return false;
  }
  bool OnRecord(const RecordSighting& s) override {
    if (s.otherBlock != 0) return true;  // the copy the look-up finds is placed instead
    if (s.status != kKeyedDone) {
      result_ = Failure(RedistributeStatus::kFileUnusable,
                        "a record in block " + Number(s.block) +
                            " cannot be read whole (store status " + Number(s.status) + ")");
      return false;
    }
    if (!s.whole) {
      result_ = Failure(RedistributeStatus::kFileUnusable, "a record in block " + Number(s.block) +
                                                               " runs on past " +
                                                               Number(kMaxRecordLength) + " bytes");
      return false;
    }
    const auto keyLength = static_cast<int16_t>(s.key.size());
    if (slices_ == 0) return Place(s.record, keyLength);
    const int32_t home = HomeBlock(s.key, keyLength, newBlocks_, kSelector);
    if (SliceOf(home) != slice_) return true;
    if (bytes_.capacity() == 0) {
      // Room for a slice at once: grown step by step it would hold the old room and
      // the new one together.
      bytes_.reserve(static_cast<size_t>(kSliceBytes) * 5 / 4);
      held_.reserve(static_cast<size_t>(kSliceBytes) / 16);
    }
    held_.push_back({home, static_cast<uint16_t>(s.record.size()), keyLength, bytes_.size()});
    bytes_.insert(bytes_.end(), s.record.begin(), s.record.end());
    return true;
  }

  // The end of a pass: the records kept for this slice go in, home by home.
  bool PlaceSlice() {
    std::stable_sort(held_.begin(), held_.end(),
                     [](const Held& a, const Held& b) { return a.home < b.home; });
    for (const Held& h : held_) {
      if (!Place(std::span<const uint8_t>(bytes_).subspan(h.at, h.length), h.keyLength))
        return false;
    }
    held_.clear();
    bytes_.clear();
    ++slice_;
    return true;
  }

  RedistributeResult& result() { return result_; }

  // True when the record of this key has its home in the slice the pass gathers.
  bool InSlice(std::span<const uint8_t> key) const {
    const auto home = HomeBlock(key, static_cast<int16_t>(key.size()), newBlocks_, kSelector);
    return SliceOf(home) == slice_;
  }

 private:
  // A record kept for its slice: its home, where its bytes lie in bytes_.
  struct Held {
    int32_t home;
    uint16_t length;  // a whole record is at most 32767 bytes
    int16_t keyLength;
    size_t at;  // a slice holds what hashing puts in it, however much that is
  };

  int32_t SliceOf(int32_t home) const {
    return static_cast<int32_t>(static_cast<int64_t>(home) * slices_ / (int64_t{newBlocks_} + 1));
  }

  bool Place(std::span<const uint8_t> record, int16_t keyLength) {
    const WriteResult put = KeyedWrite(record, keyLength, newBlocks_, to_, kSelector, writes_);
    if (put.status != kKeyedDone) {
      result_ =
          Failure(RedistributeStatus::kNewFileFailed,
                  "record " + Number(result_.records + 1) + " cannot be placed in " +
                      Number(newBlocks_) + " blocks (store status " + Number(put.status) + ")");
      return false;
    }
    ++result_.records;
    return true;
  }

  int16_t to_;
  int32_t newBlocks_;
  int32_t slices_;  // 0: placed in the walk's order
  int32_t slice_ = 0;
  std::vector<Held> held_;
  std::vector<uint8_t> bytes_;
  RedistributeResult result_;
  WriteContext writes_;  // kept from record to record for its room
};

// One re-spreading: the units and files it holds, given back on every way out.
class Respreading {
 public:
  Respreading(platform::Platform& os, RedistributeCaching caching,
              const std::function<void(int32_t block, int32_t last)>& progress)
      : os_(os),
        cached_(caching != RedistributeCaching::kStraight),
        homeOrder_(caching == RedistributeCaching::kCachedInHomeOrder),
        progress_(progress) {}
  ~Respreading() {
    CloseUnits();
    created_.reset();
    if (!temporary_.empty()) os_.DeleteFile(temporary_);
  }
  Respreading(const Respreading&) = delete;
  Respreading& operator=(const Respreading&) = delete;

  RedistributeResult Respread(std::string_view path, int32_t newBlocks,
                              std::string_view resultPath) {
    const std::string shown(path);
    const std::optional<std::string> final = os_.FinalPath(path);
    if (!final) return CannotOpen(shown, path);
    BlockBytes header{};
    if (RedistributeResult r = HoldOld(shown, *final, resultPath.empty(), header);
        r.status != RedistributeStatus::kDone) {
      return r;
    }
    if (RedistributeResult r = MakeNewFile(*final, header, newBlocks);
        r.status != RedistributeStatus::kDone) {
      return r;
    }
    RedistributeResult r = PlaceRecords(HeaderBlockCount(header), newBlocks);
    if (r.status != RedistributeStatus::kDone) return r;
    return PutInPlace(shown, resultPath, std::move(r));
  }

 private:
  // Holds the file, removes what killed runs left beside it, opens it (for reading only
  // unless it is itself to be replaced: a read-only file is not) and checks its header
  // and size.
  RedistributeResult HoldOld(const std::string& shown, const std::string& final, bool replace,
                             BlockBytes& header) {
    uint32_t error = 0;
    lock_ = os_.LockFile(final, error);
    if (!lock_) {
      if (error == platform::kErrorLockViolation) {
        return Failure(RedistributeStatus::kBusy, shown + " is busy: another run holds it", error);
      }
      return CannotOpen(shown, final, static_cast<int>(error));
    }
    RemoveStaleTemporaries(os_, final);
    from_ = io::FindFreeUnit();
    const int opened = from_ == io::kNoUnit ? io::kIoNoFreeUnit
                       : replace            ? io::OpenUnit(os_, from_, final, kBlockBytes)
                                 : io::OpenUnitForReading(os_, from_, final, kBlockBytes);
    if (opened != io::kIoOk) return CannotOpen(shown, final, opened);
    if (cached_) {
      // The old file is read once, in block order: the new one's blocks come first.
      io::SetUnitCached(from_, true);
      io::SetUnitReadInPasses(from_);
    }
    if (io::ReadRecord(from_, 1, header) != io::kIoOk || !IsBlockFileHeader(header)) {
      return Failure(RedistributeStatus::kFileUnusable, shown + " has no valid block-file header");
    }
    if (std::string problem =
            FileSizeProblem(HeaderBlockCount(header), os_.FileSize(final).value_or(0));
        !problem.empty()) {
      return Failure(RedistributeStatus::kFileUnusable, shown + ": " + problem);
    }
    return {};
  }

  // Places every record of the old file into the new one and gets the new one onto the
  // disk whole.
  RedistributeResult PlaceRecords(int32_t oldBlocks, int32_t newBlocks) {
    // Enough slices that the records of one, at most the old file's bytes over all of
    // them, stay within kSliceBytes.
    const auto slices = static_cast<int32_t>(
        homeOrder_
            ? std::min<int64_t>(newBlocks, 1 + int64_t{oldBlocks} * kBlockBytes / kSliceBytes)
            : 0);
    Placer placer(to_, newBlocks, slices);
    BlockSource source = UnitSource(from_);
    source.progress = progress_;
    if (oldBlocks > 0) {
      Walk(source, oldBlocks, oldBlocks, kSelector, placer)
          .Run(
              std::max(slices, 1), [&] { return slices == 0 || placer.PlaceSlice(); },
              [&](std::span<const uint8_t> key) { return slices > 0 && !placer.InSlice(key); });
    }
    RedistributeResult r = std::move(placer.result());
    r.oldBlocks = oldBlocks;
    if (r.status != RedistributeStatus::kDone) return r;
    if (cached_) {
      if (const int status = io::FlushUnit(to_); status != io::kIoOk) {
        return Failure(RedistributeStatus::kNewFileFailed,
                       "cannot write " + temporary_ + " (error " + Number(status) + ")",
                       static_cast<uint32_t>(status));
      }
    }
    CloseUnits();
    if (uint32_t e = created_->Flush(); e != 0) {
      return Failure(RedistributeStatus::kNewFileFailed,
                     "cannot flush " + temporary_ + " (error " + Number(e) + ")", e);
    }
    created_.reset();
    return r;
  }

  // Puts the new file in the old one's place, or under `resultPath` with the access
  // rights of what it replaces.
  RedistributeResult PutInPlace(const std::string& shown, std::string_view resultPath,
                                RedistributeResult r) {
    const std::string target = resultPath.empty() ? shown : std::string(resultPath);
    if (!resultPath.empty()) {
      if (const uint32_t e = os_.MatchAccess(temporary_, target); e != 0) {
        return Failure(RedistributeStatus::kNewFileFailed,
                       "cannot give " + temporary_ + " its access rights (error " + Number(e) + ")",
                       e);
      }
    }
    const uint32_t renamed =
        resultPath.empty() ? lock_->ReplaceWith(temporary_) : os_.RenameFile(temporary_, target);
    if (renamed != 0) {
      return Failure(
          RedistributeStatus::kNewFileFailed,
          "cannot rename " + temporary_ + " to " + target + " (error " + Number(renamed) + ")",
          renamed);
    }
    temporary_.clear();
    r.writtenTo = target;
    return r;
  }

  RedistributeResult CannotOpen(const std::string& shown, std::string_view path, int status = 0) {
    if (status == 0) {
      // Ask the open itself for the reason.
      const int16_t unit = io::FindFreeUnit();
      status =
          unit == io::kNoUnit ? io::kIoNoFreeUnit : io::OpenUnitForReading(os_, unit, path, 512);
      if (status == io::kIoOk) {
        io::CloseUnit(unit);
        status = platform::kErrorFileNotFound;
      }
    }
    return Failure(RedistributeStatus::kFileUnusable,
                   "cannot open " + shown + " (error " + Number(status) + ")",
                   static_cast<uint32_t>(status));
  }

  // The temporary file: block 1 carried over with the new count, free blocks after it.
  RedistributeResult MakeNewFile(const std::string& final, BlockBytes header, int32_t newBlocks) {
    uint32_t error = 0;
    created_ = os_.CreateUniqueFile(TemporaryPrefix(final), temporary_, error);
    if (!created_) {
      return Failure(RedistributeStatus::kNewFileFailed,
                     "cannot create a file beside " + final + " (error " + Number(error) + ")",
                     error);
    }
    to_ = io::FindFreeUnit();
    int status =
        to_ == io::kNoUnit ? io::kIoNoFreeUnit : io::OpenUnit(os_, to_, temporary_, kBlockBytes);
    if (status == io::kIoOk && cached_) status = io::SetUnitCached(to_, true);
    // Written from its first block to its last, twice: it makes way as the old one does.
    if (homeOrder_) io::SetUnitReadInPasses(to_);
    if (status == io::kIoOk) status = FormatBlockFile(to_, newBlocks);
    SetHeaderBlockCount(header, newBlocks);
    if (status == io::kIoOk) status = io::WriteRecord(to_, 1, header);
    if (status != io::kIoOk) {
      return Failure(RedistributeStatus::kNewFileFailed,
                     "cannot write " + temporary_ + " (error " + Number(status) + ")",
                     static_cast<uint32_t>(status));
    }
    return {};
  }

  void CloseUnits() {
    if (from_ != io::kNoUnit) io::CloseUnit(from_);
    if (to_ != io::kNoUnit) io::CloseUnit(to_);
    from_ = to_ = io::kNoUnit;
  }

  platform::Platform& os_;
  std::unique_ptr<platform::FileLock> lock_;
  std::unique_ptr<platform::File> created_;
  std::string temporary_;  // removed on the way out unless it took the file's place
  int16_t from_ = io::kNoUnit;
  int16_t to_ = io::kNoUnit;
  bool cached_ = false;
  bool homeOrder_ = false;
  std::function<void(int32_t block, int32_t last)> progress_;
};

}  // namespace

bool WalkRecords(int16_t unit, int32_t n, int32_t held, RecordVisitor& visitor,
                 HashSelector selector) {
  return WalkRecords(UnitSource(unit), n, held, visitor, selector);
}

bool WalkRecords(const BlockSource& source, int32_t n, int32_t held, RecordVisitor& visitor,
                 HashSelector selector) {
  if (n <= 0 || held <= 0) return true;
  return Walk(source, n, held, selector, visitor).Run();
}

std::string TemporaryPrefix(std::string_view path) { return std::string(path) + ".nredisp-"; }

bool IsRespreadingTemporary(std::string_view name) {
  const std::string_view marker = ".nredisp-";
  const size_t at = name.rfind(marker);
  return at != std::string_view::npos && at > 0 && UniqueSuffix(name.substr(at + marker.size()));
}

RedistributeResult Redistribute(platform::Platform& os, std::string_view path, int32_t newBlocks,
                                std::string_view resultPath, RedistributeCaching caching,
                                const std::function<void(int32_t block, int32_t last)>& progress) {
  if (newBlocks < 2) {
    return Failure(RedistributeStatus::kBadRequest, "the new block count must be at least 2");
  }
  Respreading respreading(os, caching, progress);
  return respreading.Respread(path, newBlocks, resultPath);
}

}  // namespace varmex::store
