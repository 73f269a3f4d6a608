// Keyed operations and the structural check over arbitrary block contents: whatever
// the blocks hold, no operation may read or write outside a block or the caller's
// buffer, hang, or leave a record it answered 0 for unreadable.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/verify.h"

namespace {

using namespace varmex;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool empty() const { return pos_ >= size_; }
  void Take(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = Byte();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::FakePlatform fake;
  Input in(data, size);
  const int32_t n = 1 + in.Byte() % 6;
  std::vector<uint8_t> image = store::EmptyBlockFileImage(n);
  // Blocks 2..N: the input's bytes, run-length style so that short inputs make
  // structured blocks (a count byte, then that many bytes, the rest zero).
  for (int32_t b = 2; b <= n; ++b) {
    const size_t len = static_cast<size_t>(in.Byte()) * 2;
    in.Take(image.data() + static_cast<size_t>(b - 1) * 512, len > 512 ? 512 : len);
  }
  fake.AddFile("f.dat", image);
  io::CloseAllUnits();
  if (io::OpenUnit(1, "f.dat", 512) != 0) return 0;
  (void)store::VerifyBlockImage(image, n);

  for (int op = 0; op < 8 && !in.empty(); ++op) {
    const uint8_t kind = in.Byte();
    const int16_t keyLength = static_cast<int16_t>(1 + in.Byte() % 12);
    std::vector<uint8_t> record(static_cast<size_t>(keyLength) + in.Byte() * 4u);
    in.Take(record.data(), static_cast<size_t>(keyLength));
    for (size_t i = static_cast<size_t>(keyLength); i < record.size(); ++i)
      record[i] = static_cast<uint8_t>(i);
    switch (kind % 4) {
      case 0: {
        const store::WriteResult w = store::KeyedWrite(record, keyLength, n, 1, 5);
        if (w.status == store::kKeyedDone) {
          // A record just written reads back whole, unless the file was damaged in a
          // way that makes the look-up find an older first piece of the key.
          std::vector<uint8_t> back(record.size() + 4, 0);
          std::memcpy(back.data(), record.data(), static_cast<size_t>(keyLength));
          const store::ReadResult r = store::KeyedRead(back, keyLength, n, 1, 5, 0);
          if (r.status == store::kKeyedDone && r.block == w.block && r.unit == w.unit &&
              static_cast<size_t>(r.length) >= record.size() &&
              std::memcmp(back.data(), record.data(), record.size()) != 0) {
            __builtin_trap();
          }
        }
        break;
      }
      case 1: {
        const int32_t capacity = in.Byte() % 3 == 0 ? 0 : in.Byte();
        std::vector<uint8_t> buffer(static_cast<size_t>(keyLength) + in.Byte());
        std::memcpy(buffer.data(), record.data(), static_cast<size_t>(keyLength));
        const store::ReadResult r = store::KeyedRead(buffer, keyLength, n, 1, 5, capacity);
        if (r.length < 0 || static_cast<size_t>(r.length) > buffer.size()) __builtin_trap();
        break;
      }
      case 2:
        store::KeyedDelete(record, keyLength, n, 1, 5, in.Byte() % 2 == 0 ? 0 : 1 + in.Byte() % n);
        break;
      default:
        store::KeyedFind(record, keyLength, n, 1, 5);
        break;
    }
  }
  (void)store::VerifyBlockFileOnUnit(1, n);
  io::CloseAllUnits();
  return 0;
}
