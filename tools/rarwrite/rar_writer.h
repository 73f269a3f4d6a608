// A writer of RAR archives with stored, uncompressed entries, in the classic format
// (version 4) and in format 5: enough to make the suite's archives for tests and the
// demo medium, and to make damaged or hostile ones on purpose.
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
//
// Format 5 numbers are "vints": 7 bits a byte, least significant group first, the top
// bit set on every byte but the last. Each block is
//
//   CRC-32 (4, of everything after it up to the header's end) | header size (vint, the
//   bytes from type to the header's end) | type | flags (1 extra area, 2 data area)
//   | [extra area size] | [data size] | fields of the type | extra area
//
//   signature  "Rar!\x1a\x07\x01\x00"
//   main       type 1, archive flags 0
//   file       type 2: file flags (1 folder, 2 time, 4 CRC), unpacked size, attributes,
//              [time (4)], [data CRC-32 (4)], compression (0 = stored, version 0),
//              host (1 = Unix), name length, name (UTF-8, '/' between folders);
//              extra records, each: size (vint, of type and data), type, data
//                1 encryption    5 redirection: kind (1 Unix link, 2 Windows link,
//                                  3 junction, 4 hard link, 5 file copy), flags, target
//   end        type 5, end flags 0
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
  // Made on purpose for tests of readers: the entry is marked as encrypted (its data
  // stays plain), or, in format 5 only, as a redirection of kind `redirect` (see above)
  // to `target`, or without its data CRC.
  bool encrypted = false;
  uint32_t redirect = 0;
  std::string target;
  bool withoutCrc = false;
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

// The same in format 5 (the time is written as 2026-01-01 00:00:00 UTC).
std::vector<uint8_t> BuildRar5Archive(std::span<const RarEntry> entries);

// Offset of the first data byte of entry `index` in an archive made by
// BuildRarArchive or BuildRar5Archive (for tests that damage an archive on purpose);
// -1 if there is none.
int64_t DataOffsetOfEntry(std::span<const uint8_t> archive, size_t index);

}  // namespace varmex::tools
