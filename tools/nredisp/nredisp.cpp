// The command line of nredisp around the store's re-spreading (nredisp.h).
#include "tools/nredisp/nredisp.h"

#include <cstdint>
#include <optional>

#include "store/redistribute.h"

namespace varmex::tools {
namespace {

enum ExitStatus : int {
  kDone = 0,
  kBadCommandLine = 1,
  kUnknownOption = 2,
};

constexpr const char* kUsage = "usage: nredisp [-o] -d BLOCKS FILE\n";

int Refuse(std::ostream& err, const std::string& why) {
  err << "nredisp: " << why << "\n" << kUsage;
  return kBadCommandLine;
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

int RunNredisp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool replace = false;
  bool options = true;
  std::optional<int32_t> blocks;
  std::string file;
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
      return kUnknownOption;
    } else if (file.empty()) {
      file = a;
    } else {
      return Refuse(err, "more than one file named");
    }
  }
  if (file.empty() || !blocks) return Refuse(err, "a file and -d BLOCKS are needed");

  const std::string result = replace ? std::string() : file + ".nredisp";
  const store::RedistributeResult r = store::Redistribute(file, *blocks, result);
  if (r.status != store::RedistributeStatus::kDone) {
    err << "nredisp: " << file << ": " << r.problem << "; the file is left as it was\n";
    return static_cast<int>(r.status);
  }
  out << file << ": " << r.records << " records spread from " << r.oldBlocks << " to " << *blocks
      << " blocks into " << r.writtenTo << "\n";
  return kDone;
}

}  // namespace varmex::tools
