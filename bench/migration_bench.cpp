// The whole-migration benchmark: generates a large old collection (25,000 estimates,
// about a thousand GRUPDEVs, 999 price bases, furnmat.dat spread over 16,000 blocks),
// runs the built varmex-setup with "/prel" over scratch drives with a script answering
// its dialogs, and reports wall time, peak memory and block reads and writes beside
// the I/O floor measured in the same run (copying the same files, and reading every
// block of dev.dat, nor.dat, tehno.dat and norinc.dat once). The digest of the data
// files written lets two builds be compared byte for byte.
//
//   migration_bench [--bin DIR] [--setup PROGRAM] [--work DIR] [--estimates N] [--runs N]
//                   [--report FILE] [--keep] [--smoke]
#include <malloc.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/migration_run.h"
#include "io/coding.h"
#include "tools/gencollection/collection.h"

namespace {

namespace fs = std::filesystem;
using namespace varmex;
using namespace varmex::bench;

struct Options {
  std::string bin;
  std::string setup;
  std::string work;
  int32_t estimates = 25000;
  int runs = 3;
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

std::string OwnDir(const char* argv0) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return (ec ? fs::absolute(argv0) : self).parent_path().string();
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
    } else if (a == "--estimates") {
      o.estimates = std::atoi(value().c_str());
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
    o.estimates = std::min(o.estimates, 300);
    o.runs = 1;
  }
  return o.estimates > 0;
}

// The old collection: random investments plus ten large ones spread over 30 objects
// and two price bases, so that about a thousand GRUPDEVs come out.
gencollection::CollectionOptions CollectionPlan(const Options& o) {
  gencollection::CollectionOptions c;
  c.version = 36;
  c.seed = 1;
  c.priceBases = o.smoke ? 20 : 999;
  const int32_t large = o.smoke ? 0 : std::min<int32_t>(10, o.estimates / 2500);
  for (int32_t k = 0; k < large; ++k) {
    gencollection::InvestmentPlan plan;
    plan.number = static_cast<int16_t>(9000 + k);
    plan.estimates = 1000;
    plan.objects = 30;
    plan.bases = {static_cast<int16_t>(1 + 2 * k), static_cast<int16_t>(2 + 2 * k)};
    c.investments.push_back(plan);
  }
  c.estimates = o.estimates - 1000 * large;
  return c;
}

int32_t LastGrupdevNumber(const std::string& lcalcdev) {
  std::ifstream in(lcalcdev, std::ios::binary);
  uint8_t block[512] = {};
  in.read(reinterpret_cast<char*>(block), sizeof block);
  return in ? io::LoadI32(block + 22) : 0;
}

bool EndedWithSuccess(const std::string& transcript) {
  std::ifstream in(transcript);
  std::string line;
  bool success = false;
  while (std::getline(in, line)) {
    if (line.find("\"Instalare cu succes!\"") != std::string::npos) success = true;
  }
  return success;
}

