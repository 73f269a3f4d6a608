// Opening the suite's data files on the lowest free unit, the header check of block 1,
// and the OBI header of obi.dat with the block counts of the estimate files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/record_file.h"
#include "platform/platform.h"

namespace varmex::database {

struct OpenResult {
  int16_t unit = -1;       // -1 when the file is not open
  int32_t blockCount = 0;  // from a valid block-file header, else 0
};

// The fourth and fifth arguments of OpenDataFile, named at the call:
//   OpenDataFile(os, "obi.dat", dir, kShowMessages, kNotFatal)
inline constexpr bool kShowMessages = true;  // failures are shown with ShowError
inline constexpr bool kNoMessages = false;   // failures are only reported by unit -1
inline constexpr int kNotFatal = 0;          // a failure does not end the program

// Opens through `os`, which also shows the messages. `directory` may end with or
// without a backslash and may be cut short by a NUL.
// With showMessages the failures are shown with ShowError; a nonzero fatalCode ends
// the program with that status after a failure.
OpenResult OpenDataFile(platform::Platform& os, std::string_view name, std::string_view directory,
                        bool showMessages, int fatalCode);

// The OBI header: block 1 of obi.dat, read whole. It holds the block counts of the
// five estimate files, which have no header of their own (the word layout has none):
//
//   byte 0    6        10       14       18       32        36         40        511
//      +-----+--------+--------+--------+--------+---------+----------+---------+
//      |     |  obi   |  dev   |  nor   |        |  tehno  |  norinc  |         |
//      +-----+--------+--------+--------+--------+---------+----------+---------+
//
// Each count is a signed 32-bit number; the other bytes are not read by this program.
inline constexpr size_t kObiHeaderBytes = io::kBlockBytes;
inline constexpr size_t kObiBlocksOffset = 6;
inline constexpr size_t kDevBlocksOffset = 10;
inline constexpr size_t kNorBlocksOffset = 14;
inline constexpr size_t kTehnoBlocksOffset = 32;
inline constexpr size_t kNorincBlocksOffset = 36;

struct ObiHeader {
  std::array<uint8_t, kObiHeaderBytes> bytes{};
  int32_t ObiBlocks() const;
  int32_t DevBlocks() const;
  int32_t NorBlocks() const;
  int32_t TehnoBlocks() const;
  int32_t NorincBlocks() const;
};

// Reads the OBI header of obi.dat open on `unit` into `header`, which the holder of the
// open data files keeps for as long as it needs the counts. 0 when read, 1 (after
// "** Eroare citire Header fisier OBI.DAT **") when not; `header` may then hold part of
// the block.
int16_t ReadObiHeader(platform::Platform& os, int16_t unit, ObiHeader& header);

}  // namespace varmex::database
