// The block-file header record (layout drawn in block_header.h).
#include "store/block_header.h"

#include <algorithm>
#include <cstring>

#include "io/coding.h"

namespace varmex::store {
namespace {

constexpr uint8_t kHeaderSizeByte = 0xFF;
constexpr uint8_t kHeaderFlags = kFlagFirst | kFlagLast | kHeaderKeyLength;
constexpr uint8_t kHeaderKeyByte = '*';

bool HasHeaderKey(std::span<const uint8_t, kBlockBytes> block) {
  return std::all_of(block.begin() + kHeaderKeyOffset,
                     block.begin() + kHeaderKeyOffset + kHeaderKeyLength,
                     [](uint8_t c) { return c == kHeaderKeyByte; });
}

}  // namespace

bool IsBlockFileHeader(std::span<const uint8_t, kBlockBytes> block) {
  return io::LoadU16(block.data()) == kHeaderMark && HasHeaderKey(block) &&
         io::LoadI32(block.data() + kHeaderCountOffset) > 0;
}

int32_t HeaderBlockCount(std::span<const uint8_t, kBlockBytes> block) {
  return IsBlockFileHeader(block) ? io::LoadI32(block.data() + kHeaderCountOffset) : 0;
}

BlockBytes HeaderBlock(int32_t n) {
  BlockBytes block{};
  block[0] = kHeaderSizeByte;
  block[1] = kHeaderFlags;
  std::fill_n(block.begin() + kHeaderKeyOffset, kHeaderKeyLength, kHeaderKeyByte);
  SetHeaderBlockCount(block, n);
  return block;
}

void SetHeaderBlockCount(std::span<uint8_t, kBlockBytes> block, int32_t n) {
  io::StoreI32(block.data() + kHeaderCountOffset, n);
}

bool IsHeaderPiece(std::span<const uint8_t, kBlockBytes> block, int32_t b, int cell) {
  return b == 1 && cell == 1 && (FlagsByte(block, cell) & kFlagKeyLength) == kHeaderKeyLength &&
         HasHeaderKey(block);
}

}  // namespace varmex::store
