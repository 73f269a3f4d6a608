// make_block_file: writes a block file of N blocks holding R records, placed by the
// store's own KeyedWrite (hash selector 5), for the tools' benchmark
// (scripts/bench-tools.sh):
//
//   make_block_file OUT BLOCKS RECORDS [SEED]
//
// Records have the shape of Prefman.dat's local prices: 24 bytes, of which a 10-byte
// key drawn from SEED (every key different). The file is built in memory and written
// once; with 10 records a block it is about half full.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace {

uint64_t Mix(uint64_t x) {  // a bijection: different numbers, different keys
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: make_block_file OUT BLOCKS RECORDS [SEED]\n");
    return 7;
  }
  const long blocks = std::strtol(argv[2], nullptr, 10);
  const long long records = std::strtoll(argv[3], nullptr, 10);
  const uint64_t seed = argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 1;
  if (blocks < 2 || blocks > 0x7FFFFFFF || records < 0) {
    std::fprintf(stderr, "make_block_file: bad block or record count\n");
    return 7;
  }
  varmex::platform::FakePlatform memory;
  memory.AddFile("f.dat", varmex::store::EmptyBlockFileImage(static_cast<int32_t>(blocks)));
  varmex::io::OpenUnit(memory, 1, "f.dat", 512);
  for (long long i = 0; i < records; ++i) {
    uint8_t record[24];
    varmex::io::StoreI32(record, static_cast<int32_t>(Mix(seed * 0x100000000ull + i)));
    varmex::io::StoreI32(record + 4, static_cast<int32_t>(Mix(seed * 0x100000000ull + i) >> 32));
    varmex::io::StoreI16(record + 8, static_cast<int16_t>(i >> 32));
    for (int b = 10; b < 24; ++b) record[b] = static_cast<uint8_t>(i * 7 + b);
    const auto r = varmex::store::KeyedWrite(record, 10, static_cast<int32_t>(blocks), 1,
                                             varmex::store::HashSelector::kVariableLength);
    if (r.status != varmex::store::kKeyedDone) {
      std::fprintf(stderr, "make_block_file: record %lld not placed (status %d)\n", i, r.status);
      return 1;
    }
  }
  varmex::io::CloseAllUnits();
  const std::vector<uint8_t>& image = *memory.Bytes("f.dat");
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  if (!out.flush()) {
    std::fprintf(stderr, "make_block_file: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
