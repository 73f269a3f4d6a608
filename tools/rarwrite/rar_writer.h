// A writer of RAR archives with stored, uncompressed entries, in the classic format
// (version 4) and in format 5 (both drawn in tools/rarformat/rar_layout.h, which owns
// their layouts): enough to make the suite's archives for tests and the demo medium,
// and to make damaged or hostile ones on purpose.
//
// Classic archives are the marker, an archive block of 13 bytes (flags 0, reserved
// bytes 0), one file block per entry and an end block (flag 0x4000, size 7). A file
// block has flag 0x8000 (data follows), the folder flags 0xE0 for a folder and 0x04
// for an entry marked encrypted, packed size = size, the DOS time given, version
// needed 20, method 0x30 (stored) and no high sizes; the entry's bytes follow it as
// they are.
//
// Format-5 archives are the signature, a main block (archive flags 0), one file block
// per entry, each with a data area (size 0 for a folder), and an end block (end flags
// 0). A file block carries the time (2026-01-01 00:00:00 UTC), the data CRC-32 (not
// for a folder, nor for an entry made without it) and compression 0 (stored, version
// 0); an entry marked encrypted gets an encryption record (version 0, no flags, 2^15
// key rounds, a zero salt and start vector), a redirection gets its record (flags 0).
//
// Names are written with backslashes between folders in classic archives, as the
// archiver does on Windows, and with '/' in format 5; a final separator is dropped.
// Entries are marked as made on a Unix system so that their attributes are a Unix
// mode: a stand-in tool packed into an archive keeps its execute permission.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rarformat/rar_layout.h"

namespace varmex::tools {

struct RarEntry {
  std::string name;           // relative path, folders separated by '/' or '\'
  std::vector<uint8_t> data;  // the file's contents (ignored for a directory)
  bool directory = false;
  uint32_t mode = 0;  // permission bits; 0 = 0644 for files, 0755 for folders
  // Made on purpose for tests of readers: the entry is marked as encrypted (its data
  // stays plain), or, in format 5 only, as a redirection of kind `redirect` (the kinds
  // rar::kRedirect5...) to `target`, or without its data CRC.
  bool encrypted = false;
  uint32_t redirect = 0;
  std::string target;
  bool withoutCrc = false;
};

// A file entry holding `text`'s bytes, and a folder entry.
inline RarEntry FileEntry(const std::string& name, std::string_view text) {
  RarEntry e;
  e.name = name;
  e.data.assign(text.begin(), text.end());
  return e;
}
inline RarEntry FolderEntry(const std::string& name) {
  RarEntry e;
  e.name = name;
  e.directory = true;
  return e;
}

// 2026-01-01 00:00:00 as a DOS date and time: archives come out byte-identical.
inline constexpr uint32_t kDefaultDosTime = ((2026u - 1980u) << 25) | (1u << 21) | (1u << 16);

// The bytes of an archive holding `entries` in the order given. Throws
// std::invalid_argument for an empty name or one longer than 65535 bytes, and for
// a file of 4 GiB or more (the writer does not make the 64-bit size fields).
std::vector<uint8_t> BuildRarArchive(std::span<const RarEntry> entries,
                                     uint32_t dosTime = kDefaultDosTime);

// The same in format 5 (the time is written as 2026-01-01 00:00:00 UTC).
std::vector<uint8_t> BuildRar5Archive(std::span<const RarEntry> entries);

// Offset of the first data byte of entry `index` in an archive made by
// BuildRarArchive or BuildRar5Archive (for tests that damage an archive on purpose),
// as the header walk (tools/rarformat/rar_headers.h) finds it; -1 if there is none.
int64_t DataOffsetOfEntry(std::span<const uint8_t> archive, size_t index);

}  // namespace varmex::tools
