#include "store/legacy_writer.h"

#include <algorithm>
#include <cstring>

#include "io/coding.h"
#include "store/block_file.h"
#include "store/word_layout.h"

namespace varmex::store::testing {
namespace {

// The first word after the block's entries, as the look-up walks them.
int EndOfEntries(std::span<const uint8_t> block, int h) {
  int d = 1;
  while (d <= 255 - h && io::LoadI16(block.data() + 2 * d - 2) != 0) {
    const int length = io::LoadI16(block.data() + 2 * (d + h) - 2);
    const int magnitude = length < 0 ? -length : length;
    if (magnitude > kBlockBytes || magnitude < 2 * h + 4) return kBlockUnits + 1;  // block given up
    d += magnitude / 2;
  }
  return d;
}

}  // namespace

std::vector<uint8_t> EmptyLegacyImage(int32_t n) {
  return std::vector<uint8_t>(static_cast<size_t>(n < 0 ? 0 : n) * kBlockBytes, 0);
}

LegacyPlacement PlaceLegacyRecord(std::span<uint8_t> image, int32_t n, std::span<const uint8_t> key,
                                  std::span<const uint8_t> data, int maxPieceData) {
  LegacyPlacement result;
  const int kl = static_cast<int>(key.size());
  if (n <= 0 || kl < 4 || kl % 2 != 0 || data.size() < 2 || data.size() % 2 != 0 ||
      image.size() < static_cast<size_t>(n) * kBlockBytes) {
    return result;
  }
  const int h = kl / 2;
  size_t done = 0;
  int32_t b = LegacyHomeBlock(key, kl, n);
  for (int32_t walked = 0; walked < n && done < data.size(); ++walked, b = NextBlock(b, n)) {
    const std::span<uint8_t> block =
        image.subspan(static_cast<size_t>(b - 1) * kBlockBytes, kBlockBytes);
    const int d = EndOfEntries(block, h);
    if (d > 255 - h) continue;
    const int freeBytes = 2 * (kBlockUnits + 1 - d);
    int take = std::min<int>(freeBytes - kl - 2, static_cast<int>(data.size() - done));
    if (maxPieceData > 0) take = std::min(take, std::max(maxPieceData, 2));
    take -= take % 2;
    uint8_t* at = block.data() + 2 * d - 2;
    std::memcpy(at, key.data(), static_cast<size_t>(kl));
    const bool last = done + static_cast<size_t>(take) == data.size();
    const int length = kl + 2 + take;
    io::StoreI16(at + kl, static_cast<int16_t>(last ? -length : length));
    std::memcpy(at + kl + 2, data.data() + done, static_cast<size_t>(take));
    done += static_cast<size_t>(take);
    result.blocks.push_back(b);
    // The look-up leaves a block only at its end or at an implausible entry: a piece
    // that more pieces follow but that does not reach the end of its block is
    // followed by a removed entry that fills the rest of the block.
    const int after = d + length / 2;
    if (!last && after <= 255 - h) {
      io::StoreI16(block.data() + 2 * after - 2, kRemovedKeyWord);
      io::StoreI16(block.data() + 2 * (after + h) - 2,
                   static_cast<int16_t>(2 * (kBlockUnits + 1 - after)));
    }
  }
  result.placed = done == data.size();
  return result;
}

}  // namespace varmex::store::testing
