// The write-back block cache (design in io/block_cache.h).
//
// Slots are handed out from chunks allocated as the cache grows, so a small run holds
// little and no slot ever moves. A slot's bookkeeping, its block's bytes and its notes
// of record writes lie in three separate arrays, so that a look-up and the upkeep of
// the lists touch only the small bookkeeping. Each slot is on one of two recency lists
// (kept or passing, most recent first) and, while dirty, on its unit's dirty list. The
// index is an open-addressed table of slot numbers with linear probing; it doubles as
// blocks come, up to the size the budget counts it at, and never shrinks until the
// budget is set again. Beside each slot number it keeps the tag of the slot's key (its hash),
// so that a probe looks at a slot only when the tags match and a removal re-places
// entries without looking at theirs. Out of the budget come too, before the slots: the staging area
// of the calls that move several blocks (read-ahead extents, runs written back) and the pool of
// further notes for blocks that many record writes depend on; neither exists when the budget holds
// only a few dozen blocks.
#include "io/block_cache.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

#include "io/record_file.h"
#include "io/unit_file.h"
#include "platform/platform.h"

namespace varmex::io {
namespace {

constexpr uint32_t kNone = UINT32_MAX;
constexpr int kTouchesPerBlock = 8;
// A dirty block noted by more record writes than its own notes hold borrows chunks of
// further notes from a pool, up to kMoreTouchChunks of them, before it is written back
// early (which empties its notes).
constexpr int kMoreTouchChunks = 3;
constexpr int kMostTouches = kTouchesPerBlock * (1 + kMoreTouchChunks);
constexpr uint32_t kChunkShift = 10;
constexpr uint32_t kChunkSlots = 1u << kChunkShift;
// The staging area of the calls that move several blocks: a read-ahead extent of up to
// kReadAheadBlocks, a run of written-back blocks of up to kStageBlocks (64 KiB).
constexpr size_t kStageBlocks = 128;
constexpr size_t kReadAheadBlocks = 64;
constexpr int64_t kNoBlock = -1;
constexpr size_t kFirstTable = 4096;  // entries of the index before it grows

// A record write that changed or read the block while it was dirty.
struct Touch {
  uint32_t ticket = 0;
  uint32_t ledger = 0;
};

struct Slot {
  uint32_t block = 0;       // at most kMostCachedBlock
  uint32_t lastTicket = 0;  // the ticket of its last note (when it has one)
  int16_t unit = 0;         // 0: the slot is free
  bool dirty : 1 = false;
  bool used : 1 = false;     // used since it last came to the front of its recency list
  bool passing : 1 = false;  // on the passing list (its unit read in passes)
  uint8_t touches = 0;
  uint32_t older = kNone;
  uint32_t newer = kNone;
  uint32_t prevDirty = kNone;
  uint32_t nextDirty = kNone;
  uint32_t more = kNone;  // the first chunk of its further notes
};
using BlockBytes = std::array<uint8_t, kBlockBytes>;
using Touches = std::array<Touch, kTouchesPerBlock>;
struct MoreTouches {
  Touches notes;
  uint32_t next = kNone;
};

// A recency list of slots.
struct Recency {
  uint32_t mru = kNone;
  uint32_t lru = kNone;
  uint32_t count = 0;
};

// A slot number of the index and the tag of its key (io/block_cache.cpp, TagOf).
struct IndexEntry {
  uint32_t slot = kNone;
  uint32_t tag = 0;
};

// The last read of a unit's file that a miss made: its last block, how many it read,
// and whether it was itself the next block after the read before it.
struct Stream {
  int64_t last = kNoBlock;
  size_t extent = 0;
  bool inOrder = false;
};
constexpr size_t kBytesPerSlot = sizeof(Slot) + sizeof(BlockBytes) + sizeof(Touches);

uint64_t KeyOf(int16_t unit, int64_t block) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(unit)) << 48) ^ static_cast<uint64_t>(block);
}

}  // namespace

// The open ledgers and the tickets already counted.
struct LedgerRegistry {
  std::vector<WriteLedger*> ledgers{nullptr};  // slot 0: no ledger
  std::vector<uint32_t> freeSlots;
  std::unordered_set<uint32_t> counted;
  uint32_t nextTicket = 1;

  // The process's one: the cache that counts into the ledgers is the process's too.
  static LedgerRegistry& Get() {
    static LedgerRegistry registry;
    return registry;
  }

  uint32_t NewTicket() {
    if (nextTicket == 0) nextTicket = 1;
    return nextTicket++;
  }

