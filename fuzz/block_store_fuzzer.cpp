// The keyed record operations and the structural check over arbitrary blocks. Every
// input is used twice:
//  - as a file image: whatever the blocks hold, every operation must end with one of
//    its statuses, within its block bound, without reading or writing outside a block
//    and without growing the file, and the walk of records in block order must agree
//    with KeyedRead on every record it meets. When the file is structurally sound before (the
//    store's own check passes), stronger promises hold: a record written with status 0
//    reads back byte for byte, a deleted one is gone, and the file is still sound;
//  - as a program: a few blocks built from the input's bytes after a fresh header, and
//    a sequence of writes, reads, deletes and look-ups with keys and capacities the
//    input chooses; no operation may overrun the caller's buffer, and a record just
//    written into a file sound before reads back as written (in a damaged one the
//    look-up or the gathering may meet older pieces of the key first). The
//    sequence runs as well on a twin of the file through a block cache of a few blocks,
//    which must answer alike and leave the same bytes.
#include <algorithm>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "io/block_cache.h"
#include "store/block_file.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/redistribute.h"
#include "store/verify.h"

using namespace varmex;

namespace {

constexpr std::string_view kFile = "furnmat.dat";
// Room for a few blocks: fewer than the largest file the programs make.
constexpr size_t kTinyCacheBytes = 3 * 1024;

// Keys of first pieces met walking the blocks (at most `limit`).
std::vector<std::vector<uint8_t>> FirstPieceKeys(std::span<const uint8_t> image, size_t limit) {
  std::vector<std::vector<uint8_t>> keys;
  for (size_t off = 0; off + 512 <= image.size() && keys.size() < limit; off += 512) {
    const uint8_t* block = image.data() + off;
    for (int d = 1; d <= 256 && keys.size() < limit;) {
      const uint8_t flags = block[2 * d - 1];
      if (flags == 0) break;
      const int kl = flags & 0x1F;
      // The header record of block 1 is not a record any caller names.
      const bool header = off == 0 && d == 1;
      if (!header && (flags & 0xC0) == 0x40 && kl > 0 && 2 * d + kl <= 512) {
        keys.emplace_back(block + 2 * d, block + 2 * d + kl);
      }
      d += block[2 * d - 2] + 1;
    }
  }
  return keys;
}

// The first N blocks of the image (a file longer than its N blocks is damaged as a
// whole, but the operations only ever see those N).
std::span<const uint8_t> FirstBlocks(const std::vector<uint8_t>& image, int32_t n) {
  return std::span<const uint8_t>(image).first(
      std::min(image.size(), static_cast<size_t>(n) * 512));
}

bool Sound(const std::vector<uint8_t>& image, int32_t n) {
  return n > 0 && image.size() >= static_cast<size_t>(n) * 512 &&
         store::VerifyBlockImage(FirstBlocks(image, n), n).ok();
}

// The walk of records in block order must tell of each first piece what KeyedRead of
// its key makes of it, reading only the blocks the file holds.
class WalkChecker : public store::RecordVisitor {
 public:
  WalkChecker(int16_t unit, int32_t n) : unit_(unit), n_(n) {}
  bool OnUnreadableBlock(int32_t, int) override { return true; }
  bool OnDamagedEntry(int32_t, int) override { return true; }
  bool OnRecord(const store::RecordSighting& s) override {
    if (s.key.empty() || ++checked_ > 8) return checked_ <= 8;
    std::vector<uint8_t> buffer(store::kMaxRecordLength, 0);
    std::copy(s.key.begin(), s.key.end(), buffer.begin());
    const std::vector<uint8_t> record(s.record.begin(), s.record.end());
    const store::ReadResult r = store::KeyedRead(buffer, static_cast<int16_t>(s.key.size()), n_,
                                                 unit_, store::HashSelector::kVariableLength);
    if (s.otherBlock != 0) {
      fuzz::Check(r.block == s.otherBlock && r.cell == s.otherCell,
                  "the walk and the look-up disagree on where a key lies");
      return true;
    }
    fuzz::Check(r.status == s.status, "the walk and KeyedRead disagree on a record's status");
    if (r.status == store::kKeyedDone) {
      fuzz::Check(r.block == s.block && r.cell == s.cell &&
                      static_cast<size_t>(r.length) == record.size() &&
                      std::equal(record.begin(), record.end(), buffer.begin()),
                  "the walk and KeyedRead deliver different records");
    }
    return true;
  }

