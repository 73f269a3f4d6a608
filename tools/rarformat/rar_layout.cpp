// The checksums and numbers both RAR formats share (layouts drawn in rar_layout.h).
#include "tools/rarformat/rar_layout.h"

#include <array>

#include "io/coding.h"

namespace varmex::tools {
namespace {

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    table[i] = c;
  }
  return table;
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
  static const std::array<uint32_t, 256> table = MakeCrcTable();
  crc = ~crc;
  for (uint8_t b : bytes) {
    crc = table[(crc ^ b) & 0xff] ^ (crc >> 8);
  }
  return ~crc;
}

namespace rar {

uint16_t ClassicHeaderCrc(std::span<const uint8_t> header) {
  return static_cast<uint16_t>(Crc32(header.subspan(kTypeAt)) & 0xffff);
}

void SealClassicHeader(std::span<uint8_t> header) {
  io::StoreU16(header.data() + kCrcAt, ClassicHeaderCrc(header));
}

void PutVint(std::vector<uint8_t>& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

bool GetVint(std::span<const uint8_t> bytes, size_t& pos, size_t end, uint64_t& v) {
  v = 0;
  for (unsigned shift = 0; shift < 64 && pos < end; shift += 7) {
    const uint8_t b = bytes[pos++];
    v |= static_cast<uint64_t>(b & 0x7f) << shift;
    if ((b & 0x80) == 0) {
      return true;
    }
  }
  return false;
}

void AppendBlock5(std::vector<uint8_t>& out, const std::vector<uint8_t>& fields) {
  std::vector<uint8_t> sized;
  PutVint(sized, fields.size());
  sized.insert(sized.end(), fields.begin(), fields.end());
  uint8_t crc[4];
  io::StoreU32(crc, Crc32(sized));
  out.insert(out.end(), crc, crc + 4);
  out.insert(out.end(), sized.begin(), sized.end());
}

}  // namespace rar
}  // namespace varmex::tools
