// An open block file of keyed records as its owner holds it: the unit it is open on,
// its block count, the hash selector its keys go home by, how it grows when it fills,
// and the count of records it could not write. Reads, writes and deletes go through it;
// a write that finds the file full has the pieces it left removed, the file enlarged
// and is made again, and a write that lands after a crowded look-up has the file
// enlarged afterwards, both by the owner's grow function. Flush writes back whatever
// the block cache holds of the file and says how many records never reached the disk:
// those whose write failed at once and those whose blocks the cache had to give up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "store/keyed_store.h"

namespace varmex::io {
class WriteLedger;
}

namespace varmex::store {

class KeyedFile {
 public:
  // Makes the file larger; calls Reopened with its new unit and block count (also when
  // it fails, if the file was opened again). False when the file could not grow.
  using Grow = std::function<bool(KeyedFile& file)>;

  KeyedFile();
  KeyedFile(int16_t unit, int32_t blocks, HashSelector selector = HashSelector::kVariableLength);
  ~KeyedFile();
  KeyedFile(KeyedFile&&) noexcept;
  KeyedFile& operator=(KeyedFile&&) noexcept;

  int16_t unit() const { return unit_; }
  int32_t blocks() const { return blocks_; }
  HashSelector selector() const { return selector_; }
  void SetGrow(Grow grow) { grow_ = std::move(grow); }
  void Reopened(int16_t unit, int32_t blocks) {
    unit_ = unit;
    blocks_ = blocks;
  }

  // `record` holds the key and receives the record; capacity 0: the whole buffer.
  ReadResult Read(std::span<uint8_t> record, int16_t keyLength, int32_t capacity = 0) const;
  // Inserts or replaces the record, growing the file as described above. A write that
  // fails is counted among the records not written.
  WriteResult Write(std::span<const uint8_t> record, int16_t keyLength);
  int16_t Delete(std::span<const uint8_t> key, int16_t keyLength);

  // Writes the file's cached blocks back. The records not written since the file was
  // taken in hand, those of blocks given up by this flush or earlier included.
  int32_t Flush();
  // The same count without writing anything back.
  int32_t Unwritten() const;

 private:
  int16_t unit_ = -1;
  int32_t blocks_ = 0;
  HashSelector selector_ = HashSelector::kVariableLength;
  Grow grow_;
  std::unique_ptr<io::WriteLedger> unwritten_;
  WriteContext context_;  // kept from write to write for its room
};

}  // namespace varmex::store
