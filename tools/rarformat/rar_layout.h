// The layouts of RAR archives, classic (format 4) and format 5: their markers, block
// types, flags and field offsets, the CRC-32 both formats check with, format 5's
// variable-length numbers and the sealing of a header with its checksum. The writer
// (tools/rarwrite), the header walk (rar_headers.h) and the tests that change archives
// byte by byte all take the layouts from here.
//
// Classic archive: the marker "Rar!\x1a\x07\x00" (fixed bytes that also read as a base
// header), then blocks that each open with a 7-byte base header
//
//   +--------+------+-------+------+------------------------------------------+
//   | CRC16  | type | flags | size | [data size (4), when flag 0x8000 is set] |
//   | 2      | 1    | 2     | 2    |                                          |
//   +--------+------+-------+------+------------------------------------------+
//   CRC16: low 16 bits of the CRC-32 of the header bytes after the CRC field (type ..
//   end of header); size: of the whole header; the data area follows the header.
//
//   0x73 archive   flag 0x0080: the headers themselves are encrypted
//   0x74 file      +7 packed size (4)  +11 size (4)  +15 host (1, 3 = Unix)
//                  +16 CRC-32 of data (4)  +20 DOS date and time (4)  +24 version (1)
//                  +25 method (1, 0x30 = stored)  +26 name length (2)  +28 attributes (4)
//                  [+32 high packed size (4), +36 high size (4): flag 0x0100]
//                  then the name (flag 0x0200: a plain name, a NUL, a wide form)
//                  flags: 0x01/0x02 split across volumes, 0x04 encrypted, 0xE0 folder
//   0x7b end       flag 0x4000: no volume follows
//   anything else (comments, recovery data, service blocks) is passed over by readers
//
// Format 5: the signature "Rar!\x1a\x07\x01\x00", then blocks of
//
//   CRC-32 (4, of everything after it up to the header's end) | header size (vint, the
//   bytes from type to the header's end) | type | flags (1 extra area, 2 data area,
//   8/0x10 split across volumes) | [extra area size] | [data size] | fields of the type
//   | extra area (at the header's end)
//
//   1 main         archive flags (2: a volume number follows)
//   2 file         file flags (1 folder, 2 time, 4 CRC, 8 size unknown), size, attributes,
//                  [time (4)], [data CRC-32 (4)], compression (bits 7-9: method,
//                  0 = stored; bits 0-5: version), host (1 = Unix), name length, name
//                  (UTF-8, '/' between folders); extra records, each: size (vint, of
//                  type and data), type, data
//                    1 encryption    5 redirection: kind (1 Unix link, 2 Windows link,
//                                      3 junction, 4 hard link, 5 file copy), flags, target
//   3 service      comments, quick-open data, streams
//   4 encryption   every header after it is encrypted
//   5 end          end flags
//
// A vint holds 7 bits a byte, least significant group first, the top bit set on every
// byte but the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace varmex::tools {

// CRC-32 (the polynomial of zip and RAR), continuing from `crc` (0 to start).
uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

namespace rar {

// Classic archives.
inline constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};

inline constexpr size_t kBaseHeaderSize = 7;
inline constexpr size_t kCrcAt = 0;
inline constexpr size_t kTypeAt = 2;
inline constexpr size_t kFlagsAt = 3;
inline constexpr size_t kSizeAt = 5;
inline constexpr size_t kDataSizeAt = 7;
inline constexpr uint16_t kFlagLongBlock = 0x8000;  // a data area follows the header

inline constexpr uint8_t kTypeArchive = 0x73;
inline constexpr uint8_t kTypeFile = 0x74;
inline constexpr uint8_t kTypeEnd = 0x7b;

inline constexpr size_t kArchiveHeaderSize = 13;  // base header + 2 + 4 reserved bytes
inline constexpr uint16_t kArchiveHeadersEncrypted = 0x0080;

