// The header walk of both RAR formats (layouts drawn in rar_layout.h).
#include "tools/rarformat/rar_headers.h"

#include <algorithm>
#include <cstring>

#include "io/coding.h"
#include "tools/rarformat/rar_layout.h"

namespace varmex::tools {
namespace {

using namespace rar;

RarEntryKind KindOfUnixMode(uint32_t mode) {
  switch (mode & kModeTypeMask) {
    case 0:
    case kModeRegular:
      return RarEntryKind::kFile;
    case kModeFolder:
      return RarEntryKind::kFolder;
    case kModeLink:
      return RarEntryKind::kLink;
    default:
      return RarEntryKind::kSpecial;
  }
}

RarHeaders Stop(RarHeaders& walk, RarProblem problem, std::string detail) {
  walk.problem = problem;
  walk.detail = std::move(detail);
  return std::move(walk);
}

std::string At(uint64_t pos) { return " at byte " + std::to_string(pos); }

// A bounded reader of the fields of one header held in memory.
class Fields {
 public:
  Fields(const std::vector<uint8_t>& bytes, size_t pos, size_t end)
      : bytes_(bytes), pos_(pos), end_(end) {}

  bool Vint(uint64_t& v) { return GetVint(bytes_, pos_, end_, v); }
  bool U32(uint32_t& v) {
    if (end_ - pos_ < 4) {
      return false;
    }
    v = io::LoadU32(bytes_.data() + pos_);
    pos_ += 4;
    return true;
  }
  bool Text(uint64_t n, std::string& out) {
    if (n > end_ - pos_) {
      return false;
    }
    out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_;
  size_t end_;
};

RarHeaders WalkClassic(RarSource& source) {
  RarHeaders walk;
  walk.format = RarFormat::kClassic;
  const uint64_t total = source.Size();
  uint64_t pos = sizeof kMarker;
  std::vector<uint8_t> h;
  for (bool first = true;; first = false) {
    if (total - pos < kBaseHeaderSize) {
      return Stop(walk, RarProblem::kTruncated, "truncated archive");
    }
    h.resize(kBaseHeaderSize);
    if (!source.ReadAt(pos, h.data(), kBaseHeaderSize)) {
      return Stop(walk, RarProblem::kUnreadable, "read error" + At(pos));
    }
    const size_t size = io::LoadU16(h.data() + kSizeAt);
    if (size < kBaseHeaderSize) {
      return Stop(walk, RarProblem::kDamaged, "bad block size" + At(pos));
    }
    if (size > total - pos) {
      return Stop(walk, RarProblem::kTruncated, "truncated archive");
    }
    h.resize(size);
    if (!source.ReadAt(pos, h.data(), size)) {
      return Stop(walk, RarProblem::kUnreadable, "read error" + At(pos));
    }
    if (ClassicHeaderCrc(h) != io::LoadU16(h.data() + kCrcAt)) {
      return Stop(walk, RarProblem::kDamaged, "bad header checksum" + At(pos));
    }
    const uint8_t type = h[kTypeAt];
    const uint16_t flags = io::LoadU16(h.data() + kFlagsAt);
    uint64_t data = 0;
    if (flags & kFlagLongBlock) {
      if (size < kDataSizeAt + 4) {
        return Stop(walk, RarProblem::kDamaged, "bad block size" + At(pos));
      }
      data = io::LoadU32(h.data() + kDataSizeAt);
    }
    if (first && type != kTypeArchive) {
      return Stop(walk, RarProblem::kDamaged, "no archive header");
    }
    if (type == kTypeArchive && (flags & kArchiveHeadersEncrypted)) {
      return Stop(walk, RarProblem::kUnsupported, "encrypted headers");
    }
    if (type == kTypeEnd) {
      return walk;
    }
    if (type == kTypeFile) {
      const bool large = (flags & kFileLarge) != 0;
      const size_t nameAt = large ? kFileHeaderLargeSize : kFileHeaderSize;
      if (size < nameAt || nameAt + io::LoadU16(h.data() + kFileNameLengthAt) > size) {
        return Stop(walk, RarProblem::kDamaged, "bad file header" + At(pos));
      }
      RarFileHeader f;
      f.name.assign(reinterpret_cast<const char*>(h.data() + nameAt),
                    io::LoadU16(h.data() + kFileNameLengthAt));
      if (flags & kFileWideName) {
        f.name = f.name.substr(0, f.name.find('\0'));
      }
      f.packedSize = data;
      f.size = io::LoadU32(h.data() + kFileSizeAt);
      if (large) {
        f.packedSize |= static_cast<uint64_t>(io::LoadU32(h.data() + kFileHighPackedSizeAt)) << 32;
        f.size |= static_cast<uint64_t>(io::LoadU32(h.data() + kFileHighSizeAt)) << 32;
        data = f.packedSize;
      }
      if ((flags & kFileFolder) == kFileFolder) {
        f.kind = RarEntryKind::kFolder;
      } else if (h[kFileHostAt] == kHostUnix) {
        f.kind = KindOfUnixMode(io::LoadU32(h.data() + kFileAttributesAt));
      }
      f.encrypted = (flags & kFileEncrypted) != 0;
      f.split = (flags & kFileSplit) != 0;
      f.stored = h[kFileMethodAt] == kMethodStore;
      f.dataOffset = pos + size;
      if (f.kind != RarEntryKind::kFolder) {
        f.crc = io::LoadU32(h.data() + kFileCrcAt);
      }
      walk.files.push_back(std::move(f));
    }
    if (data > total - pos - size) {
      return Stop(walk, RarProblem::kTruncated, "truncated archive");
    }
    pos += size + data;
  }
}

// The fields of a format-5 file block after its common part; false when they do not
// fit the header.
bool ParseFile5(const std::vector<uint8_t>& h, size_t at, size_t extraAt, RarFileHeader& f) {
  Fields in(h, at, extraAt);
  uint64_t flags = 0;
  uint64_t attributes = 0;
  uint64_t compression = 0;
  uint64_t host = 0;
  uint64_t nameLength = 0;
  uint32_t time = 0;
  uint32_t crc = 0;
  if (!in.Vint(flags) || !in.Vint(f.size) || !in.Vint(attributes) ||
      ((flags & kFile5Time) && !in.U32(time)) || ((flags & kFile5Crc) && !in.U32(crc)) ||
      !in.Vint(compression) || !in.Vint(host) || !in.Vint(nameLength) ||
      !in.Text(nameLength, f.name)) {
    return false;
  }
  if (flags & kFile5Crc) {
    f.crc = crc;
  }
  f.sizeKnown = (flags & kFile5SizeUnknown) == 0;
  f.stored = ((compression >> 7) & 7) == 0;
  if (flags & kFile5Folder) {
    f.kind = RarEntryKind::kFolder;
    f.crc.reset();
  } else if (host == kHost5Unix) {
    f.kind = KindOfUnixMode(static_cast<uint32_t>(attributes));
  }
  for (size_t at = extraAt; at < h.size();) {
    Fields sized(h, at, h.size());
    uint64_t size = 0;
    if (!sized.Vint(size) || size == 0 || size > h.size() - sized.pos()) {
      return false;
    }
    at = sized.pos() + static_cast<size_t>(size);
    Fields record(h, sized.pos(), at);
    uint64_t type = 0;
    if (!record.Vint(type)) {
      return false;
    }
    if (type == kExtra5Encryption) {
      f.encrypted = true;
    } else if (type == kExtra5Redirection) {
      uint64_t redirect = 0;
      if (!record.Vint(redirect)) {
        return false;
      }
      f.kind = redirect == kRedirect5Junction   ? RarEntryKind::kJunction
               : redirect == kRedirect5FileCopy ? RarEntryKind::kFileCopy
                                                : RarEntryKind::kLink;
    }
  }
  return true;
}

RarHeaders WalkFive(RarSource& source) {
  RarHeaders walk;
  walk.format = RarFormat::kFive;
  const uint64_t total = source.Size();
  uint64_t pos = sizeof kSignature5;
  std::vector<uint8_t> h;
  for (bool first = true;; first = false) {
    // The checksum and the header size: a vint of at most 3 bytes.
    uint8_t head[7] = {};
    const size_t have = static_cast<size_t>(std::min<uint64_t>(total - pos, sizeof head));
    if (have < 5) {
      return Stop(walk, RarProblem::kTruncated, "truncated archive");
    }
    if (!source.ReadAt(pos, head, have)) {
      return Stop(walk, RarProblem::kUnreadable, "read error" + At(pos));
    }
    uint64_t size = 0;
    size_t sizeBytes = 0;
    for (bool more = true; more; ++sizeBytes) {
      if (sizeBytes == 3) {
        return Stop(walk, RarProblem::kDamaged, "bad header size" + At(pos));
      }
      if (4 + sizeBytes == have) {
        return Stop(walk, RarProblem::kTruncated, "truncated archive");
      }
      const uint8_t b = head[4 + sizeBytes];
      size |= static_cast<uint64_t>(b & 0x7f) << (7 * sizeBytes);
      more = (b & 0x80) != 0;
    }
    if (size == 0 || size > kMaxHeader5) {
      return Stop(walk, RarProblem::kDamaged, "bad header size" + At(pos));
    }
    if (size > total - pos - 4 - sizeBytes) {
      return Stop(walk, RarProblem::kTruncated, "truncated archive");
    }
    h.resize(sizeBytes + static_cast<size_t>(size));
    if (!source.ReadAt(pos + 4, h.data(), h.size())) {
      return Stop(walk, RarProblem::kUnreadable, "read error" + At(pos));
    }
    if (Crc32(h) != io::LoadU32(head)) {
      return Stop(walk, RarProblem::kDamaged, "bad header checksum" + At(pos));
    }
    Fields in(h, sizeBytes, h.size());
    uint64_t type = 0;
    uint64_t flags = 0;
    uint64_t extraSize = 0;
    uint64_t data = 0;
    if (!in.Vint(type) || !in.Vint(flags) || ((flags & kBlock5Extra) && !in.Vint(extraSize)) ||
        ((flags & kBlock5Data) && !in.Vint(data)) || extraSize > h.size() - in.pos()) {
      return Stop(walk, RarProblem::kDamaged, "bad header" + At(pos));
    }
    const uint64_t end = pos + 4 + h.size();
    if (first && type != kType5Main && type != kType5Encryption) {
      return Stop(walk, RarProblem::kDamaged, "no archive header");
    }
    if (type == kType5Encryption) {
      return Stop(walk, RarProblem::kUnsupported, "encrypted headers");
    }
    if (type == kType5End) {
      return walk;
    }
    if (type == kType5File) {
      RarFileHeader f;
      if (!ParseFile5(h, in.pos(), h.size() - static_cast<size_t>(extraSize), f)) {
        return Stop(walk, RarProblem::kDamaged, "bad file header" + At(pos));
      }
      f.split = (flags & kBlock5Split) != 0;
      f.packedSize = data;
      f.dataOffset = end;
      walk.files.push_back(std::move(f));
    }
    if (data > total - end) {
      return Stop(walk, RarProblem::kTruncated, "truncated archive");
    }
    pos = end + data;
  }
}

}  // namespace

bool MemoryRarSource::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > bytes_.size() || n > bytes_.size() - offset) {
    return false;
  }
  if (n > 0) {  // an empty span may have no storage to copy from
    std::memcpy(out, bytes_.data() + offset, n);
  }
  return true;
}

RarHeaders WalkRarHeaders(RarSource& source) {
  uint8_t start[8] = {};
  const size_t have = static_cast<size_t>(std::min<uint64_t>(source.Size(), sizeof start));
  if (!source.ReadAt(0, start, have)) {
    RarHeaders walk;
    return Stop(walk, RarProblem::kUnreadable, "read error at byte 0");
  }
  if (have == sizeof kSignature5 && std::equal(kSignature5, kSignature5 + 8, start)) {
    return WalkFive(source);
  }
  if (have >= sizeof kMarker && std::equal(kMarker, kMarker + 7, start)) {
    return WalkClassic(source);
  }
  RarHeaders walk;
  // The first bytes of either marker and nothing more: an archive cut short.
  if (have >= 4 && ((have < sizeof kSignature5 && std::equal(start, start + have, kSignature5)) ||
                    (have < sizeof kMarker && std::equal(start, start + have, kMarker)))) {
    return Stop(walk, RarProblem::kTruncated, "truncated archive");
  }
  return Stop(walk, RarProblem::kNotRar, "not a RAR archive");
}

}  // namespace varmex::tools
