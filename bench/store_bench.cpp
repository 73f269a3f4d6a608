// Benchmarks of the keyed store on pre-sized block files warm in the page cache:
// KeyedRead, KeyedWrite (insert and replace) and KeyedDelete of local price records
// (24 bytes, 10-byte keys) and supplier price records (136 bytes, 8-byte keys) at 50,
// 80 and 95 percent fill, and LegacyKeyedRead of estimate records; each straight to the
// file and through the block cache, beside the same records in GDBM and SQLite and
// beside bare 512-byte reads and writes of the same file, all measured in one run. The
// table printed at the end gives the ratios.
//
//   store_bench [--blocks=N] [--dir=PATH] [--legacy-estimates=N] [--table=FILE] [--smoke]
//               [Google Benchmark flags, e.g. --benchmark_filter=KeyedRead]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "bench/peer_stores.h"
#include "bench/walk_audit.h"
#include "bench/workload.h"
#include "io/block_cache.h"
#include "io/unit_file.h"
#include "platform/native.h"
#include "store/block_file.h"
#include "store/keyed_store.h"
#include "tools/gencollection/collection.h"

namespace varmex::bench {
namespace {

namespace fs = std::filesystem;

struct Options {
  int32_t blocks = 4001;
  int32_t legacyEstimates = 5000;
  std::string dir;
  std::string table;
  bool smoke = false;
};
Options& Opts() {
  static Options o;
  return o;
}

// Operations, in table order.
enum class Op { kRead, kInsert, kReplace, kDelete };
constexpr Op kOps[] = {Op::kRead, Op::kInsert, Op::kReplace, Op::kDelete};
bool Mutates(Op op) { return op == Op::kInsert || op == Op::kDelete; }

constexpr int kFills[] = {50, 80, 95};
constexpr const Shape* kShapes[] = {&kPrefmanShape, &kFurnmatShape};

// One file of one shape at one fill, with its records, its peers' templates and the
// audit of its operations.
struct Workload {
  Shape shape{};
  int fill = 0;
  int32_t blocks = 0;
  std::string path;
  RecordSet records;
  Bytes image;  // the file as built; restored after every batch of changes
  int16_t unit = io::kNoUnit;
  int16_t cachedUnit = io::kNoUnit;  // the same file through the block cache
  int fd = -1;  // a descriptor of the same file, for restoring and for bare block I/O
  double measuredFill = 0;
  size_t batch = 0;
  std::map<std::string, std::string> peerTemplates;  // peer name -> template path
  std::map<Op, WalkTotals> audit;
  std::string error;

