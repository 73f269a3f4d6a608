// The handle of an open keyed file (declared in keyed_file.h).
#include "store/keyed_file.h"

#include "io/block_cache.h"
#include "io/unit_file.h"

namespace varmex::store {

KeyedFile::KeyedFile() : unwritten_(std::make_unique<io::WriteLedger>()) {}

KeyedFile::KeyedFile(int16_t unit, int32_t blocks, HashSelector selector)
    : unit_(unit),
      blocks_(blocks),
      selector_(selector),
      unwritten_(std::make_unique<io::WriteLedger>()) {}

KeyedFile::~KeyedFile() = default;
KeyedFile::KeyedFile(KeyedFile&&) noexcept = default;
KeyedFile& KeyedFile::operator=(KeyedFile&&) noexcept = default;

ReadResult KeyedFile::Read(std::span<uint8_t> record, int16_t keyLength, int32_t capacity) const {
  return KeyedRead(record, keyLength, blocks_, unit_, selector_, capacity);
}

WriteResult KeyedFile::Write(std::span<const uint8_t> record, int16_t keyLength) {
  io::CountedWrite counted(*unwritten_);
  context_.serving = counted.ticket();
  for (;;) {
    const WriteResult w = KeyedWrite(record, keyLength, blocks_, unit_, selector_, context_);
    if (w.status == kKeyedFull && grow_) {
      // A walk that ran out of blocks may have left the record's first pieces: they
      // would keep the file from being re-spread (a record that cannot be read whole).
      KeyedDelete(record, keyLength, blocks_, unit_, selector_, 0, counted.ticket());
      if (grow_(*this)) continue;
    }
    if (w.status != kKeyedDone) {
      counted.Failed();
    } else if (LandedCrowded(w) && grow_) {
      // The record is in; a crowded file is enlarged before its walks grow to the file
      // (one that cannot be stays as it is, record and all).
      grow_(*this);
    }
    return w;
  }
}

int16_t KeyedFile::Delete(std::span<const uint8_t> key, int16_t keyLength) {
  return KeyedDelete(key, keyLength, blocks_, unit_, selector_);
}

int32_t KeyedFile::Unwritten() const { return unwritten_->failed(); }

int32_t KeyedFile::Flush() {
  io::FlushUnit(unit_);
  return unwritten_->failed();
}

}  // namespace varmex::store
