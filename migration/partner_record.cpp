// The partner record of terti.dat and the default supplier (drawn in partner_record.h).
#include "migration/partner_record.h"

#include <array>
#include <string>

#include "installer/messages.h"
#include "io/coding.h"
#include "store/keyed_store.h"

namespace varmex::migration {
namespace {

constexpr size_t kNameOffset = 16;
constexpr size_t kNameLength = 60;
constexpr size_t kEntriesOffset = 220;
constexpr size_t kEntrySize = 30;
constexpr size_t kEntryCount = 6;
constexpr size_t kFlagOffset = 400;

// Puts `text`, the status in three characters and a closing NUL into the field.
void SetDiagnostic(DiagnosticField& message, const char* text, int16_t status) {
  std::string value = text + io::FormatRight(status, 3);
  value.push_back('\0');
  message.Assign(value);
}

}  // namespace

int16_t ReadPartnerRecord(int16_t unit, int32_t blockCount, PartnerRecord record,
                          DiagnosticField& message) {
  message.Assign("");
  const store::ReadResult r = store::KeyedRead(record, kPartnerKeyLength, blockCount, unit,
                                               store::HashSelector::kVariableLength,
                                               static_cast<int32_t>(kPartnerRecordSize));
  if (r.status == store::kKeyedDone) return kPartnerRead;
  if (r.status == store::kKeyedNotFound) return kPartnerNotFound;
  SetDiagnostic(message, "** Citire eronata TERTI.DAT: ", r.status);
  return kPartnerReadFailed;
}

int16_t WritePartnerRecord(int16_t unit, int32_t blockCount, PartnerRecord record,
                           DiagnosticField& message) {
  message.Assign("");
  const store::WriteResult w = store::KeyedWrite(record, kPartnerKeyLength, blockCount, unit,
                                                 store::HashSelector::kVariableLength);
  if (w.status == store::kKeyedDone) return kPartnerWritten;
  SetDiagnostic(message, "** Scriere eronata in TERTI.DAT: ", w.status);
  return kPartnerWriteFailed;
}

void BuildDefaultSupplier(PartnerRecord record) {
  std::span<uint8_t> r(record);
  io::StoreText(r, 0, kPartnerRecordSize, "");
  io::StoreI32(r, 0, kDefaultSupplierCode);
  io::StoreText(r, kNameOffset, kNameLength, "Furnizor implicit");
  for (size_t i = 0; i < kEntryCount; ++i) io::StoreI32(r, kEntriesOffset + i * kEntrySize, 0);
  io::StoreI16(r, kFlagOffset, 1);
}

bool EnsureDefaultSupplier(platform::Platform& os, int16_t unit, int32_t blockCount) {
  std::array<uint8_t, kPartnerRecordSize> record{};
  DiagnosticField message;
  io::StoreI32(record.data(), kDefaultSupplierCode);
  if (ReadPartnerRecord(unit, blockCount, record, message) == kPartnerRead) return true;
  // Not found and unreadable alike: a fresh default supplier replaces whatever the
  // store holds under the code.
  BuildDefaultSupplier(record);
  if (WritePartnerRecord(unit, blockCount, record, message) != kPartnerWritten) {
    installer::ShowError(os, "Eroare generare [Furnizor provizoriu]!");
    return false;
  }
  return true;
}

}  // namespace varmex::migration