  ~Workload() {
    if (unit != io::kNoUnit) io::CloseUnit(unit);
    if (cachedUnit != io::kNoUnit) io::CloseUnit(cachedUnit);
    if (fd >= 0) ::close(fd);
  }
  // Puts the file back as built, with nothing of it left in the block cache.
  void Restore() const {
    io::SetUnitCached(cachedUnit, false);
    if (::pwrite(fd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size()))
      std::abort();
    io::SetUnitCached(cachedUnit, true);
  }
};

std::string WorkDir() {
  std::string dir = Opts().dir;
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/varmex-bench-" +
          std::to_string(::getpid());
  }
  fs::create_directories(dir);
  return dir;
}

// The record an operation works on: position `seq` of the run.
const Bytes& Pick(const Workload& w, Op op, uint64_t seq) {
  if (op == Op::kInsert) return w.records.fresh[seq % w.records.fresh.size()];
  return w.records.resident[seq % w.records.resident.size()];
}

// A replacement differs from the record's previous contents: every visit of a key
// falls in a new cycle over the resident records.
void MakeReplacement(const Workload& w, uint64_t seq, Bytes& out) {
  const Bytes& r = w.records.resident[seq % w.records.resident.size()];
  out = r;
  const auto flip = static_cast<uint8_t>(1 + (seq / w.records.resident.size()) % 255);
  for (size_t i = static_cast<size_t>(w.shape.keyLength); i < out.size(); ++i) out[i] ^= flip;
}

// One keyed operation on the workload's file; true on the status it should give. An
// insert into a crowded file may also be refused as full when its walk runs out of
// its budget of N blocks: that is counted in `full`, not as a failure.
bool RunKeyed(const Workload& w, int16_t unit, Op op, uint64_t seq, Bytes& scratch,
              uint64_t& full) {
  const int16_t kl = w.shape.keyLength;
  switch (op) {
    case Op::kRead: {
      const Bytes& r = Pick(w, op, seq);
      std::memcpy(scratch.data(), r.data(), static_cast<size_t>(kl));
      const store::ReadResult got =
          store::KeyedRead(scratch, kl, w.blocks, unit, store::HashSelector::kVariableLength, 0);
      return got.status == store::kKeyedDone && got.length == w.shape.recordLength;
    }
    case Op::kInsert: {
      const int16_t status = store::KeyedWrite(Pick(w, op, seq), kl, w.blocks, unit,
                                               store::HashSelector::kVariableLength)
                                 .status;
      full += status == store::kKeyedFull ? 1 : 0;
      return status == store::kKeyedDone || status == store::kKeyedFull;
    }
    case Op::kReplace:
      MakeReplacement(w, seq, scratch);
      return store::KeyedWrite(scratch, kl, w.blocks, unit, store::HashSelector::kVariableLength)
                 .status == store::kKeyedDone;
    case Op::kDelete:
      return store::KeyedDelete(Pick(w, op, seq), kl, w.blocks, unit,
                                store::HashSelector::kVariableLength) == store::kKeyedDone;
  }
  return false;
}

bool RunPeer(const Workload& w, PeerStore& peer, Op op, uint64_t seq, Bytes& scratch) {
  switch (op) {
    case Op::kRead:
      return peer.Fetch(Pick(w, op, seq), scratch) &&
             scratch.size() == static_cast<size_t>(w.shape.recordLength);
    case Op::kInsert:
      return peer.Insert(Pick(w, op, seq));
    case Op::kReplace:
      MakeReplacement(w, seq, scratch);
      return peer.Replace(scratch);
    case Op::kDelete:
      return peer.Delete(Pick(w, op, seq));
  }
  return false;
}

std::unique_ptr<PeerStore> OpenPeer(const std::string& name, const std::string& path,
                                    int keyLength) {
  return name == "gdbm" ? OpenGdbm(path, keyLength) : OpenSqlite(path, keyLength);
}

// Writes the peer's template holding the resident records.
std::string BuildPeerTemplate(const Workload& w, const std::string& name) {
  const std::string path = w.path + "." + name + ".tpl";
  fs::remove(path);
  auto peer = OpenPeer(name, path, w.shape.keyLength);
  if (!peer) return "";
  peer->BeginBatch();
  for (const Bytes& r : w.records.resident) {
    if (!peer->Insert(r)) return "";
  }
  peer->EndBatch();
  return path;
}

std::unique_ptr<Workload> BuildWorkload(const Shape& shape, int fill) {
  auto w = std::make_unique<Workload>();
  w->shape = shape;
  w->fill = fill;
  w->blocks = Opts().blocks;
  w->path = WorkDir() + "/" + shape.name + "-" + std::to_string(fill) + ".dat";
  const int64_t resident = RecordsForFill(shape, w->blocks, fill);
  // Batches of changes small beside the file (the fill stays near its mark) and
  // taking at most half its free room (inserts never find it full). Records too short
  // to be cut fit only whole in a block; longer ones may be cut, each cut costing
  // another size and flags cell and another copy of the key.
  const int cells = EntryCells(shape);
  const int64_t room =
      cells < shape.keyLength + 4
          ? static_cast<int64_t>(w->blocks - 1) * (store::kBlockCells / cells) - resident
          : (static_cast<int64_t>(w->blocks - 1) * store::kBlockCells - resident * cells) /
                (cells + 1 + shape.keyLength / 2);
  w->batch = static_cast<size_t>(
      std::max<int64_t>(1, std::min<int64_t>(std::max<int64_t>(8, resident / 400), room / 2)));
  w->records = MakeRecords(shape, static_cast<size_t>(resident), 4 * w->batch,
                           0x5EED0000ULL + static_cast<uint64_t>(shape.keyLength * 1000 + fill));
  const int64_t stored = BuildBlockFile(w->path, w->blocks, shape.keyLength, w->records.resident);
  if (stored <= 0) {
    w->error = "cannot build " + w->path;
    return w;
  }
  w->records.resident.resize(static_cast<size_t>(stored));
  w->batch = std::min(w->batch, w->records.resident.size());
  w->image = ReadWholeFile(w->path);
  w->measuredFill = MeasuredFill(w->image);
  w->unit = io::FindFreeUnit();
  w->fd = ::open(w->path.c_str(), O_RDWR | O_CLOEXEC);
  if (w->fd < 0 ||
      io::OpenUnit(platform::NativePlatform(), w->unit, w->path, store::kBlockBytes) != 0) {
    w->error = "cannot open " + w->path;
    return w;
  }
  w->cachedUnit = io::FindFreeUnit();
  if (io::OpenUnit(platform::NativePlatform(), w->cachedUnit, w->path, store::kBlockBytes) != 0 ||
      io::SetUnitCached(w->cachedUnit, true) != 0) {
    w->error = "cannot open " + w->path + " through the block cache";
    return w;
  }

  // The audit: each operation over at most 20000 of the records the timed runs use,
  // spread evenly over them (records stored late lie further from home), in batches as
  // they are timed, with the blocks each one moves recorded.
  Bytes scratch(static_cast<size_t>(shape.recordLength));
  uint64_t full = 0;
  for (Op op : kOps) {
    WalkAuditor auditor(w->path, w->unit);
    const size_t all = op == Op::kInsert ? w->records.fresh.size() : w->records.resident.size();
    const size_t count = std::min<size_t>(20000, all);
    const uint64_t stride = op == Op::kInsert ? 1 : std::max<uint64_t>(1, all / count);
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t seq = i * stride;
      auditor.Run([&] { RunKeyed(*w, w->unit, op, seq, scratch, full); });
      if ((i + 1) % w->batch == 0 && Mutates(op)) {
        w->Restore();
        auditor.Reload();
      }
    }
    w->audit[op] = auditor.totals();
    w->Restore();
  }
  for (const char* peer : {"gdbm", "sqlite"}) {
    const std::string tpl = BuildPeerTemplate(*w, peer);
    if (tpl.empty()) {
      w->error = std::string("cannot build the ") + peer + " template";
      return w;
    }
    w->peerTemplates[peer] = tpl;
  }
  return w;
}

