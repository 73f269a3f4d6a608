// Look-up and deletion of records in word-layout files (layout drawn in legacy_layout.h).
// Both walk the key's probe path block by block along one shared walk, each with a
// buffer of its own; neither trusts a length word: an implausible one, or an entry that
// would cross the end of its block, ends the examination of that block.
#include "store/legacy_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "io/coding.h"
#include "io/unit_file.h"
#include "store/block_file.h"
#include "store/keyed_store.h"

namespace varmex::store {
namespace {

bool ValidLegacyKey(std::span<const uint8_t> key, int keyLength) {
  return keyLength >= 4 && keyLength % 2 == 0 && keyLength <= kBlockBytes - 4 &&
         static_cast<size_t>(keyLength) <= key.size();
}

bool KeyWordsMatch(std::span<const uint8_t, kBlockBytes> block, int d, std::span<const uint8_t> key,
                   int keyLength) {
  return std::memcmp(block.data() + 2 * d - 2, key.data(), static_cast<size_t>(keyLength)) == 0;
}

// Blocks a failed read of block b stands for. Past the end of the file every block
// from b up to N is missing as well (a damaged header can give any N): they all count
// as tried at once and the walk goes on with block 1, as it would after trying each.
int64_t BlocksMissingFrom(int status, int32_t b, int32_t n) {
  return status == io::kIoPastEnd ? static_cast<int64_t>(n) - b + 1 : 1;
}

// What a visit of a matching entry tells the walk.
enum class Visit { kGoOn, kStop };

// The walk that the look-up and the removal share: the key's probe path from its home
// block, N wrapping to 1, each block read into `buffer` and its entries walked from
// word 1. `onMatch(b, entry)` is called for every entry whose key words are the key's,
// also for one that runs past the block (the walk of that block ends with it). The
// walk ends when onMatch says so, at the end of a block's data, when `limit` blocks
// have been read, or when N blocks in a row could not be read.
template <typename OnMatch>
void WalkProbePath(std::span<const uint8_t> key, int keyLength, int32_t n, int16_t file,
                   int32_t limit, BlockBytes& buffer, OnMatch onMatch) {
  int32_t b = LegacyHomeBlock(key, keyLength, n) - 1;
  int32_t blocksRead = 0;
  int64_t failedInARow = 0;
  for (;;) {
    b = NextBlock(b, n);
    if (const int status = io::ReadRecord(file, b, buffer); status != 0) {
      // A file none of whose blocks can be read is given up after N tries in a row.
      failedInARow += BlocksMissingFrom(status, b, n);
      if (failedInARow >= n) return;
      if (status == io::kIoPastEnd) b = n;
      continue;
    }
    failedInARow = 0;
    if (++blocksRead == limit) return;
    for (const LegacyEntry& e : LegacyEntries(buffer, keyLength)) {
      if (e.kind == LegacyEntryKind::kEndOfData) return;
      if (e.kind == LegacyEntryKind::kBadLength) break;
      if (KeyWordsMatch(buffer, e.word, key, keyLength) && onMatch(b, e) == Visit::kStop) return;
    }
  }
}

}  // namespace

LegacyEntry LegacyEntryAt(std::span<const uint8_t, kBlockBytes> block, int word, int keyLength) {
  LegacyEntry e;
  e.word = word;
  const int16_t firstKeyWord = io::LoadI16(block.data() + 2 * word - 2);
  if (firstKeyWord == 0) return e;
  e.removed = firstKeyWord == kRemovedKeyWord;
  e.length = io::LoadI16(block.data() + 2 * (word + keyLength / 2) - 2);
  if (e.Magnitude() > kBlockBytes || e.Magnitude() < keyLength + 4) {
    e.kind = LegacyEntryKind::kBadLength;
  } else if (2 * word - 2 + e.Magnitude() > kBlockBytes) {
    e.kind = LegacyEntryKind::kPastBlock;
  } else {
    e.kind = LegacyEntryKind::kUsable;
  }
  return e;
}

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

LegacyReadResult LegacyKeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n,
                                 int16_t file, int32_t capacity) {
  LegacyBudget budget;
  return LegacyKeyedRead(record, keyLength, n, file, budget, capacity);
}