  // Counts a failed record write once, in its ledger.
  void Count(uint32_t ticket, uint32_t ledger) {
    if (ticket == 0 || !counted.insert(ticket).second) return;
    if (ledger < ledgers.size() && ledgers[ledger] != nullptr) ++ledgers[ledger]->failed_;
  }

  uint32_t Register(WriteLedger* ledger) {
    if (!freeSlots.empty()) {
      const uint32_t slot = freeSlots.back();
      freeSlots.pop_back();
      ledgers[slot] = ledger;
      return slot;
    }
    ledgers.push_back(ledger);
    return static_cast<uint32_t>(ledgers.size() - 1);
  }

  void Unregister(uint32_t slot);
};

namespace {

class Cache {
 public:
  Cache() {
    dirtyHead_.fill(kNone);
    streams_.fill({});
    Size(kDefaultCacheBudget);
  }

  size_t budget() const { return budget_; }
  const CacheStats& stats() const { return stats_; }

  // Writes everything back, forgets it and lays the cache out for a new budget.
  void SetBudget(size_t bytes) {
    for (int16_t u = kFirstUnit; u <= kLastUnit; ++u) {
      if (dirtyHead_[static_cast<size_t>(u)] != kNone) Flush(u);
    }
    slotChunks_.clear();
    byteChunks_.clear();
    touchChunks_.clear();
    freeSlots_.clear();
    more_.clear();
    more_.shrink_to_fit();
    freeMore_ = kNone;
    allocated_ = 0;
    live_ = 0;
    lists_.fill({});
    dirtyHead_.fill(kNone);
    unitError_.fill(0);
    unitBlocks_.fill(0);
    streams_.fill({});
    stats_.blocks = 0;
    stats_.peakBytes = 0;
    Size(bytes);
  }

  int Read(int16_t unit, int64_t block, std::span<uint8_t> out, WriteTicket serving) {
    uint32_t i = Find(unit, block);
    if (i != kNone && At(i).dirty && !NoteWrite(i, serving))
      i = kNone;  // given up: the file decides
    if (i != kNone) {
      ++stats_.hits;
      MarkUsed(i);
      std::memcpy(out.data(), Bytes(i).data(), out.size());
      return kIoOk;
    }
    platform::File* file = files_[static_cast<size_t>(unit)];
    if (file == nullptr) return kIoUnitNotOpen;
    // A third miss in a row, each on the block after the one before, is a pass in block
    // order: the blocks that follow are read with it, in one call, twice as many each
    // time the pass goes on. Two in a row are read alone: a record in two pieces met by
    // a look-up is not a pass, and reading ahead for it would read a block it never uses.
    Stream& stream = streams_[static_cast<size_t>(unit)];
    const bool inOrder = stream.last == block - 1;
    const size_t count = inOrder && stream.inOrder && stageBlocks_ > 1
                             ? std::min({kReadAheadBlocks, stageBlocks_, 2 * stream.extent,
                                         BlocksBefore(unit, block)})
                             : 1;
    std::array<uint8_t, kBlockBytes> one;
    const std::span<uint8_t> bytes =
        count > 1
            ? std::span<uint8_t>(stage_).subspan(stageBlocks_ * kBlockBytes, count * kBlockBytes)
            : std::span<uint8_t>(one);
    size_t got = 0;
    const int status = count > 1
                           ? ReadFileRecords(*file, unit, block, kBlockBytes, count, bytes, got)
                           : ReadFileRecord(*file, unit, block, kBlockBytes, bytes, got);
    if (status != kIoOk) return status;
    if (got < out.size()) {
      if (!DirtyBeyond(unit, block)) return kIoPastEnd;
      // The file does not reach the block yet, but a dirty block held beyond it will
      // take it further when written back. Without the cache that write went to the file
      // at once, and a read of this block finds what the file holds of it, then zeros.
      // Nothing is kept: the file's end moves only with the write-back.
      std::memcpy(out.data(), bytes.data(), got);
      std::memset(out.data() + got, 0, out.size() - got);
      return kIoOk;
    }
    std::memcpy(out.data(), bytes.data(), out.size());
    // Only whole blocks are kept: a block the file holds only part of is read afresh.
    const size_t whole = std::min(count, got / kBlockBytes);
    if (whole == 0) return kIoOk;
    // A block read ahead that is held already keeps the bytes it has. Which ones are is
    // settled before any is kept: keeping one may push a dirty one out to the file, and
    // the bytes read before that are not its bytes.
    std::array<bool, kReadAheadBlocks> held{};
    for (size_t k = 1; k < whole; ++k)
      held[k] = Find(unit, block + static_cast<int64_t>(k)) != kNone;
    for (size_t k = 1; k < whole; ++k) {
      if (held[k]) continue;
      ++stats_.readAhead;
      std::memcpy(Bytes(Insert(unit, block + static_cast<int64_t>(k))).data(),
                  bytes.data() + k * kBlockBytes, kBlockBytes);
    }
    ++stats_.misses;
    std::memcpy(Bytes(Insert(unit, block)).data(), bytes.data(), kBlockBytes);
    stream = {block + static_cast<int64_t>(whole) - 1, whole, inOrder};
    return kIoOk;
  }

