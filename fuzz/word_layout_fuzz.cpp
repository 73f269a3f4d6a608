// Word-layout look-up and removal over arbitrary block contents: no read past a block
// or the caller's buffer, no endless walk.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/keyed_store.h"
#include "store/verify.h"
#include "store/word_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varmex;
  static platform::FakePlatform fake;
  if (size < 4) return 0;
  const int32_t n = 1 + data[0] % 5;
  const int16_t keyLength = data[1] % 2 == 0 ? 4 : 6;
  const size_t capacity = data[2];
  std::vector<uint8_t> key(data + 3, data + 3 + (size - 3 < 6 ? size - 3 : 6));
  key.resize(6, 0);
  std::vector<uint8_t> image(static_cast<size_t>(n) * 512, 0);
  if (size > 9)
    std::memcpy(image.data(), data + 9, size - 9 < image.size() ? size - 9 : image.size());
  fake.AddFile("w.dat", image);
  io::CloseAllUnits();
  if (io::OpenUnit(1, "w.dat", 512) != 0) return 0;
  store::ResetLegacyBlockLimit();

  std::vector<uint8_t> buffer(static_cast<size_t>(keyLength) + capacity);
  std::memcpy(buffer.data(), key.data(), static_cast<size_t>(keyLength));
  const store::LegacyReadResult r = store::LegacyKeyedRead(buffer, keyLength, n, 1, 0);
  if (r.length < 0 || static_cast<size_t>(r.length) > buffer.size()) __builtin_trap();
  (void)store::VerifyWordLayoutImage(image, n, keyLength);
  store::RemoveLegacyRecord(key, keyLength, n, 1);
  // Removal only ever rewrites blocks that exist.
  if (fake.Bytes("w.dat")->size() != image.size()) __builtin_trap();
  io::CloseAllUnits();
  return 0;
}
