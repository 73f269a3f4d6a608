// Places records of the older word layout where the word-layout look-up finds them.
//
// The look-up hashes a key to a home block and walks blocks from there, N wrapping to
// 1. In each block it walks the entries (key words, length word L, data) and stops for
// good at a first key word of 0, the end of the block's data; a block whose entries run
// past word 255 - h (h = key length / 2) is passed and the walk goes on in the next
// block. So a record is placed in the first block of its path that still has room,
// its pieces following one another, and every block it leaves behind for the next
// piece is filled up to its end. Blocks only fill up, so what was findable stays so.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <vector>

namespace varmex::gencollection {

// The home block of the word layout, 1..N (an independent rendering of the hash).
int32_t WordLayoutHomeBlock(std::span<const uint8_t> key, int keyLength, int32_t n);

class WordLayoutWriter {
 public:
  // `reserveBlock1`: block 1 holds something else (the OBI header) that the look-up
  // passes over; nothing is placed there.
  WordLayoutWriter(int32_t blocks, int keyLength, bool reserveBlock1 = false);

  // Places `record` (key in front, even length). `splitHint` is asked, before each
  // piece that could take all that remains, whether to cut it shorter anyway (gives
  // records in several pieces inside one block). Throws std::runtime_error when the
  // record cannot be placed within `maxPath` blocks of its home block.
  // Gives the byte offsets in the file of the record's pieces.
  std::vector<size_t> Place(std::span<const uint8_t> record,
                            const std::function<bool()>& splitHint = {});

  int32_t blocks() const { return blocks_; }
  // The file: N blocks of 512 bytes.
  std::vector<uint8_t>& bytes() { return bytes_; }
  int32_t longestPath() const { return longestPath_; }

  static constexpr int32_t kMaxPath = 150;

 private:
  int32_t blocks_;
  int keyLength_;
  int h_;
  std::vector<uint8_t> bytes_;
  std::vector<int32_t> next_;  // per block: the first free word (1..257)
  int32_t longestPath_ = 0;
};

}  // namespace varmex::gencollection
