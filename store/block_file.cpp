#include "store/block_file.h"

#include <cstring>
#include <string>

#include "io/coding.h"
#include "store/keyed_store.h"

namespace varmex::store {
namespace {

// Two's-complement arithmetic with wrap-around, as every program of the suite hashes.
int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }
int32_t WrapAdd(int32_t a, int32_t b) { return Wrap(static_cast<int64_t>(a) + b); }
int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// |x| with -2147483648 staying negative.
int32_t WrapAbs(int32_t x) { return x < 0 ? Wrap(-static_cast<int64_t>(x)) : x; }
int16_t WrapAbs16(int16_t x) {
  return x < 0 ? static_cast<int16_t>(static_cast<uint16_t>(-static_cast<int32_t>(x))) : x;
}

// Byte i of the buffer, 0 past its end: the fixed-shape hashes read a fixed number of
// bytes whatever the buffer holds.
uint8_t ByteAt(std::span<const uint8_t> key, size_t i) { return i < key.size() ? key[i] : 0; }
int16_t Word16(std::span<const uint8_t> key, size_t off) {
  const uint8_t b[2] = {ByteAt(key, off), ByteAt(key, off + 1)};
  return io::LoadI16(b);
}
int32_t Word32(std::span<const uint8_t> key, size_t off) {
  const uint8_t b[4] = {ByteAt(key, off), ByteAt(key, off + 1), ByteAt(key, off + 2),
                        ByteAt(key, off + 3)};
  return io::LoadI32(b);
}

int32_t Step(int32_t acc, int32_t w) {
  return WrapAdd(WrapAdd(acc, WrapMul(w, kHashMultiplier)), kHashIncrement);
}

// The variable-length hash: one multiply-add per 4-byte word, then one for the 16-bit
// tail when 1 to 3 bytes remain. Only key bytes are read: with an odd key length the
// tail's missing high byte counts as 0, so the home block never depends on data.
int32_t VariableHash(std::span<const uint8_t> key, int keyLength) {
  int32_t acc = 0;
  const int words = keyLength / 4;
  for (int i = 0; i < words; ++i) acc = Step(acc, Word32(key, static_cast<size_t>(4 * i)));
  if (keyLength % 4 != 0) {
    const size_t off = static_cast<size_t>(4 * words);
    const uint8_t lo = key[off];
    const uint8_t hi = static_cast<int>(off) + 1 < keyLength ? key[off + 1] : 0;
    const uint8_t b[2] = {lo, hi};
    acc = Step(acc, io::LoadI16(b));
  }
  return WrapAbs(acc);
}

}  // namespace

std::optional<HashSelector> HashSelectorFromNumber(long number) {
  switch (number) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 100:
      return static_cast<HashSelector>(number);
    default:
      return std::nullopt;
  }
}

int32_t HomeBlock(std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                  HashSelector selector) {
  if (n <= 0) return 0;
  int32_t h = 0;
  switch (selector) {
    case HashSelector::kFirstWord:
      h = WrapAbs(Word32(key, 0));
      break;
    case HashSelector::kWordAndHalfWord:
      h = WrapAbs(WrapAdd(Word32(key, 0), Word16(key, 4)));
      break;
    case HashSelector::kSixHalfWords: {
      int32_t sum = 0;
      for (size_t off = 0; off < 12; off += 2) sum = WrapAdd(sum, Word16(key, off));
      h = WrapAbs(sum);
      break;
    }
    case HashSelector::kThreeWordsMixed: {
      const int32_t sum = WrapAdd(WrapAdd(Word32(key, 0), Word32(key, 4)), Word32(key, 8));
      h = WrapAbs(WrapAdd(WrapMul(sum, kHashMultiplier), 3 * kHashIncrement));
      break;
    }
    case HashSelector::kVariableLength: {
      const int len = keyLength < 0 ? 0 : std::min<int>(keyLength, static_cast<int>(key.size()));
      h = VariableHash(key, len);
      break;
    }
    case HashSelector::kFourteenBytesMixed: {
      int32_t sum = WrapAdd(WrapAdd(Word32(key, 0), Word32(key, 4)), Word32(key, 8));
      sum = WrapAdd(sum, Word16(key, 12));
      const int32_t mixed = WrapAbs(WrapAdd(WrapMul(sum, kHashMultiplier), 4 * kHashIncrement));
      h = WrapAdd(mixed & 0x3FFFFFFF, WrapAbs16(Word16(key, 14)));
      break;
    }
    case HashSelector::kFirstWordByTen:
      h = WrapAbs(Word32(key, 0)) / 10;
      break;
    default:
      return 0;  // not a selector: HashSelectorFromNumber lets none in
  }
  // A negative h (a sum of exactly -2147483648, or the 16-bit tail of selector 6) would
  // give a block of 0 or less: its magnitude is used instead, so every key has a home.
  const int64_t magnitude = h < 0 ? -static_cast<int64_t>(h) : h;
  return static_cast<int32_t>(magnitude % n) + 1;
}

bool DeletePiecesInBlock(std::span<uint8_t, kBlockBytes> block, std::span<const uint8_t> key,
                         int keyLength, bool& ended, int fromCell) {
  bool changed = false;
  for (const BlockEntry& e : BlockEntries(block, fromCell)) {
    if (e.IsEnd()) {
      ended = true;
      break;
    }
    if (PieceMatches(block, e.cell, key, keyLength)) {
      // The flags byte lies inside the block even when the body does not, so a damaged
      // piece is still marked; the walk then ends with it.
      block[static_cast<size_t>(2 * e.cell - 1)] = static_cast<uint8_t>(e.flags | kFlagDeleted);
      changed = true;
      ended = (e.flags & kFlagLast) != 0;
      if (ended) break;
    }
  }
  return changed;
}

bool MergeFreeEntries(std::span<uint8_t, kBlockBytes> block, int startCell) {
  auto setSize = [&block](int cell, int cells) {
    block[static_cast<size_t>(2 * cell - 2)] = static_cast<uint8_t>(cells - 1);
  };
  bool merged = false;
  int a = startCell < 1 ? 1 : startCell;
  while (a <= kBlockCells) {
    const BlockEntry e = EntryAt(block, a);
    if (e.IsEnd() || e.runsPast) break;  // a damaged entry is never joined with anything
    if (!e.IsDeleted()) {
      a = e.Next();
      continue;
    }
    // Join the deleted entries that follow, and the free end when they reach it.
    int s = e.cells;
    for (;;) {
      const int b = a + s;
      if (b > kBlockCells) return merged;
      const BlockEntry next = EntryAt(block, b);
      if (next.IsEnd()) {
        setSize(a, s + next.cells);
        block[static_cast<size_t>(2 * a - 1)] = kFlagEnd;
        return true;
      }
      if (!next.IsDeleted()) {
        a = b;
        break;
      }
      if (next.runsPast) return merged;
      s += next.cells;
      setSize(a, s);
      merged = true;
    }
  }
  return merged;
}

uint64_t KeyHash(std::span<const uint8_t> key) {
  uint64_t h = 0xCBF29CE484222325ull ^ key.size();
  for (uint8_t c : key) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

}  // namespace varmex::store
