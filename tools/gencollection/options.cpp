// gencollection's command line (options.h).
#include "tools/gencollection/options.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace varmex::gencollection {
namespace {

constexpr const char* kUsage =
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
    "  --seed S               seed, a number; the same options and seed give the same\n"
    "                         bytes (default 1)\n"
    "  --investment SPEC      an investment of exact size, repeatable:\n"
    "                         NUMBER:ESTIMATES[:OBJECTS[:BASES[:noobi]]], BASES a list like 1/2\n"
    "                         (base 0: no price base); noobi: no record in obi.dat\n"
    "  --bases N              price bases baz001..bazN, N up to 999 (odd ones with a header\n"
    "                         record, even ones without) (default 3)\n"
    "  --block-norms          nor.dat, tehno.dat, norinc.dat as block files\n"
    "  --split PERCENT        chance of cutting a record into extra pieces, 0 to 100\n"
    "                         (default 20)\n"
    "  --fresh DIR            also write the fresh installation's empty lcalcdev.dat and\n"
    "                         Prefman.dat (block files, header only) into DIR\n"
    "  --lcalcdev-blocks N    block count of the fresh lcalcdev.dat (default 2000)\n"
    "  --prefman-blocks N     block count of the fresh Prefman.dat (default 4000)\n"
    "  --help, -h             this text\n"
    "Estimates number at most 500000 in all, fresh files at most 1000000 blocks.\n";

// A whole decimal number from `low` to `high`, nothing else.
std::optional<int64_t> Number(const std::string& text, int64_t low, int64_t high) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// NUMBER:ESTIMATES[:OBJECTS[:BASES[:noobi]]]; empty on success, else what is wrong.
std::string ParseInvestment(const std::string& spec, InvestmentPlan& plan) {
  const std::vector<std::string> parts = Split(spec, ':');
  if (parts.size() < 2 || parts.size() > 5) {
    return "needs NUMBER:ESTIMATES[:OBJECTS[:BASES[:noobi]]]";
  }
  const auto number = Number(parts[0], 1, 32767);
  if (!number) return "its number must be 1 to 32767";
  const auto estimates = Number(parts[1], 0, kMaxEstimates);
  if (!estimates) return "its estimates must number 0 to " + std::to_string(kMaxEstimates);
  plan.number = static_cast<int16_t>(*number);
  plan.estimates = static_cast<int32_t>(*estimates);
  if (parts.size() > 2) {
    const auto objects = Number(parts[2], 1, 32767);
    if (!objects) return "its objects must number 1 to 32767";
    plan.objects = static_cast<int16_t>(*objects);
  }
  if (parts.size() > 3) {
    plan.bases.clear();
    for (const std::string& base : Split(parts[3], '/')) {
      const auto b = Number(base, 0, 999);
      if (!b) return "its price bases must be 0 to 999";
      plan.bases.push_back(static_cast<int16_t>(*b));
    }
  }
  if (parts.size() > 4) {
    if (parts[4] != "noobi") return "its fifth part can only be noobi";
    plan.inObi = false;
  }
  return "";
}

}  // namespace

const char* Usage() { return kUsage; }

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  auto refuse = [&c](std::string why) {
    c.error = std::move(why);
    return c;
  };
  int64_t estimates = c.collection.estimates;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options || arg.empty() || arg[0] != '-') {
      if (!c.outDir.empty()) return refuse("more than one OUTDIR: " + arg);
      c.outDir = arg;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      c.help = true;
      return c;
    }
    if (arg == "--") {
      options = false;
      continue;
    }
    if (arg == "--block-norms") {
      c.collection.blockFileNorms = true;
      continue;
    }
    static const std::vector<std::string> kValued = {
        "--version", "--estimates",       "--seed",           "--investment", "--bases",
        "--split",   "--lcalcdev-blocks", "--prefman-blocks", "--fresh"};
    if (std::find(kValued.begin(), kValued.end(), arg) == kValued.end()) {
      return refuse("unknown option " + arg);
    }
    if (i + 1 >= args.size()) return refuse(arg + " needs a value");
    const std::string& value = args[++i];
    const auto bad = [&](const std::string& what) {
      return refuse("bad " + arg + " " + value + ": " + what);
    };
    if (arg == "--version") {
      const auto v = Number(value, 35, 36);
      if (!v) return bad("35 or 36");
      c.collection.version = static_cast<int>(*v);
    } else if (arg == "--estimates") {
      const auto v = Number(value, 0, kMaxEstimates);
      if (!v) return bad("a number from 0 to " + std::to_string(kMaxEstimates));
      estimates += *v - c.collection.estimates;
      c.collection.estimates = static_cast<int32_t>(*v);
    } else if (arg == "--seed") {
      const auto v = Number(value, 0, INT64_MAX);
      if (!v) return bad("a number");
      c.collection.seed = static_cast<uint64_t>(*v);
    } else if (arg == "--investment") {
      InvestmentPlan plan;
      if (std::string why = ParseInvestment(value, plan); !why.empty()) return bad(why);
      estimates += plan.estimates;
      c.collection.investments.push_back(plan);
    } else if (arg == "--bases") {
      const auto v = Number(value, 0, 999);
      if (!v) return bad("a number from 0 to 999");
      c.collection.priceBases = static_cast<int32_t>(*v);
    } else if (arg == "--split") {
      const auto v = Number(value, 0, 100);
      if (!v) return bad("a percentage from 0 to 100");
      c.collection.splitPercent = static_cast<int32_t>(*v);
    } else if (arg == "--lcalcdev-blocks" || arg == "--prefman-blocks") {
      const auto v = Number(value, 2, kMaxFreshBlocks);
      if (!v) return bad("a block count from 2 to " + std::to_string(kMaxFreshBlocks));
      (arg == "--lcalcdev-blocks" ? c.lcalcdevBlocks : c.prefmanBlocks) = static_cast<int32_t>(*v);
    } else {  // --fresh
      if (value.empty() || value[0] == '-') return bad("a folder");
      c.freshDir = value;
    }
    if (estimates > kMaxEstimates) {
      return refuse("more than " + std::to_string(kMaxEstimates) + " estimates in all");
    }
  }
  if (c.outDir.empty() && c.freshDir.empty())
    return refuse("nothing to write: no OUTDIR, no --fresh");
  return c;
}

}  // namespace varmex::gencollection
