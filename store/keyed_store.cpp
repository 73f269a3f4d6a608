// Find, read, write and delete of keyed records in a block file (layout drawn in
// block_file.h). Every operation walks the key's probe path one block at a time
// through a block buffer of its own (a Walk), reads each block of its walk once, writes
// a block back only when it changed it, and never walks more than N blocks.
#include "store/keyed_store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "io/unit_file.h"
#include "store/block_file.h"

namespace varmex::store {
namespace {

using Key = std::array<uint8_t, kMaxKeyLength>;

bool ValidKey(std::span<const uint8_t> key, int16_t keyLength) {
  return keyLength >= 1 && keyLength <= kMaxKeyLength &&
         static_cast<size_t>(keyLength) <= key.size();
}

Key CopyKey(std::span<const uint8_t> key, int16_t keyLength) {
  Key k{};
  std::memcpy(k.data(), key.data(), static_cast<size_t>(keyLength));
  return k;
}

// The block one operation stands on, the file it walks and the record write it serves
// (whose ticket goes with each block read and write, for the block cache's ledgers).
// A block the cache holds is looked at where it lies (a view, good until the next call
// of the io layer); it is copied into the walk's own buffer only when the walk is about
// to change it.
class Walk {
 public:
  Walk(int16_t file, io::WriteTicket serving) : file_(file), serving_(serving) {}
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // The block as it stands, to read.
  std::span<const uint8_t, kBlockBytes> View() const {
    return std::span<const uint8_t, kBlockBytes>(view_, kBlockBytes);
  }
  // The block in the walk's own buffer, to change.
  std::span<uint8_t, kBlockBytes> Buffer() {
    if (view_ != bytes_.data()) {
      std::memcpy(bytes_.data(), view_, kBlockBytes);
      view_ = bytes_.data();
    }
    return bytes_;
  }
  int32_t number() const { return number_; }

  int Read(int32_t b) {
    number_ = b;
    if (const std::span<const uint8_t> held = io::ViewRecord(file_, b, serving_); !held.empty()) {
      view_ = held.data();
      return 0;
    }
    view_ = bytes_.data();
    return io::ReadRecord(file_, b, bytes_, serving_);
  }
  int Write(int32_t b) { return io::WriteRecord(file_, b, Buffer(), serving_); }
  // A copy of the block, and standing on block b as copied earlier by the same operation.
  BlockBytes Kept() const {
    BlockBytes copy;
    std::memcpy(copy.data(), view_, kBlockBytes);
    return copy;
  }
  void Take(const BlockBytes& copy, int32_t b) {
    bytes_ = copy;
    view_ = bytes_.data();
    number_ = b;
  }

  void SetSize(int cell, int cells) {
    Buffer()[static_cast<size_t>(2 * cell - 2)] = static_cast<uint8_t>(cells);
  }
  void SetFlags(int cell, uint8_t flags) { Buffer()[static_cast<size_t>(2 * cell - 1)] = flags; }

