#include "bench/workload.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "io/unit_file.h"
#include "platform/native.h"
#include "store/block_file.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::bench {

int EntryCells(const Shape& shape) { return 1 + (shape.recordLength + 1) / 2; }

int64_t RecordsForFill(const Shape& shape, int32_t blocks, int fillPercent) {
  if (blocks < 2 || fillPercent <= 0) return 0;
  const int64_t cells = static_cast<int64_t>(blocks - 1) * store::kBlockCells;
  return cells * fillPercent / 100 / EntryCells(shape);
}

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

RecordSet MakeRecords(const Shape& shape, size_t resident, size_t fresh, uint64_t seed) {
  Rng rng(seed);
  std::set<Bytes> keys;
  RecordSet out;
  auto make = [&]() {
    Bytes record(static_cast<size_t>(shape.recordLength));
    for (;;) {
      for (int i = 0; i < shape.keyLength; ++i)
        record[static_cast<size_t>(i)] = static_cast<uint8_t>(rng.Next());
      if (keys.insert(Bytes(record.begin(), record.begin() + shape.keyLength)).second) break;
    }
    for (size_t i = static_cast<size_t>(shape.keyLength); i < record.size(); ++i) {
      record[i] = static_cast<uint8_t>(rng.Next());
    }
    return record;
  };
  out.resident.reserve(resident);
  for (size_t i = 0; i < resident; ++i) out.resident.push_back(make());
  out.fresh.reserve(fresh);
  for (size_t i = 0; i < fresh; ++i) out.fresh.push_back(make());
  return out;
}

int64_t BuildBlockFile(const std::string& path, int32_t blocks, int16_t keyLength,
                       const std::vector<Bytes>& records) {
  if (!WriteWholeFile(path, store::EmptyBlockFileImage(blocks))) return -1;
  const int16_t unit = io::FindFreeUnit();
  if (io::OpenUnit(platform::NativePlatform(), unit, path, store::kBlockBytes) != 0) return -1;
  int64_t stored = 0;
  for (const Bytes& r : records) {
    if (store::KeyedWrite(r, keyLength, blocks, unit, store::HashSelector::kVariableLength)
            .status != store::kKeyedDone)
      break;
    ++stored;
  }
  io::CloseUnit(unit);
  return stored;
}

double MeasuredFill(std::span<const uint8_t> image) {
  const size_t blocks = image.size() / store::kBlockBytes;
  if (blocks < 2) return 0;
  uint64_t live = 0;
  for (size_t b = 1; b < blocks; ++b) {
    std::span<const uint8_t, store::kBlockBytes> block(image.data() + b * store::kBlockBytes,
                                                       store::kBlockBytes);
    for (const store::BlockEntry& e : store::BlockEntries(block)) {
      if (e.IsEnd()) break;
      if (e.IsLive()) live += static_cast<uint64_t>(e.cells);
    }
  }
  return static_cast<double>(live) / static_cast<double>((blocks - 1) * store::kBlockCells);
}

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace varmex::bench
