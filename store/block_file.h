// The hashed block file: keyed records in 512-byte blocks.
//
// A block is 256 two-byte cells, numbered 1..256; cell u is bytes 2u-2 and 2u-1.
// The block is a chain of entries starting at cell 1. An entry at cell d:
//
//   byte 2d-2   2d-1    2d ..................................... 2d+2n-1
//      +------+-------+-----------------+---------------------------+
//      |  n   | flags | key (keylen B)  | a stretch of record data  |
//      +------+-------+-----------------+---------------------------+
//      <- cell d ----> <------------- body: n cells ---------------->
//
//   The entry covers n+1 cells; the next one starts at cell d+n+1.
//
//   flags 0x00       end of the used area: cells d..256 are free (257-d cells);
//                    the size byte means nothing
//   flags bit 0x80   deleted: free and reusable, the size byte stays valid
//                    (0xFF is a filler: a too-small tail of a block given up)
//   flags bit 0x40   first piece of a record
//   flags bit 0x20   last piece of a record
//   flags bits 0x1F  key length, 1..31
//
// A record (key + data, at most 32767 bytes) lives in one piece (flags 0x60 + keylen)
// or in several, each repeating the key, that follow one another along the key's
// probe path: its home block, then the next blocks (N wraps to 1), entries in chain
// order. A zero-filled block is one free area of 256 cells.
//
// Block 1 of a file holds the header record: one piece filling the block, size byte
// 0xFF, flags 0x70 (first and last, key length 16), key "****************", then the
// block count N at byte 18 (signed 32-bit, > 0). To the keyed operations it is an
// ordinary full block whose only record never matches another key length.
//
// No entry may run past cell 256. Files written by other programs can be damaged, so
// every walk here checks it: an entry that would cross the end of the block is never
// merged, reused or overwritten, and key bytes past the block never match.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "io/record_file.h"

namespace varmex::store {

inline constexpr int kBlockBytes = static_cast<int>(io::kBlockBytes);
inline constexpr int kBlockCells = 256;
inline constexpr int kMaxKeyLength = 31;
inline constexpr int32_t kMaxRecordLength = 32767;

inline constexpr uint8_t kFlagEnd = 0x00;
inline constexpr uint8_t kFlagDeleted = 0x80;
inline constexpr uint8_t kFlagFirst = 0x40;
inline constexpr uint8_t kFlagLast = 0x20;
inline constexpr uint8_t kFlagKeyLength = 0x1F;
inline constexpr uint8_t kFlagFiller = 0xFF;

// Multiplier and increment of the key hash.
inline constexpr int32_t kHashMultiplier = 1103515245;
inline constexpr int32_t kHashIncrement = 12345;

using BlockBytes = std::array<uint8_t, kBlockBytes>;

// Entry fields of a block, by cell number 1..256.
inline uint8_t SizeByte(std::span<const uint8_t, kBlockBytes> block, int cell) {
  return block[static_cast<size_t>(2 * cell - 2)];
}
inline uint8_t FlagsByte(std::span<const uint8_t, kBlockBytes> block, int cell) {
  return block[static_cast<size_t>(2 * cell - 1)];
}
inline bool IsEndOfUsedArea(uint8_t flags) { return flags == kFlagEnd; }
inline bool IsDeletedEntry(uint8_t flags) { return (flags & kFlagDeleted) != 0; }
inline bool IsLivePiece(uint8_t flags) { return flags != kFlagEnd && (flags & kFlagDeleted) == 0; }
// Cells covered by the entry at `cell` (its size byte + 1; 257 - cell at the end).
inline int EntryCells(std::span<const uint8_t, kBlockBytes> block, int cell) {
  const uint8_t flags = FlagsByte(block, cell);
  return IsEndOfUsedArea(flags) ? kBlockCells + 1 - cell : SizeByte(block, cell) + 1;
}
// True when the entry at `cell` would cross the end of the block.
inline bool EntryRunsPast(std::span<const uint8_t, kBlockBytes> block, int cell) {
  return cell + EntryCells(block, cell) - 1 > kBlockCells;
}

// One entry of a block as a walk meets it.
struct BlockEntry {
  int cell = 0;   // where it starts, 1..256
  int cells = 0;  // cells it covers: size byte + 1, or 257 - cell for the free end
  uint8_t flags = 0;
  bool runsPast = false;  // it would cross the end of the block: damaged

