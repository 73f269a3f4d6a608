// The writer of stored RAR entries (what it writes: rar_writer.h; the layouts:
// tools/rarformat/rar_layout.h).
#include "tools/rarwrite/rar_writer.h"

#include <stdexcept>

#include "io/coding.h"
#include "tools/rarformat/rar_headers.h"

namespace varmex::tools {
namespace {

using namespace rar;

constexpr uint8_t kVersionNeeded = 20;          // 2.0: any reader of the format
constexpr uint32_t kUnixTime2026 = 1767225600;  // 2026-01-01 00:00:00 UTC

// Fills the CRC16 field of the header that starts at `start` and runs `size` bytes.
void SealHeader(std::vector<uint8_t>& out, size_t start, size_t size) {
  SealClassicHeader(std::span<uint8_t>(out.data() + start, size));
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

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  io::StoreU32(b, v);
  out.insert(out.end(), b, b + 4);
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

std::vector<uint8_t> BuildRarArchive(std::span<const RarEntry> entries, uint32_t dosTime) {
  std::vector<uint8_t> out(kMarker, kMarker + sizeof kMarker);

  const size_t archiveStart = out.size();
  out.resize(archiveStart + kArchiveHeaderSize, 0);
  out[archiveStart + kTypeAt] = kTypeArchive;
  io::StoreU16(out.data() + archiveStart + kSizeAt, static_cast<uint16_t>(kArchiveHeaderSize));
  SealHeader(out, archiveStart, kArchiveHeaderSize);

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
    const uint32_t mode = (entry.directory ? kModeFolder : kModeRegular) | (permissions & 07777);
    const size_t headerSize = kFileHeaderSize + name.size();

    const size_t start = out.size();
    out.resize(start + headerSize, 0);
    uint8_t* h = out.data() + start;
    h[kTypeAt] = kTypeFile;
    io::StoreU16(h + kFlagsAt,
                 static_cast<uint16_t>(kFlagLongBlock | (entry.directory ? kFileFolder : 0) |
                                       (entry.encrypted ? kFileEncrypted : 0)));
    io::StoreU16(h + kSizeAt, static_cast<uint16_t>(headerSize));
    io::StoreU32(h + kFilePackedSizeAt, size);
    io::StoreU32(h + kFileSizeAt, size);
    h[kFileHostAt] = kHostUnix;
    io::StoreU32(h + kFileCrcAt, Crc32(data));
    io::StoreU32(h + kFileTimeAt, dosTime);
    h[kFileVersionAt] = kVersionNeeded;
    h[kFileMethodAt] = kMethodStore;
    io::StoreU16(h + kFileNameLengthAt, static_cast<uint16_t>(name.size()));
    io::StoreU32(h + kFileAttributesAt, mode);
    for (size_t i = 0; i < name.size(); ++i) {
      h[kFileHeaderSize + i] = static_cast<uint8_t>(name[i]);
    }
    SealHeader(out, start, headerSize);
    out.insert(out.end(), data.begin(), data.end());
  }

  const size_t endStart = out.size();
  out.resize(endStart + kEndHeaderSize, 0);
  out[endStart + kTypeAt] = kTypeEnd;
  io::StoreU16(out.data() + endStart + kFlagsAt, kEndNoVolume);
  io::StoreU16(out.data() + endStart + kSizeAt, static_cast<uint16_t>(kEndHeaderSize));
  SealHeader(out, endStart, kEndHeaderSize);
  return out;
}

std::vector<uint8_t> BuildRar5Archive(std::span<const RarEntry> entries) {
  std::vector<uint8_t> out(kSignature5, kSignature5 + sizeof kSignature5);
  AppendBlock5(out, {kType5Main, 0, 0});
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
    PutVint(fields, (entry.directory ? kModeFolder : kModeRegular) | (permissions & 07777));
    PutU32(fields, kUnixTime2026);
    if (!entry.withoutCrc && !entry.directory) {
      PutU32(fields, Crc32(data));
    }
    PutVint(fields, 0);  // stored, algorithm version 0
    PutVint(fields, kHost5Unix);
    PutVint(fields, name.size());
    fields.insert(fields.end(), name.begin(), name.end());
    fields.insert(fields.end(), extra.begin(), extra.end());
    AppendBlock5(out, fields);
    out.insert(out.end(), data.begin(), data.end());
  }
  AppendBlock5(out, {kType5End, 0, 0});
  return out;
}

int64_t DataOffsetOfEntry(std::span<const uint8_t> archive, size_t index) {
  MemoryRarSource source(archive);
  const RarHeaders walk = WalkRarHeaders(source);
  if (index >= walk.files.size() || walk.files[index].packedSize == 0) {
    return -1;
  }
  return static_cast<int64_t>(walk.files[index].dataOffset);
}

}  // namespace varmex::tools
