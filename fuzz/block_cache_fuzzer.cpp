// The block cache against the files themselves. The input sets a cache budget, two
// files of a few dozen blocks and the faults their blocks meet, then runs a program of
// whole and partial reads, views, writes, flushes and closes on the two files, each
// done alike on an uncached copy of the file:
//  - until a file meets a fault, every read and view of it answers as its copy does,
//    status and bytes;
//  - a file whose writes, flushes and closes all answered 0 ends byte for byte as its
//    copy, whatever faults it met: no call reports success for a block that did not
//    reach the file; and a file that does not has counted a lost write in its ledger;
//  - whatever the faults, every byte of a block is the one it started with or one that
//    some write to that block put there: no block is ever written with another's bytes.
#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "io/block_cache.h"
#include "io/record_file.h"

using namespace varmex;

namespace {

constexpr size_t kBlock = io::kBlockBytes;
constexpr int kFiles = 2;
constexpr size_t kMostOps = 2000;

// The faults of one cached file: reads of one block fail; writes of another fail,
// always or once, putting only their first shortBytes bytes (-1: none of them).
struct Faults {
  int64_t badRead = 0;
  int64_t badWrite = 0;
  bool writeOnce = false;
  int shortBytes = -1;
};

struct Mirror {
  std::string name;
  std::string copyName;
  int16_t cached = 0;
  int16_t copy = 0;
  int32_t blocks = 0;
  bool passing = false;
  Faults faults;
  bool faulted = false;    // the hook failed one of its calls
  bool failed = false;     // a write, flush or close of the cached file answered an error
  io::WriteLedger ledger;  // counts the writes whose blocks were lost
  std::vector<std::bitset<256>> allowed;  // for each block, the values its bytes may hold
};

void Open(fuzz::Scene& scene, Mirror& m) {
  m.cached = scene.Open(m.name);
  fuzz::Check(io::SetUnitCached(m.cached, true) == io::kIoOk, "a block file could not be cached");
  if (m.passing) io::SetUnitReadInPasses(m.cached);
  m.copy = scene.Open(m.copyName);
}

void Close(Mirror& m) {
  if (io::CloseUnit(m.cached) != io::kIoOk) m.failed = true;
  fuzz::Check(io::CloseUnit(m.copy) == io::kIoOk, "an uncached copy could not be closed");
}

// Reads block b of both files (through the cache's view when `view`) and compares.
void CompareRead(Mirror& m, int64_t b, size_t size, bool view) {
  std::array<uint8_t, kBlock> cached{};
  std::array<uint8_t, kBlock> copy{};
  int status = io::kIoOk;
  const std::span<const uint8_t> held =
      view ? io::ViewRecord(m.cached, b) : std::span<const uint8_t>();
  if (!held.empty()) {
    fuzz::Check(held.size() == kBlock, "a view is not one whole block");
    std::memcpy(cached.data(), held.data(), size);
  } else {
    status = io::ReadRecord(m.cached, b, std::span(cached).first(size));
  }
  const int copyStatus = io::ReadRecord(m.copy, b, std::span(copy).first(size));
  if (m.faulted) return;
  fuzz::Check(status == copyStatus, "a cached read answers otherwise than the file's");
  if (status == io::kIoOk) fuzz::Check(cached == copy, "a cached read brings other bytes");
}

void Write(Mirror& m, int64_t b, size_t size, uint8_t value) {
  const std::vector<uint8_t> data(size, value);
  io::CountedWrite counted(m.ledger);
  const int status = io::WriteRecord(m.cached, b, data, counted.ticket());
  if (status != io::kIoOk) counted.Failed();
  const int copyStatus = io::WriteRecord(m.copy, b, data);
  if (status != io::kIoOk) m.failed = true;
  if (!m.faulted) fuzz::Check(status == copyStatus, "a cached write answers otherwise");
  if (b >= 1 && b <= m.blocks) m.allowed[static_cast<size_t>(b - 1)].set(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Program in(data, size);
  fuzz::Scene scene;
  // From a few blocks, where nearly every write evicts, up to one that holds both files.
  // (Runs and read-ahead need room for a few dozen blocks.)
  static constexpr std::array<size_t, 4> kBudgets = {4 * 1024, 16 * 1024, 40 * 1024, 256 * 1024};
  io::SetCacheBudget(kBudgets[in.Byte() % kBudgets.size()]);

  std::array<Mirror, kFiles> files;
  for (int f = 0; f < kFiles; ++f) {
    Mirror& m = files[static_cast<size_t>(f)];
    m.name = "c" + std::to_string(f) + ".dat";
    m.copyName = "u" + std::to_string(f) + ".dat";
    m.blocks = 1 + in.Byte() % 48;
    const uint8_t how = in.Byte();
    m.passing = (how & 1) != 0;
    if ((how & 2) != 0) m.faults.badRead = 1 + in.Byte() % (m.blocks + 2);
    if ((how & 4) != 0) {
      m.faults.badWrite = 1 + in.Byte() % (m.blocks + 2);
      m.faults.writeOnce = (how & 8) != 0;
      m.faults.shortBytes = (how & 16) != 0 ? static_cast<int>(in.Byte()) * 2 : -1;
    }
    // Block b starts as the byte b + 128 * f everywhere, so that no write's value
    // (0..127) is a block's first content.
    std::vector<uint8_t> image(static_cast<size_t>(m.blocks) * kBlock);
    m.allowed.assign(static_cast<size_t>(m.blocks), {});
    for (size_t b = 0; b < m.allowed.size(); ++b) {
      const auto first = static_cast<uint8_t>(b + 1 + 128 * f);
      std::memset(image.data() + b * kBlock, first, kBlock);
      m.allowed[b].set(first);
    }
    scene.AddFile(m.name, image);
    scene.AddFile(m.copyName, image);
    Open(scene, m);
  }

  io::SetIoFaultHook([&files](io::IoOp op, int16_t unit, int64_t record) {
    for (Mirror& m : files) {
      if (unit != m.cached) continue;
      Faults& f = m.faults;
      if (op == io::IoOp::kRead && record == f.badRead) {
        m.faulted = true;
        return io::IoFault{platform::kErrorReadFault, -1};
      }
      if (op == io::IoOp::kWrite && record == f.badWrite) {
        m.faulted = true;
        if (f.writeOnce) f.badWrite = 0;
        return io::IoFault{platform::kErrorDiskFull, f.shortBytes};
      }
    }
    return io::IoFault{};
  });

  // Values of writes run 0..127 and wrap, each write taking the next one.
  uint8_t nextValue = 0;
  for (size_t op = 0; op < kMostOps && !in.empty(); ++op) {
    const uint8_t code = in.Byte();
    Mirror& m = files[code & 1];
    // Blocks 0 and past the end of the file are asked for too.
    const int64_t b = in.Byte() % (m.blocks + 3);
    const size_t length = (code & 0x10) != 0 ? 1 + in.Byte() % kBlock : kBlock;
    switch ((code >> 1) & 7) {
      case 0:
      case 1:
      case 2:
        CompareRead(m, b, length, (code & 0x20) != 0);
        break;
      case 3:
      case 4:
        Write(m, b, length, nextValue);
        nextValue = static_cast<uint8_t>((nextValue + 1) % 128);
        break;
      case 5:
        // A pass in block order from b, as a scan of the whole file makes one.
        for (int64_t k = std::max<int64_t>(b, 1); k <= m.blocks; ++k)
          CompareRead(m, k, kBlock, false);
        break;
      case 6:
        if (io::FlushUnit(m.cached) != io::kIoOk) m.failed = true;
        break;
      default:
        Close(m);
        Open(scene, m);
        break;
    }
  }

  for (Mirror& m : files) Close(m);
  io::SetIoFaultHook(nullptr);
  for (Mirror& m : files) {
    const std::vector<uint8_t>& bytes = scene.Bytes(m.name);
    fuzz::Check(bytes.size() >= m.allowed.size() * kBlock, "a cached file lost blocks");
    // Writes past the end make the files longer; only the first blocks are followed.
    for (size_t b = 0; b < m.allowed.size(); ++b) {
      std::bitset<256> present;
      for (size_t k = b * kBlock; k < (b + 1) * kBlock; ++k) present.set(bytes[k]);
      fuzz::Check((present & ~m.allowed[b]).none(),
                  "a block holds a byte neither its first content nor any write to it put there");
    }
    if (bytes != scene.Bytes(m.copyName)) {
      fuzz::Check(m.ledger.failed() > 0, "a write whose block was lost is not counted");
    }
    if (!m.failed) {
      fuzz::Check(bytes == scene.Bytes(m.copyName),
                  "every call answered 0, yet the file is not as the uncached copy");
    }
  }
  return 0;
}
