// The word-layout look-up, the removal of a word-layout record and the layout's
// structural check over arbitrary blocks. Every input is used twice:
//  - as a file image, with the block count both as the file gives it and far beyond
//    the file's end (a damaged OBI header can give any count): each call must end with
//    one of its statuses; the removal may change nothing but first key words of the
//    key's own entries, which become 0x7F7F; the file never grows;
//  - as a small request: a block count, key length, capacity and key taken from its
//    first bytes, the rest as the blocks: no read past a block or the caller's buffer,
//    no endless walk, and the removal rewrites only blocks that exist.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"
#include "store/verify.h"

using namespace varmex;

namespace {

constexpr std::string_view kFile = "dev.dat";

// One reader's look-ups: its walk budget widens at the first 6-byte key, for the rest.
void LookUpAll(int16_t unit, int32_t n, const std::vector<std::vector<uint8_t>>& keys) {
  std::vector<uint8_t> record(32767);
  store::LegacyBudget budget;
  for (const auto& key : keys) {
    std::memcpy(record.data(), key.data(), key.size());
    const auto kl = static_cast<int16_t>(key.size());
    const store::LegacyReadResult whole = store::LegacyKeyedRead(record, kl, n, unit, budget);
    fuzz::Check(whole.status == 0 || whole.status == 1 || whole.status == 4,
                "unknown look-up status");
    fuzz::Check(whole.length >= 0 && whole.length <= 32767, "impossible length");
    fuzz::Check(std::memcmp(record.data(), key.data(), key.size()) == 0,
                "the look-up overwrote the key");
    const store::LegacyReadResult small =
        store::LegacyKeyedRead(record, kl, n, unit, budget, kl + 6);
    fuzz::Check(small.length <= kl + 6, "the look-up went past its capacity");
  }
}

void RemoveAndCheck(fuzz::Scene& scene, int16_t unit, int32_t n, std::span<const uint8_t> key) {
  const std::vector<uint8_t> before = scene.Bytes(kFile);
  const int16_t status = store::RemoveLegacyRecord(key, static_cast<int16_t>(key.size()), n, unit);
  fuzz::Check(status == 0 || status == 2 || status == 4, "unknown removal status");
  const std::vector<uint8_t>& after = scene.Bytes(kFile);
  fuzz::Check(after.size() == before.size(), "the removal changed the size of the file");
  bool changed = false;
  for (size_t i = 0; i + 1 < after.size(); i += 2) {
    if (after[i] == before[i] && after[i + 1] == before[i + 1]) continue;
    changed = true;
    fuzz::Check(io::LoadI16(after.data() + i) == store::kRemovedKeyWord,
                "the removal wrote something else");
    fuzz::Check(before[i] == key[0] && before[i + 1] == key[1],
                "the removal marked another key's entry");
  }
  if (after.size() % 2 == 1)
    fuzz::Check(after.back() == before.back(), "the removal changed the last byte");
  // (A key whose first word is already the removal mark matches removed entries and
  // marks them again without a change.)
  if (io::LoadI16(key.data()) != store::kRemovedKeyWord) {
    fuzz::Check(changed == (status == 0), "the removal status does not tell what it did");
  }
}

void RunRequest(const uint8_t* data, size_t size) {
  if (size < 4) return;
  fuzz::Scene scene;
  const int32_t n = 1 + data[0] % 5;
  const int16_t keyLength = data[1] % 2 == 0 ? 4 : 6;
  const size_t capacity = data[2];
  std::vector<uint8_t> key(data + 3, data + 3 + (size - 3 < 6 ? size - 3 : 6));
  key.resize(6, 0);
  std::vector<uint8_t> image(static_cast<size_t>(n) * 512, 0);
  if (size > 9)
    std::memcpy(image.data(), data + 9, size - 9 < image.size() ? size - 9 : image.size());
  scene.AddFile("w.dat", image);
  const int16_t unit = scene.Open("w.dat");

  std::vector<uint8_t> buffer(static_cast<size_t>(keyLength) + capacity);
  std::memcpy(buffer.data(), key.data(), static_cast<size_t>(keyLength));
  const store::LegacyReadResult r = store::LegacyKeyedRead(buffer, keyLength, n, unit, 0);
  fuzz::Check(r.length >= 0 && static_cast<size_t>(r.length) <= buffer.size(),
              "the look-up delivered more than its buffer holds");
  (void)store::VerifyLegacyImage(image, n, keyLength);
  store::RemoveLegacyRecord(key, keyLength, n, unit);
  fuzz::Check(scene.Bytes("w.dat").size() == image.size(),
              "the removal changed the size of the file");
}

void RunOnImage(const uint8_t* data, size_t size) {
  fuzz::Scene scene;
  const std::span<const uint8_t> input(data, size);
  scene.AddFile(kFile, input);
  const int16_t unit = scene.Open(kFile);

  std::vector<std::vector<uint8_t>> keys = fuzz::LegacyKeys(input, 6, 6);
  for (auto& k : fuzz::LegacyKeys(input, 4, 3)) keys.push_back(std::move(k));
  const std::vector<uint8_t> marker = {'#', '-', '[', '*', ']', '2'};

  // The block count of the file itself, then one far past its end.
  const int32_t fileBlocks = fuzz::WholeBlocks(size);
  const int32_t farBlocks = 0x7FFFFFFF - (size > 0 ? data[0] : 0);
  for (int32_t n : {fileBlocks, farBlocks}) {
    LookUpAll(unit, n, keys);
    RemoveAndCheck(scene, unit, n, marker);
    if (!keys.empty()) RemoveAndCheck(scene, unit, n, keys[keys.size() / 2]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  RunOnImage(data, size);
  RunRequest(data, size);
  return 0;
}