// Built on first use, released before the program ends (their file units must be
// closed while the io layer still exists).
std::map<std::string, std::unique_ptr<Workload>>& Workloads() {
  static std::map<std::string, std::unique_ptr<Workload>> cache;
  return cache;
}

Workload* GetWorkload(const Shape& shape, int fill) {
  auto& slot = Workloads()[std::string(shape.name) + "/" + std::to_string(fill)];
  if (!slot) slot = BuildWorkload(shape, fill);
  return slot.get();
}

void SetPerOp(benchmark::State& state, const char* name, double total) {
  state.counters[name] =
      state.iterations() == 0 ? 0 : total / static_cast<double>(state.iterations());
}

// The store's operation, straight to the file or through the block cache. Through the
// cache every batch ends with a flush, timed, so that the write-backs its operations
// put off are paid for in their time.
void BM_Keyed(benchmark::State& state, const Shape* shape, int fill, Op op, bool cached) {
  Workload* w = GetWorkload(*shape, fill);
  if (!w->error.empty()) {
    state.SkipWithError(w->error.c_str());
    return;
  }
  w->Restore();
  const int16_t unit = cached ? w->cachedUnit : w->unit;
  Bytes scratch(static_cast<size_t>(shape->recordLength));
  const io::IoCounters before = io::Counters();
  uint64_t seq = 0, failed = 0, full = 0;
  size_t inBatch = 0;
  for (auto _ : state) {
    failed += RunKeyed(*w, unit, op, seq++, scratch, full) ? 0 : 1;
    if (++inBatch == w->batch) {
      inBatch = 0;
      if (cached && io::FlushUnit(unit) != 0) ++failed;
      if (Mutates(op)) {
        state.PauseTiming();
        w->Restore();
        state.ResumeTiming();
      }
    }
  }
  SetPerOp(state, "reads", static_cast<double>(io::Counters().reads - before.reads));
  SetPerOp(state, "writes", static_cast<double>(io::Counters().writes - before.writes));
  state.counters["failed"] = static_cast<double>(failed);
  state.counters["full"] = static_cast<double>(full);
  const WalkTotals& a = w->audit[op];
  state.counters["audit_reads"] = a.PerOp(a.reads);
  state.counters["audit_writes"] = a.PerOp(a.writes);
  state.counters["least_reads"] = a.PerOp(a.distinctReads);
  state.counters["least_writes"] = a.PerOp(a.changedWrites);
  state.counters["fill"] = w->measuredFill * 100;
  w->Restore();
}