LegacyReadResult LegacyKeyedRead(std::span<uint8_t> record, int16_t keyLength, int32_t n,
                                 int16_t file, LegacyBudget& budget, int32_t capacity) {
  LegacyReadResult r;
  r.status = kLegacyNotFound;
  if (n <= 0 || !ValidLegacyKey(record, keyLength)) return r;
  const int kl = keyLength;
  if (kl == 6) budget.blocks = kLegacyLongKeyBlockLimit;
  const int64_t cap = capacity <= 0
                          ? static_cast<int64_t>(record.size())
                          : std::min<int64_t>(capacity, static_cast<int64_t>(record.size()));
  std::array<uint8_t, kBlockBytes> key{};
  std::memcpy(key.data(), record.data(), static_cast<size_t>(kl));
  const std::span<const uint8_t> keyView(key.data(), static_cast<size_t>(kl));

  BlockBytes buffer;
  int64_t gathered = 0;  // data bytes delivered after the key
  bool settled = false;
  WalkProbePath(keyView, kl, n, file, budget.blocks, buffer, [&](int32_t, const LegacyEntry& e) {
    if (!e.IsUsable()) return Visit::kGoOn;  // the block's walk ends with it
    const int64_t data = e.Magnitude() - kl - 2;
    const int64_t room = cap - kl - gathered;
    const int64_t take = std::clamp<int64_t>(data, 0, std::max<int64_t>(room, 0));
    std::memcpy(record.data() + kl + gathered, buffer.data() + 2 * e.word + kl,
                static_cast<size_t>(take));
    gathered += take;
    if (take < data) {
      // The caller's buffer is full: what fits is delivered, the record is not whole.
      r.status = kLegacyIncomplete;
      r.length = static_cast<int32_t>(gathered);
      settled = true;
      return Visit::kStop;
    }
    if (!e.IsLastPiece()) return Visit::kGoOn;
    r.status = kLegacyDone;
    r.length = static_cast<int32_t>(gathered + kl);
    settled = true;
    return Visit::kStop;
  });
  if (!settled) {
    r.status = gathered == 0 ? kLegacyNotFound : kLegacyIncomplete;
    r.length = static_cast<int32_t>(gathered);
  }
  return r;
}

static_assert(LegacyBudget{}.blocks == kLegacyFirstBlockLimit);

int16_t RemoveLegacyRecord(std::span<const uint8_t> key, int16_t keyLength, int32_t n,
                           int16_t file) {
  if (n <= 0 || !ValidLegacyKey(key, keyLength)) return kLegacyIncomplete;
  const int kl = keyLength;
  const int32_t limit = kl == 6 ? kLegacyLongKeyBlockLimit : kLegacyFirstBlockLimit;
  std::array<uint8_t, kBlockBytes> keyCopy{};
  std::memcpy(keyCopy.data(), key.data(), static_cast<size_t>(kl));
  const std::span<const uint8_t> keyView(keyCopy.data(), static_cast<size_t>(kl));

  BlockBytes buffer{};
  bool found = false;
  int16_t status = kLegacyIncomplete;
  WalkProbePath(keyView, kl, n, file, limit, buffer, [&](int32_t b, const LegacyEntry& e) {
    // An entry that crosses the end of the block is still marked (its key word lies
    // inside the block); the walk of the block ends with it.
    io::StoreI16(buffer.data() + 2 * e.word - 2, kRemovedKeyWord);
    found = true;
    if (io::WriteRecord(file, b, buffer) != 0) {
      status = kLegacyWriteError;
      return Visit::kStop;
    }
    if (!e.IsLastPiece()) return Visit::kGoOn;
    status = kLegacyDone;
    return Visit::kStop;
  });
  if (status == kLegacyIncomplete && found) status = kLegacyDone;
  return status;
}

}  // namespace varmex::store
