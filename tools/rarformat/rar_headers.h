// The header walk of a RAR archive, classic (format 4) or format 5 (layouts drawn in
// rar_layout.h): every block's header checked against its checksum, every file entry's
// name, kind, sizes, place of data and data checksum gathered, without reading any
// entry's data. This is the one walk of the project: both unpacking tools start here
// (the POSIX one takes the data from libarchive and checks it against what the walk
// found; the Windows one reads stored data itself from the places found), and the
// writer finds the data of its own entries with it. Blocks other than the archive's,
// the files' and the end's (comments, recovery data, service blocks) are passed over.
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
