// The whole-migration benchmark, at several collection sizes side by side: for each
// size it generates an old collection (the estimates in random investments plus ten
// investments of 1,000 estimates over 30 objects and two price bases, 999 price bases,
// furnmat.dat spread over 16,000 blocks) beside the same fresh lcalcdev.dat of 4,000
// blocks and Prefman.dat of 40,000 at every size, runs the built varmex-setup with
// "/prel" over scratch drives with a script answering its dialogs, and reports wall
// time, CPU, peak memory, block reads and writes per file, the records the warning
// says were not written, the check of lcalcdev.dat and Prefman.dat, and the I/O floor
// measured in the same run, with the cost per estimate. The digest of the data files
// written lets two builds be compared byte for byte.
//
//   migration_bench [--bin DIR] [--setup PROGRAM] [--work DIR] [--sizes N,N,...]
//                   [--estimates N] [--runs N] [--report FILE] [--keep] [--smoke]
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/migration_run.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/native.h"
#include "store/verify.h"
#include "tools/gencollection/collection.h"

namespace {

namespace fs = std::filesystem;
using namespace varmex;
using namespace varmex::bench;

struct Options {
  std::string bin;
  std::string setup;
  std::string work;
  std::vector<int32_t> sizes = {25000, 100000, 250000, 500000};
  int runs = 1;
  std::string report;
  bool keep = false;
  bool smoke = false;
};

// Answers: drive D in the partition dialog, Yes to the migration question, the old
// collection C:\Palunor in dialog 107, and one GRUPDEV per object for every investment
// that asks.
constexpr const char* kScript =
    "dialog 101\nselect 1002 D\nclick 1\nanswer yes\n"
    "dialog 107\nset 1021 C:\\Palunor\nclick 1\n"
    "dialog 102\nclick 1009\nclick 1007\n";

constexpr int32_t kFreshLcalcdevBlocks = 4000;
constexpr int32_t kFreshPrefmanBlocks = 40000;

std::string OwnDir(const char* argv0) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return (ec ? fs::absolute(argv0) : self).parent_path().string();
}

std::vector<int32_t> ParseSizes(const std::string& text) {
  std::vector<int32_t> sizes;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    const int32_t n = std::atoi(item.c_str());
    if (n <= 0) return {};
    sizes.push_back(n);
  }
  return sizes;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--bin") {
      o.bin = value();
    } else if (a == "--setup") {
      o.setup = value();
    } else if (a == "--work") {
      o.work = value();
    } else if (a == "--sizes" || a == "--estimates") {
      o.sizes = ParseSizes(value());
    } else if (a == "--runs") {
      o.runs = std::max(1, std::atoi(value().c_str()));
    } else if (a == "--report") {
      o.report = value();
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--smoke") {
      o.smoke = true;
    } else {
      std::fprintf(stderr, "migration_bench: unknown argument %s\n", a.c_str());
      return false;
    }
  }
  if (o.bin.empty()) o.bin = OwnDir(argv[0]);
  if (o.setup.empty()) o.setup = o.bin + "/varmex-setup";
  if (o.work.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    o.work = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
             "/varmex-migration-bench-" + std::to_string(::getpid());
  }
  if (o.smoke) {
    o.sizes = {300};
    o.runs = 1;
  }
  return !o.sizes.empty();
}

// The old collection: random investments plus ten large ones spread over 30 objects
// and two price bases.
gencollection::CollectionOptions CollectionPlan(const Options& o, int32_t estimates) {
  gencollection::CollectionOptions c;
  c.version = 36;
  c.seed = 1;
  c.priceBases = o.smoke ? 20 : 999;
  const int32_t large = o.smoke ? 0 : std::min<int32_t>(10, estimates / 2500);
  for (int32_t k = 0; k < large; ++k) {
    gencollection::InvestmentPlan plan;
    plan.number = static_cast<int16_t>(9000 + k);
    plan.estimates = 1000;
    plan.objects = 30;
    plan.bases = {static_cast<int16_t>(1 + 2 * k), static_cast<int16_t>(2 + 2 * k)};
    c.investments.push_back(plan);
  }
  c.estimates = estimates - 1000 * large;
  return c;
}

