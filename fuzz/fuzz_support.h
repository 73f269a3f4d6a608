// Shared pieces of the fuzz targets. Every input gets a fresh in-memory platform (so
// nothing a previous input left behind, messages included, piles up), the process-wide
// state of the readers put back as at the start of a run, and helpers that lay the
// input out as a data file and open it on a unit as the program would.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/legacy_layout.h"

namespace varmex::fuzz {

// Where the targets keep their files.
inline constexpr std::string_view kDataDir = "D:\\kedro\\Varmex";

inline std::string InDataDir(std::string_view name) {
  return std::string(kDataDir) + "\\" + std::string(name);
}

// A fault the target found that is not a crash: report it and stop the fuzzer the way
// a sanitizer would, so that the input is kept.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// An input read as a program, byte by byte; zeros once it is used up.
class Program {
 public:
  Program(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool empty() const { return pos_ >= size_; }
  void Take(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = Byte();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class Scene {
 public:
  Scene() {
    io::CloseAllUnits();
    io::SetIoFaultHook(nullptr);
    os.AddDirectory("D:\\kedro");
    os.AddDirectory(kDataDir);
  }
  ~Scene() { io::CloseAllUnits(); }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  void AddFile(std::string_view name, std::span<const uint8_t> bytes) {
    os.AddFile(InDataDir(name), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  std::vector<uint8_t>& Bytes(std::string_view name) { return *os.Bytes(InDataDir(name)); }

  // Opens a file of the data directory on the lowest free unit, as the program does.
  int16_t Open(std::string_view name, int recordLength = 512) {
    const int16_t unit = io::FindFreeUnit();
    Check(io::OpenUnit(os, unit, InDataDir(name), recordLength) == io::kIoOk,
          "a file laid out could not be opened");
    return unit;
  }

  platform::FakePlatform os;
};

// Blocks of a file image, rounded down; at least 1 so that the readers get a usable N.
inline int32_t WholeBlocks(size_t bytes) {
  const size_t n = bytes / 512;
  return n == 0 ? 1 : static_cast<int32_t>(n > 0x7FFFFFF ? 0x7FFFFFF : n);
}

// Keys found in a word-layout image: the key bytes of entries met walking each block
// from its first word, as many as `limit`. They steer the look-ups to records that
// exist, while the image's damage decides what the look-ups meet on the way.
inline std::vector<std::vector<uint8_t>> LegacyKeys(std::span<const uint8_t> image, int keyLength,
                                                    size_t limit) {
  std::vector<std::vector<uint8_t>> keys;
  const int h = keyLength / 2;
  for (size_t off = 0; off + 512 <= image.size() && keys.size() < limit; off += 512) {
    const uint8_t* block = image.data() + off;
    for (int d = 1; d <= 255 - h && keys.size() < limit;) {
      if (io::LoadI16(block + 2 * d - 2) == 0) break;
      const int length = io::LoadI16(block + 2 * (d + h) - 2);
      const int magnitude = length < 0 ? -length : length;
      if (magnitude > 512 || magnitude < keyLength + 4) break;
      keys.emplace_back(block + 2 * d - 2, block + 2 * d - 2 + keyLength);
      d += magnitude / 2;
    }
  }
  return keys;
}

}  // namespace varmex::fuzz
