// gencollection: writes a synthetic old data collection of the suite (versions 35 and
// 36), seeded and repeatable, for the demo, the tests and the benchmarks.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/gencollection/collection.h"

namespace {

constexpr const char* kHelp =
    "usage: gencollection [options] [OUTDIR]\n"
    "\n"
    "Writes a synthetic old data collection into OUTDIR:\n"
    "  version 36: OUTDIR/Varmex/*.DAT (DEV.DAT, OBI.DAT, NOR.DAT, TEHNO.DAT, NORINC.DAT,\n"
    "              FURNMAT.DAT, FURNDEV.DAT, CURSVAL.DAT, baz001.dat..., the other\n"
    "              required files) and OUTDIR/ERP/terti.dat, terti.voc\n"
    "  version 35: OUTDIR/*.DAT, with FURN.DAT instead of the ERP files\n"
    "dev.dat, obi.dat and the norm files are in the older word layout (records placed\n"
    "where the look-up finds them, some in several pieces); obi.dat's block 1 is the\n"
    "header with the block counts of the estimate files.\n"
    "\n"
    "options:\n"
    "  --version 35|36        layout of the collection (default 36)\n"
    "  --estimates N          estimates in random investments (default 200)\n"
    "  --seed S               seed; the same options and seed give the same bytes (default 1)\n"
    "  --investment SPEC      an investment of exact size, repeatable:\n"
    "                         NUMBER:ESTIMATES[:OBJECTS[:BASES[:noobi]]], BASES a list like 1/2\n"
    "                         (base 0: no price base); noobi: no record in obi.dat\n"
    "  --bases N              price bases baz001..bazN (odd ones with a header record,\n"
    "                         even ones without) (default 3)\n"
    "  --block-norms          nor.dat, tehno.dat, norinc.dat as block files\n"
    "  --split PERCENT        chance of cutting a record into extra pieces (default 20)\n"
    "  --fresh DIR            also write the fresh installation's empty lcalcdev.dat and\n"
    "                         Prefman.dat (block files, header only) into DIR\n"
    "  --lcalcdev-blocks N    block count of the fresh lcalcdev.dat (default 2000)\n"
    "  --prefman-blocks N     block count of the fresh Prefman.dat (default 4000)\n"
    "  --help                 this text\n";

bool ParseInvestment(const std::string& spec, varmex::gencollection::InvestmentPlan& plan) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = spec.find(':', start);
    parts.push_back(
        spec.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 5) return false;
  plan.number = static_cast<int16_t>(std::atoi(parts[0].c_str()));
  plan.estimates = std::atoi(parts[1].c_str());
  if (plan.number <= 0 || plan.estimates < 0) return false;
  if (parts.size() > 2) plan.objects = static_cast<int16_t>(std::atoi(parts[2].c_str()));
  if (parts.size() > 3) {
    plan.bases.clear();
    size_t s = 0;
    for (;;) {
      const size_t slash = parts[3].find('/', s);
      plan.bases.push_back(static_cast<int16_t>(std::atoi(parts[3].substr(s, slash - s).c_str())));
      if (slash == std::string::npos) break;
      s = slash + 1;
    }
  }
  if (parts.size() > 4) {
    if (parts[4] != "noobi") return false;
    plan.inObi = false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  varmex::gencollection::CollectionOptions options;
  std::string outDir, freshDir;
  int32_t lcalcdevBlocks = 2000, prefmanBlocks = 4000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "gencollection: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--version") {
      options.version = std::atoi(value().c_str());
    } else if (arg == "--estimates") {
      options.estimates = std::atoi(value().c_str());
    } else if (arg == "--seed") {
      options.seed = std::strtoull(value().c_str(), nullptr, 10);
    } else if (arg == "--investment") {
      varmex::gencollection::InvestmentPlan plan;
      if (!ParseInvestment(value(), plan)) {
        std::fprintf(stderr, "gencollection: bad --investment %s\n", argv[i]);
        return 2;
      }
      options.investments.push_back(plan);
    } else if (arg == "--bases") {
      options.priceBases = std::atoi(value().c_str());
    } else if (arg == "--block-norms") {
      options.blockFileNorms = true;
    } else if (arg == "--split") {
      options.splitPercent = std::atoi(value().c_str());
    } else if (arg == "--fresh") {
      freshDir = value();
    } else if (arg == "--lcalcdev-blocks") {
      lcalcdevBlocks = std::atoi(value().c_str());
    } else if (arg == "--prefman-blocks") {
      prefmanBlocks = std::atoi(value().c_str());
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "gencollection: unknown option %s\n%s", arg.c_str(), kHelp);
      return 2;
    } else {
      outDir = arg;
    }
  }
  if ((options.version != 35 && options.version != 36) || options.estimates < 0 ||
      options.priceBases < 0 || options.priceBases > 999 || lcalcdevBlocks <= 1 ||
      prefmanBlocks <= 1) {
    std::fprintf(stderr, "gencollection: bad option value\n");
    return 2;
  }
  if (outDir.empty() && freshDir.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  if (!outDir.empty()) {
    const varmex::gencollection::Collection c = varmex::gencollection::GenerateCollection(options);
    if (!varmex::gencollection::WriteFiles(c.files, outDir)) {
      std::fprintf(stderr, "gencollection: cannot write into %s\n", outDir.c_str());
      return 1;
    }
    std::printf("%zu estimates, %zu investments, dev.dat %d blocks\n", c.estimates.size(),
                c.investments.size(), c.devBlocks);
  }
  if (!freshDir.empty() &&
      !varmex::gencollection::WriteFiles(
          varmex::gencollection::FreshFiles(lcalcdevBlocks, prefmanBlocks), freshDir)) {
    std::fprintf(stderr, "gencollection: cannot write into %s\n", freshDir.c_str());
    return 1;
  }
  return 0;
}
