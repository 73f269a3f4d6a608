// Find, read, write and delete of keyed records in a block file (layout drawn in
// block_file.h). Every operation walks the key's probe path one block at a time
// through the shared current block, reads each block of its walk once, writes a block
// back only when it changed it, and never walks more than N blocks.
#include "store/keyed_store.h"

#include <algorithm>
#include <array>
#include <cstring>

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

std::span<uint8_t, kBlockBytes> Buffer() { return CurrentBlock().bytes; }

int ReadBlock(int16_t file, int32_t b) {
  CurrentBlock().number = b;
  return io::ReadRecord(file, b, Buffer());
}

int WriteBlock(int16_t file, int32_t b) { return io::WriteRecord(file, b, Buffer()); }

void SetSize(int unit, int units) {
  Buffer()[static_cast<size_t>(2 * unit - 2)] = static_cast<uint8_t>(units);
}
void SetFlags(int unit, uint8_t flags) { Buffer()[static_cast<size_t>(2 * unit - 1)] = flags; }

// Units a piece holding `take` data bytes needs besides its size and flags bytes,
// rounded up so that an odd last byte is kept.
int PieceBodyUnits(int take, int keyLength) { return (take + keyLength + 1) / 2; }

// Walks blocks from b (already in the buffer), deleting the key's pieces until a
// last piece or the end of a used area is met or N blocks have been read. The walk
// never enters `stopBlock` (0: no such block).
int16_t DeleteWalk(std::span<const uint8_t> key, int keyLength, int32_t n, int16_t file, int32_t b,
                   int32_t blocksRead, int32_t stopBlock) {
  for (;;) {
    int32_t ended = 0;
    if (DeletePiecesInBlock(Buffer(), key, keyLength, ended) && WriteBlock(file, b) != 0) {
      return kKeyedWriteError;
    }
    if (ended != 0 || blocksRead >= n) return kKeyedDone;
    b = NextBlock(b, n);
    if (b == stopBlock) return kKeyedDone;
    ++blocksRead;
    if (ReadBlock(file, b) != 0) return kKeyedWriteError;
  }
}

// The blocks a write's look-up read from its first reusable place on, in probe order,
// kept for the length of that one write: placing the record walks the same blocks
// from there and takes them from here instead of reading them again. Nothing here
// outlives the write; a walk longer than the copies hold reads the rest as usual.
struct WalkCopies {
  static constexpr int kMaxBlocks = 2048;
  int count = 0;  // copies[k] is the k-th block after the reusable place's block
  std::array<BlockBytes, kMaxBlocks> blocks;
};

WalkCopies& WriteWalkCopies() {
  static WalkCopies copies;
  return copies;
}

FindResult FindKey(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                   int16_t selector, WalkCopies* copies);

}  // namespace

FindResult KeyedFind(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                     int16_t selector) {
  return FindKey(key, keyLength, n, file, selector, nullptr);
}

namespace {

FindResult FindKey(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                   int16_t selector, WalkCopies* copies) {
  FindResult r;
  if (copies != nullptr) copies->count = 0;
  if (n <= 0 || !ValidKey(key, keyLength)) {
    r.status = kKeyedFull;
    return r;
  }
  int32_t b = HomeBlock(key, keyLength, n, selector);
  auto block = Buffer();
  for (;;) {
    if (r.blocksRead >= n) {
      r.status = r.freeBlock == 0 ? kKeyedFull : kKeyedNotFound;
      return r;
    }
    ++r.blocksRead;
    if (ReadBlock(file, b) != 0) {
      r.status = kKeyedReadError;
      return r;
    }
    int d = 1;
    while (d <= kBlockUnits) {
      const uint8_t flags = FlagsByte(block, d);
      if (IsEndOfUsedArea(flags)) {
        if (r.freeBlock == 0) {
          r.freeBlock = b;
          r.freeUnit = static_cast<int16_t>(d);
        }
        if (copies != nullptr && copies->count < WalkCopies::kMaxBlocks) {
          copies->blocks[static_cast<size_t>(copies->count++)] = CurrentBlock().bytes;
        }
        r.status = kKeyedNotFound;
        return r;
      }
      if (IsDeletedEntry(flags)) {
        // A deleted entry that crosses the end of the block is never offered for reuse.
        if (r.freeBlock == 0 && !EntryRunsPast(block, d)) {
          r.freeBlock = b;
          r.freeUnit = static_cast<int16_t>(d);
        }
      } else if ((flags & (kFlagDeleted | kFlagFirst)) == kFlagFirst &&
                 PieceMatches(block, d, key, keyLength)) {
        if (r.freeBlock == 0) {
          r.freeBlock = b;
          r.freeUnit = static_cast<int16_t>(d);
        }
        r.status = kKeyedDone;
        r.block = b;
        r.unit = static_cast<int16_t>(d);
        return r;
      }
      d += SizeByte(block, d) + 1;
    }
    if (copies != nullptr && r.freeBlock != 0 && copies->count < WalkCopies::kMaxBlocks) {
      copies->blocks[static_cast<size_t>(copies->count++)] = CurrentBlock().bytes;
    }
    b = NextBlock(b, n);
  }
}

}  // namespace

