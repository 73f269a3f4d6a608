// The command line of nredisp around the store's re-spreading (nredisp.h).
#include "tools/nredisp/nredisp.h"

#include <cstdint>
#include <optional>

#include "platform/platform.h"
#include "store/redistribute.h"
#include "tools/common/progress.h"

namespace varmex::tools {
namespace {

// Exit statuses besides RedistributeStatus's 2, 3 and 4 (nredisp.h).
enum ExitStatus : int {
  kDone = 0,
  kDiskFull = 5,
  kBadCommandLine = 7,
};

constexpr const char* kUsage =
    "usage: nredisp [-o] -d BLOCKS FILE\n"
    "exit status: 0 done; 2 FILE unusable (missing, no valid header, damaged); 3 the new\n"
    "  file cannot be written or the records do not fit; 4 FILE busy with another run;\n"
    "  5 no room on the disk for the new file; 7 a bad command line\n";

int Refuse(std::ostream& err, const std::string& why) {
  err << "nredisp: " << why << "\n" << kUsage;
  return kBadCommandLine;
}

// The problem as said, with the file named once: most problems of the re-spreading
// name it themselves.
std::string Named(const std::string& file, const std::string& problem) {
  const bool names = problem.rfind(file + " ", 0) == 0 || problem.rfind(file + ":", 0) == 0 ||
                     problem.rfind("cannot open " + file + " (", 0) == 0;
  return names ? problem : file + ": " + problem;
}

std::optional<int32_t> ParseBlocks(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 2 || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

int RunNredisp(platform::Platform& os, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err, bool showProgress) {
  bool replace = false;
  bool options = true;
  std::optional<int32_t> blocks;
  std::string file;
  bool named = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && (a == "--help" || a == "-h")) {
      out << kUsage;
      return kDone;
    }
    if (options && a == "--") {
      options = false;
    } else if (options && a == "-o") {
      replace = true;
    } else if (options && a.rfind("-d", 0) == 0) {
      const std::string value = a.size() > 2 ? a.substr(2) : (i + 1 < args.size() ? args[++i] : "");
      blocks = ParseBlocks(value);
      if (!blocks) return Refuse(err, "-d needs a block count from 2 to 2147483647");
    } else if (options && !a.empty() && a[0] == '-') {
      err << "nredisp: unknown option " << a << "\n" << kUsage;
      return kBadCommandLine;
    } else if (!named) {
      file = a;
      named = true;
    } else {
      return Refuse(err, "more than one file named");
    }
  }
  if (!named || !blocks) return Refuse(err, "a file and -d BLOCKS are needed");
  if (file.empty()) return Refuse(err, "the file name is empty");

  const std::string result = replace ? std::string() : file + ".nredisp";
  ProgressMeter meter(err, "nredisp", showProgress);
  const store::RedistributeResult r = store::Redistribute(
      os, file, *blocks, result, store::RedistributeCaching::kStraight, meter.Callback());
  meter.Wipe();
  if (r.status != store::RedistributeStatus::kDone) {
    err << "nredisp: " << Named(file, r.problem) << "; the file is left as it was\n";
    // A full disk has a code of its own: the setup program stops its migration on it.
    if (r.status == store::RedistributeStatus::kNewFileFailed &&
        r.systemError == platform::kErrorDiskFull)
      return kDiskFull;
    return static_cast<int>(r.status);
  }
  out << file << ": " << r.records << " records spread from " << r.oldBlocks << " to " << *blocks
      << " blocks into " << r.writtenTo << "\n";
  return kDone;
}

}  // namespace varmex::tools
