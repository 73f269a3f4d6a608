// Empty block files for unit tests: block 1 holds the header record with the block
// count, every other block is zero-filled.
#pragma once

#include <cstdint>
#include <vector>

#include "store/block_file_builder.h"

namespace varmex::migration {

inline std::vector<uint8_t> EmptyBlockFile(int32_t blocks) {
  return store::EmptyBlockFileImage(blocks);
}

}  // namespace varmex::migration