ReadResult KeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                     int16_t selector, int32_t capacity) {
  ReadResult r;
  // Never more than the buffer holds, nor more than the longest record.
  const int64_t whole = std::min<int64_t>(static_cast<int64_t>(record.size()), kMaxRecordLength);
  const int64_t cap =
      capacity == 0 ? whole : std::min<int64_t>(capacity, static_cast<int64_t>(record.size()));
  if (cap < keyLength + 2) {
    r.status = kKeyedBufferTooSmall;
    return r;
  }
  const FindResult f = KeyedFind(record, keyLength, n, file, selector);
  r.freeBlock = f.freeBlock;
  r.freeUnit = f.freeUnit;
  if (f.status != kKeyedDone) {
    r.status = f.status;
    return r;
  }
  r.block = f.block;
  r.unit = f.unit;
  const Key key = CopyKey(record, keyLength);
  const std::span<const uint8_t> keyView(key.data(), static_cast<size_t>(keyLength));
  auto block = Buffer();

  // The first piece: the key and the first stretch of data.
  int d = f.unit;
  uint8_t flags = FlagsByte(block, d);
  int64_t take = std::min<int64_t>(cap, 2 * SizeByte(block, d));
  if (2 * d + take > kBlockBytes) {
    r.status = kKeyedPiecePastBlock;
    return r;
  }
  std::memcpy(record.data(), block.data() + 2 * d, static_cast<size_t>(take));
  int64_t length = take;
  r.length = static_cast<int32_t>(length);
  if ((flags & (kFlagFirst | kFlagLast)) == (kFlagFirst | kFlagLast) || length >= cap) {
    r.status = kKeyedDone;
    return r;
  }

  // The further pieces, in this block after the first and in the blocks that follow.
  int32_t b = f.block;
  int32_t blocksRead = f.blocksRead;
  d += SizeByte(block, d) + 1;
  for (;;) {
    while (d <= kBlockUnits) {
      flags = FlagsByte(block, d);
      if (IsEndOfUsedArea(flags)) {
        r.status = kKeyedIncomplete;
        return r;
      }
      if (PieceMatches(block, d, keyView, keyLength)) {
        take = std::max<int64_t>(0, 2 * SizeByte(block, d) - keyLength);
        take = std::min(take, cap - length);
        if (2 * d + keyLength + take > kBlockBytes) {
          r.status = kKeyedPiecePastBlock;
          return r;
        }
        std::memcpy(record.data() + length, block.data() + 2 * d + keyLength,
                    static_cast<size_t>(take));
        length += take;
        r.length = static_cast<int32_t>(length);
        if ((flags & (kFlagDeleted | kFlagFirst | kFlagLast)) == kFlagLast || length >= cap) {
          r.status = kKeyedDone;
          return r;
        }
      }
      d += SizeByte(block, d) + 1;
    }
    ++blocksRead;
    if (blocksRead > n) {
      r.status = length <= keyLength ? kKeyedFull : kKeyedIncomplete;
      return r;
    }
    b = NextBlock(b, n);
    if (ReadBlock(file, b) != 0) {
      r.status = kKeyedReadError;
      return r;
    }
    d = 1;
  }
}