  std::span<const uint8_t> View(int16_t unit, int64_t block, WriteTicket serving) {
    const uint32_t i = Find(unit, block);
    if (i == kNone || (At(i).dirty && !NoteWrite(i, serving))) return {};
    ++stats_.hits;
    MarkUsed(i);
    return Bytes(i);
  }

  int Write(int16_t unit, int64_t block, std::span<const uint8_t> in, WriteTicket serving) {
    uint32_t i = Find(unit, block);
    if (i != kNone && At(i).dirty && !MakeRoomForTouch(i, serving)) i = kNone;
    if (i == kNone) {
      // A part of a block not held goes straight to the file: the rest of it is unknown.
      if (in.size() != kBlockBytes) return ToFile(unit, block, in);
      i = Insert(unit, block);
    } else {
      ++stats_.hits;
      MarkUsed(i);
    }
    Slot& s = At(i);
    std::memcpy(Bytes(i).data(), in.data(), in.size());
    if (!s.dirty) {
      s.dirty = true;
      LinkDirty(i);
    }
    NoteWrite(i, serving);
    return kIoOk;
  }

  int Flush(int16_t unit) {
    std::vector<uint32_t> dirty;
    for (uint32_t i = dirtyHead_[static_cast<size_t>(unit)]; i != kNone; i = At(i).nextDirty) {
      dirty.push_back(i);
    }
    std::sort(dirty.begin(), dirty.end(),
              [this](uint32_t a, uint32_t b) { return At(a).block < At(b).block; });
    // Each run of neighbouring blocks goes out in one call, as far as the staging holds.
    for (size_t first = 0; first < dirty.size();) {
      size_t end = first + 1;
      while (end < dirty.size() && end - first < stageBlocks_ &&
             At(dirty[end]).block == At(dirty[end - 1]).block + 1)
        ++end;
      WriteBackRun(std::span<const uint32_t>(dirty).subspan(first, end - first));
      first = end;
    }
    const int status = unitError_[static_cast<size_t>(unit)];
    unitError_[static_cast<size_t>(unit)] = 0;
    return status;
  }

  // The file beneath a unit from now on (null: none).
  void Attach(int16_t unit, platform::File* file, uint64_t size) {
    files_[static_cast<size_t>(unit)] = file;
    firstError_[static_cast<size_t>(unit)] = kIoOk;
    streams_[static_cast<size_t>(unit)] = {};
    passing_[static_cast<size_t>(unit)] = false;
    fileEnd_[static_cast<size_t>(unit)] = size;
  }
  int FirstWriteFailure(int16_t unit) const { return firstError_[static_cast<size_t>(unit)]; }
  void SetPassing(int16_t unit, bool on) { passing_[static_cast<size_t>(unit)] = on; }

  void Forget(int16_t unit) {
    files_[static_cast<size_t>(unit)] = nullptr;
    streams_[static_cast<size_t>(unit)] = {};
    passing_[static_cast<size_t>(unit)] = false;
    // The walk ends with the unit's last block (at once for a unit without any).
    const uint32_t& held = unitBlocks_[static_cast<size_t>(unit)];
    for (uint32_t i = 0; i < allocated_ && held > 0; ++i) {
      if (At(i).unit == unit) Remove(i);
    }
    unitError_[static_cast<size_t>(unit)] = 0;
  }

  // Drops the notes of a ledger that goes.
  void ForgetLedger(uint32_t ledger) {
    for (uint32_t i = 0; i < allocated_; ++i) {
      Slot& s = At(i);
      int kept = 0;
      for (int k = 0; k < s.touches; ++k) {
        const Touch t = NoteAt(i, k);
        if (t.ledger != ledger) NoteAt(i, kept++) = t;
      }
      s.touches = static_cast<uint8_t>(kept);
      if (kept > 0) s.lastTicket = NoteAt(i, kept - 1).ticket;
    }
  }

