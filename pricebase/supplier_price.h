// The supplier price record of furnmat.dat, as the price base conversion writes it and
// the GRUPDEV pricing brings older records up to it. Key: supplier and material.
//
//   0          4          8       12      16     18            36            86    136
//   +----------+----------+-------+-------+------+-------------+-------------+-----+
//   | supplier | material | date  | price |  0   | 18 blanks   | 50 blanks   | 0.. |
//   +----------+----------+-------+-------+------+-------------+-------------+-----+
//    i32        i32        i32     i32     i16                                zeros
//
// The older form is the first 16 bytes alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "io/coding.h"

namespace varmex::pricebase {

inline constexpr int16_t kSupplierPriceKeyLength = 8;
inline constexpr size_t kSupplierPriceRecordSize = 136;
inline constexpr int32_t kOldSupplierPriceRecordSize = 16;

inline constexpr size_t kSupplierOfRecord = 0;
inline constexpr size_t kMaterialOfRecord = 4;
inline constexpr size_t kDateOfRecord = 8;
inline constexpr size_t kPriceOfRecord = 12;

using SupplierPriceRecord = std::span<uint8_t, kSupplierPriceRecordSize>;

// Sets the key of a supplier price record.
inline void SetSupplierPriceKey(SupplierPriceRecord record, int32_t supplier, int32_t material) {
  io::StoreI32(record.data() + kSupplierOfRecord, supplier);
  io::StoreI32(record.data() + kMaterialOfRecord, material);
}

// Writes the current form's empty fields after the first 16 bytes: a 16-bit 0, the
// two blank texts and zeros to the end. The first 16 bytes stay as they are.
inline void FillSupplierPriceTail(SupplierPriceRecord record) {
  std::memset(record.data() + 16, 0, kSupplierPriceRecordSize - 16);
  std::memset(record.data() + 18, ' ', 18);
  std::memset(record.data() + 36, ' ', 50);
}

}  // namespace varmex::pricebase
