// The price table: one price base file brought into memory for the pricing of a group.
//
// A price base "bazNNN.dat" is a direct-access file of 512-byte blocks. Block 1 either
// starts with the marker -1 and, at offset 4, the 16-bit number of the last data block
// (the data blocks are then 2..last), or it is already data (the blocks 1..127 are then
// data). A data block holds 42 entries of 12 bytes and 8 bytes more:
//
//   | code i32 | price i32 | supplier i32 |  x 42  | code i32 | price i32 |
//   0          4           8           12 ...     504        508        512
//
// The last 8 bytes are read as a 43rd entry without a supplier. A negative code is an
// empty entry; a code of 0 ends the block. A price v >= 0 is the price itself, v < 0
// stands for -v x 10; |supplier| / 1000000 is a supplier number (0: none).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varmex::grupdev {

struct PriceEntry {
  int32_t code = 0;
  int32_t value = 0;
  int32_t supplier = 0;
};

struct PriceTable {
  std::vector<PriceEntry> entries;  // in file order, codes expected ascending
  int16_t base = 0;                 // the base held, 0 = none
};

enum PriceBaseStatus : int16_t {
  kPriceBaseLoaded = 0,
  kPriceBaseFailed = 1,
};

// The file name of base n: "baz" + n in three digits with leading zeros + ".dat".
std::string PriceBaseFileName(int16_t n);

// Loads base n from `directory` into `table`, unless it is the base held. Base 0 is
// never read: it leaves an empty table holding no base. Failures (shown to the user)
// leave the table empty.
int16_t LoadPriceBase(PriceTable& table, std::string_view directory, int16_t n);

// The table becomes empty and holds no base.
void ResetPriceBaseCache(PriceTable& table);

struct LookupResult {
  double price = -1.0;
  int32_t reference = 0;  // supplier number + 1000, 0 = none
};

// Binary search of the material code among the table's codes.
LookupResult PriceBaseLookup(const PriceTable& table, int32_t material);

}  // namespace varmex::grupdev
