// A writer of classic RAR archives (format version 4) with stored, uncompressed
// entries: enough to make the suite's archives for tests and the demo medium, and to
// damage them on purpose.
//
// An archive is a row of blocks, each opening with a 7-byte base header:
//
//   +--------+------+-------+------+
//   | CRC16  | type | flags | size |   CRC16: low 16 bits of the CRC-32 of the header
//   | 2      | 1    | 2     | 2    |   bytes after the CRC field (type .. end of header)
//   +--------+------+-------+------+
//
//   marker   "Rar!\x1a\x07\x00", fixed bytes (they also read as a base header)
//   archive  type 0x73, size 13: base header + 2 + 4 reserved zero bytes
//   file     type 0x74, flag 0x8000 (data follows the header), size 32 + name length:
//              +7  packed size (4)    +11 unpacked size (4)  +15 host system (1)
//              +16 CRC-32 of data (4) +20 DOS date and time (4)
//              +24 version needed (1) +25 method (1, 0x30 = stored)
//              +26 name length (2)    +28 attributes (4)     +32 name
//            then the packed data (for a stored entry, the file's bytes as they are)
//   end      type 0x7b, flag 0x4000, size 7
//
// Names are written with backslashes between folders, as the archiver does on
// Windows. Entries are marked as made on a Unix system so that their attributes are a
// Unix mode: a stand-in tool packed into an archive keeps its execute permission.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varmex::tools {

struct RarEntry {
  std::string name;           // relative path, folders separated by '/' or '\'
  std::vector<uint8_t> data;  // the file's contents (ignored for a directory)
  bool directory = false;
  uint32_t mode = 0;  // permission bits; 0 = 0644 for files, 0755 for folders
};

// 2026-01-01 00:00:00 as a DOS date and time: archives come out byte-identical.
inline constexpr uint32_t kDefaultDosTime = ((2026u - 1980u) << 25) | (1u << 21) | (1u << 16);

// CRC-32 (the polynomial of zip and RAR), continuing from `crc` (0 to start).
uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

// The bytes of an archive holding `entries` in the order given. Throws
// std::invalid_argument for an empty name or one longer than 65535 bytes, and for
// a file of 4 GiB or more (the writer does not make the 64-bit size fields).
std::vector<uint8_t> BuildRarArchive(std::span<const RarEntry> entries,
                                     uint32_t dosTime = kDefaultDosTime);

// Offset of the first data byte of entry `index` in an archive made by
// BuildRarArchive (for tests that damage an archive on purpose); -1 if there is none.
int64_t DataOffsetOfEntry(std::span<const uint8_t> archive, size_t index);

}  // namespace varmex::tools