void BM_Peer(benchmark::State& state, const Shape* shape, int fill, Op op, std::string name) {
  Workload* w = GetWorkload(*shape, fill);
  if (!w->error.empty()) {
    state.SkipWithError(w->error.c_str());
    return;
  }
  const std::string path = w->path + "." + name;
  auto open = [&] {
    fs::copy_file(w->peerTemplates.at(name), path, fs::copy_options::overwrite_existing);
    auto p = OpenPeer(name, path, shape->keyLength);
    if (p) p->BeginBatch();
    return p;
  };
  std::unique_ptr<PeerStore> peer = open();
  if (!peer) {
    state.SkipWithError(("cannot open " + path).c_str());
    return;
  }
  Bytes scratch(static_cast<size_t>(shape->recordLength));
  uint64_t seq = 0, failed = 0;
  size_t inBatch = 0;
  for (auto _ : state) {
    failed += RunPeer(*w, *peer, op, seq++, scratch) ? 0 : 1;
    if (++inBatch == w->batch) {
      inBatch = 0;
      peer->EndBatch();
      if (Mutates(op)) {
        state.PauseTiming();
        peer.reset();
        peer = open();
        state.ResumeTiming();
      } else {
        peer->BeginBatch();
      }
    }
  }
  peer->EndBatch();
  state.counters["failed"] = static_cast<double>(failed);
}

// Bare 512-byte reads or writes of random data blocks of the workload's file (a write
// puts back the block's own bytes).
void BareBlocks(benchmark::State& state, int fd, const Bytes& image, int32_t blocks, bool write) {
  Rng rng(42);
  std::vector<int32_t> order(4096);
  for (int32_t& b : order)
    b = 2 + static_cast<int32_t>(rng.Below(static_cast<uint64_t>(blocks - 1)));
  uint8_t buffer[store::kBlockBytes];
  size_t i = 0;
  for (auto _ : state) {
    const int32_t b = order[i++ % order.size()];
    const off_t at = static_cast<off_t>(b - 1) * store::kBlockBytes;
    const ssize_t done = write ? ::pwrite(fd, image.data() + at, store::kBlockBytes, at)
                               : ::pread(fd, buffer, store::kBlockBytes, at);
    if (done != store::kBlockBytes) {
      state.SkipWithError("bare block I/O failed");
      break;
    }
    benchmark::DoNotOptimize(buffer);
  }
}

void BM_Floor(benchmark::State& state, const Shape* shape, int fill, bool write) {
  Workload* w = GetWorkload(*shape, fill);
  if (!w->error.empty()) {
    state.SkipWithError(w->error.c_str());
    return;
  }
  w->Restore();
  BareBlocks(state, w->fd, w->image, w->blocks, write);
}

// Estimate records of a generated word-layout dev.dat, looked up by key.
struct LegacyWorkload {
  std::string path;
  int32_t blocks = 0;
  std::vector<Bytes> records;  // each whole, key first
  Bytes image;
  int16_t unit = io::kNoUnit;
  int16_t cachedUnit = io::kNoUnit;
  int fd = -1;
  WalkTotals audit;
  std::map<std::string, std::string> peerTemplates;
  std::string error;

  ~LegacyWorkload() {
    if (unit != io::kNoUnit) io::CloseUnit(unit);
    if (cachedUnit != io::kNoUnit) io::CloseUnit(cachedUnit);
    if (fd >= 0) ::close(fd);
  }
};

std::unique_ptr<LegacyWorkload>& LegacyCache() {
  static std::unique_ptr<LegacyWorkload> cached;
  return cached;
}