 private:
  // Left unset: every operation reads a block before it looks at one, and ends when
  // that read fails (setting 512 bytes for each look-up costs a tenth of a cached read).
  BlockBytes bytes_;
  const uint8_t* view_ = bytes_.data();  // the bytes it stands on: bytes_ or a cached block
  int32_t number_ = 0;
  int16_t file_;
  io::WriteTicket serving_;
};

// Cells a piece holding `take` data bytes needs besides its size and flags bytes,
// rounded up so that an odd last byte is kept.
int PieceBodyCells(int take, int keyLength) { return (take + keyLength + 1) / 2; }

// Walks blocks from b (already in the buffer), deleting the key's pieces until a
// last piece or the end of a used area is met or N blocks have been read. The walk
// never enters `stopBlock` (0: no such block).
int16_t DeleteWalk(Walk& walk, std::span<const uint8_t> key, int keyLength, int32_t n, int32_t b,
                   int32_t blocksRead, int32_t stopBlock) {
  for (;;) {
    bool ended = false;
    if (DeletePiecesInBlock(walk.Buffer(), key, keyLength, ended) && walk.Write(b) != 0) {
      return kKeyedWriteError;
    }
    if (ended || blocksRead >= n) return kKeyedDone;
    b = NextBlock(b, n);
    if (b == stopBlock) return kKeyedDone;
    ++blocksRead;
    if (walk.Read(b) != 0) return kKeyedWriteError;
  }
}

// The blocks a write's look-up read from its first reusable place on, in probe order,
// kept for the length of that one write: placing the record walks the same blocks
// from there and takes them from here instead of reading them again. A walk longer
// than the copies may hold reads the rest as usual.
constexpr size_t kMaxWalkCopies = 2048;

void KeepCopy(std::vector<BlockBytes>* copies, const Walk& walk) {
  if (copies != nullptr && copies->size() < kMaxWalkCopies) copies->push_back(walk.Kept());
}

FindResult FindKey(Walk& walk, std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                   HashSelector selector, std::vector<BlockBytes>* copies);

}  // namespace

FindResult KeyedFind(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                     HashSelector selector) {
  Walk walk(file, {});
  return FindKey(walk, key, keyLength, n, selector, nullptr);
}

namespace {

FindResult FindKey(Walk& walk, std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                   HashSelector selector, std::vector<BlockBytes>* copies) {
  FindResult r;
  if (copies != nullptr) copies->clear();
  if (n <= 0 || !ValidKey(key, keyLength)) {
    r.status = kKeyedFull;
    return r;
  }
  int32_t b = HomeBlock(key, keyLength, n, selector);
  for (;;) {
    if (r.blocksRead >= n) {
      r.status = r.freeBlock == 0 ? kKeyedFull : kKeyedNotFound;
      return r;
    }
    ++r.blocksRead;
    if (walk.Read(b) != 0) {
      r.status = kKeyedReadError;
      return r;
    }
    const std::span<const uint8_t, kBlockBytes> block = walk.View();
    for (const BlockEntry& e : BlockEntries(block)) {
      if (e.IsEnd()) {
        // A reusable place in this very block needs no copy: the walk still stands on
        // it, and the write places the record there (KeyedWrite).
        if (r.freeBlock == 0) {
          r.freeBlock = b;
          r.freeCell = static_cast<int16_t>(e.cell);
        } else {
          KeepCopy(copies, walk);
        }
        r.status = kKeyedNotFound;
        return r;
      }
      if (e.IsDeleted()) {
        // A deleted entry that crosses the end of the block is never offered for reuse.
        if (r.freeBlock == 0 && !e.runsPast) {
          r.freeBlock = b;
          r.freeCell = static_cast<int16_t>(e.cell);
        }
      } else if (e.IsFirstPiece() && PieceMatches(block, e.cell, key, keyLength)) {
        if (r.freeBlock == 0) {
          r.freeBlock = b;
          r.freeCell = static_cast<int16_t>(e.cell);
        }
        r.status = kKeyedDone;
        r.block = b;
        r.cell = static_cast<int16_t>(e.cell);
        return r;
      }
    }
    if (r.freeBlock != 0) KeepCopy(copies, walk);
    b = NextBlock(b, n);
  }
}

}  // namespace

ReadResult KeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                     HashSelector selector, int32_t capacity) {
  ReadResult r;
  // Never more than the buffer holds, nor more than the longest record.
  const int64_t whole = std::min<int64_t>(static_cast<int64_t>(record.size()), kMaxRecordLength);
  const int64_t cap =
      capacity == 0 ? whole : std::min<int64_t>(capacity, static_cast<int64_t>(record.size()));
  if (cap < keyLength + 2) {
    r.status = kKeyedBufferTooSmall;
    return r;
  }
  Walk walk(file, {});
  const FindResult f = FindKey(walk, record, keyLength, n, selector, nullptr);
  r.freeBlock = f.freeBlock;
  r.freeCell = f.freeCell;
  if (f.status != kKeyedDone) {
    r.status = f.status;
    return r;
  }
  r.block = f.block;
  r.cell = f.cell;
  const Key key = CopyKey(record, keyLength);
  const std::span<const uint8_t> keyView(key.data(), static_cast<size_t>(keyLength));
  const Gathered g = GatherPieces(keyView, walk.View(), f.block, EntryAt(walk.View(), f.cell),
                                  f.blocksRead, n, record.first(static_cast<size_t>(cap)),
                                  [&walk](int32_t b, std::span<const uint8_t, kBlockBytes>& view) {
                                    const int status = walk.Read(b);
                                    view = walk.View();
                                    return status;
                                  });
  r.status = g.status;
  r.length = static_cast<int32_t>(g.length);
  return r;
}

