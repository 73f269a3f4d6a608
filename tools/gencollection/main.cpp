// gencollection: writes a synthetic old data collection of the suite (versions 35 and
// 36), seeded and repeatable, for the demo, the tests and the benchmarks. The command
// line is read by options.h.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/gencollection/collection.h"
#include "tools/gencollection/options.h"

int main(int argc, char** argv) {
  namespace gen = varmex::gencollection;
  const gen::CommandLine c = gen::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (c.help) {
    std::fputs(gen::Usage(), stdout);
    return 0;
  }
  if (!c.error.empty()) {
    std::fprintf(stderr, "gencollection: %s\n%s", c.error.c_str(), gen::Usage());
    return 2;
  }
  if (!c.outDir.empty()) {
    const gen::Collection collection = gen::GenerateCollection(c.collection);
    if (!gen::WriteFiles(collection.files, c.outDir)) {
      std::fprintf(stderr, "gencollection: cannot write into %s\n", c.outDir.c_str());
      return 1;
    }
    std::printf("%zu estimates, %zu investments, dev.dat %d blocks\n", collection.estimates.size(),
                collection.investments.size(), collection.devBlocks);
  }
  if (!c.freshDir.empty() &&
      !gen::WriteFiles(gen::FreshFiles(c.lcalcdevBlocks, c.prefmanBlocks), c.freshDir)) {
    std::fprintf(stderr, "gencollection: cannot write into %s\n", c.freshDir.c_str());
    return 1;
  }
  return 0;
}