LegacyWorkload* GetLegacy() {
  std::unique_ptr<LegacyWorkload>& cached = LegacyCache();
  if (cached) return cached.get();
  cached = std::make_unique<LegacyWorkload>();
  LegacyWorkload& w = *cached;
  gencollection::CollectionOptions o;
  o.estimates = Opts().legacyEstimates;
  o.priceBases = 1;
  o.seed = 11;
  const gencollection::Collection c = gencollection::GenerateCollection(o);
  w.path = WorkDir() + "/dev.dat";
  w.image = c.files.at(c.dataDir + "DEV.DAT");
  w.blocks = c.devBlocks;
  if (!WriteWholeFile(w.path, w.image)) {
    w.error = "cannot write " + w.path;
    return cached.get();
  }
  w.unit = io::FindFreeUnit();
  w.fd = ::open(w.path.c_str(), O_RDWR | O_CLOEXEC);
  if (w.fd < 0 ||
      io::OpenUnit(platform::NativePlatform(), w.unit, w.path, store::kBlockBytes) != 0) {
    w.error = "cannot open " + w.path;
    return cached.get();
  }
  w.cachedUnit = io::FindFreeUnit();
  if (io::OpenUnit(platform::NativePlatform(), w.cachedUnit, w.path, store::kBlockBytes) != 0 ||
      io::SetUnitCached(w.cachedUnit, true) != 0) {
    w.error = "cannot open " + w.path + " through the block cache";
    return cached.get();
  }
  Bytes buffer(store::kMaxRecordLength);
  WalkAuditor auditor(w.path, w.unit);
  for (const gencollection::Estimate& e : c.estimates) {
    std::memcpy(buffer.data(), e.key.data(), 6);
    store::LegacyReadResult r{};
    auditor.Run([&] { r = store::LegacyKeyedRead(buffer, 6, w.blocks, w.unit, 0); });
    if (r.status != store::kLegacyDone) continue;
    w.records.emplace_back(buffer.begin(), buffer.begin() + r.length);
  }
  w.audit = auditor.totals();
  if (w.records.empty()) {
    w.error = "no estimate could be read";
    return cached.get();
  }
  for (const char* name : {"gdbm", "sqlite"}) {
    const std::string tpl = w.path + "." + name + ".tpl";
    fs::remove(tpl);
    auto peer = OpenPeer(name, tpl, 6);
    if (!peer) {
      w.error = std::string("cannot build the ") + name + " template";
      return cached.get();
    }
    peer->BeginBatch();
    for (const Bytes& r : w.records) peer->Insert(r);
    peer->EndBatch();
    w.peerTemplates[name] = tpl;
  }
  return cached.get();
}

void BM_Legacy(benchmark::State& state, bool cached) {
  LegacyWorkload* w = GetLegacy();
  if (!w->error.empty()) {
    state.SkipWithError(w->error.c_str());
    return;
  }
  const int16_t unit = cached ? w->cachedUnit : w->unit;
  Bytes buffer(store::kMaxRecordLength);
  const io::IoCounters before = io::Counters();
  uint64_t seq = 0, failed = 0;
  for (auto _ : state) {
    const Bytes& r = w->records[seq++ % w->records.size()];
    std::memcpy(buffer.data(), r.data(), 6);
    const store::LegacyReadResult got = store::LegacyKeyedRead(buffer, 6, w->blocks, unit, 0);
    failed +=
        got.status == store::kLegacyDone && got.length == static_cast<int32_t>(r.size()) ? 0 : 1;
  }
  SetPerOp(state, "reads", static_cast<double>(io::Counters().reads - before.reads));
  SetPerOp(state, "writes", static_cast<double>(io::Counters().writes - before.writes));
  state.counters["failed"] = static_cast<double>(failed);
  state.counters["audit_reads"] = w->audit.PerOp(w->audit.reads);
  state.counters["audit_writes"] = 0;
  state.counters["least_reads"] = w->audit.PerOp(w->audit.distinctReads);
  state.counters["least_writes"] = 0;
}

void BM_LegacyPeer(benchmark::State& state, std::string name) {
  LegacyWorkload* w = GetLegacy();
  if (!w->error.empty()) {
    state.SkipWithError(w->error.c_str());
    return;
  }
  const std::string path = w->path + "." + name;
  fs::copy_file(w->peerTemplates.at(name), path, fs::copy_options::overwrite_existing);
  auto peer = OpenPeer(name, path, 6);
  if (!peer) {
    state.SkipWithError(("cannot open " + path).c_str());
    return;
  }
  Bytes out;
  uint64_t seq = 0, failed = 0;
  peer->BeginBatch();
  for (auto _ : state) {
    const Bytes& r = w->records[seq++ % w->records.size()];
    failed += peer->Fetch(r, out) && out.size() == r.size() ? 0 : 1;
    if (seq % 1000 == 0) {
      peer->EndBatch();
      peer->BeginBatch();
    }
  }
  peer->EndBatch();
  state.counters["failed"] = static_cast<double>(failed);
}

void BM_LegacyFloor(benchmark::State& state) {
  LegacyWorkload* w = GetLegacy();
  if (!w->error.empty()) {
    state.SkipWithError(w->error.c_str());
    return;
  }
  BareBlocks(state, w->fd, w->image, w->blocks, false);
}

std::string Name(const Shape& shape, int fill, const char* op, const char* engine) {
  return std::string(op) + "/" + shape.name + "/" + std::to_string(fill) + "/" + engine;
}