Gathered GatherPieces(std::span<const uint8_t> key, std::span<const uint8_t, kBlockBytes> walk,
                      int32_t b, const BlockEntry& first, int32_t blocksRead, int32_t n,
                      std::span<uint8_t> out, const BlockViewer& read) {
  Gathered g;
  const auto cap = static_cast<int64_t>(out.size());
  const auto keyLength = static_cast<int>(key.size());
  // The first piece: the key and the first stretch of data.
  const int64_t stretch = 2 * SizeByte(walk, first.cell);
  int64_t take = std::min(cap, stretch);
  if (static_cast<int64_t>(first.KeyAt()) + take > kBlockBytes) {
    g.status = kKeyedPiecePastBlock;
    return g;
  }
  std::memcpy(out.data(), walk.data() + first.KeyAt(), static_cast<size_t>(take));
  g.length = take;
  if ((first.flags & kFlagLast) != 0 || g.length >= cap) {
    g.status = kKeyedDone;
    g.whole = take == stretch && (first.flags & kFlagLast) != 0;
    return g;
  }
  // The further pieces, in this block after the first and in the blocks that follow.
  int from = first.Next();
  for (;;) {
    for (const BlockEntry& e : BlockEntries(walk, from)) {
      if (e.IsEnd()) {
        g.status = kKeyedIncomplete;
        return g;
      }
      if (!PieceMatches(walk, e.cell, key, keyLength)) continue;
      const int64_t data = std::max<int64_t>(0, 2 * SizeByte(walk, e.cell) - keyLength);
      take = std::min(data, cap - g.length);
      if (static_cast<int64_t>(e.KeyAt()) + keyLength + take > kBlockBytes) {
        g.status = kKeyedPiecePastBlock;
        return g;
      }
      std::memcpy(out.data() + g.length, walk.data() + e.KeyAt() + keyLength,
                  static_cast<size_t>(take));
      g.length += take;
      if (e.IsClosingPiece() || g.length >= cap) {
        g.status = kKeyedDone;
        g.whole = e.IsClosingPiece() && take == data;
        return g;
      }
    }
    if (++blocksRead > n) {
      g.status = g.length <= keyLength ? kKeyedFull : kKeyedIncomplete;
      return g;
    }
    b = NextBlock(b, n);
    if (read(b, walk) != 0) {
      g.status = kKeyedReadError;
      return g;
    }
    from = 1;
  }
}

namespace {

// A keyed write in progress. It stands at cell u of block b (in its walk's buffer) on
// the key's probe path and places the record piece by piece from there:
// each free or deleted entry big enough takes the next piece, the last piece splits
// its entry when it leaves room. When the key had a record, its pieces are deleted
// block by block ahead of the placement, so the new record reuses the old one's room.
//
// The walk goes on with the look-up's block count: when the first reusable place lies
// before the block where the look-up stopped, the blocks between are counted again,
// so a crowded file can answer 3 with room left further on. The suite's other programs
// walk the same budget, and the pieces already placed stay (a record without its last
// piece, replaced by the next write of the key).
class PlacementCursor {
 public:
  PlacementCursor(Walk& walk, std::span<const uint8_t> record, int keyLength, int32_t n,
                  const std::vector<BlockBytes>& copies, WriteResult& result)
      : walk_(walk),
        record_(record),
        kl_(keyLength),
        key_(CopyKey(record, static_cast<int16_t>(keyLength))),
        n_(n),
        copies_(copies),
        result_(result),
        placed_(keyLength),
        pieceFlags_(static_cast<uint8_t>(kFlagFirst + keyLength)) {}

  // Starts at the look-up's reusable place (an insert) or at the old first piece (a
  // replace); the look-up read `blocksRead` blocks.
  void StartAt(int32_t b, int u, int32_t blocksRead, bool replace) {
    b_ = b;
    u_ = u;
    blocksRead_ = blocksRead;
    replace_ = replace;
  }

