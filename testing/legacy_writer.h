// Test support and generators: writes records of the older word layout where the
// look-up finds them, for the store's tests, the tests of other folders and the
// generator of synthetic collections.
//
// The look-up hashes a key to a home block and walks blocks from there, N wrapping to
// 1. In each block it walks the entries and stops for good at a first key word of 0,
// the end of the block's data; a block whose entries reach past the last word an
// entry may start at is passed and the walk goes on in the next block. So a record is
// placed in the first block of its path that still has room, its pieces following one
// another, and every block it leaves behind for the next piece is filled up to its
// end. Blocks only fill up, so what was findable stays so.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace varmex::store::testing {

struct LegacyPlacement {
  bool placed = false;
  std::vector<int32_t> blocks;  // the block of each piece, in order
  std::vector<size_t> offsets;  // the byte offset in the file of each piece
};

// How a record is cut into pieces. Without a rule each piece takes all that fits in
// the rest of its block.
struct LegacyCutRule {
  // Data bytes a piece takes at most (0: no bound). A piece cut short this way is
  // followed by a removed entry filling its block; the next piece goes to the next
  // block.
  int maxPieceData = 0;
  // Asked before a piece that could take all that remains (two words or more): true
  // cuts it at half, and the next piece follows right behind it in the same block.
  std::function<bool()> halve;
  // Blocks of its probe path a record may use (0: N).
  int32_t maxPath = 0;
};

class LegacyWriter {
 public:
  // A file of N zero-filled blocks for keys of keyLength bytes (even, 4 or more).
  LegacyWriter(int32_t n, int keyLength);
  // A file that already holds entries: they stay, and each block's room starts after
  // them (a block whose entries cannot be walked has none).
  LegacyWriter(std::vector<uint8_t> image, int32_t n, int keyLength);

  // Nothing is placed in block b (block 1 of obi.dat holds the OBI header).
  void Reserve(int32_t b);

  // Places `record` (key in front, an even number of data bytes, at least 2).
  // `placed` is false, and nothing is written, when the record does not fit within
  // its path.
  LegacyPlacement Place(std::span<const uint8_t> record, const LegacyCutRule& rule = {});

  std::vector<uint8_t>& bytes() { return bytes_; }
  int32_t blocks() const { return n_; }
  // The longest probe path a record has needed so far, in blocks.
  int32_t longestPath() const { return longestPath_; }

 private:
  int& FirstFreeWord(int32_t b);

  int32_t n_;
  int keyLength_;
  std::vector<uint8_t> bytes_;
  std::vector<int> firstFree_;  // per block: the first free word (1..257), 0 not yet known
  int32_t longestPath_ = 0;
};

// Appends one record (key of key.size() bytes, data of an even number of bytes, at
// least 2) to an image of N blocks, each piece at most `maxPieceData` data bytes when
// that is not 0.
LegacyPlacement PlaceLegacyRecord(std::span<uint8_t> image, int32_t n, std::span<const uint8_t> key,
                                  std::span<const uint8_t> data, int maxPieceData = 0);

// An image of N zero-filled blocks.
std::vector<uint8_t> EmptyLegacyImage(int32_t n);

}  // namespace varmex::store::testing