 private:
  // How many blocks from `block` on lie within the file's end as the cache knows it, and
  // within the blocks it keeps (at least 1: a read of the block itself learns where the
  // end is).
  size_t BlocksBefore(int16_t unit, int64_t block) const {
    const uint64_t end = std::min(fileEnd_[static_cast<size_t>(unit)],
                                  static_cast<uint64_t>(kMostCachedBlock) * kBlockBytes);
    const uint64_t from = static_cast<uint64_t>(block - 1) * kBlockBytes;
    if (end <= from + kBlockBytes) return 1;
    return static_cast<size_t>(std::min<uint64_t>((end - from) / kBlockBytes, kReadAheadBlocks));
  }
  // Whether a dirty block of the unit lies beyond `block` (a walk of the unit's dirty
  // list, made only when a read finds the file too short: never for a file only read).
  bool DirtyBeyond(int16_t unit, int64_t block) {
    for (uint32_t i = dirtyHead_[static_cast<size_t>(unit)]; i != kNone; i = At(i).nextDirty) {
      if (At(i).block > block) return true;
    }
    return false;
  }
  // A write to the file may have made it longer.
  void NoteWriteEnd(int16_t unit, int64_t block, size_t bytes) {
    uint64_t& end = fileEnd_[static_cast<size_t>(unit)];
    end = std::max(end, static_cast<uint64_t>(block - 1) * kBlockBytes + bytes);
  }

  int ToFile(int16_t unit, int64_t block, std::span<const uint8_t> in) {
    NoteWriteEnd(unit, block, in.size());
    platform::File* file = files_[static_cast<size_t>(unit)];
    const int status = file == nullptr
                           ? static_cast<int>(kIoUnitNotOpen)
                           : WriteFileRecord(*file, unit, block, static_cast<int>(kBlockBytes), in);
    NoteWriteFailure(unit, status);
    return status;
  }
  void NoteWriteFailure(int16_t unit, int status) {
    int& first = firstError_[static_cast<size_t>(unit)];
    if (status != kIoOk && first == kIoOk) first = status;
  }

  Slot& At(uint32_t i) { return slotChunks_[i >> kChunkShift][i & (kChunkSlots - 1)]; }
  BlockBytes& Bytes(uint32_t i) { return byteChunks_[i >> kChunkShift][i & (kChunkSlots - 1)]; }
  Touches& NotesOf(uint32_t i) { return touchChunks_[i >> kChunkShift][i & (kChunkSlots - 1)]; }

  void Size(size_t bytes) {
    budget_ = bytes;
    const size_t perSlot = kBytesPerSlot + 2 * sizeof(IndexEntry);
    size_t entries = std::max<size_t>(1, bytes / perSlot);
    size_t tableSize = 16;
    while (tableSize < 2 * entries && tableSize <= UINT32_MAX / 2) tableSize *= 2;
    // The index starts small and doubles as blocks come, so that a few thousand blocks
    // are looked up in a table that stays in the processor's caches; the budget counts
    // it at its full size.
    fullTable_ = tableSize;
    index_.assign(std::min<size_t>(tableSize, kFirstTable), IndexEntry{});
    mask_ = index_.size() - 1;
    const size_t tableBytes = tableSize * sizeof(IndexEntry);
    // Calls of several blocks only when the budget holds many more blocks than they move.
    stageBlocks_ = std::min(kStageBlocks, entries / 8);
    if (stageBlocks_ < 2) stageBlocks_ = 0;
    // Runs written back take its first stageBlocks_ blocks, a read-ahead extent the rest:
    // keeping the blocks an extent brought may write a run back.
    stage_.assign((stageBlocks_ + std::min(kReadAheadBlocks, stageBlocks_)) * kBlockBytes, 0);
    stage_.shrink_to_fit();
    // Further notes for up to one block in two (a migration keeps tens of thousands of
    // dirty blocks with more than 8 notes; too small a pool sends them out early).
    moreCapacity_ = stageBlocks_ > 0 ? entries / 2 : 0;
    const size_t fixedBytes = tableBytes + stage_.size() + moreCapacity_ * sizeof(MoreTouches);
    entries = bytes > fixedBytes ? (bytes - fixedBytes) / kBytesPerSlot : 1;
    capacity_ = static_cast<uint32_t>(std::clamp<size_t>(entries, 1, kNone - 1));
    // Whole chunks only, so that the last one allocated stays within the budget.
    if (capacity_ >= kChunkSlots) capacity_ -= capacity_ % kChunkSlots;
    chunkSlots_ = std::min<uint32_t>(kChunkSlots, capacity_);
    passShare_ = capacity_ / 16;
    indexBytes_ = tableBytes + stage_.size();
    NotePeak();
  }

