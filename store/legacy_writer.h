// Test support: writes word-layout records into a file image where the look-up finds
// them, cut into pieces that follow one another along the key's probe path.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace varmex::store::testing {

struct LegacyPlacement {
  bool placed = false;
  std::vector<int32_t> blocks;  // the block of each piece, in order
};

// Appends the record (key of key.size() bytes, even and >= 4; data of an even number
// of bytes, at least 2) after the entries already in its blocks, starting at the key's
// home block of an image of N blocks. Each piece takes as much data as fits in the
// rest of its block, at most `maxPieceData` bytes when that is not 0; a piece that
// more pieces follow and that does not reach the end of its block is followed by a
// removed entry filling the block, so that the look-up passes on to the next block.
LegacyPlacement PlaceLegacyRecord(std::span<uint8_t> image, int32_t n, std::span<const uint8_t> key,
                                  std::span<const uint8_t> data, int maxPieceData = 0);

// An image of N zero-filled blocks.
std::vector<uint8_t> EmptyLegacyImage(int32_t n);

}  // namespace varmex::store::testing
