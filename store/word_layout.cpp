// Look-up and deletion of records in word-layout files (layout drawn in word_layout.h).
// Both walk the key's probe path block by block with a buffer of their own; neither
// trusts a length word: an implausible one, or an entry that would cross the end of
// its block, ends the examination of that block.
#include "store/word_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "io/coding.h"
#include "io/unit_file.h"
#include "store/block_file.h"
#include "store/keyed_store.h"

namespace varmex::store {
namespace {

int32_t& BlockLimit() {
  static int32_t limit = kLegacyFirstBlockLimit;
  return limit;
}

bool ValidLegacyKey(std::span<const uint8_t> key, int keyLength) {
  return keyLength >= 4 && keyLength % 2 == 0 && keyLength <= kBlockBytes - 4 &&
         static_cast<size_t>(keyLength) <= key.size();
}

int16_t Word(std::span<const uint8_t, kBlockBytes> block, int w) {
  return io::LoadI16(block.data() + 2 * w - 2);
}

// Where the entry at word d stands, as both walks see it.
enum class EntryCheck { kEndOfData, kBadLength, kPastBlock, kUsable };
EntryCheck CheckEntry(std::span<const uint8_t, kBlockBytes> block, int d, int keyLength,
                      int& length) {
  if (Word(block, d) == 0) return EntryCheck::kEndOfData;
  length = Word(block, d + keyLength / 2);
  const int magnitude = length < 0 ? -length : length;
  if (magnitude > kBlockBytes || magnitude < keyLength + 4) return EntryCheck::kBadLength;
  if (2 * d - 2 + magnitude > kBlockBytes) return EntryCheck::kPastBlock;
  return EntryCheck::kUsable;
}

bool KeyWordsMatch(std::span<const uint8_t, kBlockBytes> block, int d, std::span<const uint8_t> key,
                   int keyLength) {
  return std::memcmp(block.data() + 2 * d - 2, key.data(), static_cast<size_t>(keyLength)) == 0;
}

}  // namespace

int32_t LegacyHomeBlock(std::span<const uint8_t> key, int keyLength, int32_t n) {
  if (n <= 0 || key.size() < 4) return 0;
  const int32_t k0 = io::LoadI16(key.data());
  const uint32_t k1 = io::LoadU16(key.data() + 2);
  int32_t x = static_cast<int32_t>((static_cast<uint32_t>(k0) << 16) | k1);
  if (keyLength == 6 && key.size() >= 6) {
    x = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(static_cast<int32_t>(
                                                            io::LoadI16(key.data() + 4))));
  }
  // |x|, with -2147483648 taken as 2147483648 so that the block lies in 1..N.
  const int64_t magnitude = x < 0 ? -static_cast<int64_t>(x) : x;
  return static_cast<int32_t>(magnitude % n) + 1;
}

// Blocks a failed read of block b stands for. Past the end of the file every block
// from b up to N is missing as well (a damaged header can give any N): they all count
// as tried at once and the walk goes on with block 1, as it would after trying each.
int64_t BlocksMissingFrom(int status, int32_t b, int32_t n) {
  return status == io::kIoPastEnd ? static_cast<int64_t>(n) - b + 1 : 1;
}

int32_t LegacyBlockLimit() { return BlockLimit(); }
void ResetLegacyBlockLimit() { BlockLimit() = kLegacyFirstBlockLimit; }

