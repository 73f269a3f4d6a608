#include "tools/gencollection/word_layout_writer.h"

#include <algorithm>
#include <cstring>

#include "io/coding.h"

namespace varmex::gencollection {

int32_t WordLayoutHomeBlock(std::span<const uint8_t> key, int keyLength, int32_t n) {
  const int32_t k0 = io::LoadI16(key.data());
  const uint32_t k1 = io::LoadU16(key.data() + 2);
  uint32_t x = (static_cast<uint32_t>(k0) << 16) + k1;
  if (keyLength == 6) x += static_cast<uint32_t>(static_cast<int32_t>(io::LoadI16(key.data() + 4)));
  int64_t v = static_cast<int32_t>(x);
  if (v < 0) v = -v;
  return static_cast<int32_t>(v % n) + 1;
}

WordLayoutWriter::WordLayoutWriter(int32_t blocks, int keyLength, bool reserveBlock1)
    : blocks_(blocks),
      keyLength_(keyLength),
      h_(keyLength / 2),
      bytes_(static_cast<size_t>(blocks) * 512, 0),
      next_(static_cast<size_t>(blocks) + 1, 1) {
  if (reserveBlock1) next_[1] = 257;
}

std::vector<size_t> WordLayoutWriter::Place(std::span<const uint8_t> record,
                                            const std::function<bool()>& splitHint) {
  if (record.size() < static_cast<size_t>(keyLength_) + 2 || record.size() % 2 != 0) {
    throw std::runtime_error("word-layout record of bad length");
  }
  std::vector<size_t> pieces;
  const int32_t lastStart = 255 - h_;
  size_t dataWordsLeft = (record.size() - static_cast<size_t>(keyLength_)) / 2;
  size_t placed = static_cast<size_t>(keyLength_);  // bytes of the record placed so far
  int32_t b = WordLayoutHomeBlock(record, keyLength_, blocks_);
  for (int32_t path = 1;; ++path) {
    if (path > kMaxPath || path > blocks_) throw std::runtime_error("word-layout file too full");
    if (path > longestPath_) longestPath_ = path;
    int32_t& d = next_[static_cast<size_t>(b)];
    while (d <= lastStart) {
      const int32_t entryWords = std::min(257 - d, 256);
      const size_t room = static_cast<size_t>(entryWords - h_ - 1);
      size_t take = std::min(room, dataWordsLeft);
      const bool mayCut = take == dataWordsLeft && take >= 2 && splitHint && splitHint();
      if (mayCut) take = take / 2;
      const bool last = take == dataWordsLeft;
      uint8_t* entry =
          bytes_.data() + static_cast<size_t>(b - 1) * 512 + static_cast<size_t>(d - 1) * 2;
      pieces.push_back(static_cast<size_t>(entry - bytes_.data()));
      std::memcpy(entry, record.data(), static_cast<size_t>(keyLength_));
      const int32_t length = keyLength_ + 2 + static_cast<int32_t>(take) * 2;
      io::StoreI16(entry + keyLength_, static_cast<int16_t>(last ? -length : length));
      std::memcpy(entry + keyLength_ + 2, record.data() + placed, take * 2);
      placed += take * 2;
      dataWordsLeft -= take;
      d += length / 2;
      if (last) return pieces;
      // A piece that is not the last either fills the block or is followed by the
      // next piece right behind it: the look-up must not meet the end of data first.
    }
    b = b == blocks_ ? 1 : b + 1;
  }
}

}  // namespace varmex::gencollection
