#include "store/block_file_builder.h"

#include <cstring>

#include "io/coding.h"
#include "io/unit_file.h"

namespace varmex::store {
namespace {

constexpr uint8_t kHeaderFlags = kFlagFirst | kFlagLast | 16;
constexpr char kHeaderKey[] = "****************";
constexpr size_t kHeaderKeyLength = 16;
constexpr size_t kHeaderCountOffset = 18;

}  // namespace

BlockBytes HeaderBlock(int32_t n) {
  BlockBytes block{};
  block[0] = 0xFF;
  block[1] = kHeaderFlags;
  std::memcpy(block.data() + 2, kHeaderKey, kHeaderKeyLength);
  io::StoreI32(block.data() + kHeaderCountOffset, n);
  return block;
}

std::vector<uint8_t> EmptyBlockFileImage(int32_t n) {
  const size_t blocks = n < 1 ? 1 : static_cast<size_t>(n);
  std::vector<uint8_t> image(blocks * kBlockBytes, 0);
  const BlockBytes header = HeaderBlock(n);
  std::memcpy(image.data(), header.data(), kBlockBytes);
  return image;
}

int FormatBlockFile(int16_t unit, int32_t n) {
  const BlockBytes header = HeaderBlock(n);
  int status = io::WriteRecord(unit, 1, header);
  const BlockBytes empty{};
  for (int32_t b = 2; status == io::kIoOk && b <= n; ++b) status = io::WriteRecord(unit, b, empty);
  return status;
}

int32_t HeaderBlockCount(std::span<const uint8_t, kBlockBytes> block) {
  if (io::LoadU16(block.data()) != 0x70FF) return 0;
  if (std::memcmp(block.data() + 2, kHeaderKey, kHeaderKeyLength) != 0) return 0;
  const int32_t n = io::LoadI32(block.data() + kHeaderCountOffset);
  return n > 0 ? n : 0;
}

}  // namespace varmex::store
