// The older word layout of keyed block files (read, and one record deleted).
//
// A block is 256 signed 16-bit little-endian words, numbered 1..256 (word w at bytes
// 2w-2, 2w-1). With h = key length / 2, an entry that starts at word d:
//
//   word d ... d+h-1   d+h       d+h+1 ........................ d+|L|/2-1
//      +-------------+---------+-----------------------------------+
//      |  key (h w)  |    L    |  data: |L| - keylen - 2 bytes      |
//      +-------------+---------+-----------------------------------+
//
//   |L| is the entry's length in bytes, key and L included; L < 0 marks the last
//   piece of a record, L > 0 a piece that more pieces follow. The next entry starts
//   at word d + |L|/2. A first key word of 0 ends the block's data; an entry starts
//   only at a word d <= 255 - h. A removed piece has 0x7F7F as its first key word
//   and keeps its length word.
//
// The home block of a key: x = k0 * 65536 + k1 (k0 the signed first key word as the
// high half, k1 the second as the low half), plus the signed third word for a 6-byte
// key; the probe path starts at block (|x| mod N) + 1 and runs on, N wrapping to 1.
#pragma once

#include <cstdint>
#include <span>

#include "store/block_file.h"

namespace varmex::store {

inline constexpr int16_t kRemovedKeyWord = 0x7F7F;

// The last word an entry may start at, for keys of keyLength bytes: 255 - h.
constexpr int LastLegacyEntryWord(int keyLength) { return 255 - keyLength / 2; }

// What a walk meets at word d of a block, for keys of keyLength bytes:
//   kEndOfData  a first key word of 0: the block's data ends here
//   kBadLength  |L| is over 512 or under keylen + 4: the block's entries cannot be
//               trusted from here on
//   kPastBlock  the entry would cross the end of the block (its key words lie inside)
//   kUsable     a sound entry
enum class LegacyEntryKind { kEndOfData, kBadLength, kPastBlock, kUsable };

struct LegacyEntry {
  LegacyEntryKind kind = LegacyEntryKind::kEndOfData;
  int word = 0;          // where it starts
  int length = 0;        // L (0 at the end of data)
  bool removed = false;  // its first key word is the removed mark
  bool IsUsable() const { return kind == LegacyEntryKind::kUsable; }
  bool IsLastPiece() const { return length < 0; }
  int Magnitude() const { return length < 0 ? -length : length; }
  // Where the next entry starts.
  int Next() const { return word + Magnitude() / 2; }
};

LegacyEntry LegacyEntryAt(std::span<const uint8_t, kBlockBytes> block, int word, int keyLength);

// The entries of a word-layout block in order, from word 1: every usable entry, then
// the one that ends the walk of the block (end of data, a bad length word, an entry
// running past the block), if any is met before the last word an entry may start at.
//
//   for (const LegacyEntry& e : LegacyEntries(block, keyLength)) {
//     if (e.kind == LegacyEntryKind::kEndOfData) ...;
//     if (!e.IsUsable()) ...;
//   }
class LegacyEntries {
 public:
  class Iterator {
   public:
    Iterator(std::span<const uint8_t, kBlockBytes> block, int keyLength, int word)
        : block_(block), keyLength_(keyLength), word_(word) {}
    LegacyEntry operator*() const { return LegacyEntryAt(block_, word_, keyLength_); }
    Iterator& operator++() {
      const LegacyEntry e = **this;
      word_ = e.IsUsable() ? e.Next() : kBlockCells + 1;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return Word() != other.Word(); }

   private:
    int Word() const { return word_ <= LastLegacyEntryWord(keyLength_) ? word_ : kBlockCells + 1; }
    std::span<const uint8_t, kBlockBytes> block_;
    int keyLength_;
    int word_;
  };

  LegacyEntries(std::span<const uint8_t, kBlockBytes> block, int keyLength)
      : block_(block), keyLength_(keyLength) {}
  Iterator begin() const { return {block_, keyLength_, 1}; }
  Iterator end() const { return {block_, keyLength_, kBlockCells + 1}; }

 private:
  std::span<const uint8_t, kBlockBytes> block_;
  int keyLength_;
};
inline constexpr int32_t kLegacyFirstBlockLimit = 200;
inline constexpr int32_t kLegacyLongKeyBlockLimit = 5987;

// The first block examined for a key (the home block), 1..N; 0 when N <= 0.
int32_t LegacyHomeBlock(std::span<const uint8_t> key, int keyLength, int32_t n);

}  // namespace varmex::store
