// Reading the article lines of one estimate of dev.dat, from either record layout.
//
// An estimate record is its 6-character key followed by header fields up to byte 104,
// then article lines of 36 bytes each:
//
//   record:  | key (6) | ...header... | line 1 (36) | line 2 (36) | ... | partial tail |
//            0                         104          140           176
//
//   line:    | number i16 | code i32 | value i32 | 6 x i32 further values | flags i16 |
//            0            2          6           10                       34
//
// A line whose number is 0 is empty. A line that follows another, has value 0 and
// repeats its number and code continues it: its values at 22, 26 and 30 replace those
// of the line before. Formula lines (codes 2000000001..2000009999) and lines whose value
// is -1100000000 or less are left out on request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "store/keyed_store.h"

namespace varmex::grupdev {

// Layout of a data file as told by its block 1.
enum FileKind : int16_t {
  kFileKindUnreadable = 0,  // block 1 could not be read (not remembered)
  kFileKindLegacy = 1,
  kFileKindBlockFile = 2,
};

// The longest record a keyed look-up of the data files delivers.
inline constexpr size_t kLongestRecord = 32767;

struct ByKeyResult {
  int16_t status = 0;  // keyed store statuses; 5 when the file kind is unreadable
  int32_t length = 0;  // bytes delivered, key included
};

struct ItemEntry {
  int32_t code = 0;
  int32_t value = 0;                 // the line value (offset 6)
  std::array<int32_t, 6> further{};  // offsets 10, 14, ..., 30
  int16_t flags = 0;                 // offset 34
};

enum EstimateReadStatus : int16_t {
  kEstimateRead = 0,
  kEstimateNotFound = 1,
  kEstimateReadError = 2,
};

// The error report mode that shows failures in a message box.
inline constexpr int16_t kReportByMessageBox = 3;

struct EstimateItems {
  int16_t status = kEstimateRead;
  std::vector<ItemEntry> items;  // empty after a failed read
};

// Reads records of the data files open for one GRUPDEV generation run, which holds
// one reader from its start to its end: units are handed out again once files close,
// so what a unit held in an earlier run says nothing about this one.
class RecordReader {
 public:
  RecordReader();

  // The layout of the file open on `unit`. Up to five units are remembered; a sixth is
  // asked again from its block 1 at every call.
  int16_t FileKindOf(int16_t unit);

  // Reads the record whose key stands in front of `record` from the file on `unit`,
  // through the word-layout look-up or the block-file look-up as the file's kind says.
  // Never delivers more than record.size() bytes.
  ByKeyResult ReadByKey(std::span<uint8_t> record, int16_t keyLength, int32_t blockCount,
                        int16_t unit);

  // Reads the estimate `key` (6 characters) and gives its article entries in line
  // order. Failures are shown with ShowError on `os` ("Deviz negasit KEY!", "Eroare citire
  // DEV.DAT!") when `reportMode` is kReportByMessageBox.
  EstimateItems ReadEstimateItems(platform::Platform& os, int16_t devUnit, int32_t devBlocks,
                                  std::string_view key, bool leaveOutFormulas,
                                  int16_t reportMode = kReportByMessageBox);

  // The walk budget of this reader's word-layout look-ups, shared by every look-up of
  // the run made through it or with it.
  store::LegacyBudget& legacyBudget() { return legacy_; }

 private:
  struct KindSlot {
    int16_t unit = 0;  // 0: free
    int16_t kind = 0;
  };
  std::array<KindSlot, 5> kinds_{};
  std::vector<uint8_t> estimate_;  // the longest record an estimate may have
  store::LegacyBudget legacy_;
};

// The article entries of an estimate record already in memory (`record` is exactly the
// delivered bytes, key included).
std::vector<ItemEntry> ParseArticleLines(std::span<const uint8_t> record, bool leaveOutFormulas);

}  // namespace varmex::grupdev