  void NotePeak() {
    const size_t held = indexBytes_ + more_.capacity() * sizeof(MoreTouches) +
                        slotChunks_.size() * chunkSlots_ * kBytesPerSlot;
    stats_.peakBytes = std::max(stats_.peakBytes, held);
  }

  // The tag of a key: the high half of a full 64-bit mix, so that the same block number
  // of different units and runs of neighbouring blocks spread over the whole table. Its
  // low bits are the key's home in the table; the index keeps it beside the slot number.
  static uint32_t TagOf(int16_t unit, int64_t block) {
    uint64_t key = KeyOf(unit, block);
    key ^= key >> 33;
    key *= 0xFF51AFD7ED558CCDULL;
    key ^= key >> 33;
    key *= 0xC4CEB9FE1A85EC53ULL;
    key ^= key >> 33;
    return static_cast<uint32_t>(key >> 32);
  }
  size_t HomeOf(uint32_t tag) const { return tag & mask_; }

  // A slot is looked at only when its tag matches.
  uint32_t Find(int16_t unit, int64_t block) {
    const uint32_t tag = TagOf(unit, block);
    for (size_t h = HomeOf(tag);; h = (h + 1) & mask_) {
      const IndexEntry e = index_[h];
      if (e.slot == kNone) return kNone;
      if (e.tag == tag && At(e.slot).unit == unit && At(e.slot).block == block) return e.slot;
    }
  }

  // A slot for the block, most recent, not dirty, its bytes to be filled by the caller.
  uint32_t Insert(int16_t unit, int64_t block) {
    const bool passing = passing_[static_cast<size_t>(unit)];
    while (live_ >= capacity_) {
      const uint32_t victim = Victim();
      if (victim == kNone) break;
      Evict(victim);
    }
    uint32_t i;
    if (!freeSlots_.empty()) {
      i = freeSlots_.back();
      freeSlots_.pop_back();
    } else {
      if (allocated_ == slotChunks_.size() * kChunkSlots) {
        // A chunk smaller than kChunkSlots only when the whole cache fits in one.
        slotChunks_.push_back(std::make_unique<Slot[]>(chunkSlots_));
        byteChunks_.push_back(std::make_unique_for_overwrite<BlockBytes[]>(chunkSlots_));
        touchChunks_.push_back(std::make_unique_for_overwrite<Touches[]>(chunkSlots_));
        NotePeak();
      }
      i = allocated_++;
    }
    Slot& s = At(i);
    s.unit = unit;
    s.block = static_cast<uint32_t>(block);
    s.dirty = false;
    s.used = false;
    s.touches = 0;
    if (2 * (size_t{live_} + 1) > index_.size() && index_.size() < fullTable_) GrowIndex();
    Place(i, TagOf(unit, block));
    ++unitBlocks_[static_cast<size_t>(unit)];
    s.older = kNone;
    s.newer = kNone;
    s.passing = passing;
    PushMostRecent(i);
    ++live_;
    stats_.blocks = live_;
    return i;
  }

  // Enters slot i under its key's tag in the index.
  void Place(uint32_t i, uint32_t tag) {
    size_t h = HomeOf(tag);
    while (index_[h].slot != kNone) h = (h + 1) & mask_;
    index_[h] = {i, tag};
  }

  void GrowIndex() {
    std::vector<IndexEntry> old(index_.size() * 2, IndexEntry{});
    old.swap(index_);
    mask_ = index_.size() - 1;
    for (const IndexEntry& e : old) {
      if (e.slot != kNone) Place(e.slot, e.tag);
    }
  }

  void Evict(uint32_t i) {
    if (At(i).dirty) {
      if (stageBlocks_ > 1) {
        WriteBackAround(i);
      } else if (WriteBack(i) != kIoOk) {
        return;  // given up: already gone
      }
    }
    Remove(i);  // nothing to do when it was given up
  }

