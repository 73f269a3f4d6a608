// Estimate records read by key from a dev.dat of arbitrary bytes (either layout, as
// its block 1 tells), and article lines parsed from arbitrary record bytes. Each read
// ends with one of its statuses and its message; no entry comes from outside the
// record.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "grupdev/estimate_reader.h"
#include "store/block_file_builder.h"

using namespace varmex;

namespace {

// Keys of block-file first pieces with a 6-byte key.
std::vector<std::vector<uint8_t>> BlockFileKeys(std::span<const uint8_t> image, size_t limit) {
  std::vector<std::vector<uint8_t>> keys;
  for (size_t off = 512; off + 512 <= image.size() && keys.size() < limit; off += 512) {
    const uint8_t* block = image.data() + off;
    for (int d = 1; d <= 253 && keys.size() < limit; d += block[2 * d - 2] + 1) {
      const uint8_t flags = block[2 * d - 1];
      if (flags == 0) break;
      if ((flags & 0xDF) == 0x46) keys.emplace_back(block + 2 * d, block + 2 * d + 6);
    }
  }
  return keys;
}

size_t MostLines(size_t recordLength) { return recordLength < 104 ? 0 : (recordLength - 104) / 36; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 19)) return 0;
  const std::span<const uint8_t> input(data, size);

  // The input itself as one delivered record.
  for (bool leaveOut : {false, true}) {
    const auto items = grupdev::ParseArticleLines(input, leaveOut);
    fuzz::Check(items.size() <= MostLines(size), "more entries than whole lines");
  }

  fuzz::Scene scene;
  scene.AddFile("dev.dat", input);
  const int16_t unit = scene.Open("dev.dat");
  int32_t n = fuzz::WholeBlocks(size);
  const bool blockFile =
      size >= 512 && store::HeaderBlockCount(std::span<const uint8_t, 512>(data, 512)) > 0;
  if (blockFile) n = store::HeaderBlockCount(std::span<const uint8_t, 512>(data, 512));
  std::vector<std::vector<uint8_t>> keys =
      blockFile ? BlockFileKeys(input, 6) : fuzz::LegacyKeys(input, 6, 6);
  keys.push_back({'A', 'B', 'S', 'E', 'N', 'T'});

  grupdev::RecordReader reader;
  for (const auto& key : keys) {
    const std::string_view k(reinterpret_cast<const char*>(key.data()), key.size());
    for (bool leaveOut : {true, false}) {
      const size_t messagesBefore = scene.os.messages.size();
      const grupdev::EstimateItems r = reader.ReadEstimateItems(scene.os, unit, n, k, leaveOut);
      fuzz::Check(r.status >= 0 && r.status <= 2, "unknown read status");
      fuzz::Check(r.items.size() <= MostLines(32767), "more entries than a record can hold");
      const size_t shown = scene.os.messages.size() - messagesBefore;
      fuzz::Check(shown == (r.status == 0 ? 0u : 1u),
                  "a failed read must show exactly one message");
      if (r.status == 1) {
        fuzz::Check(scene.os.messages.back().text.rfind("Deviz negasit", 0) == 0,
                    "wrong not-found message");
      }
      if (r.status == 2) {
        fuzz::Check(scene.os.messages.back().text == "Eroare citire DEV.DAT!",
                    "wrong read-error message");
      }
    }
  }
  fuzz::Check(scene.Bytes("dev.dat").size() == size &&
                  (size == 0 || std::memcmp(scene.Bytes("dev.dat").data(), data, size) == 0),
              "reading changed dev.dat");
  return 0;
}
