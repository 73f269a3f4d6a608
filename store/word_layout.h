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

namespace varmex::store {

inline constexpr int16_t kRemovedKeyWord = 0x7F7F;
inline constexpr int32_t kLegacyFirstBlockLimit = 200;
inline constexpr int32_t kLegacyLongKeyBlockLimit = 5987;

// The first block examined for a key (the home block), 1..N; 0 when N <= 0.
int32_t LegacyHomeBlock(std::span<const uint8_t> key, int keyLength, int32_t n);

// The look-up's block limit: 200 at the start of a run, 5987 from the first look-up
// of a 6-byte key on. Tests reset it.
int32_t LegacyBlockLimit();
void ResetLegacyBlockLimit();

}  // namespace varmex::store