void RegisterAll() {
  for (const Shape* shape : kShapes) {
    for (int fill : kFills) {
      for (Op op : kOps) {
        const char* op_name = kOpNames[static_cast<int>(op)];
        benchmark::RegisterBenchmark(Name(*shape, fill, op_name, "varmex").c_str(), BM_Keyed, shape,
                                     fill, op, false);
        benchmark::RegisterBenchmark(Name(*shape, fill, op_name, "varmex-cached").c_str(), BM_Keyed,
                                     shape, fill, op, true);
        for (const char* peer : {"gdbm", "sqlite"}) {
          benchmark::RegisterBenchmark(Name(*shape, fill, op_name, peer).c_str(), BM_Peer, shape,
                                       fill, op, std::string(peer));
        }
      }
      benchmark::RegisterBenchmark(Name(*shape, fill, "Floor", "read512").c_str(), BM_Floor, shape,
                                   fill, false);
      benchmark::RegisterBenchmark(Name(*shape, fill, "Floor", "write512").c_str(), BM_Floor, shape,
                                   fill, true);
    }
  }
  benchmark::RegisterBenchmark("LegacyKeyedRead/estimate/-/varmex", BM_Legacy, false);
  benchmark::RegisterBenchmark("LegacyKeyedRead/estimate/-/varmex-cached", BM_Legacy, true);
  for (const char* peer : {"gdbm", "sqlite"}) {
    benchmark::RegisterBenchmark((std::string("LegacyKeyedRead/estimate/-/") + peer).c_str(),
                                 BM_LegacyPeer, std::string(peer));
  }
  benchmark::RegisterBenchmark("Floor/estimate/-/read512", BM_LegacyFloor);
}

// Keeps every finished run for the table while the console shows them as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  explicit CollectingReporter(ResultTable& table) : table_(table) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      Measurement m;
      m.nsPerOp = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
      for (const auto& [name, counter] : run.counters) m.counters[name] = counter.value;
      table_.Add(run.benchmark_name(), m);
    }
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  ResultTable& table_;
};

// Takes this program's own flags out of argv; the rest goes to Google Benchmark.
std::vector<char*> ParseOwnFlags(int argc, char** argv) {
  std::vector<char*> rest{argv[0]};
  auto value = [](const char* arg, const char* flag) -> const char* {
    const size_t n = std::strlen(flag);
    return std::strncmp(arg, flag, n) == 0 ? arg + n : nullptr;
  };
  bool minTimeGiven = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (const char* v = value(a, "--blocks=")) {
      Opts().blocks = std::max(3, std::atoi(v));
    } else if (const char* v2 = value(a, "--dir=")) {
      Opts().dir = v2;
    } else if (const char* v3 = value(a, "--table=")) {
      Opts().table = v3;
    } else if (const char* v4 = value(a, "--legacy-estimates=")) {
      Opts().legacyEstimates = std::max(1, std::atoi(v4));
    } else if (std::strcmp(a, "--smoke") == 0) {
      Opts().smoke = true;
    } else {
      if (value(a, "--benchmark_min_time=")) minTimeGiven = true;
      rest.push_back(argv[i]);
    }
  }
  if (Opts().smoke) {
    // A few milliseconds in all: tiny files, a handful of iterations each.
    Opts().blocks = 17;
    Opts().legacyEstimates = 30;
    static char minTime[] = "--benchmark_min_time=0.0001";
    if (!minTimeGiven) rest.push_back(minTime);
  }
  return rest;
}

}  // namespace
}  // namespace varmex::bench

int main(int argc, char** argv) {
  using namespace varmex::bench;
  std::vector<char*> args = ParseOwnFlags(argc, argv);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  RegisterAll();
  ResultTable table;
  CollectingReporter reporter(table);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  Workloads().clear();
  LegacyCache().reset();

  const std::string text = table.Markdown(Opts().blocks);
  std::fputs(text.c_str(), stdout);
  if (!Opts().table.empty() &&
      !WriteWholeFile(
          Opts().table,
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()))) {
    std::fprintf(stderr, "store_bench: cannot write %s\n", Opts().table.c_str());
    return 1;
  }
  const std::vector<std::string> failures = table.Failures();
  for (const std::string& name : failures)
    std::fprintf(stderr, "store_bench: %s: some operations failed\n", name.c_str());
  if (Opts().dir.empty()) std::filesystem::remove_all(WorkDir());
  return failures.empty() ? 0 : 1;
}
