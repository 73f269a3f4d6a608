// The header record of a block file: block 1, read and written only through here.
//
//   byte 0     1      2 ................. 17   18 ...... 21   22 ............ 511
//      +------+------+----------------------+--------------+------------------+
//      | 0xFF | 0x70 |  "****************"  |  N (i32)     |  the file's own  |
//      +------+------+----------------------+--------------+------------------+
//
// To the keyed operations the header is one piece filling block 1 (size byte 0xFF,
// flags 0x70: first and last piece, key length 16) whose sixteen-asterisk key never
// matches a record's. Its first two bytes read as the 16-bit mark 0x70FF. N, the
// block count, is signed and must be greater than 0. Bytes 22 on belong to the
// program that owns the file (lcalcdev.dat keeps its last GRUPDEV number at 22) and
// are carried over whenever the header is rewritten.
#pragma once

#include <cstdint>
#include <span>

#include "store/block_file.h"

namespace varmex::store {

inline constexpr uint16_t kHeaderMark = 0x70FF;
inline constexpr size_t kHeaderKeyOffset = 2;
inline constexpr int kHeaderKeyLength = 16;
inline constexpr size_t kHeaderCountOffset = 18;
// The first byte after the store's own fields.
inline constexpr size_t kHeaderOwnerOffset = 22;

// True when the block starts with the mark, the sixteen asterisks and a block count
// greater than 0: the file is a block file. Any other file has the older word layout.
bool IsBlockFileHeader(std::span<const uint8_t, kBlockBytes> block);

// The block count of a valid header, 0 when the block is not one.
int32_t HeaderBlockCount(std::span<const uint8_t, kBlockBytes> block);

// Block 1 of a block file of N blocks: mark, asterisks, N, the rest zero.
BlockBytes HeaderBlock(int32_t n);

// Writes N into a header block, leaving every other byte as it was.
void SetHeaderBlockCount(std::span<uint8_t, kBlockBytes> block, int32_t n);

// True when the entry at `cell` of block b is the header piece itself (block 1,
// cell 1, key length 16, sixteen asterisks): walks over records pass it by.
bool IsHeaderPiece(std::span<const uint8_t, kBlockBytes> block, int32_t b, int cell);

}  // namespace varmex::store
