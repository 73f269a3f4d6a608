// Test support: records of an old collection laid out byte by byte, independently of
// the readers: estimates of dev.dat, investments of obi.dat and norms.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "io/coding.h"

namespace varmex::grupdev::testing {

struct TestLine {
  int16_t number = 0;
  int32_t code = 0;
  int32_t value = 1;
  int32_t seed = 0;  // the further values are seed, seed + 1, ...
};

// An estimate: the 6-character key, the estimate's own fields up to offset 104 filled
// with 0x55, one 36-byte article line per entry of `lines` (number, code, value, six
// further values, flag word 3), then `tail` bytes of 0x11.
inline std::vector<uint8_t> EstimateRecord(std::string_view key, const std::vector<TestLine>& lines,
                                           size_t tail = 0) {
  std::vector<uint8_t> r(104, 0x55);
  std::memcpy(r.data(), key.data(), 6);
  for (const TestLine& l : lines) {
    uint8_t b[36];
    io::StoreI16(b, l.number);
    io::StoreI32(b + 2, l.code);
    io::StoreI32(b + 6, l.value);
    for (int k = 0; k < 6; ++k) io::StoreI32(b + 10 + 4 * k, l.seed + k);
    io::StoreI16(b + 34, 3);
    r.insert(r.end(), b, b + 36);
  }
  r.insert(r.end(), tail, 0x11);
  return r;
}

// The estimate's group: investment at 62, object at 64, price base field at 72.
inline void SetEstimateGroup(std::vector<uint8_t>& estimate, int16_t investment, int16_t object,
                             int32_t priceField) {
  io::StoreI16(estimate.data() + 62, investment);
  io::StoreI16(estimate.data() + 64, object);
  io::StoreI32(estimate.data() + 72, priceField);
}

// An investment of obi.dat: key (number, 0), code at 16, the 30-character name at 32.
inline std::vector<uint8_t> InvestmentRecord(int16_t number, int32_t code, std::string_view name) {
  std::vector<uint8_t> r(62, 0);
  io::StoreI16(r.data(), number);
  io::StoreI32(r.data() + 16, code);
  std::memset(r.data() + 32, ' ', 30);
  std::memcpy(r.data() + 32, name.data(), name.size() < 30 ? name.size() : 30);
  return r;
}

// A norm: the 4-byte code, zeros up to offset 106, then one 8-byte recipe line per
// entry of `lines` (the line code, then 4 zero bytes).
inline std::vector<uint8_t> NormRecord(int32_t code, const std::vector<int32_t>& lines) {
  std::vector<uint8_t> r(106 + 8 * lines.size(), 0);
  io::StoreI32(r.data(), code);
  for (size_t k = 0; k < lines.size(); ++k) io::StoreI32(r.data() + 106 + 8 * k, lines[k]);
  return r;
}

}  // namespace varmex::grupdev::testing
