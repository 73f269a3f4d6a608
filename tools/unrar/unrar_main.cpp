// unrar: see unrar.h for the commands and the usage text for the exit codes.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/unrar/unrar.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const varmex::tools::UnrarOutcome outcome = varmex::tools::RunUnrar(args);
  if (outcome.exitCode != varmex::tools::kUnrarOk) {
    std::fprintf(stderr, "unrar: %s\n", outcome.reason.c_str());
    if (outcome.exitCode == varmex::tools::kUnrarUsage) {
      std::fputs(varmex::tools::kUnrarUsageText, stderr);
    }
  }
  return outcome.exitCode;
}