LegacyReadResult LegacyKeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n,
                                 int16_t file, int32_t capacity) {
  LegacyReadResult r;
  r.status = kLegacyNotFound;
  if (n <= 0 || !ValidLegacyKey(record, keyLength)) return r;
  const int kl = keyLength;
  if (kl == 6) BlockLimit() = kLegacyLongKeyBlockLimit;
  const int32_t limit = BlockLimit();
  const int h = kl / 2;
  const int64_t cap = capacity <= 0
                          ? static_cast<int64_t>(record.size())
                          : std::min<int64_t>(capacity, static_cast<int64_t>(record.size()));
  std::array<uint8_t, kBlockBytes> key{};
  std::memcpy(key.data(), record.data(), static_cast<size_t>(kl));
  const std::span<const uint8_t> keyView(key.data(), static_cast<size_t>(kl));

  static BlockBytes buffer;
  int64_t gathered = 0;  // data bytes delivered after the key
  auto give_up = [&]() {
    r.status = gathered == 0 ? kLegacyNotFound : kLegacyIncomplete;
    r.length = static_cast<int32_t>(gathered);
    return r;
  };
  int32_t b = LegacyHomeBlock(keyView, kl, n) - 1;
  int32_t blocksRead = 0;
  int64_t failedInARow = 0;
  for (;;) {
    b = NextBlock(b, n);
    if (const int status = io::ReadRecord(file, b, buffer); status != 0) {
      // A file none of whose blocks can be read is given up after N tries in a row.
      failedInARow += BlocksMissingFrom(status, b, n);
      if (failedInARow >= n) return give_up();
      if (status == io::kIoPastEnd) b = n;
      continue;
    }
    failedInARow = 0;
    if (++blocksRead == limit) return give_up();
    int d = 1;
    while (d <= 255 - h) {
      int length = 0;
      const EntryCheck check = CheckEntry(buffer, d, kl, length);
      if (check == EntryCheck::kEndOfData) return give_up();
      if (check != EntryCheck::kUsable) break;
      const int magnitude = length < 0 ? -length : length;
      if (KeyWordsMatch(buffer, d, keyView, kl)) {
        const int64_t data = magnitude - kl - 2;
        const int64_t room = cap - kl - gathered;
        const int64_t take = std::clamp<int64_t>(data, 0, std::max<int64_t>(room, 0));
        std::memcpy(record.data() + kl + gathered, buffer.data() + 2 * d + 2 * h,
                    static_cast<size_t>(take));
        gathered += take;
        if (take < data) {
          // The caller's buffer is full: what fits is delivered, the record is not whole.
          r.status = kLegacyIncomplete;
          r.length = static_cast<int32_t>(gathered);
          return r;
        }
        if (length < 0) {
          r.status = kLegacyDone;
          r.length = static_cast<int32_t>(gathered + kl);
          return r;
        }
      }
      d += magnitude / 2;
    }
  }
}

int16_t RemoveLegacyRecord(std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                           int16_t file) {
  if (n <= 0 || !ValidLegacyKey(key, keyLength)) return kLegacyIncomplete;
  const int kl = keyLength;
  const int e = kl / 2;
  const int32_t limit = kl == 6 ? kLegacyLongKeyBlockLimit : kLegacyFirstBlockLimit;
  std::array<uint8_t, kBlockBytes> keyCopy{};
  std::memcpy(keyCopy.data(), key.data(), static_cast<size_t>(kl));
  const std::span<const uint8_t> keyView(keyCopy.data(), static_cast<size_t>(kl));

  BlockBytes buffer{};
  bool found = false;
  int32_t visits = 0;
  int64_t failedInARow = 0;
  int32_t b = LegacyHomeBlock(keyView, kl, n) - 1;
  for (;;) {
    b = NextBlock(b, n);
    if (const int status = io::ReadRecord(file, b, buffer); status != 0) {
      failedInARow += BlocksMissingFrom(status, b, n);
      if (failedInARow >= n) break;
      if (status == io::kIoPastEnd) b = n;
      continue;
    }
    failedInARow = 0;
    if (++visits == limit) break;
    int s = 1;
    bool finished = false;
    while (s <= 255 - e) {
      int length = 0;
      const EntryCheck check = CheckEntry(buffer, s, kl, length);
      if (check == EntryCheck::kEndOfData) {
        finished = true;
        break;
      }
      if (check == EntryCheck::kBadLength) break;
      // An entry that crosses the end of the block is still marked when it matches
      // (its key word lies inside the block); the walk of the block ends with it.
      const int magnitude = length < 0 ? -length : length;
      if (KeyWordsMatch(buffer, s, keyView, kl)) {
        io::StoreI16(buffer.data() + 2 * s - 2, kRemovedKeyWord);
        found = true;
        if (io::WriteRecord(file, b, buffer) != 0) return kLegacyWriteError;
        if (length < 0) return kLegacyDone;
      }
      s += magnitude / 2;
    }
    if (finished) break;
  }
  return found ? kLegacyDone : kLegacyIncomplete;
}

}  // namespace varmex::store