int32_t LastGrupdevNumber(const std::string& lcalcdev) {
  std::ifstream in(lcalcdev, std::ios::binary);
  uint8_t block[512] = {};
  in.read(reinterpret_cast<char*>(block), sizeof block);
  return in ? io::LoadI32(block + 22) : 0;
}

// What the transcript says: the completion message, and the counts of the warning
// about records not written (-1 each when it was not shown).
struct TranscriptFacts {
  bool success = false;
  int unwrittenLcalcdev = -1;
  int unwrittenPrefman = -1;
};

int CountAfter(const std::string& line, const std::string& label) {
  const size_t at = line.find(label);
  return at == std::string::npos ? -1 : std::atoi(line.substr(at + label.size(), 5).c_str());
}

TranscriptFacts ReadTranscript(const std::string& transcript) {
  TranscriptFacts facts;
  std::ifstream in(transcript);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\"Instalare cu succes!\"") != std::string::npos) facts.success = true;
    const int l = CountAfter(line, "Inregistrari nescrise in lcalcdev.dat:");
    if (l >= 0) {
      facts.unwrittenLcalcdev = l;
      facts.unwrittenPrefman = CountAfter(line, "Inregistrari nescrise in Prefman.dat:");
    }
  }
  return facts;
}

// The structural check of a block file written by the migration.
struct FileCheck {
  int32_t blocks = 0;
  int64_t records = 0;
  double usedShare = 0;
  size_t problems = 0;
  std::string firstProblem;
};

FileCheck CheckBlockFile(const std::string& path) {
  FileCheck c;
  const int16_t unit = io::FindFreeUnit();
  if (io::OpenUnit(platform::NativePlatform(), unit, path, 512) != io::kIoOk) {
    c.problems = 1;
    c.firstProblem = "cannot open";
    return c;
  }
  const store::VerifyReport r = store::VerifyBlockFileOnUnit(unit, 0);
  io::CloseUnit(unit);
  c.blocks = r.blocks;
  c.records = r.records;
  c.usedShare = r.blocks > 0 ? static_cast<double>(r.usedCells) / (256.0 * r.blocks) : 0;
  c.problems = r.problems.size();
  if (!r.problems.empty()) {
    c.firstProblem = store::FormatProblems(r).substr(0, 120);
    std::replace(c.firstProblem.begin(), c.firstProblem.end(), '\n', ' ');
  }
  return c;
}

// The rows of the per-file table: the files the migration works on by name, the price
// bases together, the temporary files of re-spreading together, every other data file
// copied together.
std::string FileRow(const std::string& name) {
  static const std::set<std::string> own = {
      "dev.dat",     "obi.dat",      "nor.dat",     "norinc.dat", "tehno.dat", "furndev.dat",
      "furnmat.dat", "lcalcdev.dat", "prefman.dat", "terti.dat",  "terti.voc", "cursval.dat"};
  if (own.count(name) != 0) return name;
  if (name.find(".nredisp") != std::string::npos) return "re-spreading temporaries";
  if (name.rfind("baz", 0) == 0 && name.size() == 10) return "baz*.dat";
  const size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  if (ext == ".dat" || ext == ".voc") return "other data files";
  return "";  // not a data file: the transcript, the answer script
}

struct SizeResult {
  int32_t estimates = 0;
  size_t investments = 0;
  int32_t devBlocks = 0;
  int32_t grupdevs = 0;
  std::vector<double> walls, users, systems, floorWalls;
  long peakKb = 0;
  BlockCounts setup, tools;                    // data files only
  std::map<std::string, BlockCounts> perFile;  // by row, all programs
  IoFloor floor;
  TranscriptFacts facts;
  FileCheck lcalcdev, prefman;
  uint64_t digest = 0;
  bool ok = true;

  double Wall() const { return Median(walls); }
  double FloorWall() const { return Median(floorWalls); }
  uint64_t Reads() const { return setup.reads + tools.reads; }
  uint64_t Writes() const { return setup.writes + tools.writes; }
  uint64_t FloorReads() const { return floor.blocksCopied + floor.blocksRead; }
  double MicrosPerEstimate() const { return 1e6 * Wall() / std::max<int32_t>(1, estimates); }
};

