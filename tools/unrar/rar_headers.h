// The header walk of a RAR archive, classic (format 4) or format 5: every block's
// header checked against its checksum, every file entry's name, kind, sizes, place of
// data and data checksum gathered, without reading any entry's data. Both unpacking
// tools start here: the POSIX one takes the data from libarchive and checks it against
// what the walk found; the Windows one reads stored data itself from the places found.
//
// Classic archive: the marker "Rar!\x1a\x07\x00", then blocks that each open with
//
//   CRC16 (2, low half of the CRC-32 of the header after this field) | type (1)
//   | flags (2) | header size (2) | [data size (4), when flag 0x8000 is set]
//
//   0x73 archive   flag 0x0080: the headers themselves are encrypted
//   0x74 file      +7 packed size (4)  +11 size (4)  +15 host (3 = Unix)  +16 CRC-32
//                  +20 time  +24 version  +25 method (0x30 = stored)  +26 name length
//                  +28 attributes  [+32 high packed size, +36 high size: flag 0x0100]
//                  then the name (flag 0x0200: a plain name, a NUL, a wide form)
//                  flags: 0x01/0x02 split across volumes, 0x04 encrypted, 0xE0 folder
//   0x7b end       anything else (comments, recovery data, service blocks) is passed over
//
// Format 5: the signature "Rar!\x1a\x07\x01\x00", then blocks of
//
//   CRC-32 (4, of the rest up to the header's end) | header size (vint, from type on)
//   | type | flags (1 extra area, 2 data area, 8/0x10 split across volumes)
//   | [extra area size] | [data size] | fields | extra area (at the header's end)
//
//   1 main         archive flags (2: a volume number follows)
//   2 file         file flags (1 folder, 2 time, 4 CRC, 8 size unknown), size, attributes,
//                  [time (4)], [CRC-32 (4)], compression (bits 7-9: method, 0 = stored),
//                  host (1 = Unix), name length, name; extra records: size, type, data
//                  (1 encryption; 5 redirection: 1/2 link, 3 junction, 4 hard link,
//                  5 file copy)
//   3 service      passed over (comments, quick-open data, streams)
//   4 encryption   every header after it is encrypted
//   5 end
//
// A vint holds 7 bits a byte, least significant group first, the top bit set on every
// byte but the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varmex::tools {

// Where the bytes of an archive come from: a file the tool opened, or memory.
class RarSource {
 public:
  virtual ~RarSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `n` bytes at `offset`; false on a short read or an error.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

class MemoryRarSource : public RarSource {
 public:
  explicit MemoryRarSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  std::span<const uint8_t> bytes_;
};

enum class RarFormat { kUnknown, kClassic, kFive };

enum class RarEntryKind {
  kFile,
  kFolder,
  kLink,      // symbolic or hard link
  kJunction,  // a Windows junction
  kFileCopy,  // a reference to an earlier entry's data
  kSpecial,   // a device, pipe or socket
};

struct RarFileHeader {
  std::string name;  // as stored (the plain form of a classic wide name)
  RarEntryKind kind = RarEntryKind::kFile;
  bool encrypted = false;
  bool split = false;   // continued from or in another volume
  bool stored = false;  // the data area holds the bytes as they are
  bool sizeKnown = true;
  uint64_t packedSize = 0;
  uint64_t size = 0;
  uint64_t dataOffset = 0;
  std::optional<uint32_t> crc;  // CRC-32 of the data, when the header carries one
};

enum class RarProblem {
  kNone,
  kNotRar,       // no marker or signature at the start
  kTruncated,    // the file ends before the archive's end block
  kDamaged,      // a header fails its checksum or does not add up
  kUnsupported,  // encrypted headers
  kUnreadable,   // the source failed to read
};

struct RarHeaders {
  RarFormat format = RarFormat::kUnknown;
  RarProblem problem = RarProblem::kNone;
  std::string detail;  // what is wrong, in a few words
  std::vector<RarFileHeader> files;
};

RarHeaders WalkRarHeaders(RarSource& source);

}  // namespace varmex::tools
