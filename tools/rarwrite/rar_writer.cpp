#include "tools/rarwrite/rar_writer.h"

#include <array>
#include <stdexcept>

#include "io/coding.h"

namespace varmex::tools {
namespace {

constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
constexpr uint8_t kTypeArchive = 0x73;
constexpr uint8_t kTypeFile = 0x74;
constexpr uint8_t kTypeEnd = 0x7b;
constexpr uint16_t kFlagLongBlock = 0x8000;  // a data area follows the header
constexpr uint16_t kFlagDirectory = 0x00e0;  // dictionary bits all set: a folder
constexpr uint16_t kFlagEndNoVolume = 0x4000;
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kVersionNeeded = 20;  // 2.0: any reader of the format
constexpr uint8_t kMethodStore = 0x30;
constexpr size_t kFileHeaderSize = 32;
constexpr uint32_t kUnixRegular = 0100000;
constexpr uint32_t kUnixDirectory = 0040000;

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

// Fills the CRC16 field of the header that starts at `start` and runs `size` bytes.
void SealHeader(std::vector<uint8_t>& out, size_t start, size_t size) {
  const uint32_t crc = Crc32(std::span<const uint8_t>(out.data() + start + 2, size - 2));
  io::StoreU16(out.data() + start, static_cast<uint16_t>(crc & 0xffff));
}

std::string ArchiveName(const std::string& name) {
  std::string out;
  for (char c : name) {
    out.push_back(c == '/' ? '\\' : c);
  }
  while (!out.empty() && out.back() == '\\') {
    out.pop_back();
  }
  return out;
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

std::vector<uint8_t> BuildRarArchive(std::span<const RarEntry> entries, uint32_t dosTime) {
  std::vector<uint8_t> out(kMarker, kMarker + sizeof kMarker);

  const size_t archiveStart = out.size();
  out.resize(archiveStart + 13, 0);
  out[archiveStart + 2] = kTypeArchive;
  io::StoreU16(out.data() + archiveStart + 5, 13);
  SealHeader(out, archiveStart, 13);

  for (const RarEntry& entry : entries) {
    const std::string name = ArchiveName(entry.name);
    if (name.empty() || name.size() > 0xffff - kFileHeaderSize) {
      throw std::invalid_argument("bad entry name: \"" + entry.name + "\"");
    }
    const std::vector<uint8_t> none;
    const std::vector<uint8_t>& data = entry.directory ? none : entry.data;
    if (data.size() > 0xffffffffu) {
      throw std::invalid_argument("entry too large: " + name);
    }
    const uint32_t size = static_cast<uint32_t>(data.size());
    const uint32_t permissions = entry.mode != 0 ? entry.mode : (entry.directory ? 0755 : 0644);
    const uint32_t mode = (entry.directory ? kUnixDirectory : kUnixRegular) | (permissions & 07777);
    const size_t headerSize = kFileHeaderSize + name.size();

    const size_t start = out.size();
    out.resize(start + headerSize, 0);
    uint8_t* h = out.data() + start;
    h[2] = kTypeFile;
    io::StoreU16(h + 3,
                 static_cast<uint16_t>(kFlagLongBlock | (entry.directory ? kFlagDirectory : 0)));
    io::StoreU16(h + 5, static_cast<uint16_t>(headerSize));
    io::StoreU32(h + 7, size);
    io::StoreU32(h + 11, size);
    h[15] = kHostUnix;
    io::StoreU32(h + 16, Crc32(data));
    io::StoreU32(h + 20, dosTime);
    h[24] = kVersionNeeded;
    h[25] = kMethodStore;
    io::StoreU16(h + 26, static_cast<uint16_t>(name.size()));
    io::StoreU32(h + 28, mode);
    for (size_t i = 0; i < name.size(); ++i) {
      h[kFileHeaderSize + i] = static_cast<uint8_t>(name[i]);
    }
    SealHeader(out, start, headerSize);
    out.insert(out.end(), data.begin(), data.end());
  }

  const size_t endStart = out.size();
  out.resize(endStart + 7, 0);
  out[endStart + 2] = kTypeEnd;
  io::StoreU16(out.data() + endStart + 3, kFlagEndNoVolume);
  io::StoreU16(out.data() + endStart + 5, 7);
  SealHeader(out, endStart, 7);
  return out;
}

int64_t DataOffsetOfEntry(std::span<const uint8_t> archive, size_t index) {
  size_t pos = sizeof kMarker;
  size_t seen = 0;
  while (pos + 7 <= archive.size()) {
    const uint8_t type = archive[pos + 2];
    const uint16_t flags = io::LoadU16(archive.data() + pos + 3);
    const uint16_t headerSize = io::LoadU16(archive.data() + pos + 5);
    if (headerSize < 7 || pos + headerSize > archive.size()) {
      return -1;
    }
    uint32_t dataSize = 0;
    if ((flags & kFlagLongBlock) && headerSize >= 11) {
      dataSize = io::LoadU32(archive.data() + pos + 7);
    }
    if (type == kTypeFile) {
      if (seen == index) {
        return dataSize == 0 ? -1 : static_cast<int64_t>(pos + headerSize);
      }
      ++seen;
    }
    if (type == kTypeEnd) {
      return -1;
    }
    pos += headerSize + static_cast<size_t>(dataSize);
  }
  return -1;
}

}  // namespace varmex::tools