std::string Fixed(double v, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string Ratio(double a, double b) { return b > 0 ? Fixed(a / b, 2) : "-"; }

// Generates the collection of one size, runs the migration `runs` times and measures.
SizeResult RunSize(const Options& o, int32_t estimates) {
  SizeResult result;
  result.estimates = estimates;
  const std::string gen = o.work + "/gen-" + std::to_string(estimates);
  const std::string collection = gen + "/C/Palunor";
  const std::string fresh = gen + "/fresh";
  {
    // Only the collection's figures are kept: a forked child's peak memory counts what
    // this process held when it forked.
    gencollection::Collection c = gencollection::GenerateCollection(CollectionPlan(o, estimates));
    if (!gencollection::WriteFiles(c.files, collection) ||
        !gencollection::WriteFiles(
            gencollection::FreshFiles(kFreshLcalcdevBlocks,
                                      o.smoke ? kFreshPrefmanBlocks / 20 : kFreshPrefmanBlocks),
            fresh)) {
      std::fprintf(stderr, "migration_bench: cannot write the collection under %s\n", gen.c_str());
      result.ok = false;
      return result;
    }
    result.estimates = static_cast<int32_t>(c.estimates.size());
    result.investments = c.investments.size();
    result.devBlocks = c.devBlocks;
  }
  ::malloc_trim(0);
  const int32_t furnmatBlocks = o.smoke ? 12000 : 16000;
  const ChildRun spread = RunChild({o.bin + "/nredisp", "-o", "-d", std::to_string(furnmatBlocks),
                                    collection + "/Varmex/FURNMAT.DAT"},
                                   {}, "");
  if (spread.status != 0) {
    std::fprintf(stderr, "migration_bench: nredisp could not spread FURNMAT.DAT (status %d)\n",
                 spread.status);
    result.ok = false;
    return result;
  }
  std::printf("collection: %d estimates, %zu investments, dev.dat %d blocks\n", result.estimates,
              result.investments, result.devBlocks);
  std::fflush(stdout);

  std::vector<std::string> readThrough = {"Varmex/DEV.DAT", "Varmex/NOR.DAT", "Varmex/TEHNO.DAT",
                                          "Varmex/NORINC.DAT"};
  for (int k = 1; k <= 999; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "Varmex/baz%03d.dat", k);
    readThrough.emplace_back(name);
  }
  for (int run = 0; run < o.runs; ++run) {
    const std::string root = o.work + "/run";
    if (!LayOutDrives(root, collection, fresh, o.bin)) {
      std::fprintf(stderr, "migration_bench: cannot lay out %s\n", root.c_str());
      result.ok = false;
      return result;
    }
    std::ofstream(root + "/script") << kScript;
    // Dirty pages of the copies go to disk first, so that the run is not slowed by
    // the write-back of what came before it (nor the floor by the run's).
    ::sync();
    const std::string counts = root + "/io-counts";
    const ChildRun r = RunChild({o.setup, "/prel"},
                                {{"VARMEX_DRIVES", root + "/drives"},
                                 {"VARMEX_UI_SCRIPT", root + "/script"},
                                 {"VARMEX_UI_TRANSCRIPT", root + "/transcript"},
                                 {"VARMEX_IO_COUNT_OUT", counts},
                                 {"LD_PRELOAD", o.bin + "/libvarmex_io_count.so"}},
                                root);
    result.facts = ReadTranscript(root + "/transcript");
    if (r.status != 0 || !result.facts.success) {
      std::fprintf(
          stderr,
          "migration_bench: run %d ended with status %d without the success message (see %s)\n",
          run + 1, r.status, root.c_str());
      result.ok = false;
      return result;
    }
    ::sync();
    result.floor = MeasureIoFloor(collection, o.work + "/floor", readThrough);
    result.walls.push_back(r.wallSeconds);
    result.users.push_back(r.userSeconds);
    result.systems.push_back(r.systemSeconds);
    result.floorWalls.push_back(result.floor.Seconds());
    // The programs' own peaks when the counter told them: wait4's figure also holds what
    // the child shared with this process between fork and exec.
    long peakKb = 0;
    for (const auto& [key, n] : ReadBlockCounts(counts)) peakKb = std::max(peakKb, n.peakKb);
    if (peakKb == 0) peakKb = r.maxRssKb;
    result.peakKb = std::max(result.peakKb, peakKb);
    result.setup = BlockCounts{};
    result.tools = BlockCounts{};
    result.perFile.clear();
    for (const auto& [key, n] : ReadBlockCounts(counts)) {
      const size_t space = key.find(' ');
      if (space == std::string::npos) continue;
      const std::string row = FileRow(key.substr(space + 1));
      if (row.empty()) continue;
      BlockCounts& into = key.rfind("varmex-setup ", 0) == 0 ? result.setup : result.tools;
      into.reads += n.reads;
      into.writes += n.writes;
      result.perFile[row].reads += n.reads;
      result.perFile[row].writes += n.writes;
      result.perFile[row].allReads += n.allReads;
      result.perFile[row].allWrites += n.allWrites;
    }
    const uint64_t d = DataDigest(root + "/drives/D/kedro");
    if (run > 0 && d != result.digest) {
      std::fprintf(stderr, "migration_bench: run %d wrote different data files than run 1\n",
                   run + 1);
      result.ok = false;
    }
    result.digest = d;
    const std::string varmex = root + "/drives/D/kedro/Varmex/";
    result.grupdevs = LastGrupdevNumber(varmex + "lcalcdev.dat");
    result.lcalcdev = CheckBlockFile(varmex + "lcalcdev.dat");
    result.prefman = CheckBlockFile(varmex + "Prefman.dat");
    std::printf(
        "%d estimates, run %d: %.2f s wall (%.2f s user, %.2f s system), peak %ld KB; I/O floor "
        "%.2f s; x%.2f\n",
        result.estimates, run + 1, r.wallSeconds, r.userSeconds, r.systemSeconds, peakKb,
        result.floor.Seconds(), r.wallSeconds / result.floor.Seconds());
    std::fflush(stdout);
  }
  if (!o.keep) {
    std::error_code ec;
    fs::remove_all(gen, ec);
  }
  return result;
}

