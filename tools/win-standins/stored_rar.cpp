#include "tools/win-standins/stored_rar.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "io/coding.h"
#include "tools/rarwrite/rar_writer.h"

// Block walk of a format-4 archive. Every block opens with a 7-byte base header
// (CRC16, type, flags, size); a block with flag 0x8000 is followed by a data area whose
// size is the 32-bit value at +7. The archive starts with the fixed marker
// "Rar!\x1a\x07\x00" and ends with an end block (type 0x7b). A file block (0x74) holds:
//   +7 packed size  +11 unpacked size  +15 host  +16 data CRC-32  +20 DOS time
//   +24 version     +25 method (0x30 = stored)  +26 name length  +28 attributes  +32 name
// Flags of a file block: 0x01/0x02 split across volumes, 0x04 encrypted, 0x100 64-bit
// sizes follow, 0xE0 all set = a folder.

namespace varmex::tools {
namespace {

constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
constexpr uint8_t kTypeFile = 0x74;
constexpr uint8_t kTypeEnd = 0x7b;
constexpr uint16_t kFlagLongBlock = 0x8000;
constexpr uint16_t kFlagSplit = 0x0003;
constexpr uint16_t kFlagEncrypted = 0x0004;
constexpr uint16_t kFlagLarge = 0x0100;
constexpr uint16_t kFlagDirectoryMask = 0x00e0;
constexpr uint8_t kMethodStore = 0x30;
constexpr size_t kFileHeaderSize = 32;

StoredArchive Fail(int status, std::string reason) {
  StoredArchive a;
  a.status = status;
  a.reason = std::move(reason);
  return a;
}

// Splits an entry name into its folders; false when it would leave the destination.
bool SafeParts(const std::string& name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) {
    return false;
  }
  std::string part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '\\' || name[i] == '/') {
      if (part == "..") return false;
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
    } else {
      part.push_back(name[i]);
    }
  }
  return !parts.empty();
}

int Extract(const StoredArchive& archive, bool keepFolders, const std::string& dest) {
  std::error_code ec;
  const std::filesystem::path root(dest);
  if (!std::filesystem::is_directory(root, ec)) {
    std::fprintf(stderr, "unrar: destination %s is not a folder\n", dest.c_str());
    return kStoredRarWriteFailed;
  }
  std::vector<std::string> parts;
  for (const StoredEntry& e : archive.entries) {
    if (!SafeParts(e.name, parts)) {
      std::fprintf(stderr, "unrar: unsafe entry %s\n", e.name.c_str());
      return kStoredRarUnsafe;
    }
    if (!keepFolders) {
      if (e.directory) continue;
      parts = {parts.back()};
    }
    std::filesystem::path target = root;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      target /= parts[i];
      std::filesystem::create_directory(target, ec);
      if (!std::filesystem::is_directory(target, ec)) {
        std::fprintf(stderr, "unrar: cannot create %s\n", target.string().c_str());
        return kStoredRarWriteFailed;
      }
    }
    target /= parts.back();
    if (e.directory) {
      std::filesystem::create_directory(target, ec);
      if (!std::filesystem::is_directory(target, ec)) return kStoredRarWriteFailed;
      continue;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(e.data.data()),
              static_cast<std::streamsize>(e.data.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "unrar: cannot write %s\n", target.string().c_str());
      return kStoredRarWriteFailed;
    }
    std::printf("Extracting  %s\n", target.string().c_str());
  }
  return kStoredRarOk;
}

}  // namespace

StoredArchive ParseStoredRar(std::span<const uint8_t> bytes) {
  if (bytes.size() < sizeof kMarker ||
      !std::equal(kMarker, kMarker + sizeof kMarker, bytes.begin())) {
    return Fail(kStoredRarUnsupported, "not a RAR archive");
  }
  StoredArchive archive;
  size_t pos = sizeof kMarker;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 7) return Fail(kStoredRarDamaged, "truncated block header");
    const uint8_t* h = bytes.data() + pos;
    const uint16_t crc = io::LoadU16(h);
    const uint8_t type = h[2];
    const uint16_t flags = io::LoadU16(h + 3);
    const size_t size = io::LoadU16(h + 5);
    if (size < 7 || size > bytes.size() - pos) return Fail(kStoredRarDamaged, "bad block size");
    if ((Crc32(std::span<const uint8_t>(h + 2, size - 2)) & 0xffff) != crc) {
      return Fail(kStoredRarDamaged, "header CRC mismatch");
    }
    if (type == kTypeEnd) return archive;
    uint64_t dataSize = 0;
    if (flags & kFlagLongBlock) {
      if (size < 11) return Fail(kStoredRarDamaged, "bad block size");
      dataSize = io::LoadU32(h + 7);
    }
    if (dataSize > bytes.size() - pos - size) return Fail(kStoredRarDamaged, "truncated data");
    if (type == kTypeFile) {
      if (size < kFileHeaderSize) return Fail(kStoredRarDamaged, "short file header");
      const size_t nameLength = io::LoadU16(h + 26);
      if (kFileHeaderSize + nameLength > size) return Fail(kStoredRarDamaged, "bad name length");
      StoredEntry entry;
      entry.name.assign(reinterpret_cast<const char*>(h + kFileHeaderSize), nameLength);
      if (flags & (kFlagSplit | kFlagEncrypted | kFlagLarge)) {
        return Fail(kStoredRarUnsupported, "unsupported entry " + entry.name);
      }
      entry.directory = (flags & kFlagDirectoryMask) == kFlagDirectoryMask;
      if (!entry.directory) {
        if (h[25] != kMethodStore)
          return Fail(kStoredRarUnsupported, "compressed entry " + entry.name);
        if (io::LoadU32(h + 11) != dataSize)
          return Fail(kStoredRarDamaged, "size mismatch in " + entry.name);
        const std::span<const uint8_t> data(h + size, static_cast<size_t>(dataSize));
        if (Crc32(data) != io::LoadU32(h + 16)) {
          return Fail(kStoredRarDamaged, "CRC mismatch in " + entry.name);
        }
        entry.data.assign(data.begin(), data.end());
      }
      archive.entries.push_back(std::move(entry));
    }
    pos += size + static_cast<size_t>(dataSize);
  }
  // Without its end block the archive was cut short: entries may be missing.
  return Fail(kStoredRarDamaged, "no end of archive");
}

int RunStoredUnrar(const std::vector<std::string>& args) {
  const bool test = args.size() == 2 && (args[0] == "t" || args[0] == "T");
  const bool unpack = args.size() == 4 && (args[0] == "e" || args[0] == "x") && args[1] == "-y";
  if (!test && !unpack) {
    std::fprintf(stderr,
                 "usage: unrar t ARCHIVE | unrar e -y ARCHIVE DEST | unrar x -y ARCHIVE DEST\n");
    return kStoredRarUsage;
  }
  const std::string& path = test ? args[1] : args[2];
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "unrar: cannot open %s\n", path.c_str());
    return kStoredRarOpenFailed;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  const StoredArchive archive = ParseStoredRar(bytes);
  if (archive.status != kStoredRarOk) {
    std::fprintf(stderr, "unrar: %s: %s\n", path.c_str(), archive.reason.c_str());
    return archive.status;
  }
  if (test) {
    std::printf("Testing %s: %zu entries OK\n", path.c_str(), archive.entries.size());
    return kStoredRarOk;
  }
  return Extract(archive, args[0] == "x", args[3]);
}

}  // namespace varmex::tools
