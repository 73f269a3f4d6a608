// Empty block files for unit tests: block 1 holds the header record with the block
// count, every other block is zero-filled.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "io/coding.h"

namespace varmex::migration {

inline std::vector<uint8_t> EmptyBlockFile(int32_t blocks) {
  std::vector<uint8_t> bytes(static_cast<size_t>(blocks) * 512, 0);
  bytes[0] = 0xFF;
  bytes[1] = 0x70;
  std::fill(bytes.begin() + 2, bytes.begin() + 18, static_cast<uint8_t>('*'));
  io::StoreI32(bytes.data() + 18, blocks);
  return bytes;
}

}  // namespace varmex::migration
