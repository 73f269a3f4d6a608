// Test support: price base file images laid out byte by byte, independently of the
// readers, for the tests of the loading, the conversion and the migration.
#pragma once

#include <cstdint>
#include <vector>

#include "io/coding.h"

namespace varmex::pricebase::testing {

struct TestEntry {
  int32_t code = 0;
  int32_t value = 0;
  int32_t supplier = 0;
};

// A price base of `blocks` blocks of 512 zero bytes. With a header, block 1 starts
// with -1 and names `blocks` as the last data block.
class PriceBaseImage {
 public:
  PriceBaseImage(int blocks, bool withHeader) : bytes_(static_cast<size_t>(blocks) * 512, 0) {
    if (withHeader) {
      io::StoreI32(bytes_.data(), -1);
      io::StoreI16(bytes_.data() + 4, static_cast<int16_t>(blocks));
    }
  }
  // Entry `index` (0..42) of `block`: 12 bytes at 12 x index; the 43rd entry (index
  // 42) takes only the code and the price, in the block's last 8 bytes.
  PriceBaseImage& Put(int block, int index, TestEntry e) {
    uint8_t* at = At(block, index);
    io::StoreI32(at, e.code);
    io::StoreI32(at + 4, e.value);
    if (index < 42) io::StoreI32(at + 8, e.supplier);
    return *this;
  }
  TestEntry Get(int block, int index) const { return EntryIn(bytes_, block, index); }
  std::vector<uint8_t>& bytes() { return bytes_; }

  // Entry `index` of `block` in any price base image.
  static TestEntry EntryIn(const std::vector<uint8_t>& file, int block, int index) {
    const uint8_t* at = file.data() + static_cast<size_t>(block - 1) * 512 + index * 12;
    return {io::LoadI32(at), io::LoadI32(at + 4), index < 42 ? io::LoadI32(at + 8) : 0};
  }

 private:
  uint8_t* At(int block, int index) {
    return bytes_.data() + static_cast<size_t>(block - 1) * 512 + static_cast<size_t>(index) * 12;
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace varmex::pricebase::testing
