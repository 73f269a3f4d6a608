// Making empty block files: the header record of block 1 and zero-filled blocks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "store/block_file.h"
#include "store/block_header.h"

namespace varmex::store {

// The bytes of an empty block file of N blocks (N >= 1): the header and N-1 free blocks.
std::vector<uint8_t> EmptyBlockFileImage(int32_t n);

// Writes the header and N-1 free blocks to the file open on `unit` (record length 512).
// Returns 0 or the input/output status of the first failed write.
int FormatBlockFile(int16_t unit, int32_t n);

}  // namespace varmex::store