  // Deletes the old record's pieces in the first block and places the first piece in
  // the entry its first piece leaves (merged with the free entries after it).
  void ReplaceInFirstBlock() {
    auto block = walk_.Buffer();
    changed_ = DeletePiecesInBlock(block, KeyView(), kl_, oldEnded_);
    if (PieceMatches(block, u_, KeyView(), kl_)) {
      // A stray last piece of the key earlier in the block stopped the deletion short
      // of the record being replaced: delete that record from its first piece.
      oldEnded_ = false;
      DeletePiecesInBlock(block, KeyView(), kl_, oldEnded_, u_);
      changed_ = true;
    }
    changed_ = MergeFreeEntries(block, u_) || changed_;
    const BlockEntry e = EntryAt(block, u_);
    if (!e.IsLive() && !e.runsPast && 2 * e.cells - kl_ - 2 >= 0) Place(e);
    u_ += e.cells;
  }

  // Places pieces from cell u of the current block until the record is whole or the
  // block has no more room.
  void PlaceInBlock() {
    auto block = walk_.Buffer();
    while (!last_ && u_ <= kBlockCells) {
      const BlockEntry e = EntryAt(block, u_);
      if (e.IsLive()) {
        u_ = e.Next();
        continue;
      }
      if (e.runsPast) break;  // damaged: leave it and the rest of the block
      if (e.cells < kl_ + 4) {
        if (e.IsDeleted()) {
          u_ = e.Next();
          continue;
        }
        // The free end is too small for a piece: it becomes a filler.
        walk_.SetSize(e.cell, e.cells - 1);
        walk_.SetFlags(e.cell, kFlagFiller);
        changed_ = true;
        break;
      }
      Place(e);
      u_ = e.Next();
    }
  }

  bool Whole() const { return last_; }

  // Writes the current block back when it changed and moves to the next block of the
  // path: the look-up's copy of it when inserting, else a fresh read. A replace
  // deletes the old record's pieces there first, and free entries are merged.
  int16_t MoveToNextBlock() {
    if (changed_ && walk_.Write(b_) != 0) return kKeyedWriteError;
    ++blocksRead_;
    changed_ = false;
    if (blocksRead_ > n_) return kKeyedFull;
    b_ = NextBlock(b_, n_);
    if (!replace_ && ++copyIndex_ < copies_.size()) {
      walk_.Take(copies_[copyIndex_], b_);
    } else if (walk_.Read(b_) != 0) {
      return kKeyedReadError;
    }
    u_ = 1;
    if (replace_ && !oldEnded_) {
      changed_ = DeletePiecesInBlock(walk_.Buffer(), KeyView(), kl_, oldEnded_);
    }
    changed_ = MergeFreeEntries(walk_.Buffer(), 1) || changed_;
    return kKeyedDone;
  }

  // Writes the block holding the last piece.
  int16_t Finish() { return walk_.Write(b_) != 0 ? kKeyedWriteError : kKeyedDone; }

  // The old record went on past the blocks walked: deletes the rest of it from the next
  // block on, stopping short of the block with the new first piece. Only a read or
  // write failure is reported.
  int16_t DeleteRestOfOldRecord() {
    if (!replace_ || oldEnded_) return kKeyedDone;
    const int32_t next = NextBlock(b_, n_);
    if (next == result_.block) return kKeyedDone;
    if (walk_.Read(next) != 0) return kKeyedWriteError;
    const int16_t st = DeleteWalk(walk_, KeyView(), kl_, n_, next, 1, result_.block);
    return st == kKeyedReadError || st == kKeyedWriteError ? st : int16_t{kKeyedDone};
  }

 private:
  std::span<const uint8_t> KeyView() const {
    return std::span<const uint8_t>(key_.data(), static_cast<size_t>(kl_));
  }