WriteResult KeyedWrite(std::span<const uint8_t> record, int16_t keyLength, int32_t n, int16_t file,
                       int16_t selector) {
  WriteResult r;
  if (n <= 0 || !ValidKey(record, keyLength) ||
      record.size() > static_cast<size_t>(kMaxRecordLength)) {
    r.status = kKeyedFull;
    return r;
  }
  const int kl = keyLength;
  const int recordLength = static_cast<int>(record.size());
  const Key key = CopyKey(record, keyLength);
  const std::span<const uint8_t> keyView(key.data(), static_cast<size_t>(kl));

  WalkCopies& copies = WriteWalkCopies();
  const FindResult f = FindKey(record, keyLength, n, file, selector, &copies);
  bool replace = false;
  int32_t b = 0;
  int u = 0;
  if (f.status == kKeyedDone) {
    replace = true;
    b = f.block;
    u = f.unit;
  } else if (f.status == kKeyedNotFound) {
    b = f.freeBlock;
    u = f.freeUnit;
    // The look-up read the reusable place's block and kept it (or it is still in the
    // buffer, the last block read); it is read again only when neither holds.
    if (copies.count > 0) {
      CurrentBlock().bytes = copies.blocks[0];
      CurrentBlock().number = b;
    } else if (CurrentBlock().number != b && ReadBlock(file, b) != 0) {
      r.status = kKeyedReadError;
      return r;
    }
  } else {
    r.status = f.status;
    return r;
  }
  auto block = Buffer();
  // The placement walk goes on with the look-up's block count. When the first reusable
  // place lies before the block where the look-up stopped, the blocks between are
  // counted again, so a crowded file can answer 3 with room left further on; the
  // suite's other programs walk the same budget, and the pieces already placed stay
  // (a record without its last piece, replaced by the next write of the key).
  int32_t blocksRead = f.blocksRead;
  int placed = kl;
  uint8_t pieceFlags = static_cast<uint8_t>(kFlagFirst + kl);
  bool changed = false;
  bool last = false;
  int32_t ended = 0;

  // Places one piece at unit `at` of an entry of `units` units whose old flags were
  // `oldFlags`; a last piece that leaves room splits the entry.
  auto place = [&](int at, int units, uint8_t oldFlags) {
    const int room = 2 * units - kl - 2;
    const int still = recordLength - placed;
    const int take = room >= still ? still : room;
    last = room >= still;
    std::memcpy(block.data() + 2 * at, key.data(), static_cast<size_t>(kl));
    std::memcpy(block.data() + 2 * at + kl, record.data() + placed, static_cast<size_t>(take));
    placed += take;
    if ((pieceFlags & kFlagFirst) != 0) {
      r.block = b;
      r.unit = static_cast<int16_t>(at);
    }
    const int p = PieceBodyUnits(take, kl);
    if (last && units - (p + 1) >= 1) {
      SetSize(at, p);
      SetSize(at + p + 1, units - (p + 1) - 1);
      SetFlags(at + p + 1, oldFlags);
    } else {
      SetSize(at, units - 1);
    }
    SetFlags(at, static_cast<uint8_t>(pieceFlags + (last ? kFlagLast : 0)));
    changed = true;
    pieceFlags = static_cast<uint8_t>(kl);
    return units;
  };

  if (replace) {
    // The old record goes first; its first piece's entry, merged with the free
    // entries after it, takes the new first piece.
    changed = DeletePiecesInBlock(block, keyView, kl, ended);
    if (PieceMatches(block, u, keyView, kl)) {
      // A stray last piece of the key earlier in the block stopped the deletion
      // short of the record being replaced: delete that record from its first piece.
      ended = 0;
      int d = u;
      while (d <= kBlockUnits) {
        const uint8_t fl = FlagsByte(block, d);
        if (IsEndOfUsedArea(fl)) {
          ended = 1;
          break;
        }
        if (PieceMatches(block, d, keyView, kl)) {
          block[static_cast<size_t>(2 * d - 1)] = static_cast<uint8_t>(fl | kFlagDeleted);
          ended = (fl & kFlagLast) != 0 ? 1 : 0;
          if (ended != 0) break;
        }
        d += SizeByte(block, d) + 1;
      }
      changed = true;
    }
    changed = MergeFreeEntries(block, u) || changed;
    const uint8_t g = FlagsByte(block, u);
    const int s = EntryUnits(block, u);
    if (!IsLivePiece(g) && !EntryRunsPast(block, u) && 2 * s - kl - 2 >= 0) {
      place(u, s, g);
    }
    u += s;
  }

  int copyIndex = 0;  // the look-up's copy of block b when inserting
  while (!last) {
    // Place pieces from unit u of block b.
    while (!last && u <= kBlockUnits) {
      const uint8_t flags = FlagsByte(block, u);
      if (IsLivePiece(flags)) {
        u += SizeByte(block, u) + 1;
        continue;
      }
      if (EntryRunsPast(block, u)) break;  // damaged: leave it and the rest of the block
      const int units = EntryUnits(block, u);
      if (units < kl + 4) {
        if (IsDeletedEntry(flags)) {
          u += units;
          continue;
        }
        // The free end is too small for a piece: it becomes a filler.
        SetSize(u, units - 1);
        SetFlags(u, kFlagFiller);
        changed = true;
        break;
      }
      u += place(u, units, flags);
    }
    if (last) break;
    // Leave block b for the next one.
    if (changed && WriteBlock(file, b) != 0) {
      r.status = kKeyedWriteError;
      return r;
    }
    ++blocksRead;
    changed = false;
    if (blocksRead > n) {
      r.status = kKeyedFull;
      return r;
    }
    b = NextBlock(b, n);
    if (!replace && ++copyIndex < copies.count) {
      CurrentBlock().bytes = copies.blocks[static_cast<size_t>(copyIndex)];
      CurrentBlock().number = b;
    } else if (ReadBlock(file, b) != 0) {
      r.status = kKeyedReadError;
      return r;
    }
    u = 1;
    if (replace && ended == 0) changed = DeletePiecesInBlock(block, keyView, kl, ended);
    changed = MergeFreeEntries(block, 1) || changed;
  }

  if (WriteBlock(file, b) != 0) {
    r.status = kKeyedWriteError;
    return r;
  }
  r.status = kKeyedDone;
  if (replace && ended == 0) {
    // The old record went on past the blocks walked: delete the rest of it from the
    // next block on, stopping short of the block with the new first piece.
    const int32_t next = NextBlock(b, n);
    if (next != r.block) {
      int16_t st = kKeyedDone;
      if (ReadBlock(file, next) != 0) {
        st = kKeyedWriteError;
      } else {
        st = DeleteWalk(keyView, kl, n, file, next, 1, r.block);
      }
      if (st == kKeyedReadError || st == kKeyedWriteError) r.status = st;
    }
  }
  return r;
}

int16_t KeyedDelete(std::span<const uint8_t> key, int16_t keyLength, int32_t n, int16_t file,
                    int16_t selector, int32_t startBlock) {
  if (n <= 0 || !ValidKey(key, keyLength)) return kKeyedFull;
  const Key k = CopyKey(key, keyLength);
  const std::span<const uint8_t> keyView(k.data(), static_cast<size_t>(keyLength));
  if (startBlock == 0) {
    const FindResult f = KeyedFind(key, keyLength, n, file, selector);
    if (f.status != kKeyedDone) return f.status;
    return DeleteWalk(keyView, keyLength, n, file, f.block, f.blocksRead, 0);
  }
  if (startBlock < 0 || startBlock > n || ReadBlock(file, startBlock) != 0) return kKeyedWriteError;
  return DeleteWalk(keyView, keyLength, n, file, startBlock, 1, 0);
}

}  // namespace varmex::store
