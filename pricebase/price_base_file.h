// The price base file "bazNNN.dat": its name, where its data blocks lie, and the
// entries of a data block. The loading of a base for the GRUPDEV pricing, the price
// base conversion and the copying of the old collection all take the format from here.
//
// A direct-access file of 512-byte blocks. Block 1 is either a header or already data:
//
//   header:   | -1 i32 | last data block i16 | not used |    data blocks: 2 .. last
//             0        4                     6          12
//   data:     | anything but -1 | ...                         data blocks: 1 .. 127
//
// A data block holds 42 whole entries of 12 bytes, then 8 bytes that hold the code and
// the price of a 43rd entry, whose supplier field would lie past the block:
//
//   0      4       8          12   ...   492      504    508     512
//   +------+-------+----------+--  ...  -+--------+------+-------+
//   | code | price | supplier |   x 42   |        | code | price |
//   +------+-------+----------+--  ...  -+--------+------+-------+
//
// A negative code marks an empty entry; a code of 0 ends the entries of its block. The
// 43rd entry is read without a supplier (0). A price v >= 0 is the price itself, v < 0
// stands for -v x 10; |supplier| / 1000000 is a supplier number (0: none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "database/data_file.h"
#include "io/record_file.h"
#include "platform/platform.h"

namespace varmex::pricebase {

// The bases a collection may hold: baz001.dat to baz999.dat.
inline constexpr int kFirstPriceBase = 1;
inline constexpr int kLastPriceBase = 999;

inline constexpr size_t kPriceBaseBlockSize = io::kBlockBytes;
using PriceBaseBlock = std::span<uint8_t, kPriceBaseBlockSize>;
using ConstPriceBaseBlock = std::span<const uint8_t, kPriceBaseBlockSize>;

// Block 1 as far as it is read to find the data blocks.
inline constexpr size_t kHeadBytes = 12;
inline constexpr size_t kMarkerOffset = 0;
inline constexpr size_t kLastDataBlockOffset = 4;
inline constexpr int32_t kHeaderMarker = -1;
inline constexpr int32_t kLastBlockWithoutHeader = 127;

// Entries of a data block.
inline constexpr size_t kEntrySize = 12;
inline constexpr size_t kCodeOffset = 0;
inline constexpr size_t kPriceOffset = 4;
inline constexpr size_t kSupplierOffset = 8;
inline constexpr size_t kWholeEntries = 42;
inline constexpr size_t kTailEntry = kWholeEntries;  // index of the 43rd entry
inline constexpr size_t kEntriesPerBlock = kWholeEntries + 1;

struct PriceBaseEntry {
  int32_t code = 0;
  int32_t value = 0;     // the price value
  int32_t supplier = 0;  // the supplier field; 0 for the 43rd entry
};

// "baz" + the number in three digits with leading zeros + ".dat". A number outside
// 0..999 does not fit the three-character field, which is then filled with
// asterisks ("baz***.dat"), as every number field of the suite is.
std::string PriceBaseFileName(int number);

// Opens base `number` of `directory` through the data-file opening on `os`, never ending the
// program; with showMessages a failure is shown. The unit is kNoUnit when not opened.
database::OpenResult OpenPriceBase(platform::Platform& os, std::string_view directory, int number,
                                   bool showMessages);

// The data blocks of an open base, from the head of its block 1.
struct DataBlockRange {
  int32_t first = 1;
  int32_t last = kLastBlockWithoutHeader;
};
DataBlockRange DataBlocksOf(std::span<const uint8_t, kHeadBytes> head);

// Reads the head of block 1 of the base open on `unit` into `range`; the read's status.
int ReadDataBlockRange(int16_t unit, DataBlockRange& range);

// Entry `index` (0..42) of a data block.
PriceBaseEntry EntryAt(ConstPriceBaseBlock block, size_t index);

// Stores the price value and the supplier field of whole entry `index` (0..41).
void StoreEntryValues(PriceBaseBlock block, size_t index, int32_t value, int32_t supplier);

// Calls visit(index, entry) for every used entry of a data block in order: empty
// entries are passed over, and a zero code ends the walk.
template <typename Visit>
void ForEachUsedEntry(ConstPriceBaseBlock block, Visit&& visit) {
  for (size_t index = 0; index < kEntriesPerBlock; ++index) {
    const PriceBaseEntry entry = EntryAt(block, index);
    if (entry.code == 0) return;
    if (entry.code > 0) visit(index, entry);
  }
}

}  // namespace varmex::pricebase