  // A dirty block leaves with the dirty blocks of its unit held on either side of it,
  // written in one call and kept, clean, so that the blocks of a file written at random
  // do not each go out with a call of their own.
  void WriteBackAround(uint32_t i) {
    const int16_t unit = At(i).unit;
    const int64_t block = At(i).block;
    auto dirtyAt = [&](int64_t b) {
      const uint32_t j = b >= 1 ? Find(unit, b) : kNone;
      return j != kNone && At(j).dirty ? j : kNone;
    };
    std::array<uint32_t, kStageBlocks> run;
    size_t before = 0;
    const size_t most = stageBlocks_;
    while (before + 1 < most / 2 && dirtyAt(block - 1 - static_cast<int64_t>(before)) != kNone)
      ++before;
    size_t count = 0;
    for (size_t k = before; k > 0; --k) run[count++] = dirtyAt(block - static_cast<int64_t>(k));
    run[count++] = i;
    for (int64_t b = block + 1; count < most; ++b) {
      const uint32_t j = dirtyAt(b);
      if (j == kNone) break;
      run[count++] = j;
    }
    WriteBackRun(std::span<const uint32_t>(run.data(), count));
  }

  // Writes a dirty block to its file, once more when that fails; gives it up when the
  // second write fails too.
  int WriteBack(uint32_t i) {
    Slot& s = At(i);
    int status = ToFile(s.unit, s.block, Bytes(i));
    if (status != kIoOk) status = ToFile(s.unit, s.block, Bytes(i));
    if (status != kIoOk) {
      GiveUp(i, status);
      return status;
    }
    Written(i);
    return kIoOk;
  }

  // Writes a run of dirty blocks of one unit, neighbours in block order, in one call. A
  // block whose write fails in it is then written once more alone and given up when
  // that fails too, as WriteBack does; the blocks after it go on as a run of their own.
  void WriteBackRun(std::span<const uint32_t> run) {
    const int16_t unit = At(run.front()).unit;
    platform::File* file = files_[static_cast<size_t>(unit)];
    while (!run.empty()) {
      if (run.size() == 1 || file == nullptr) {
        WriteBack(run.front());
        run = run.subspan(1);
        continue;
      }
      for (size_t k = 0; k < run.size(); ++k)
        std::memcpy(stage_.data() + k * kBlockBytes, Bytes(run[k]).data(), kBlockBytes);
      size_t whole = 0;
      NoteWriteEnd(unit, At(run.front()).block, run.size() * kBlockBytes);
      const int status =
          WriteFileRecords(*file, unit, At(run.front()).block, kBlockBytes, run.size(),
                           std::span<const uint8_t>(stage_).first(run.size() * kBlockBytes), whole);
      for (size_t k = 0; k < whole; ++k) Written(run[k]);
      run = run.subspan(whole);
      if (status == kIoOk) break;
      NoteWriteFailure(unit, status);
      const uint32_t i = run.front();
      if (const int again = ToFile(unit, At(i).block, Bytes(i)); again != kIoOk) {
        GiveUp(i, again);
      } else {
        Written(i);
      }
      run = run.subspan(1);
    }
  }

  // A dirty block is on its file: clean, its notes done with.
  void Written(uint32_t i) {
    Slot& s = At(i);
    ++stats_.writeBacks;
    s.dirty = false;
    ClearTouches(i);
    UnlinkDirty(i);
  }

  void GiveUp(uint32_t i, int status) {
    Slot& s = At(i);
    LedgerRegistry& registry = LedgerRegistry::Get();
    for (int k = 0; k < s.touches; ++k) {
      const Touch& t = NoteAt(i, k);
      registry.Count(t.ticket, t.ledger);
    }
    int& error = unitError_[static_cast<size_t>(s.unit)];
    if (error == kIoOk) error = status;
    ++stats_.givenUp;
    Remove(i);
  }

  // Makes room for the note of a record write on a dirty block (none is needed when it
  // is the last one noted), borrowing notes from the pool or, when it can borrow no
  // more, writing the block back. False when the block was given up.
  bool MakeRoomForTouch(uint32_t i, WriteTicket serving) {
    if (serving.ticket == 0) return true;
    const int n = At(i).touches;
    if (n > 0 && At(i).lastTicket == serving.ticket) return true;
    if (n < RoomFor(i)) return true;
    if (n < kMostTouches && TakeMoreTouches(i)) return true;
    return WriteBack(i) == kIoOk;
  }