std::string Number(uint64_t n) { return std::to_string(n); }

std::string Unwritten(const SizeResult& r) {
  if (r.facts.unwrittenLcalcdev < 0) return "0 (no warning)";
  return std::to_string(r.facts.unwrittenLcalcdev + std::max(0, r.facts.unwrittenPrefman)) +
         " (lcalcdev " + std::to_string(r.facts.unwrittenLcalcdev) + ", Prefman " +
         std::to_string(r.facts.unwrittenPrefman) + ")";
}

std::string Checked(const FileCheck& c) {
  std::string s = std::to_string(c.blocks) + " blocks, " + Fixed(100 * c.usedShare, 1) + "% used, ";
  s += c.problems == 0 ? "clean" : std::to_string(c.problems) + " problems: " + c.firstProblem;
  return s;
}

std::string Table(const std::vector<SizeResult>& results, int runs) {
  std::string t;
  t += "\nWhole migration (varmex-setup /prel) by collection size, fresh lcalcdev.dat of " +
       std::to_string(kFreshLcalcdevBlocks) + " and Prefman.dat of " +
       std::to_string(kFreshPrefmanBlocks) + " blocks at every size; times are the median of " +
       std::to_string(runs) + (runs == 1 ? " run" : " runs") + "\n\n| Measure |";
  std::string rule = "|---|";
  for (const SizeResult& r : results) {
    t += " " + std::to_string(r.estimates) + " |";
    rule += "---:|";
  }
  t += "\n" + rule + "\n";
  auto row = [&](const std::string& name, auto&& cell) {
    t += "| " + name + " |";
    for (const SizeResult& r : results) t += " " + cell(r) + " |";
    t += "\n";
  };
  const SizeResult& first = results.front();
  row("GRUPDEVs", [](const SizeResult& r) { return std::to_string(r.grupdevs); });
  row("Wall time s", [](const SizeResult& r) { return Fixed(r.Wall(), 2); });
  row("I/O floor wall time s", [](const SizeResult& r) { return Fixed(r.FloorWall(), 2); });
  row("x floor (wall)", [](const SizeResult& r) { return Ratio(r.Wall(), r.FloorWall()); });
  row("CPU s (user + system)", [](const SizeResult& r) {
    return Fixed(Median(r.users), 2) + " + " + Fixed(Median(r.systems), 2);
  });
  row("Peak memory MB", [](const SizeResult& r) { return Fixed(r.peakKb / 1024.0, 1); });
  row("Block reads, whole migration", [](const SizeResult& r) { return Number(r.Reads()); });
  row("Block reads, I/O floor", [](const SizeResult& r) { return Number(r.FloorReads()); });
  row("x floor (reads)", [](const SizeResult& r) {
    return Ratio(static_cast<double>(r.Reads()), static_cast<double>(r.FloorReads()));
  });
  row("Block writes, whole migration", [](const SizeResult& r) { return Number(r.Writes()); });
  row("Block writes, I/O floor", [](const SizeResult& r) { return Number(r.floor.blocksCopied); });
  row("Records unwritten", [](const SizeResult& r) { return Unwritten(r); });
  row("lcalcdev.dat after", [](const SizeResult& r) { return Checked(r.lcalcdev); });
  row("Prefman.dat after", [](const SizeResult& r) { return Checked(r.prefman); });
  row("Wall us per estimate", [](const SizeResult& r) { return Fixed(r.MicrosPerEstimate(), 1); });
  row("x that at the smallest size", [&first](const SizeResult& r) {
    return Ratio(r.MicrosPerEstimate(), first.MicrosPerEstimate());
  });
  row("Block reads per estimate",
      [](const SizeResult& r) { return Fixed(static_cast<double>(r.Reads()) / r.estimates, 1); });

  t += "\nBlock reads / writes per file (varmex-setup, dens and nredisp together), then the "
       "read / write system calls that moved them:\n\n| File |";
  std::set<std::string> rows;
  for (const SizeResult& r : results) {
    for (const auto& [file, n] : r.perFile) rows.insert(file);
  }
  for (const SizeResult& r : results) t += " " + std::to_string(r.estimates) + " |";
  t += "\n" + rule + "\n";
  for (const std::string& file : rows) {
    t += "| " + file + " |";
    for (const SizeResult& r : results) {
      const auto it = r.perFile.find(file);
      t += it == r.perFile.end()
               ? " - |"
               : " " + Number(it->second.reads) + " / " + Number(it->second.writes) + " (" +
                     Number(it->second.allReads) + " / " + Number(it->second.allWrites) + ") |";
    }
    t += "\n";
  }
  t += "\nI/O floor = copying every file of the collection (64 KiB reads and writes) + reading "
       "every block of dev.dat, nor.dat, tehno.dat, norinc.dat and the price bases once (512-byte "
       "reads). Blocks are counted as bytes moved / 512 whatever the size of each call.\nDigests "
       "of the data files written:";
  for (const SizeResult& r : results) {
    char text[24];
    std::snprintf(text, sizeof text, "%016" PRIx64, r.digest);
    t += " " + std::to_string(r.estimates) + ": " + text + ";";
  }
  t += "\n";
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;
  std::vector<SizeResult> results;
  bool ok = true;
  for (int32_t size : o.sizes) {
    results.push_back(RunSize(o, size));
    if (!results.back().ok) {
      ok = false;
      o.keep = true;
      break;
    }
  }
  if (!results.empty() && !results.back().ok) results.pop_back();
  if (!results.empty()) {
    const std::string text = Table(results, o.runs);
    std::fputs(text.c_str(), stdout);
    if (!o.report.empty()) std::ofstream(o.report) << text;
  }
  if (!o.keep) {
    std::error_code ec;
    fs::remove_all(o.work, ec);
  }
  return ok ? 0 : 1;
}
