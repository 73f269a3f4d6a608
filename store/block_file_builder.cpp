#include "store/block_file_builder.h"

#include <cstring>

#include "io/unit_file.h"

namespace varmex::store {

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

}  // namespace varmex::store
