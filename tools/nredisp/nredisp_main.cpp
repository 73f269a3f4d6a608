// nredisp [-o] -d N FILE: spreads the records of a block file over N blocks.
//   -o    replace FILE with the result (without it the result is left as FILE.nredisp)
//   -d N  the new block count (N may also be glued to the option: -d12000)
// Exit status: 0 done, 1 bad command line, 2 FILE unusable (missing, no valid header,
// damaged records), 3 the new file cannot be written or the records do not fit.
// On any failure FILE is left as it was.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/nredisp/redistribute.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr, "nredisp: %s\nusage: nredisp [-o] -d BLOCKS FILE\n", why);
  return varmex::tools::kBadCommandLine;
}

bool ParseBlocks(const std::string& text, int32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value < 2 || value > 2147483647LL) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool replace = false;
  int32_t blocks = 0;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o") {
      replace = true;
    } else if (a.rfind("-d", 0) == 0) {
      const std::string value = a.size() > 2 ? a.substr(2) : (i + 1 < argc ? argv[++i] : "");
      if (!ParseBlocks(value, blocks)) return Usage("-d needs a block count from 2 to 2147483647");
    } else if (!a.empty() && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (file.empty()) {
      file = a;
    } else {
      return Usage("more than one file named");
    }
  }
  if (file.empty() || blocks == 0) return Usage("a file and -d BLOCKS are needed");

  const varmex::tools::RedistributeResult r = varmex::tools::Redistribute(file, blocks, replace);
  if (r.status != varmex::tools::kRedistributed) {
    std::fprintf(stderr, "nredisp: %s: %s; the file is left as it was\n", file.c_str(),
                 r.problem.c_str());
    return r.status;
  }
  std::printf("%s: %lld records spread from %d to %d blocks into %s\n", file.c_str(),
              static_cast<long long>(r.records), static_cast<int>(r.oldBlocks),
              static_cast<int>(blocks), r.writtenTo.c_str());
  return 0;
}
