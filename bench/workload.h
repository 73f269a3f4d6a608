// Workloads of the store benchmarks: record shapes, seeded record sets, block files
// filled to a share of their blocks, and the fill actually reached.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varmex::bench {

using Bytes = std::vector<uint8_t>;

// A record shape: key length and whole record length (key included), both in bytes.
struct Shape {
  const char* name;
  int16_t keyLength;
  int32_t recordLength;
};
// Local price records (10-byte key, 24 bytes) and supplier price records (8-byte key,
// 136 bytes), the two record kinds the migration writes most.
inline constexpr Shape kPrefmanShape{"prefman", 10, 24};
inline constexpr Shape kFurnmatShape{"furnmat", 8, 136};

// Cells (two bytes each) that one record stored whole covers in a block: its size
// and flags bytes, then the key and data rounded up to whole cells.
int EntryCells(const Shape& shape);

// Records of the shape that cover `fillPercent` percent of the cells of the data
// blocks 2..blocks of a file (block 1 holds the header).
int64_t RecordsForFill(const Shape& shape, int32_t blocks, int fillPercent);

// splitmix64: small, fast and the same on every machine.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // A value in 0..bound-1 (bound > 0).
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

// Records with distinct keys: `resident` ones meant to be in the file and `fresh`
// ones whose keys are not.
struct RecordSet {
  std::vector<Bytes> resident;
  std::vector<Bytes> fresh;
};
RecordSet MakeRecords(const Shape& shape, size_t resident, size_t fresh, uint64_t seed);

// Writes an empty block file of `blocks` blocks at `path` and stores the records in it
// through the keyed store, in order, until one does not fit. Returns how many were
// stored (the rest are left out of the file), or -1 when the file cannot be written.
int64_t BuildBlockFile(const std::string& path, int32_t blocks, int16_t keyLength,
                       const std::vector<Bytes>& records);

// Share of the cells of blocks 2..N covered by live pieces (fillers and deleted
// entries not counted), from a file image.
double MeasuredFill(std::span<const uint8_t> image);

Bytes ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace varmex::bench