  // The k-th note of a slot (k below its room).
  Touch& NoteAt(uint32_t i, int k) {
    if (k < kTouchesPerBlock) return NotesOf(i)[static_cast<size_t>(k)];
    uint32_t c = At(i).more;
    for (k -= kTouchesPerBlock; k >= kTouchesPerBlock; k -= kTouchesPerBlock) c = more_[c].next;
    return more_[c].notes[static_cast<size_t>(k)];
  }
  int RoomFor(uint32_t i) {
    int room = kTouchesPerBlock;
    for (uint32_t c = At(i).more; c != kNone; c = more_[c].next) room += kTouchesPerBlock;
    return room;
  }
  // Chains one more chunk of notes to a slot; false when the pool has none left.
  bool TakeMoreTouches(uint32_t i) {
    uint32_t c = freeMore_;
    if (c != kNone) {
      freeMore_ = more_[c].next;
    } else if (more_.size() < moreCapacity_) {
      if (more_.capacity() == 0) {
        more_.reserve(moreCapacity_);
        NotePeak();
      }
      c = static_cast<uint32_t>(more_.size());
      more_.emplace_back();
    } else {
      return false;
    }
    more_[c].next = kNone;
    uint32_t* link = &At(i).more;
    while (*link != kNone) link = &more_[*link].next;
    *link = c;
    return true;
  }
  // Empties a slot's notes and gives its chunks back to the pool.
  void ClearTouches(uint32_t i) {
    Slot& s = At(i);
    s.touches = 0;
    while (s.more != kNone) {
      const uint32_t c = s.more;
      s.more = more_[c].next;
      more_[c].next = freeMore_;
      freeMore_ = c;
    }
  }

  // Notes the record write being served on a dirty block. False when the block was given
  // up while room was made for the note.
  bool NoteWrite(uint32_t i, WriteTicket serving) {
    if (serving.ticket == 0) return true;
    if (!MakeRoomForTouch(i, serving)) return false;
    Slot& s = At(i);
    if (!s.dirty) return true;
    if (s.touches > 0 && s.lastTicket == serving.ticket) return true;
    NoteAt(i, s.touches) = Touch{serving.ticket, serving.ledger};
    ++s.touches;
    s.lastTicket = serving.ticket;
    return true;
  }

  void Remove(uint32_t i) {
    Slot& s = At(i);
    if (s.unit == 0) return;
    // Backward-shift deletion keeps every probe run of the table unbroken.
    size_t hole = HomeOf(TagOf(s.unit, s.block));
    while (index_[hole].slot != i) hole = (hole + 1) & mask_;
    index_[hole].slot = kNone;
    for (size_t j = (hole + 1) & mask_; index_[j].slot != kNone; j = (j + 1) & mask_) {
      const size_t home = HomeOf(index_[j].tag);
      const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
      if (movable) {
        index_[hole] = index_[j];
        index_[j].slot = kNone;
        hole = j;
      }
    }
    --unitBlocks_[static_cast<size_t>(s.unit)];
    UnlinkRecency(i);
    if (s.dirty) UnlinkDirty(i);
    s.unit = 0;
    s.dirty = false;
    ClearTouches(i);
    freeSlots_.push_back(i);
    --live_;
    stats_.blocks = live_;
  }

  // The block that leaves when room is needed: the least recent passing block while the
  // passing list holds more than its share, else the least recent kept block. A block
  // used since it last came to the front of its list goes to the front again instead
  // (a second chance), so that a use only marks the block, and moves nothing.
  uint32_t Victim() {
    for (;;) {
      const Recency& kept = lists_[0];
      const Recency& pass = lists_[1];
      const uint32_t i =
          pass.lru != kNone && (pass.count > passShare_ || kept.lru == kNone) ? pass.lru : kept.lru;
      if (i == kNone || !At(i).used) return i;
      At(i).used = false;
      UnlinkRecency(i);
      PushMostRecent(i);
    }
  }

  Recency& ListOf(const Slot& s) { return lists_[s.passing ? 1 : 0]; }

  void PushMostRecent(uint32_t i) {
    Slot& s = At(i);
    Recency& list = ListOf(s);
    s.older = list.mru;
    s.newer = kNone;
    if (list.mru != kNone) At(list.mru).newer = i;
    list.mru = i;
    if (list.lru == kNone) list.lru = i;
    ++list.count;
  }

  void UnlinkRecency(uint32_t i) {
    Slot& s = At(i);
    Recency& list = ListOf(s);
    if (s.newer != kNone) At(s.newer).older = s.older;
    if (s.older != kNone) At(s.older).newer = s.newer;
    if (list.mru == i) list.mru = s.older;
    if (list.lru == i) list.lru = s.newer;
    s.older = s.newer = kNone;
    --list.count;
  }

  void MarkUsed(uint32_t i) { At(i).used = true; }

  void LinkDirty(uint32_t i) {
    Slot& s = At(i);
    uint32_t& head = dirtyHead_[static_cast<size_t>(s.unit)];
    s.prevDirty = kNone;
    s.nextDirty = head;
    if (head != kNone) At(head).prevDirty = i;
    head = i;
  }