inline constexpr size_t kFilePackedSizeAt = 7;
inline constexpr size_t kFileSizeAt = 11;
inline constexpr size_t kFileHostAt = 15;
inline constexpr size_t kFileCrcAt = 16;
inline constexpr size_t kFileTimeAt = 20;
inline constexpr size_t kFileVersionAt = 24;
inline constexpr size_t kFileMethodAt = 25;
inline constexpr size_t kFileNameLengthAt = 26;
inline constexpr size_t kFileAttributesAt = 28;
inline constexpr size_t kFileHighPackedSizeAt = 32;
inline constexpr size_t kFileHighSizeAt = 36;
inline constexpr size_t kFileHeaderSize = 32;         // where the name starts
inline constexpr size_t kFileHeaderLargeSize = 40;    // where it starts with flag kFileLarge
inline constexpr uint16_t kFileSplitBefore = 0x0001;  // continued from another volume
inline constexpr uint16_t kFileSplitAfter = 0x0002;   // continued in another volume
inline constexpr uint16_t kFileSplit = kFileSplitBefore | kFileSplitAfter;
inline constexpr uint16_t kFileEncrypted = 0x0004;
inline constexpr uint16_t kFileFolder = 0x00e0;  // dictionary bits all set: a folder
inline constexpr uint16_t kFileLarge = 0x0100;
inline constexpr uint16_t kFileWideName = 0x0200;
inline constexpr uint8_t kHostUnix = 3;
inline constexpr uint8_t kMethodStore = 0x30;

inline constexpr size_t kEndHeaderSize = 7;
inline constexpr uint16_t kEndNoVolume = 0x4000;

// Format 5.
inline constexpr uint8_t kSignature5[8] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x01, 0x00};
inline constexpr uint64_t kMaxHeader5 = 2 * 1024 * 1024;  // readers refuse larger headers

inline constexpr uint64_t kType5Main = 1;
inline constexpr uint64_t kType5File = 2;
inline constexpr uint64_t kType5Encryption = 4;
inline constexpr uint64_t kType5End = 5;
inline constexpr uint64_t kBlock5Extra = 0x01;
inline constexpr uint64_t kBlock5Data = 0x02;
inline constexpr uint64_t kBlock5Split = 0x18;
inline constexpr uint64_t kFile5Folder = 0x01;
inline constexpr uint64_t kFile5Time = 0x02;
inline constexpr uint64_t kFile5Crc = 0x04;
inline constexpr uint64_t kFile5SizeUnknown = 0x08;
inline constexpr uint64_t kHost5Unix = 1;
inline constexpr uint64_t kExtra5Encryption = 1;
inline constexpr uint64_t kExtra5Redirection = 5;
inline constexpr uint64_t kRedirect5UnixLink = 1;
inline constexpr uint64_t kRedirect5Junction = 3;
inline constexpr uint64_t kRedirect5FileCopy = 5;

// Unix file types in the attributes of an entry made on a Unix host.
inline constexpr uint32_t kModeTypeMask = 0170000;
inline constexpr uint32_t kModeRegular = 0100000;
inline constexpr uint32_t kModeFolder = 0040000;
inline constexpr uint32_t kModeLink = 0120000;
inline constexpr uint32_t kModeFifo = 0010000;

// The CRC16 field a classic header (all `header.size()` bytes of it) must carry.
uint16_t ClassicHeaderCrc(std::span<const uint8_t> header);

// Fills the CRC16 field of the classic header `header` (all its bytes).
void SealClassicHeader(std::span<uint8_t> header);

// Appends `v` as a vint.
void PutVint(std::vector<uint8_t>& out, uint64_t v);

// Reads a vint at `pos` (moved past it); false when it runs past `end` or past 64 bits.
bool GetVint(std::span<const uint8_t> bytes, size_t& pos, size_t end, uint64_t& v);

// Appends one format-5 block header: its CRC-32 and size, then `fields` (type onwards).
void AppendBlock5(std::vector<uint8_t>& out, const std::vector<uint8_t>& fields);

}  // namespace rar
}  // namespace varmex::tools