std::string Fixed(double v, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;
  const std::string gen = o.work + "/gen";
  const std::string collection = gen + "/C/Palunor";
  const std::string fresh = gen + "/fresh";

  // The collection, written once and copied for every run. Only its figures are kept:
  // a forked child's peak memory counts what this process held when it forked.
  size_t estimateCount = 0, investmentCount = 0, priceBaseCount = 0;
  int32_t devBlocks = 0;
  {
    gencollection::Collection c = gencollection::GenerateCollection(CollectionPlan(o));
    if (!gencollection::WriteFiles(c.files, collection) ||
        !gencollection::WriteFiles(gencollection::FreshFiles(4000, o.smoke ? 2000 : 40000),
                                   fresh)) {
      std::fprintf(stderr, "migration_bench: cannot write the collection under %s\n", gen.c_str());
      return 1;
    }
    estimateCount = c.estimates.size();
    investmentCount = c.investments.size();
    priceBaseCount = c.priceBases.size();
    devBlocks = c.devBlocks;
  }
  ::malloc_trim(0);
  const int32_t furnmatBlocks = o.smoke ? 12000 : 16000;
  const ChildRun spread = RunChild({o.bin + "/nredisp", "-o", "-d", std::to_string(furnmatBlocks),
                                    collection + "/Varmex/FURNMAT.DAT"},
                                   {}, "");
  if (spread.status != 0) {
    std::fprintf(stderr, "migration_bench: nredisp could not spread FURNMAT.DAT (status %d)\n",
                 spread.status);
    return 1;
  }
  std::printf(
      "collection: %zu estimates, %zu investments, dev.dat %d blocks, furnmat.dat %d blocks\n",
      estimateCount, investmentCount, devBlocks, furnmatBlocks);

  const std::vector<std::string> normFiles = {"Varmex/DEV.DAT", "Varmex/NOR.DAT",
                                              "Varmex/TEHNO.DAT", "Varmex/NORINC.DAT"};
  std::vector<double> walls, floors, ratios, users, systems;
  long peakKb = 0;
  BlockCounts setupCounts, toolCounts;
  std::map<std::string, BlockCounts> perFile;
  uint64_t digest = 0;
  int32_t grupdevs = 0;
  IoFloor lastFloor;
  bool ok = true;
  for (int run = 0; run < o.runs; ++run) {
    const std::string root = o.work + "/run";
    if (!LayOutDrives(root, collection, fresh, o.bin)) {
      std::fprintf(stderr, "migration_bench: cannot lay out %s\n", root.c_str());
      return 1;
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
    if (r.status != 0 || !EndedWithSuccess(root + "/transcript")) {
      std::fprintf(
          stderr,
          "migration_bench: run %d ended with status %d without the success message (see %s)\n",
          run + 1, r.status, root.c_str());
      o.keep = true;
      ok = false;
      break;
    }
    ::sync();
    const IoFloor floor = MeasureIoFloor(collection, o.work + "/floor", normFiles);
    walls.push_back(r.wallSeconds);
    users.push_back(r.userSeconds);
    systems.push_back(r.systemSeconds);
    floors.push_back(floor.Seconds());
    ratios.push_back(r.wallSeconds / floor.Seconds());
    peakKb = std::max(peakKb, r.maxRssKb);
    lastFloor = floor;
    const auto perProgram = ReadBlockCounts(counts);
    setupCounts = BlockCounts{};
    toolCounts = BlockCounts{};
    perFile.clear();
    for (const auto& [program, n] : perProgram) {
      const size_t space = program.find(' ');
      if (space != std::string::npos) {
        if (program.rfind("varmex-setup ", 0) != 0) continue;
        // The price bases together, the other files one by one.
        std::string file = program.substr(space + 1);
        if (file.rfind("baz", 0) == 0) file = "baz*.dat";
        perFile[file].reads += n.reads;
        perFile[file].writes += n.writes;
        continue;
      }
      BlockCounts& into = program.rfind("varmex-setup", 0) == 0 ? setupCounts : toolCounts;
      into.reads += n.reads;
      into.writes += n.writes;
      into.allReads += n.allReads;
      into.allWrites += n.allWrites;
    }
    const uint64_t d = DataDigest(root + "/drives/D/kedro");
    if (run > 0 && d != digest) {
      std::fprintf(stderr, "migration_bench: run %d wrote different data files than run 1\n",
                   run + 1);
      ok = false;
    }
    digest = d;
    grupdevs = LastGrupdevNumber(root + "/drives/D/kedro/Varmex/lcalcdev.dat");
    std::printf(
        "run %d: %.2f s wall (%.2f s user, %.2f s system), peak %ld KB; I/O floor %.2f s; x%.2f\n",
        run + 1, r.wallSeconds, r.userSeconds, r.systemSeconds, r.maxRssKb, floor.Seconds(),
        r.wallSeconds / floor.Seconds());
  }
  if (walls.empty()) return 1;

  char digestText[24];
  std::snprintf(digestText, sizeof digestText, "%016" PRIx64, digest);
  std::string text;
  text += "\nWhole migration (varmex-setup /prel), " + std::to_string(estimateCount) +
          " estimates, " + std::to_string(grupdevs) + " GRUPDEVs, " +
          std::to_string(priceBaseCount) + " price bases, furnmat.dat " +
          std::to_string(furnmatBlocks) + " blocks; median of " + std::to_string(walls.size()) +
          " runs\n\n";
  text += "| Measure | Migration | I/O floor | x floor |\n|---|---:|---:|---:|\n";
  text += "| Wall time s | " + Fixed(Median(walls), 2) + " | " + Fixed(Median(floors), 2) + " | " +
          Fixed(Median(ratios), 2) + " |\n";
  text += "| CPU s (user + system) | " + Fixed(Median(users), 2) + " + " +
          Fixed(Median(systems), 2) + " | | |\n";
  text += "| Peak memory MB | " + Fixed(static_cast<double>(peakKb) / 1024, 1) + " | | |\n";
  text += "| Block reads (512 B), varmex-setup | " + std::to_string(setupCounts.reads) + " | " +
          std::to_string(lastFloor.blocksRead) + " | " +
          Fixed(static_cast<double>(setupCounts.reads) /
                    static_cast<double>(std::max<uint64_t>(1, lastFloor.blocksRead)),
                2) +
          " |\n";
  text +=
      "| Block writes (512 B), varmex-setup | " + std::to_string(setupCounts.writes) + " | | |\n";
  text += "| Block reads / writes, dens and nredisp | " + std::to_string(toolCounts.reads) + " / " +
          std::to_string(toolCounts.writes) + " | | |\n";
  text += "| Bytes copied | | " + std::to_string(lastFloor.bytesCopied) + " | |\n";
  text +=
      "\nBlock reads and writes of varmex-setup per file:\n\n| File | Reads | Writes "
      "|\n|---|---:|---:|\n";
  for (const auto& [file, n] : perFile) {
    if (n.reads + n.writes > 0)
      text +=
          "| " + file + " | " + std::to_string(n.reads) + " | " + std::to_string(n.writes) + " |\n";
  }
  text += "\nI/O floor = copying the collection's files (" + Fixed(lastFloor.copySeconds, 2) +
          " s in the last run) + reading every block of dev.dat, nor.dat, tehno.dat, norinc.dat "
          "once (" +
          Fixed(lastFloor.readSeconds, 2) + " s). Digest of the data files written: " + digestText +
          "\n";
  std::fputs(text.c_str(), stdout);
  if (!o.report.empty()) std::ofstream(o.report) << text;
  if (!o.keep) {
    std::error_code ec;
    fs::remove_all(o.work, ec);
  }
  return ok ? 0 : 1;
}