  void UnlinkDirty(uint32_t i) {
    Slot& s = At(i);
    if (s.prevDirty != kNone) {
      At(s.prevDirty).nextDirty = s.nextDirty;
    } else {
      dirtyHead_[static_cast<size_t>(s.unit)] = s.nextDirty;
    }
    if (s.nextDirty != kNone) At(s.nextDirty).prevDirty = s.prevDirty;
    s.prevDirty = s.nextDirty = kNone;
  }

  size_t budget_ = 0;
  uint32_t capacity_ = 0;
  uint32_t chunkSlots_ = kChunkSlots;
  std::vector<std::unique_ptr<Slot[]>> slotChunks_;
  std::vector<std::unique_ptr<BlockBytes[]>> byteChunks_;
  std::vector<std::unique_ptr<Touches[]>> touchChunks_;
  uint32_t allocated_ = 0;  // slots taken from the chunks so far
  uint32_t live_ = 0;       // slots holding a block
  std::vector<uint32_t> freeSlots_;
  std::vector<IndexEntry> index_;
  size_t fullTable_ = 0;                              // the index's size once the cache is full
  std::array<uint32_t, kLastUnit + 1> unitBlocks_{};  // blocks held of each unit
  size_t mask_ = 0;
  size_t indexBytes_ = 0;  // the index and the staging area
  size_t stageBlocks_ = 0;
  std::vector<uint8_t> stage_;
  std::vector<MoreTouches> more_;  // the pool of further notes
  size_t moreCapacity_ = 0;
  uint32_t freeMore_ = kNone;
  // The recency lists, most recent first: [0] the kept blocks, [1] the passing ones.
  std::array<Recency, 2> lists_{};
  uint32_t passShare_ = 0;  // the passing blocks that stay however full the cache is
  std::array<bool, kLastUnit + 1> passing_{};  // units read in passes
  std::array<uint32_t, kLastUnit + 1> dirtyHead_{};
  std::array<int, kLastUnit + 1> unitError_{};
  std::array<platform::File*, kLastUnit + 1> files_{};  // the file beneath each cached unit
  std::array<int, kLastUnit + 1> firstError_{};         // first failed write since attached
  std::array<Stream, kLastUnit + 1> streams_{};
  std::array<uint64_t, kLastUnit + 1> fileEnd_{};  // the end of each unit's file, as known
  CacheStats stats_;
};

// One cache for the process, beneath the process's one table of units it serves.
Cache& TheCache() {
  static Cache cache;
  return cache;
}

}  // namespace

void LedgerRegistry::Unregister(uint32_t slot) {
  if (slot == 0 || slot >= ledgers.size()) return;
  TheCache().ForgetLedger(slot);
  ledgers[slot] = nullptr;
  freeSlots.push_back(slot);
}

void SetCacheBudget(size_t bytes) { TheCache().SetBudget(bytes); }
size_t CacheBudget() { return TheCache().budget(); }
const CacheStats& CurrentCacheStats() { return TheCache().stats(); }

WriteLedger::WriteLedger() : slot_(LedgerRegistry::Get().Register(this)) {}
WriteLedger::~WriteLedger() { LedgerRegistry::Get().Unregister(slot_); }

CountedWrite::CountedWrite(WriteLedger& ledger)
    : serving_{LedgerRegistry::Get().NewTicket(), ledger.slot_} {}

void CountedWrite::Failed() { LedgerRegistry::Get().Count(serving_.ticket, serving_.ledger); }

namespace cache {

int Read(int16_t unit, int64_t block, std::span<uint8_t> out, WriteTicket serving) {
  return TheCache().Read(unit, block, out, serving);
}
int Write(int16_t unit, int64_t block, std::span<const uint8_t> in, WriteTicket serving) {
  return TheCache().Write(unit, block, in, serving);
}
std::span<const uint8_t> View(int16_t unit, int64_t block, WriteTicket serving) {
  return TheCache().View(unit, block, serving);
}
int Flush(int16_t unit) { return TheCache().Flush(unit); }
void Forget(int16_t unit) { TheCache().Forget(unit); }
void Attach(int16_t unit, platform::File* file, uint64_t size) {
  TheCache().Attach(unit, file, size);
}
int FirstWriteFailure(int16_t unit) { return TheCache().FirstWriteFailure(unit); }
void SetPassing(int16_t unit, bool on) { TheCache().SetPassing(unit, on); }

}  // namespace cache

}  // namespace varmex::io