 private:
  int16_t unit_;
  int32_t n_;
  int checked_ = 0;
};

std::vector<uint8_t> ReadBack(std::span<const uint8_t> key, int16_t unit, int32_t n,
                              int16_t& status) {
  std::vector<uint8_t> buffer(store::kMaxRecordLength, 0);
  std::copy(key.begin(), key.end(), buffer.begin());
  const store::ReadResult r = store::KeyedRead(buffer, static_cast<int16_t>(key.size()), n, unit,
                                               store::HashSelector::kVariableLength);
  status = r.status;
  fuzz::Check(r.length >= 0 && r.length <= store::kMaxRecordLength,
              "a read delivered an impossible length");
  buffer.resize(static_cast<size_t>(r.status == 0 ? r.length : 0));
  return buffer;
}

// A record of `length` bytes under `key`, its data drawn from `seed`.
std::vector<uint8_t> MakeRecord(std::span<const uint8_t> key, size_t length, uint32_t seed) {
  std::vector<uint8_t> record(key.begin(), key.end());
  while (record.size() < length) {
    seed = seed * 1103515245u + 12345u;
    record.push_back(static_cast<uint8_t>(seed >> 16));
  }
  return record;
}

void WriteAndCheck(fuzz::Scene& scene, int16_t unit, int32_t n, const std::vector<uint8_t>& record,
                   int keyLength) {
  const bool soundBefore = Sound(scene.Bytes(kFile), n);
  const store::WriteResult w = store::KeyedWrite(record, static_cast<int16_t>(keyLength), n, unit,
                                                 store::HashSelector::kVariableLength);
  fuzz::Check(w.status == 0 || w.status == 2 || w.status == 3 || w.status == 5,
              "unknown write status");
  if (!soundBefore || w.status != 0) return;
  int16_t status = 0;
  const std::vector<uint8_t> back = ReadBack(
      std::span<const uint8_t>(record.data(), static_cast<size_t>(keyLength)), unit, n, status);
  fuzz::Check(status == 0, "a record written into a sound file cannot be read back");
  fuzz::Check(back == record, "a record written into a sound file reads back different");
  const store::VerifyReport report = store::VerifyBlockImage(FirstBlocks(scene.Bytes(kFile), n), n);
  if (!report.ok()) {
    std::fprintf(stderr, "%s", store::FormatProblems(report).c_str());
    fuzz::Fail("a write left a sound file unsound");
  }
}

// Runs an operation on the file and on its cached twin: both must answer alike.
template <typename Op>
auto OnBoth(int16_t plain, int16_t cached, Op op) {
  const auto answer = op(plain);
  fuzz::Check(op(cached) == answer, "the store answers otherwise through the block cache");
  return answer;
}

void RunOperations(const uint8_t* data, size_t size) {
  fuzz::Scene scene;
  fuzz::Program in(data, size);
  const int32_t n = 1 + in.Byte() % 6;
  std::vector<uint8_t> image = store::EmptyBlockFileImage(n);
  // Blocks 2..N: the input's bytes, run-length style so that short inputs make
  // structured blocks (a count byte, then that many bytes, the rest zero).
  for (int32_t b = 2; b <= n; ++b) {
    const size_t len = static_cast<size_t>(in.Byte()) * 2;
    in.Take(image.data() + static_cast<size_t>(b - 1) * 512, len > 512 ? 512 : len);
  }
  scene.AddFile("f.dat", image);
  scene.AddFile("g.dat", image);
  const int16_t unit = scene.Open("f.dat");
  (void)store::VerifyBlockImage(image, n);
  // The same program on a twin of the file through a block cache of a few blocks, so
  // that nearly every operation pushes a block out: it must answer as the file itself
  // does, deliver the same bytes and leave the same file.
  io::SetCacheBudget(kTinyCacheBytes);
  const int16_t twin = scene.Open("g.dat");
  fuzz::Check(io::SetUnitCached(twin, true) == io::kIoOk, "the twin could not be cached");

  for (int op = 0; op < 8 && !in.empty(); ++op) {
    const uint8_t kind = in.Byte();
    const auto keyLength = static_cast<int16_t>(1 + in.Byte() % 12);
    std::vector<uint8_t> record(static_cast<size_t>(keyLength) + in.Byte() * 4u);
    in.Take(record.data(), static_cast<size_t>(keyLength));
    for (size_t i = static_cast<size_t>(keyLength); i < record.size(); ++i)
      record[i] = static_cast<uint8_t>(i);
    // A read of the record's key into a buffer of `length` bytes: its answer and bytes.
    auto read = [&](size_t length, int32_t capacity) {
      return [&record, keyLength, n, length, capacity](int16_t u) {
        std::vector<uint8_t> buffer(length, 0);
        std::memcpy(buffer.data(), record.data(), static_cast<size_t>(keyLength));
        const store::ReadResult r = store::KeyedRead(
            buffer, keyLength, n, u, store::HashSelector::kVariableLength, capacity);
        fuzz::Check(r.length >= 0 && static_cast<size_t>(r.length) <= buffer.size(),
                    "a read delivered more than its buffer holds");
        return std::make_pair(r, buffer);
      };
    };
    switch (kind % 4) {
      case 0: {
        // A damaged file may hold pieces of the key already, which the look-up or the
        // gathering of the pieces meets before the new ones: only a file sound before the
        // write must give the record back as written.
        const bool soundBefore = Sound(scene.Bytes("f.dat"), n);
        const store::WriteResult w = OnBoth(unit, twin, [&](int16_t u) {
          return store::KeyedWrite(record, keyLength, n, u, store::HashSelector::kVariableLength);
        });
        if (w.status != store::kKeyedDone || !soundBefore) break;
        const auto [r, back] = OnBoth(unit, twin, read(record.size() + 4, 0));
        // Pieces hold whole cells: a record of an odd length comes back one byte longer.
        const auto length = static_cast<size_t>(r.length);
        fuzz::Check(r.status == store::kKeyedDone && r.block == w.block && r.cell == w.cell &&
                        (length == record.size() || length == record.size() + 1) &&
                        std::memcmp(back.data(), record.data(), record.size()) == 0,
                    "a record written into a sound file reads back different");
        break;
      }
      case 1: {
        const int32_t capacity = in.Byte() % 3 == 0 ? 0 : in.Byte();
        OnBoth(unit, twin, read(static_cast<size_t>(keyLength) + in.Byte(), capacity));
        break;
      }
      case 2: {
        const int32_t start = in.Byte() % 2 == 0 ? 0 : 1 + in.Byte() % n;
        OnBoth(unit, twin, [&](int16_t u) {
          return store::KeyedDelete(record, keyLength, n, u, store::HashSelector::kVariableLength,
                                    start);
        });
        break;
      }
      default:
        OnBoth(unit, twin, [&](int16_t u) {
          return store::KeyedFind(record, keyLength, n, u, store::HashSelector::kVariableLength);
        });
        break;
    }
  }
  (void)store::VerifyBlockFileOnUnit(unit, n);
  fuzz::Check(io::CloseUnit(twin) == io::kIoOk, "the cached twin could not be written back");
  fuzz::Check(scene.Bytes("g.dat") == scene.Bytes("f.dat"),
              "the store left other bytes through the block cache");
  io::SetCacheBudget(io::kDefaultCacheBudget);
}

void RunOnImage(const uint8_t* data, size_t size) {
  fuzz::Scene scene;
  const std::span<const uint8_t> input(data, size);
  scene.AddFile(kFile, input);
  const int16_t unit = scene.Open(kFile);

  int32_t n = fuzz::WholeBlocks(size);
  if (size >= 512) {
    const int32_t header = store::HeaderBlockCount(std::span<const uint8_t, 512>(data, 512));
    if (header > 0) n = header;
  }

  // Reads of every key the blocks show, whole and with small capacities.
  const std::vector<std::vector<uint8_t>> keys = FirstPieceKeys(input, 8);
  for (const auto& key : keys) {
    std::vector<uint8_t> buffer(store::kMaxRecordLength, 0);
    std::copy(key.begin(), key.end(), buffer.begin());
    const auto kl = static_cast<int16_t>(key.size());
    const store::ReadResult whole =
        store::KeyedRead(buffer, kl, n, unit, store::HashSelector::kVariableLength);
    fuzz::Check(whole.length >= 0 && whole.length <= store::kMaxRecordLength, "impossible length");
    const store::ReadResult small =
        store::KeyedRead(buffer, kl, n, unit, store::HashSelector::kVariableLength, kl + 2);
    fuzz::Check(small.status != 0 || small.length <= kl + 2, "a read went past its capacity");
    const store::FindResult f =
        store::KeyedFind(key, kl, n, unit, store::HashSelector::kVariableLength);
    fuzz::Check(f.blocksRead <= n, "a look-up read more than N blocks");
  }

  WalkChecker walk(unit, n);
  store::WalkRecords(unit, n, fuzz::WholeBlocks(size), walk);

  // Writes and deletes: a new key of each length in use, and an existing key replaced.
  const uint32_t seed = size >= 4 ? io::LoadU32(data + size - 4) : 7u;
  for (int keyLength : {4, 6, 8, 10}) {
    std::vector<uint8_t> key(static_cast<size_t>(keyLength));
    for (int i = 0; i < keyLength; ++i)
      key[static_cast<size_t>(i)] = static_cast<uint8_t>('0' + (seed >> i) % 10);
    const size_t length = static_cast<size_t>(keyLength) + 2 * ((seed >> (keyLength * 2)) % 400);
    WriteAndCheck(scene, unit, n, MakeRecord(key, length, seed), keyLength);
  }
  if (!keys.empty()) {
    const auto& key = keys[seed % keys.size()];
    if (key.size() % 2 == 0) {
      WriteAndCheck(scene, unit, n, MakeRecord(key, key.size() + 2 * (seed % 700), seed ^ 0x5555u),
                    static_cast<int>(key.size()));
    }
    const bool soundBefore = Sound(scene.Bytes(kFile), n);
    const auto kl = static_cast<int16_t>(key.size());
    const int16_t deleted =
        store::KeyedDelete(key, kl, n, unit, store::HashSelector::kVariableLength);
    fuzz::Check(deleted == 0 || deleted == 1 || deleted == 2 || deleted == 3 || deleted == 5,
                "unknown delete status");
    if (soundBefore && deleted == 0) {
      int16_t status = 0;
      ReadBack(key, unit, n, status);
      fuzz::Check(status == 1 || status == 3, "a deleted record is still found");
      fuzz::Check(store::VerifyBlockImage(FirstBlocks(scene.Bytes(kFile), n), n).ok(),
                  "a delete left a sound file unsound");
    }
  }
  fuzz::Check(scene.Bytes(kFile).size() == size, "the store changed the size of the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  RunOnImage(data, size);
  RunOperations(data, size);
  return 0;
}