  bool IsEnd() const { return IsEndOfUsedArea(flags); }
  bool IsDeleted() const { return IsDeletedEntry(flags); }
  bool IsLive() const { return IsLivePiece(flags); }
  bool IsFirstPiece() const { return (flags & (kFlagDeleted | kFlagFirst)) == kFlagFirst; }
  // A last piece that is not also a first one: the end of a record in several pieces.
  bool IsClosingPiece() const {
    return (flags & (kFlagDeleted | kFlagFirst | kFlagLast)) == kFlagLast;
  }
  bool IsLastPiece() const { return IsLive() && (flags & kFlagLast) != 0; }
  int KeyLength() const { return flags & kFlagKeyLength; }
  // Where the next entry starts (past 256 after the free end or a damaged entry).
  int Next() const { return cell + cells; }
  // Where the entry's key lies: the byte after its size and flags bytes; its data
  // follows the key.
  size_t KeyAt() const { return static_cast<size_t>(2 * cell); }
  // The key of a piece (its first KeyLength() bytes), or an empty span when it would run
  // past the block.
  std::span<const uint8_t> KeyIn(std::span<const uint8_t, kBlockBytes> block) const {
    const auto length = static_cast<size_t>(KeyLength());
    if (KeyAt() + length > block.size()) return {};
    return block.subspan(KeyAt(), length);
  }
};

// A 64-bit hash of a key, for sets of keys that may repeat (the checks of a whole file
// for records met twice).
uint64_t KeyHash(std::span<const uint8_t> key);

// Blocks from `from` to `to` along a probe path of N blocks (0 when they are one).
inline int32_t ProbeDistance(int32_t from, int32_t to, int32_t n) {
  return static_cast<int32_t>((int64_t{to} - from + n) % n);
}

// The entry that starts at `cell` (1..256). Inline: every walk of a block steps
// through its entries with it.
inline BlockEntry EntryAt(std::span<const uint8_t, kBlockBytes> block, int cell) {
  BlockEntry e;
  e.cell = cell;
  e.flags = FlagsByte(block, cell);
  e.cells = EntryCells(block, cell);
  e.runsPast = cell + e.cells - 1 > kBlockCells;
  return e;
}

// The entries of a block in chain order, from `fromCell` on:
//
//   for (const BlockEntry& e : BlockEntries(block)) { if (e.IsEnd()) break; ... }
//
// The free end, when the block has one, is the last entry met; so is an entry that
// runs past the block, whose size is never followed. Each step reads the size byte
// afresh, so a walk may change the entry it stands on (mark it deleted, say).
class BlockEntries {
 public:
  class Iterator {
   public:
    Iterator(std::span<const uint8_t, kBlockBytes> block, int cell) : block_(block), cell_(cell) {}
    BlockEntry operator*() const { return EntryAt(block_, cell_); }
    Iterator& operator++() {
      cell_ = EntryAt(block_, cell_).Next();
      return *this;
    }
    bool operator!=(const Iterator& other) const {
      return Live() != other.Live() || (Live() && cell_ != other.cell_);
    }

   private:
    bool Live() const { return cell_ >= 1 && cell_ <= kBlockCells; }
    std::span<const uint8_t, kBlockBytes> block_;
    int cell_;
  };

  explicit BlockEntries(std::span<const uint8_t, kBlockBytes> block, int fromCell = 1)
      : block_(block), from_(fromCell) {}
  Iterator begin() const { return {block_, from_}; }
  Iterator end() const { return {block_, kBlockCells + 1}; }

 private:
  std::span<const uint8_t, kBlockBytes> block_;
  int from_;
};

// True when the entry at `cell` is a live piece of the key (first, middle or last).
// Inline: a look-up asks it of every piece of every block it walks.
inline bool PieceMatches(std::span<const uint8_t, kBlockBytes> block, int cell,
                         std::span<const uint8_t> key, int keyLength) {
  const uint8_t flags = FlagsByte(block, cell);
  if (!IsLivePiece(flags) || (flags & kFlagKeyLength) != keyLength) return false;
  if (keyLength <= 0 || static_cast<size_t>(keyLength) > key.size()) return false;
  const size_t at = static_cast<size_t>(2 * cell);
  if (at + static_cast<size_t>(keyLength) > kBlockBytes) return false;
  // Most keys that differ differ in their first byte: no call for those.
  return block[at] == key[0] &&
         std::memcmp(block.data() + at, key.data(), static_cast<size_t>(keyLength)) == 0;
}

// The next block of a probe path: b+1, or 1 after N.
inline int32_t NextBlock(int32_t b, int32_t n) { return b >= n ? 1 : b + 1; }

// Marks deleted every live piece of the key in the block, from `fromCell` on, up to
// and including a last piece. `ended` becomes true at the end of the used area or
// after a last piece, false after any other piece, and is left as it was otherwise.
// Returns whether the block changed.
bool DeletePiecesInBlock(std::span<uint8_t, kBlockBytes> block, std::span<const uint8_t> key,
                         int keyLength, bool& ended, int fromCell = 1);

// Joins every deleted entry met from `startCell` with the deleted entries and the
// free end that follow it. Returns whether anything was joined.
bool MergeFreeEntries(std::span<uint8_t, kBlockBytes> block, int startCell);

}  // namespace varmex::store