  // Places the next piece in entry e; a last piece that leaves room splits the entry.
  void Place(const BlockEntry& e) {
    auto block = walk_.Buffer();
    const int room = 2 * e.cells - kl_ - 2;
    const int still = static_cast<int>(record_.size()) - placed_;
    const int take = room >= still ? still : room;
    last_ = room >= still;
    std::memcpy(block.data() + 2 * e.cell, key_.data(), static_cast<size_t>(kl_));
    std::memcpy(block.data() + 2 * e.cell + kl_, record_.data() + placed_,
                static_cast<size_t>(take));
    placed_ += take;
    if ((pieceFlags_ & kFlagFirst) != 0) {
      result_.block = b_;
      result_.cell = static_cast<int16_t>(e.cell);
    }
    const int p = PieceBodyCells(take, kl_);
    if (last_ && e.cells - (p + 1) >= 1) {
      walk_.SetSize(e.cell, p);
      walk_.SetSize(e.cell + p + 1, e.cells - (p + 1) - 1);
      walk_.SetFlags(e.cell + p + 1, e.flags);
    } else {
      walk_.SetSize(e.cell, e.cells - 1);
    }
    walk_.SetFlags(e.cell, static_cast<uint8_t>(pieceFlags_ + (last_ ? kFlagLast : 0)));
    changed_ = true;
    pieceFlags_ = static_cast<uint8_t>(kl_);
  }

  Walk& walk_;
  std::span<const uint8_t> record_;
  int kl_;
  Key key_;
  int32_t n_;
  const std::vector<BlockBytes>& copies_;
  WriteResult& result_;
  int32_t b_ = 0;
  int u_ = 0;  // the cell of block b_ it stands at
  int32_t blocksRead_ = 0;
  bool replace_ = false;
  size_t copyIndex_ = 0;  // the look-up's copy of block b when inserting
  int placed_;            // bytes of the record placed so far, key included
  uint8_t pieceFlags_;
  bool changed_ = false;   // the current block differs from the file's
  bool last_ = false;      // the last piece is placed
  bool oldEnded_ = false;  // the old record's last piece has been deleted
};

}  // namespace

WriteResult KeyedWrite(std::span<const uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                       HashSelector selector) {
  WriteContext context;
  return KeyedWrite(record, keyLength, n, file, selector, context);
}

WriteResult KeyedWrite(std::span<const uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                       HashSelector selector, WriteContext& context) {
  WriteResult r;
  if (n <= 0 || !ValidKey(record, keyLength) ||
      record.size() > static_cast<size_t>(kMaxRecordLength)) {
    r.status = kKeyedFull;
    return r;
  }
  Walk walk(file, context.serving);
  std::vector<BlockBytes>& copies = context.copies;
  const FindResult f = FindKey(walk, record, keyLength, n, selector, &copies);
  r.lookupBlocks = f.blocksRead;
  PlacementCursor cursor(walk, record, keyLength, n, copies, r);
  if (f.status == kKeyedDone) {
    cursor.StartAt(f.block, f.cell, f.blocksRead, true);
    cursor.ReplaceInFirstBlock();
  } else if (f.status == kKeyedNotFound) {
    // The look-up read the reusable place's block and kept it (or it is still in the
    // buffer, the last block read); it is read again only when neither holds.
    if (!copies.empty()) {
      walk.Take(copies.front(), f.freeBlock);
    } else if (walk.number() != f.freeBlock && walk.Read(f.freeBlock) != 0) {
      r.status = kKeyedReadError;
      return r;
    }
    cursor.StartAt(f.freeBlock, f.freeCell, f.blocksRead, false);
  } else {
    r.status = f.status;
    return r;
  }
  for (;;) {
    cursor.PlaceInBlock();
    if (cursor.Whole()) break;
    if (const int16_t st = cursor.MoveToNextBlock(); st != kKeyedDone) {
      r.status = st;
      return r;
    }
  }
  r.status = cursor.Finish();
  if (r.status == kKeyedDone) r.status = cursor.DeleteRestOfOldRecord();
  return r;
}

int16_t KeyedDelete(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                    HashSelector selector, int32_t startBlock, io::WriteTicket serving) {
  if (n <= 0 || !ValidKey(key, keyLength)) return kKeyedFull;
  const Key k = CopyKey(key, keyLength);
  const std::span<const uint8_t> keyView(k.data(), static_cast<size_t>(keyLength));
  Walk walk(file, serving);
  if (startBlock == 0) {
    const FindResult f = FindKey(walk, key, keyLength, n, selector, nullptr);
    if (f.status != kKeyedDone) return f.status;
    return DeleteWalk(walk, keyView, keyLength, n, f.block, f.blocksRead, 0);
  }
  if (startBlock < 0 || startBlock > n || walk.Read(startBlock) != 0) return kKeyedWriteError;
  return DeleteWalk(walk, keyView, keyLength, n, startBlock, 1, 0);
}

}  // namespace varmex::store
