#include "testing/legacy_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "io/coding.h"
#include "store/block_file.h"
#include "store/legacy_layout.h"

namespace varmex::store::testing {
namespace {

// The first word after the block's entries, as the look-up walks them; 257 when an
// entry cannot be trusted (the look-up gives the block up there).
int EndOfEntries(std::span<const uint8_t, kBlockBytes> block, int keyLength) {
  int end = 1;
  for (const LegacyEntry& e : LegacyEntries(block, keyLength)) {
    if (e.kind == LegacyEntryKind::kEndOfData) return e.word;
    if (!e.IsUsable()) return kBlockCells + 1;
    end = e.Next();
  }
  return end;
}

}  // namespace

LegacyWriter::LegacyWriter(int32_t n, int keyLength)
    : LegacyWriter(EmptyLegacyImage(n), n, keyLength) {}

LegacyWriter::LegacyWriter(std::vector<uint8_t> image, int32_t n, int keyLength)
    : n_(n < 0 ? 0 : n),
      keyLength_(keyLength),
      bytes_(std::move(image)),
      firstFree_(static_cast<size_t>(n_) + 1, 0) {
  bytes_.resize(std::max(bytes_.size(), static_cast<size_t>(n_) * kBlockBytes), 0);
}

void LegacyWriter::Reserve(int32_t b) {
  if (b >= 1 && b <= n_) FirstFreeWord(b) = kBlockCells + 1;
}

int& LegacyWriter::FirstFreeWord(int32_t b) {
  int& word = firstFree_[static_cast<size_t>(b)];
  if (word == 0) {
    word = EndOfEntries(std::span<const uint8_t, kBlockBytes>(
                            bytes_.data() + static_cast<size_t>(b - 1) * kBlockBytes, kBlockBytes),
                        keyLength_);
  }
  return word;
}

LegacyPlacement LegacyWriter::Place(std::span<const uint8_t> record, const LegacyCutRule& rule) {
  LegacyPlacement result;
  const int kl = keyLength_;
  if (n_ <= 0 || kl < 4 || kl % 2 != 0 || record.size() < static_cast<size_t>(kl) + 2 ||
      record.size() % 2 != 0) {
    return result;
  }
  const int h = kl / 2;
  const int lastStart = LastLegacyEntryWord(kl);
  const int32_t maxPath = rule.maxPath > 0 ? std::min(rule.maxPath, n_) : n_;
  // What each block of the walk held before this record, put back if it does not fit
  // (a copy of the whole image per record would make a large file quadratic to write).
  struct Saved {
    int32_t block;
    int firstFree;
    std::array<uint8_t, kBlockBytes> bytes;
  };
  std::vector<Saved> saved;
  size_t wordsLeft = (record.size() - static_cast<size_t>(kl)) / 2;
  size_t placed = static_cast<size_t>(kl);  // bytes of the record placed so far
  int32_t b = LegacyHomeBlock(record, kl, n_);
  for (int32_t path = 1; path <= maxPath; ++path, b = NextBlock(b, n_)) {
    longestPath_ = std::max(longestPath_, path);
    int& d = FirstFreeWord(b);
    if (d <= lastStart) {
      Saved& s = saved.emplace_back();
      s.block = b;
      s.firstFree = d;
      std::memcpy(s.bytes.data(), bytes_.data() + static_cast<size_t>(b - 1) * kBlockBytes,
                  kBlockBytes);
    }
    while (d <= lastStart) {
      size_t take = std::min(static_cast<size_t>(kBlockCells - d - h), wordsLeft);
      if (rule.maxPieceData > 0) {
        take = std::min(take, static_cast<size_t>(std::max(rule.maxPieceData, 2) / 2));
      }
      if (take == wordsLeft && take >= 2 && rule.halve && rule.halve()) take /= 2;
      const bool last = take == wordsLeft;
      const size_t at = static_cast<size_t>(b - 1) * kBlockBytes + static_cast<size_t>(d - 1) * 2;
      uint8_t* entry = bytes_.data() + at;
      const int length = kl + 2 + static_cast<int>(take) * 2;
      std::memcpy(entry, record.data(), static_cast<size_t>(kl));
      io::StoreI16(entry + kl, static_cast<int16_t>(last ? -length : length));
      std::memcpy(entry + kl + 2, record.data() + placed, take * 2);
      placed += take * 2;
      wordsLeft -= take;
      result.blocks.push_back(b);
      result.offsets.push_back(at);
      d += length / 2;
      if (last) {
        result.placed = true;
        return result;
      }
      if (rule.maxPieceData > 0 && d <= kBlockCells) {
        // The look-up leaves a block only at its end or at an entry it cannot trust:
        // the rest of the block becomes a removed entry, and the next piece goes on in
        // the next block.
        if (d <= lastStart) {
          uint8_t* filler = bytes_.data() + static_cast<size_t>(b - 1) * kBlockBytes +
                            static_cast<size_t>(d - 1) * 2;
          io::StoreI16(filler, kRemovedKeyWord);
          io::StoreI16(filler + kl, static_cast<int16_t>(2 * (kBlockCells + 1 - d)));
        }
        d = kBlockCells + 1;
      }
    }
  }
  for (const Saved& s : saved) {
    std::memcpy(bytes_.data() + static_cast<size_t>(s.block - 1) * kBlockBytes, s.bytes.data(),
                kBlockBytes);
    firstFree_[static_cast<size_t>(s.block)] = s.firstFree;
  }
  return result;
}

std::vector<uint8_t> EmptyLegacyImage(int32_t n) {
  return std::vector<uint8_t>(static_cast<size_t>(n < 0 ? 0 : n) * kBlockBytes, 0);
}

LegacyPlacement PlaceLegacyRecord(std::span<uint8_t> image, int32_t n, std::span<const uint8_t> key,
                                  std::span<const uint8_t> data, int maxPieceData) {
  if (n <= 0 || image.size() < static_cast<size_t>(n) * kBlockBytes) return {};
  std::vector<uint8_t> record(key.begin(), key.end());
  record.insert(record.end(), data.begin(), data.end());
  LegacyWriter writer(std::vector<uint8_t>(image.begin(), image.end()), n,
                      static_cast<int>(key.size()));
  LegacyCutRule rule;
  rule.maxPieceData = maxPieceData;
  LegacyPlacement placement = writer.Place(record, rule);
  if (placement.placed) std::copy(writer.bytes().begin(), writer.bytes().end(), image.begin());
  return placement;
}

}  // namespace varmex::store::testing
