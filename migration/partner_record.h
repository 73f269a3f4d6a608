// The partner record of terti.dat, its two record operations, and the default
// supplier that the migration makes sure of.
//
//   offset  width  field
//        0      4  partner code, signed 32-bit (the key)
//        4     12  text
//       16     60  partner name
//       76     16  text
//       92     80  text
//      172     16  text (three fields of 16 up to 220)
//      220  6 x 30 six entries: signed 32-bit number, then 26 characters of text
//      400      2  flag word, signed 16-bit
//      402     78  text
//
// Only the code, the name and the flag word mean something to this program; the
// other fields are carried as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/fixed_text.h"
#include "platform/platform.h"

namespace varmex::migration {

inline constexpr size_t kPartnerRecordSize = 480;
inline constexpr int16_t kPartnerKeyLength = 4;
inline constexpr int32_t kDefaultSupplierCode = 2499;

enum PartnerReadStatus : int16_t {
  kPartnerRead = 0,
  kPartnerNotFound = 1,
  kPartnerReadFailed = 2,
};
enum PartnerWriteStatus : int16_t {
  kPartnerWritten = 0,
  kPartnerWriteFailed = 1,
};

using PartnerRecord = std::span<uint8_t, kPartnerRecordSize>;
using DiagnosticField = io::FixedText<80>;

// Reads the partner whose code is in the record's first 4 bytes. On a read error the
// message field holds "** Citire eronata TERTI.DAT: " and the store's status.
int16_t ReadPartnerRecord(int16_t unit, int32_t blockCount, PartnerRecord record,
                          DiagnosticField& message);

// Inserts or replaces the record under its code. On failure the message field holds
// "** Scriere eronata in TERTI.DAT: " and the store's status.
int16_t WritePartnerRecord(int16_t unit, int32_t blockCount, PartnerRecord record,
                           DiagnosticField& message);

// Fills `record` as the default supplier: code 2499, "Furnizor implicit", flag word 1,
// numbers 0, every other text blank.
void BuildDefaultSupplier(PartnerRecord record);

// Writes the default supplier unless a partner with its code can be read; a failed
// write is shown as "Eroare generare [Furnizor provizoriu]!". Returns true when the
// supplier exists afterwards.
bool EnsureDefaultSupplier(platform::Platform& os, int16_t unit, int32_t blockCount);

}  // namespace varmex::migration
