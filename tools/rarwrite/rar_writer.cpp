#include "tools/rarwrite/rar_writer.h"

#include <algorithm>
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
constexpr uint16_t kFlagEncrypted = 0x0004;

constexpr uint8_t kSignature5[8] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x01, 0x00};
constexpr uint64_t kType5Main = 1;
constexpr uint64_t kType5File = 2;
constexpr uint64_t kType5End = 5;
constexpr uint64_t kBlock5Extra = 0x01;
constexpr uint64_t kBlock5Data = 0x02;
constexpr uint64_t kFile5Folder = 0x01;
constexpr uint64_t kFile5Time = 0x02;
constexpr uint64_t kFile5Crc = 0x04;
constexpr uint64_t kHost5Unix = 1;
constexpr uint64_t kExtra5Encryption = 1;
constexpr uint64_t kExtra5Redirection = 5;
constexpr uint32_t kUnixTime2026 = 1767225600;  // 2026-01-01 00:00:00 UTC

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

void PutVint(std::vector<uint8_t>& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  io::StoreU32(b, v);
  out.insert(out.end(), b, b + 4);
}

// Appends one format-5 block: its CRC-32 and size, then `fields` (type onwards).
void PutBlock5(std::vector<uint8_t>& out, const std::vector<uint8_t>& fields) {
  std::vector<uint8_t> sized;
  PutVint(sized, fields.size());
  sized.insert(sized.end(), fields.begin(), fields.end());
  PutU32(out, Crc32(sized));
  out.insert(out.end(), sized.begin(), sized.end());
}

// The extra records of a format-5 file entry.
std::vector<uint8_t> Extra5(const RarEntry& entry) {
  std::vector<uint8_t> extra;
  auto record = [&extra](uint64_t type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> typed;
    PutVint(typed, type);
    typed.insert(typed.end(), data.begin(), data.end());
    PutVint(extra, typed.size());
    extra.insert(extra.end(), typed.begin(), typed.end());
  };
  if (entry.encrypted) {
    // Version 0, no flags, 2^15 key rounds, a zero salt and a zero start vector.
    std::vector<uint8_t> data = {0, 0, 15};
    data.resize(data.size() + 32, 0);
    record(kExtra5Encryption, data);
  }
  if (entry.redirect != 0) {
    std::vector<uint8_t> data;
    PutVint(data, entry.redirect);
    PutVint(data, 0);
    PutVint(data, entry.target.size());
    data.insert(data.end(), entry.target.begin(), entry.target.end());
    record(kExtra5Redirection, data);
  }
  return extra;
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
                 static_cast<uint16_t>(kFlagLongBlock | (entry.directory ? kFlagDirectory : 0) |
                                       (entry.encrypted ? kFlagEncrypted : 0)));
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

std::vector<uint8_t> BuildRar5Archive(std::span<const RarEntry> entries) {
  std::vector<uint8_t> out(kSignature5, kSignature5 + sizeof kSignature5);
  PutBlock5(out, {kType5Main, 0, 0});
  for (const RarEntry& entry : entries) {
    std::string name = entry.name;
    for (char& c : name) {
      c = c == '\\' ? '/' : c;
    }
    while (!name.empty() && name.back() == '/') {
      name.pop_back();
    }
    if (name.empty()) {
      throw std::invalid_argument("bad entry name: \"" + entry.name + "\"");
    }
    const std::vector<uint8_t> none;
    const std::vector<uint8_t>& data = entry.directory ? none : entry.data;
    const std::vector<uint8_t> extra = Extra5(entry);
    const uint32_t permissions = entry.mode != 0 ? entry.mode : (entry.directory ? 0755 : 0644);

    std::vector<uint8_t> fields;
    PutVint(fields, kType5File);
    // A file block always carries its data size, 0 for a folder.
    PutVint(fields, (extra.empty() ? 0 : kBlock5Extra) | kBlock5Data);
    if (!extra.empty()) {
      PutVint(fields, extra.size());
    }
    PutVint(fields, data.size());
    PutVint(fields, (entry.directory ? kFile5Folder : 0) | kFile5Time |
                        (entry.withoutCrc || entry.directory ? 0 : kFile5Crc));
    PutVint(fields, data.size());
    PutVint(fields, (entry.directory ? kUnixDirectory : kUnixRegular) | (permissions & 07777));
    PutU32(fields, kUnixTime2026);
    if (!entry.withoutCrc && !entry.directory) {
      PutU32(fields, Crc32(data));
    }
    PutVint(fields, 0);  // stored, algorithm version 0
    PutVint(fields, kHost5Unix);
    PutVint(fields, name.size());
    fields.insert(fields.end(), name.begin(), name.end());
    fields.insert(fields.end(), extra.begin(), extra.end());
    PutBlock5(out, fields);
    out.insert(out.end(), data.begin(), data.end());
  }
  PutBlock5(out, {kType5End, 0, 0});
  return out;
}

namespace {

// Reads a vint at `pos` (moved past it); false when it runs past `end`.
bool GetVint(std::span<const uint8_t> bytes, size_t& pos, size_t end, uint64_t& v) {
  v = 0;
  for (unsigned shift = 0; pos < end && shift < 64; shift += 7) {
    const uint8_t b = bytes[pos++];
    v |= static_cast<uint64_t>(b & 0x7f) << shift;
    if ((b & 0x80) == 0) {
      return true;
    }
  }
  return false;
}

int64_t DataOffsetOfEntry5(std::span<const uint8_t> archive, size_t index) {
  size_t pos = sizeof kSignature5;
  size_t seen = 0;
  while (pos + 5 <= archive.size()) {
    size_t at = pos + 4;
    uint64_t size = 0;
    uint64_t type = 0;
    uint64_t flags = 0;
    uint64_t skip = 0;
    uint64_t data = 0;
    if (!GetVint(archive, at, archive.size(), size) || size > archive.size() - at) {
      return -1;
    }
    const size_t end = at + static_cast<size_t>(size);
    if (!GetVint(archive, at, end, type) || !GetVint(archive, at, end, flags) ||
        ((flags & kBlock5Extra) && !GetVint(archive, at, end, skip)) ||
        ((flags & kBlock5Data) && !GetVint(archive, at, end, data)) ||
        data > archive.size() - end) {
      return -1;
    }
    if (type == kType5File) {
      if (seen == index) {
        return data == 0 ? -1 : static_cast<int64_t>(end);
      }
      ++seen;
    }
    if (type == kType5End) {
      return -1;
    }
    pos = end + static_cast<size_t>(data);
  }
  return -1;
}

}  // namespace

int64_t DataOffsetOfEntry(std::span<const uint8_t> archive, size_t index) {
  if (archive.size() >= sizeof kSignature5 &&
      std::equal(kSignature5, kSignature5 + sizeof kSignature5, archive.begin())) {
    return DataOffsetOfEntry5(archive, index);
  }
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
