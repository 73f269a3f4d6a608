// Helpers shared by the store's tests: an in-memory block file on unit 1 and keys
// chosen for their home block.
#pragma once

#include <string>
#include <vector>

#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::store::testing {

inline constexpr const char* kTestFile = "D:\\test.dat";

class MemoryBlockFile {
 public:
  explicit MemoryBlockFile(int32_t n, int16_t unit = 1) : n_(n), unit_(unit) {
    fake_.AddFile(kTestFile, EmptyBlockFileImage(n));
    io::OpenUnit(fake_, unit_, kTestFile, kBlockBytes);
  }
  ~MemoryBlockFile() {
    io::CloseAllUnits();
    io::SetIoFaultHook(nullptr);
  }
  std::vector<uint8_t>& image() { return *fake_.Bytes(kTestFile); }
  std::span<uint8_t, kBlockBytes> Block(int32_t b) {
    return std::span<uint8_t, kBlockBytes>(
        image().data() + static_cast<size_t>(b - 1) * kBlockBytes, kBlockBytes);
  }
  // Puts an entry of `cells` cells with the given flags and key at `cell` of block b.
  void PutEntry(int32_t b, int cell, int cells, uint8_t flags, std::string_view key = "") {
    auto block = Block(b);
    block[static_cast<size_t>(2 * cell - 2)] = static_cast<uint8_t>(cells - 1);
    block[static_cast<size_t>(2 * cell - 1)] = flags;
    for (size_t i = 0; i < key.size(); ++i)
      block[static_cast<size_t>(2 * cell) + i] = static_cast<uint8_t>(key[i]);
  }
  int32_t n() const { return n_; }
  int16_t unit() const { return unit_; }
  platform::FakePlatform& fake() { return fake_; }

 private:
  platform::FakePlatform fake_;
  int32_t n_;
  int16_t unit_;
};

// A record: the key followed by `dataBytes` bytes of a pattern drawn from `seed`.
inline std::vector<uint8_t> MakeRecord(std::string_view key, size_t dataBytes, unsigned seed) {
  std::vector<uint8_t> r(key.begin(), key.end());
  for (size_t i = 0; i < dataBytes; ++i)
    r.push_back(static_cast<uint8_t>((seed * 131 + i * 7 + (i >> 8)) & 0xFF));
  return r;
}

// A key of `length` decimal digits whose home block is `home` ("" when there is none).
inline std::string KeyWithHome(int32_t n, int32_t home, size_t length, int start = 0) {
  for (int i = start; i < 1000000; ++i) {
    std::string key = std::to_string(i);
    if (key.size() > length) break;
    key.insert(0, length - key.size(), '0');
    const std::vector<uint8_t> k(key.begin(), key.end());
    if (HomeBlock(k, static_cast<int16_t>(length), n, store::HashSelector::kVariableLength) == home)
      return key;
  }
  return "";
}

}  // namespace varmex::store::testing
