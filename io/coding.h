// Fixed-length numbers in the suite's files are stored with the least-significant
// byte first. Every record layout is read and written through these few functions,
// one named offset at a time, never by laying a struct over a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace varmex::io {

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t LoadI16(const uint8_t* p) { return static_cast<int16_t>(LoadU16(p)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t LoadI32(const uint8_t* p) { return static_cast<int32_t>(LoadU32(p)); }

inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreI16(uint8_t* p, int16_t v) { StoreU16(p, static_cast<uint16_t>(v)); }
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreI32(uint8_t* p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }

// Span forms: the offset is in bytes from the start of the span. Callers check that
// offset + width lies inside the span; the functions do not (they sit on hot paths).
inline int16_t LoadI16(std::span<const uint8_t> b, size_t off) { return LoadI16(b.data() + off); }
inline uint16_t LoadU16(std::span<const uint8_t> b, size_t off) { return LoadU16(b.data() + off); }
inline int32_t LoadI32(std::span<const uint8_t> b, size_t off) { return LoadI32(b.data() + off); }
inline void StoreI16(std::span<uint8_t> b, size_t off, int16_t v) { StoreI16(b.data() + off, v); }
inline void StoreI32(std::span<uint8_t> b, size_t off, int32_t v) { StoreI32(b.data() + off, v); }

// Text fields inside records: copy `text` into `width` bytes at `off`, padded with blanks
// (cut when longer).
inline void StoreText(std::span<uint8_t> b, size_t off, size_t width, std::string_view text) {
  const size_t n = text.size() < width ? text.size() : width;
  std::memcpy(b.data() + off, text.data(), n);
  std::memset(b.data() + off + n, ' ', width - n);
}

}  // namespace varmex::io
