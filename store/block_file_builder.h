// Making empty block files: the header record of block 1 and zero-filled blocks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "store/block_file.h"

namespace varmex::store {

// Block 1 of a block file of N blocks: size byte 0xFF, flags 0x70, sixteen asterisks,
// N at byte 18, the rest zero.
BlockBytes HeaderBlock(int32_t n);

// The bytes of an empty block file of N blocks (N >= 1): the header and N-1 free blocks.
std::vector<uint8_t> EmptyBlockFileImage(int32_t n);

// Writes the header and N-1 free blocks to the file open on `unit` (record length 512).
// Returns 0 or the input/output status of the first failed write.
int FormatBlockFile(int16_t unit, int32_t n);

// The block count of a header block, 0 when the block is not a valid header.
int32_t HeaderBlockCount(std::span<const uint8_t, kBlockBytes> block);

}  // namespace varmex::store
